// The input as the line reader needs it from the host: a file opened read-only
// that other programs may go on reading, writing and replacing, read at an offset
// with no shared file position, so that two threads can each read their own part.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace ase2sgl::platform {

class InputFile {
  public:
    InputFile() = default;
    InputFile(InputFile&& other) noexcept;
    InputFile& operator=(InputFile&& other) noexcept;
    ~InputFile() { Close(); }

    // Opens `path` for reading: 0, or the errno value of the failure (EISDIR for a
    // folder, which cannot be read as text).
    int Open(const std::string& path);
    // The file's size when it was opened, in bytes.
    std::uint64_t Size() const { return size_; }
    // Reads up to `count` bytes at `offset`: the number read, 0 at the end of the
    // file, or -1 with `error` set to an errno value.
    std::int64_t ReadAt(char* destination, std::size_t count, std::int64_t offset, int& error);
    // False for a pipe, a FIFO or a terminal: an input that can only be read once,
    // front to back, with ReadNext.
    bool Seekable() const;
    // Reads up to `count` bytes from where the last ReadNext stopped, as ReadAt answers.
    std::int64_t ReadNext(char* destination, std::size_t count, int& error);

    // An input that can only be read once is copied into a file that has no name:
    // it goes when its last handle closes, also when the process is killed.
    // Creates such a file, open for reading and writing, in `folder` (the host's
    // temporary folder when empty): 0 or an errno value.
    int OpenUnnamedTemporary(const std::string& folder);
    // Adds `size` bytes at the end of a file made by OpenUnnamedTemporary; Size
    // grows with them. 0 or an errno value.
    int Append(const char* data, std::size_t size);
    // Another handle to the same open file, for a second reader that may outlive
    // this one: 0 or an errno value.
    int Duplicate(InputFile& copy) const;
    void Close() noexcept;

  private:
    friend class MappedInput;  // maps the open file
    std::intptr_t handle_ = -1;  // a descriptor, or a HANDLE's value (-1 for none on both)
    std::uint64_t size_ = 0;
};

// TMPDIR, or /tmp, on POSIX; the user's temporary folder on Windows.
std::string TemporaryFolder();

}  // namespace ase2sgl::platform
