// The output file on POSIX: an exclusive create, then the destination replaced in
// one step (an exchange of names on Linux, rename(2) elsewhere).
#include "platform/output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>  // renameat2 and RENAME_EXCHANGE (glibc 2.28 and later)
#include <limits>

namespace ase2sgl::platform {

namespace {

std::string Folder(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

PathKind KindOf(const std::string& path)
{
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0)
        return PathKind::kMissing;
    if (S_ISDIR(status.st_mode))
        return PathKind::kDirectory;
    return S_ISREG(status.st_mode) ? PathKind::kRegularFile : PathKind::kOther;
}

std::string ResolveLinks(const std::string& path)
{
    std::string current = path;
    for (int depth = 0; depth < 40; ++depth) {  // the system's own limit on link chains
        struct stat status {};
        if (::lstat(current.c_str(), &status) != 0 || !S_ISLNK(status.st_mode))
            return current;
        std::string target(static_cast<std::size_t>(status.st_size) + 1, '\0');
        const ssize_t length = ::readlink(current.c_str(), target.data(), target.size());
        if (length <= 0 || static_cast<std::size_t>(length) >= target.size())
            return current;  // changed under us: replace the link itself
        target.resize(static_cast<std::size_t>(length));
        current = target.front() == '/' ? target : Folder(current) + "/" + target;
    }
    return current;
}

std::string Beside(const std::string& path, std::string_view name)
{
    return Folder(path) + "/" + std::string(name);
}

std::uint64_t ProcessNumber()
{
    return static_cast<std::uint64_t>(::getpid());
}

int OutputFile::CreateNew(const std::string& path)
{
    // 0666 less the umask: the mode a plain create gives.
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0)
        return errno;
    handle_ = fd;
    return 0;
}

int OutputFile::OpenExisting(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (fd < 0)
        return errno;
    handle_ = fd;
    return 0;
}

namespace {

// Writes all `size` bytes through `once` (one write call for the bytes from `done`
// on), again after a signal, until they are out or a call fails.
template <typename Once>
int WriteAll(const char* data, std::size_t size, Once once)
{
    for (std::size_t done = 0; done < size;) {
        const ssize_t written = once(data + done, size - done, done);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        if (written == 0)
            return ENOSPC;
        done += static_cast<std::size_t>(written);
    }
    return 0;
}

}  // namespace

int OutputFile::Write(const char* data, std::size_t size)
{
    const int fd = static_cast<int>(handle_);
    return WriteAll(data, size, [fd](const char* from, std::size_t count, std::size_t) {
        return ::write(fd, from, count);
    });
}

int OutputFile::WriteAt(std::uint64_t offset, const char* data, std::size_t size)
{
    const int fd = static_cast<int>(handle_);
    return WriteAll(data, size, [fd, offset](const char* from, std::size_t count, std::size_t done) {
        return ::pwrite(fd, from, count, static_cast<off_t>(offset + done));
    });
}

bool OutputFile::Reserve([[maybe_unused]] std::uint64_t bytes)
{
#if defined(__linux__) && defined(RENAME_EXCHANGE)
    // Nothing: MoveIntoPlace replaces by an exchange, which needs no blocks allocated
    // ahead, and blocks allocated ahead would make the file dearer to remove when the
    // next run replaces it (about 0.1 ms on ext4, a sixth of a small conversion).
    return false;
#else
    if (bytes > static_cast<std::uint64_t>(std::numeric_limits<off_t>::max()))
        return false;
    // Not every file system can: the writes then allocate as they go. A reservation
    // that fails midway (a full disk) may still have grown the file.
#if defined(__linux__)
    ::fallocate(static_cast<int>(handle_), 0, 0, static_cast<off_t>(bytes));
#elif defined(F_PREALLOCATE)
    fstore_t store{F_ALLOCATECONTIG | F_ALLOCATEALL, F_PEOFPOSMODE, 0, static_cast<off_t>(bytes), 0};
    if (::fcntl(static_cast<int>(handle_), F_PREALLOCATE, &store) != 0) {
        store.fst_flags = F_ALLOCATEALL;  // contiguous room was not there: any room
        ::fcntl(static_cast<int>(handle_), F_PREALLOCATE, &store);
    }
#endif
    return true;
#endif
}

int OutputFile::Truncate(std::uint64_t bytes)
{
    return ::ftruncate(static_cast<int>(handle_), static_cast<off_t>(bytes)) == 0 ? 0 : errno;
}

int OutputFile::Close() noexcept
{
    if (handle_ < 0)
        return 0;
    const int fd = static_cast<int>(handle_);
    handle_ = -1;
    return ::close(fd) == 0 ? 0 : errno;
}

int MoveIntoPlace(const std::string& source, const std::string& target)
{
#if defined(__linux__) && defined(RENAME_EXCHANGE)
    // An existing target is replaced by exchanging the two names, then removing the
    // old file under the temporary one. Renamed over an existing file, ext4 writes
    // the new file's not-yet-allocated blocks out first (its guard for programs that
    // replace files this way), which costs more than converting a small file; an
    // exchange asks no such flush, so the file needs no room allocated ahead either
    // (see Reserve). Readers of the target see the old file or the new one, as with
    // rename. No target yet (ENOENT), or a file system without exchanges: rename.
    if (::renameat2(AT_FDCWD, source.c_str(), AT_FDCWD, target.c_str(), RENAME_EXCHANGE) == 0) {
        if (::unlink(source.c_str()) == 0)
            return 0;
        // Not a file that can be removed: something else (a folder) took the
        // target's place since it was looked at. The names go back, and rename
        // refuses as it does for any such target.
        ::renameat2(AT_FDCWD, source.c_str(), AT_FDCWD, target.c_str(), RENAME_EXCHANGE);
    }
#endif
    return ::rename(source.c_str(), target.c_str()) == 0 ? 0 : errno;
}

void RemoveFile(const char* path) noexcept
{
    ::unlink(path);
}

}  // namespace ase2sgl::platform
