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

int InputFile::OpenUnnamedTemporary(const std::string& folder)
{
    Close();
    const std::wstring where = Wide(folder.empty() ? TemporaryFolder() : folder);
    wchar_t name[MAX_PATH];
    if (::GetTempFileNameW(where.c_str(), L"ase", 0, name) == 0)
        return ErrnoFromWin32(::GetLastError());
    // Deleted by the system once its last handle closes.
    const HANDLE file = ::CreateFileW(name, GENERIC_READ | GENERIC_WRITE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD error = ::GetLastError();
        ::DeleteFileW(name);
        return ErrnoFromWin32(error);
    }
    handle_ = reinterpret_cast<std::intptr_t>(file);
    size_ = 0;
    return 0;
}

int InputFile::Append(const char* data, std::size_t size)
{
    while (size > 0) {
        OVERLAPPED at{};
        at.Offset = static_cast<DWORD>(size_ & 0xFFFFFFFFu);
        at.OffsetHigh = static_cast<DWORD>(size_ >> 32);
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(size, DWORD{1} << 30));
        DWORD written = 0;
        if (!::WriteFile(AsHandle(handle_), data, chunk, &written, &at))
            return ErrnoFromWin32(::GetLastError());
        if (written == 0)
            return ENOSPC;
        data += written;
        size -= written;
        size_ += written;
    }
    return 0;
}

int InputFile::Duplicate(InputFile& copy) const
{
    copy.Close();
    HANDLE duplicate = nullptr;
    const HANDLE process = ::GetCurrentProcess();
    if (!::DuplicateHandle(process, AsHandle(handle_), process, &duplicate, 0, FALSE, DUPLICATE_SAME_ACCESS))
        return ErrnoFromWin32(::GetLastError());
    copy.handle_ = reinterpret_cast<std::intptr_t>(duplicate);
    copy.size_ = size_;
    return 0;
}

std::string TemporaryFolder()
{
    wchar_t folder[MAX_PATH + 1];
    const DWORD length = ::GetTempPathW(MAX_PATH + 1, folder);
    return length == 0 || length > MAX_PATH ? std::string(".") : Narrow(std::wstring_view(folder, length));
}

void InputFile::Close() noexcept
{
    if (handle_ != -1)
        ::CloseHandle(AsHandle(handle_));
    handle_ = -1;
}

}  // namespace ase2sgl::platform
