// The output file on Windows: CREATE_NEW beside the destination, then MoveFileExW
// over it. The temporary file is shared for deleting, so that a console control
// handler can remove it while it is still open.
#include "platform/output_file.h"

#include "platform/windows_support.h"

#include <cerrno>

namespace ase2sgl::platform {

namespace {

HANDLE AsHandle(std::intptr_t value)
{
    return reinterpret_cast<HANDLE>(value);
}

}  // namespace

PathKind KindOf(const std::string& path)
{
    const std::wstring wide = Wide(path);
    // Opened for no access at all, which no other program's sharing can refuse; a
    // folder needs backup semantics to be opened.
    const HANDLE file = ::CreateFileW(wide.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD attributes = ::GetFileAttributesW(wide.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES)
            return PathKind::kMissing;
        return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? PathKind::kDirectory : PathKind::kRegularFile;
    }
    PathKind kind = PathKind::kOther;  // a device (NUL, CON) or a pipe
    if (::GetFileType(file) == FILE_TYPE_DISK) {
        BY_HANDLE_FILE_INFORMATION information{};
        const bool folder = ::GetFileInformationByHandle(file, &information) &&
                            (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        kind = folder ? PathKind::kDirectory : PathKind::kRegularFile;
    }
    ::CloseHandle(file);
    return kind;
}

std::string ResolveLinks(const std::string& path)
{
    return path;  // MoveFileExW replaces a link at the destination, not what it names
}

std::string Beside(const std::string& path, std::string_view name)
{
    // The folder part ends at the last separator, or after a drive's colon ("C:x").
    const std::size_t end = path.find_last_of("/\\:");
    return (end == std::string::npos ? std::string() : path.substr(0, end + 1)) + std::string(name);
}

std::uint64_t ProcessNumber()
{
    return ::GetCurrentProcessId();
}

int OutputFile::CreateNew(const std::string& path)
{
    const HANDLE file = ::CreateFileW(Wide(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                      CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return ErrnoFromWin32(::GetLastError());
    handle_ = reinterpret_cast<std::intptr_t>(file);
    return 0;
}

int OutputFile::OpenExisting(const std::string& path)
{
    const HANDLE file = ::CreateFileW(Wide(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return ErrnoFromWin32(::GetLastError());
    handle_ = reinterpret_cast<std::intptr_t>(file);
    return 0;
}

int OutputFile::Write(const char* data, std::size_t size)
{
    while (size > 0) {
        const DWORD chunk = size > (DWORD{1} << 30) ? (DWORD{1} << 30) : static_cast<DWORD>(size);
        DWORD written = 0;
        if (!::WriteFile(AsHandle(handle_), data, chunk, &written, nullptr))
            return ErrnoFromWin32(::GetLastError());
        if (written == 0)
            return ENOSPC;
        data += written;
        size -= written;
    }
    return 0;
}

int OutputFile::WriteAt(std::uint64_t offset, const char* data, std::size_t size)
{
    // Moved there and back: a write at an offset through a handle opened for plain
    // writes moves its position.
    LARGE_INTEGER here{}, there{}, zero{};
    there.QuadPart = static_cast<LONGLONG>(offset);
    if (!::SetFilePointerEx(AsHandle(handle_), zero, &here, FILE_CURRENT) ||
        !::SetFilePointerEx(AsHandle(handle_), there, nullptr, FILE_BEGIN))
        return ErrnoFromWin32(::GetLastError());
    const int error = Write(data, size);
    if (!::SetFilePointerEx(AsHandle(handle_), here, nullptr, FILE_BEGIN) && error == 0)
        return ErrnoFromWin32(::GetLastError());
    return error;
}

bool OutputFile::Reserve(std::uint64_t bytes)
{
    // Allocation without a change of the file's end; refused by some file systems,
    // in which case the writes allocate as they go.
    FILE_ALLOCATION_INFO allocation{};
    allocation.AllocationSize.QuadPart = static_cast<LONGLONG>(bytes);
    ::SetFileInformationByHandle(AsHandle(handle_), FileAllocationInfo, &allocation, sizeof allocation);
    return true;
}

int OutputFile::Truncate(std::uint64_t bytes)
{
    FILE_END_OF_FILE_INFO end{};
    end.EndOfFile.QuadPart = static_cast<LONGLONG>(bytes);
    if (!::SetFileInformationByHandle(AsHandle(handle_), FileEndOfFileInfo, &end, sizeof end))
        return ErrnoFromWin32(::GetLastError());
    return 0;
}

int OutputFile::Close() noexcept
{
    if (handle_ == -1)
        return 0;
    const HANDLE file = AsHandle(handle_);
    handle_ = -1;
    return ::CloseHandle(file) ? 0 : ErrnoFromWin32(::GetLastError());
}

int MoveIntoPlace(const std::string& source, const std::string& target)
{
    const std::wstring wideTarget = Wide(target);
    // Windows refuses to replace a read-only file; said here too, so that every
    // implementation of these calls (Wine's replaces it) keeps the file.
    const DWORD attributes = ::GetFileAttributesW(wideTarget.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0)
        return EACCES;
    if (::MoveFileExW(Wide(source).c_str(), wideTarget.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return 0;
    return ErrnoFromWin32(::GetLastError());
}

void RemoveFile(const char* path) noexcept
{
    // Runs on the console control handler's own thread, where allocating is fine.
    wchar_t wide[4096];
    if (::MultiByteToWideChar(CP_UTF8, 0, path, -1, wide, 4096) > 0)
        ::DeleteFileW(wide);
}

}  // namespace ase2sgl::platform
