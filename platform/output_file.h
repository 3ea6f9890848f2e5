// The output's side of the host: the bundle is written to a new file beside the
// destination, which replaces the destination in one step once it is complete.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace ase2sgl::platform {

enum class PathKind { kMissing, kRegularFile, kDirectory, kOther };

// What `path` names, through symbolic links; kOther is a device or a pipe,
// written in place rather than replaced.
PathKind KindOf(const std::string& path);

// The file a write to `path` ends up in: symbolic links followed, also to a file
// that does not exist yet. Where the host has no such links, `path` itself.
std::string ResolveLinks(const std::string& path);

// `path` with its last component replaced by `name`: a file in the same folder.
std::string Beside(const std::string& path, std::string_view name);

// A number that tells this process from others, to seed temporary names.
std::uint64_t ProcessNumber();

class OutputFile {
  public:
    OutputFile() = default;
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    ~OutputFile() { Close(); }

    // Each gives 0 or the errno value of the failure.
    // Creates `path`, which must not exist yet (EEXIST when it does), with the
    // permissions a plain create gives.
    int CreateNew(const std::string& path);
    // Opens an existing device or pipe for writing in place.
    int OpenExisting(const std::string& path);
    // Writes all `size` bytes, or fails (ENOSPC when the host writes nothing).
    int Write(const char* data, std::size_t size);
    // Writes `size` bytes at `offset` of a file made by CreateNew, over bytes written
    // before; the next Write still goes where the last one ended.
    int WriteAt(std::uint64_t offset, const char* data, std::size_t size);
    // Asks for room for `bytes` ahead of the writes, where the file system allows it
    // and replacing the file gains by it (not on Linux: see MoveIntoPlace); false
    // when nothing was asked. The file may grow to that size; Truncate cuts it back.
    bool Reserve(std::uint64_t bytes);
    int Truncate(std::uint64_t bytes);
    int Close() noexcept;

  private:
    std::intptr_t handle_ = -1;
};

// Puts the closed file `source` in the place of `target` in one step: 0 or an errno
// value. A program that holds `target` open without allowing this makes it fail.
// Any file `target` named before is gone afterwards (its other links stay).
int MoveIntoPlace(const std::string& source, const std::string& target);

// Removes a file; safe in a signal handler (POSIX) and a console control handler
// (Windows). A Windows file still open is removed when its last handle closes.
void RemoveFile(const char* path) noexcept;

}  // namespace ase2sgl::platform
