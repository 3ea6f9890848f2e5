// The input file on POSIX: open(2) and pread(2).
#include "platform/input_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
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

void InputFile::Close() noexcept
{
    if (handle_ >= 0)
        ::close(static_cast<int>(handle_));  // read-only: nothing can be lost here
    handle_ = -1;
}

}  // namespace ase2sgl::platform
