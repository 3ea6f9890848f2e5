// The bundle writer: records laid out in file order through one large buffer.
#include "bundle/mesh_bundle.h"

#include "bundle/bundle_reader.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace ase2sgl {

// The reader keeps its own copy of the layout's numbers, so that an engine can copy
// its two files alone; they must stay the ones records are written with.
static_assert(bundle::kMaxObjects == kMaxObjects && bundle::kNameFieldBytes == kNameFieldBytes &&
              bundle::kCountBytes == kCountBytes && bundle::kRecordHeaderBytes == kRecordHeaderBytes &&
              bundle::kBytesPerVertex == kBytesPerVertex);

namespace {

constexpr std::size_t kWriteBuffer = std::size_t{256} << 10;
// Room for a corner of any stream at least, however small the bundle expected.
constexpr std::size_t kSmallestBuffer = 64;

}  // namespace

void RoomAhead::Record(std::uint64_t corners)
{
    const std::uint64_t record = RecordBytes(corners);
    if (bytes_ + record > reserved_) {
        reserved_ = bytes_ + record + kAhead;
        reserve_(reserved_);
    }
    bytes_ += record;
}

BundleWriter::BundleWriter(ByteSink& sink, std::uint64_t expectedBytes)
    : sink_(sink),
      capacity_(static_cast<std::size_t>(std::clamp<std::uint64_t>(expectedBytes, kSmallestBuffer, kWriteBuffer))),
      buffer_(new char[capacity_])
{
}

void BundleWriter::WriteBytes(const void* data, std::size_t size)
{
    if (size == 0)
        return;  // the streams of an object without faces: data may be null
    const char* bytes = static_cast<const char*>(data);
    if (used_ + size > capacity_) {
        Flush();
        if (size >= capacity_) {  // large blocks go straight to the file
            sink_.Write(bytes, size);
            return;
        }
    }
    std::memcpy(buffer_.get() + used_, bytes, size);
    used_ += size;
}

namespace {

// A 32-bit number as the bundle stores it: little-endian.
std::uint32_t LittleEndian(std::int32_t value)
{
    std::uint32_t bits = static_cast<std::uint32_t>(value);
    if constexpr (std::endian::native == std::endian::big)
        bits = __builtin_bswap32(bits);
    return bits;
}

}  // namespace

void BundleWriter::WriteInt32(std::int32_t value)
{
    const std::uint32_t bits = LittleEndian(value);
    WriteBytes(&bits, sizeof bits);
}

void BundleWriter::WriteObjectCount(std::int32_t count)
{
    WriteInt32(count);
}

void BundleWriter::WriteObjectCountOver(std::int32_t count)
{
    Flush();
    const std::uint32_t bits = LittleEndian(count);
    char bytes[sizeof bits];
    std::memcpy(bytes, &bits, sizeof bits);
    sink_.WriteOver(0, bytes, sizeof bytes);
}

void BundleWriter::WriteObject(std::string_view nameText, std::span<const CornerRecord> corners)
{
    char name[kNameFieldBytes] = {};
    std::memcpy(name, nameText.data(), std::min(nameText.size(), kMaxNameBytes));
    WriteBytes(name, sizeof name);
    WriteInt32(static_cast<std::int32_t>(corners.size()));
    // Each stream straight into the buffer, as many corners at a time as it has room
    // for: no copy of the object's floats is held besides its corners.
    for (const Stream stream : {Stream::kPositions, Stream::kNormals, Stream::kTexcoords}) {
        const std::size_t bytesPerCorner = kStreamBytesPerCorner[static_cast<int>(stream)];
        for (std::size_t first = 0; first < corners.size();) {
            if (capacity_ - used_ < bytesPerCorner)
                Flush();
            const std::size_t count = std::min(corners.size() - first, (capacity_ - used_) / bytesPerCorner);
            char* const end = AssembleStream(corners.subspan(first, count), stream, buffer_.get() + used_);
            used_ = static_cast<std::size_t>(end - buffer_.get());
            first += count;
        }
    }
}

void BundleWriter::Flush()
{
    if (used_ > 0)
        sink_.Write(buffer_.get(), used_);
    used_ = 0;
}

}  // namespace ase2sgl
