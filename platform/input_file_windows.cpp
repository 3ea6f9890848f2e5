// The input file on Windows: CreateFileW sharing reading, writing and deleting with
// other programs, and ReadFile at an offset.
#include "platform/input_file.h"

#include "platform/windows_support.h"

#include <algorithm>
#include <cerrno>
#include <utility>

namespace ase2sgl::platform {

namespace {

HANDLE AsHandle(std::intptr_t value)
{
    return reinterpret_cast<HANDLE>(value);
}

}  // namespace

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
    const std::wstring wide = Wide(path);
    const HANDLE file =
        ::CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD error = ::GetLastError();
        // A folder is refused as "access denied"; say what it is, as POSIX does.
        const DWORD attributes = ::GetFileAttributesW(wide.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
            return EISDIR;
        return ErrnoFromWin32(error);
    }
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(file, &size)) {
        const DWORD error = ::GetLastError();
        ::CloseHandle(file);
        return ErrnoFromWin32(error);
    }
    handle_ = reinterpret_cast<std::intptr_t>(file);
    size_ = static_cast<std::uint64_t>(std::max<LONGLONG>(size.QuadPart, 0));
    return 0;
}

std::int64_t InputFile::ReadAt(char* destination, std::size_t count, std::int64_t offset, int& error)
{
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(static_cast<std::uint64_t>(offset) & 0xFFFFFFFFu);
    at.OffsetHigh = static_cast<DWORD>(static_cast<std::uint64_t>(offset) >> 32);
    const DWORD wanted = static_cast<DWORD>(std::min<std::size_t>(count, DWORD{1} << 30));
    DWORD read = 0;
    if (!::ReadFile(AsHandle(handle_), destination, wanted, &read, &at)) {
        const DWORD failure = ::GetLastError();
        if (failure == ERROR_HANDLE_EOF)
            return 0;
        error = ErrnoFromWin32(failure);
        return -1;
    }
    return static_cast<std::int64_t>(read);
}

bool InputFile::Seekable() const
{
    return ::GetFileType(AsHandle(handle_)) == FILE_TYPE_DISK;
}

std::int64_t InputFile::ReadNext(char* destination, std::size_t count, int& error)
{
    const DWORD wanted = static_cast<DWORD>(std::min<std::size_t>(count, DWORD{1} << 30));
    DWORD read = 0;
    if (!::ReadFile(AsHandle(handle_), destination, wanted, &read, nullptr)) {
        const DWORD failure = ::GetLastError();
        if (failure == ERROR_BROKEN_PIPE || failure == ERROR_HANDLE_EOF)
            return 0;  // the writer closed its end
        error = ErrnoFromWin32(failure);
        return -1;
    }
    return static_cast<std::int64_t>(read);
}

void InputFile::Close() noexcept
{
    if (handle_ != -1)
        ::CloseHandle(AsHandle(handle_));
    handle_ = -1;
}

}  // namespace ase2sgl::platform
