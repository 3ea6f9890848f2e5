// AtomicOutputFile: where a conversion writes its bundle, so that the output path
// holds either its old bytes or the complete new bundle, never a part of one.
#pragma once

#include "bundle/mesh_bundle.h"
#include "platform/output_file.h"

#include <cstdint>
#include <string>

namespace ase2sgl {

// The output file, written whole or not at all: bytes go to a new temporary file in
// the output's folder, which replaces the output path only once it is complete and
// closed. Destroyed before Commit (a failure), it removes the temporary file and
// leaves whatever was at the output path untouched. An existing output that is not
// a regular file (a device, a pipe) is written in place. Throws FileError naming the
// output path.
class AtomicOutputFile : public ByteSink {
  public:
    explicit AtomicOutputFile(std::string path);
    AtomicOutputFile(const AtomicOutputFile&) = delete;
    AtomicOutputFile& operator=(const AtomicOutputFile&) = delete;
    ~AtomicOutputFile() override;

    void Write(const char* data, std::size_t size) override;
    // A temporary file can be written over; an output written in place cannot.
    bool WritesOver() const override { return !temporary_.empty(); }
    void WriteOver(std::uint64_t offset, const char* data, std::size_t size) override;
    // Allocates room for `bytes` of output ahead of the writes, where the platform
    // gains by it. Renaming over an existing file makes ext4 write out the new file's
    // not-yet-allocated blocks first, which costs more than converting a small file;
    // blocks allocated here need no such flush. Linux replaces by an exchange of
    // names instead, which asks none, and allocates nothing here. A file written
    // shorter than reserved is cut to its length at Commit.
    void Reserve(std::uint64_t bytes);
    void Commit();

  private:
    std::string path_;       // as the user gave it, for messages
    std::string target_;     // the file replaced: path_ with symbolic links resolved
    std::string temporary_;  // empty when writing in place
    platform::OutputFile file_;
    std::uint64_t written_ = 0;
    std::uint64_t reserved_ = 0;
};

// Removes the temporary file of an output still being written. Safe to call from a
// signal handler or a console control handler, so that a run ended by Ctrl-C leaves
// nothing behind.
void RemoveUnfinishedOutput() noexcept;

}  // namespace ase2sgl
