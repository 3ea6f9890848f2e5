// The mesh bundle (.sgl) file: every object of a scene as a name and an unwelded
// triangle list, laid out so that a loader reads each array straight into memory.
//
// All integers int32, all floats IEEE single, little-endian; no header, magic,
// version, padding or alignment:
//
//   offset  size  field
//   0       4     object count
//   4       ...   object records, one after the other, in input order
//
// Object record, n = vertex count (three per face; vertex j of every array is the
// same corner, and vertices 3f, 3f+1, 3f+2 are corners A, B, C of face f):
//
//   0         255  name: upper-cased node name, then a zero byte, zero-filled
//   255       4    n
//   259       12n  positions  x, y, z   (the input's first, third, second value)
//   259+12n   12n  normals    x, y, z   (same order)
//   259+24n   8n   texcoords  u, v      (as the input's texture-vertex line has them)
//
// A record takes 259 + 32n bytes. The 255-byte name field leaves the fields after
// it unaligned: the first record's count sits at offset 259. The sizes and limits
// are named in common/format_limits.h.
#pragma once

#include "common/corner_record.h"
#include "common/format_limits.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace ase2sgl {

// One object's record holds three streams, in this order: 3n position floats, 3n
// normal floats, 2n texcoord floats (V negated back). AssembleStream writes one of
// them, for some corners, as the file stores it (little-endian floats) at `out`,
// which need not be aligned: 12, 12 or 8 bytes a corner. Gives the end of what it
// wrote.
enum class Stream { kPositions, kNormals, kTexcoords };
inline constexpr std::size_t kStreamBytesPerCorner[3] = {12, 12, 8};
char* AssembleStream(std::span<const CornerRecord> corners, Stream stream, char* out);

// Where bundle bytes go: a file, or memory.
class ByteSink {
  public:
    virtual ~ByteSink() = default;
    virtual void Write(const char* data, std::size_t size) = 0;
    // Whether WriteOver can go back to bytes already written (not a pipe, a device).
    virtual bool WritesOver() const { return false; }
    // Writes `size` bytes over bytes already written, at `offset`; only where WritesOver.
    virtual void WriteOver(std::uint64_t /*offset*/, const char* /*data*/, std::size_t /*size*/) {}
};

class MemorySink : public ByteSink {
  public:
    void Write(const char* data, std::size_t size) override { bytes.append(data, size); }
    bool WritesOver() const override { return true; }
    void WriteOver(std::uint64_t offset, const char* data, std::size_t size) override
    {
        bytes.replace(static_cast<std::size_t>(offset), size, data, size);
    }
    std::string bytes;
};

// For a bundle whose size is known only once its records are out: asks `reserve`
// for room ahead of the records, 8 MiB past what they need at a time (see
// AtomicOutputFile::Reserve; what is left over is cut off at the commit).
class RoomAhead {
  public:
    explicit RoomAhead(std::function<void(std::uint64_t)> reserve) : reserve_(std::move(reserve)) {}
    // Before a record of `corners` corners is written.
    void Record(std::uint64_t corners);

  private:
    static constexpr std::uint64_t kAhead = std::uint64_t{8} << 20;
    std::function<void(std::uint64_t)> reserve_;
    std::uint64_t bytes_ = kCountBytes, reserved_ = 0;
};

// Writes the bundle: the object count, then each object's record, through one
// large buffer in few large writes.
class BundleWriter {
  public:
    // The buffer holds 256 KiB, or `expectedBytes` when the whole bundle is smaller.
    explicit BundleWriter(ByteSink& sink, std::uint64_t expectedBytes = UINT64_MAX);

    void WriteObjectCount(std::int32_t count);
    // Writes the count over the one written first, once the records are out (the
    // count known only after them): flushes, then writes over the sink's first bytes.
    void WriteObjectCountOver(std::int32_t count);
    void WriteObject(std::string_view nameText, std::span<const CornerRecord> corners);
    void Flush();

  private:
    void WriteInt32(std::int32_t value);
    void WriteBytes(const void* data, std::size_t size);

    ByteSink& sink_;
    std::size_t capacity_;
    std::unique_ptr<char[]> buffer_;
    std::size_t used_ = 0;
};

}  // namespace ase2sgl
