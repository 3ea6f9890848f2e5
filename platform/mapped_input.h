// An input file's bytes mapped into memory, read-only: the line reader then scans
// the host's file cache where it lies instead of a copy of it, which on a large
// input saves copying every byte once per read.
//
// A mapped file can be cut shorter by another program while it is read; the pages
// past its new end then have nothing behind them, and touching one would end the
// process. Such a touch is caught: the page reads as zero bytes from then on and
// Cut() says so, for the reader to report that the input could not be read.
#pragma once

#include "platform/input_file.h"

#include <cstdint>

namespace ase2sgl::platform {

class MappedInput {
  public:
    MappedInput() = default;
    MappedInput(MappedInput&& other) noexcept;
    MappedInput& operator=(MappedInput&& other) noexcept;
    MappedInput(const MappedInput&) = delete;
    MappedInput& operator=(const MappedInput&) = delete;
    ~MappedInput() { Unmap(); }

    // Maps the first `size` bytes of `file`, a regular file open for reading. False
    // where that cannot be done (the host has no such mapping here, the file is not
    // a regular one, no address range is free): the caller reads the file instead.
    bool Map(const InputFile& file, std::uint64_t size);
    bool Mapped() const { return data_ != nullptr; }
    const char* Data() const { return data_; }
    std::uint64_t Size() const { return size_; }
    // Gives back the memory of the whole pages within [offset, offset + length): the
    // bytes stay readable (they are mapped again from the file when touched), but
    // pages passed over no longer count against the process.
    void Release(std::uint64_t offset, std::uint64_t length) const;
    // Release, the range widened back to the start of the 2 MiB block `offset` lies
    // in: for pages nothing reads before `offset` any more, neither the caller nor a
    // source sharing the mapping.
    void ReleaseFromBlockStart(std::uint64_t offset, std::uint64_t length) const;
    // True once a page past the file's end was touched: the file was cut shorter
    // after it was mapped, and some bytes read as zeros.
    bool Cut() const;
    void Unmap() noexcept;

  private:
    const char* data_ = nullptr;
    std::uint64_t size_ = 0;
    int slot_ = -1;  // where the bus-error handler finds this mapping
};

}  // namespace ase2sgl::platform
