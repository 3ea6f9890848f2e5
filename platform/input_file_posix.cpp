// The input file on POSIX: open(2) and pread(2).
#include "platform/input_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <utility>

namespace ase2sgl::platform {

InputFile::InputFile(InputFile&& other) noexcept : handle_(std::exchange(other.handle_, -1)), size_(other.size_) {}

InputFile& InputFile::operator=(InputFile&& other) noexcept
{
    if (this != &other) {
        Close();
        handle_ = std::exchange(other.handle_, -1);
        size_ = other.size_;
    }
    return *this;
}

int InputFile::Open(const std::string& path)
{
    Close();
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return errno;
    struct stat status {};
    if (::fstat(fd, &status) != 0 || S_ISDIR(status.st_mode)) {
        const int error = S_ISDIR(status.st_mode) ? EISDIR : errno;
        ::close(fd);
        return error;
    }
    handle_ = fd;
    size_ = static_cast<std::uint64_t>(std::max<off_t>(status.st_size, 0));
#ifdef POSIX_FADV_SEQUENTIAL
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
#endif
    return 0;
}

std::int64_t InputFile::ReadAt(char* destination, std::size_t count, std::int64_t offset, int& error)
{
    for (;;) {
        const ssize_t n = ::pread(static_cast<int>(handle_), destination, count, static_cast<off_t>(offset));
        if (n >= 0)
            return n;
        if (errno != EINTR) {
            error = errno;
            return -1;
        }
    }
}

bool InputFile::Seekable() const
{
    return ::lseek(static_cast<int>(handle_), 0, SEEK_CUR) >= 0 || errno != ESPIPE;
}

std::int64_t InputFile::ReadNext(char* destination, std::size_t count, int& error)
{
    for (;;) {
        const ssize_t n = ::read(static_cast<int>(handle_), destination, count);
        if (n >= 0)
            return n;
        if (errno != EINTR) {
            error = errno;
            return -1;
        }
    }
}

int InputFile::OpenUnnamedTemporary(const std::string& folder)
{
    Close();
    const std::string where = folder.empty() ? TemporaryFolder() : folder;
    int fd = -1;
#ifdef O_TMPFILE
    // Linux makes the file without a name in the first place.
    fd = ::open(where.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
#endif
    if (fd < 0) {  // no O_TMPFILE, or a file system without it: a name, removed at once
        std::string name = where + "/.ase2sgl-spool-XXXXXX";
        fd = ::mkostemp(name.data(), O_CLOEXEC);
        if (fd < 0)
            return errno;
        ::unlink(name.c_str());
    }
    handle_ = fd;
    size_ = 0;
    return 0;
}

int InputFile::Append(const char* data, std::size_t size)
{
    while (size > 0) {
        const ssize_t written =
            ::pwrite(static_cast<int>(handle_), data, size, static_cast<off_t>(size_));
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        if (written == 0)
            return ENOSPC;
        data += written;
        size -= static_cast<std::size_t>(written);
        size_ += static_cast<std::uint64_t>(written);
    }
    return 0;
}

int InputFile::Duplicate(InputFile& copy) const
{
    copy.Close();
    const int fd = ::fcntl(static_cast<int>(handle_), F_DUPFD_CLOEXEC, 0);
    if (fd < 0)
        return errno;
    copy.handle_ = fd;
    copy.size_ = size_;
    return 0;
}

std::string TemporaryFolder()
{
    const char* folder = std::getenv("TMPDIR");
    return folder != nullptr && *folder != 0 ? folder : "/tmp";
}

void InputFile::Close() noexcept
{
    if (handle_ >= 0)
        ::close(static_cast<int>(handle_));  // read-only: nothing can be lost here
    handle_ = -1;
}

}  // namespace ase2sgl::platform
