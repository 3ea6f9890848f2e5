// Error texts on Windows: GNU/Linux's English texts for the errno values the file
// calls map to, so that a failure reads the same on both; the C runtime's text for
// any other value.
#include "platform/error_text.h"

#include "platform/windows_support.h"

#include <cerrno>
#include <cstring>

namespace ase2sgl::platform {

std::string ErrorText(int errorNumber)
{
    switch (errorNumber) {
    case ENOENT: return "No such file or directory";
    case EACCES: return "Permission denied";
    case EEXIST: return "File exists";
    case EISDIR: return "Is a directory";
    case ENOSPC: return "No space left on device";
    case EFBIG: return "File too large";
    case EBUSY: return "Device or resource busy";
    case EROFS: return "Read-only file system";
    case EIO: return "Input/output error";
    case EINVAL: return "Invalid argument";
    case ENAMETOOLONG: return "File name too long";
    case ENOMEM: return "Cannot allocate memory";
    case EXDEV: return "Invalid cross-device link";
    default: return std::strerror(errorNumber);
    }
}

std::wstring Wide(std::string_view utf8)
{
    if (utf8.empty())
        return {};
    const int size = static_cast<int>(utf8.size());
    const int length = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, wide.data(), length);
    return wide;
}

std::string Narrow(std::wstring_view wide, UINT codePage)
{
    if (wide.empty())
        return {};
    const int size = static_cast<int>(wide.size());
    const DWORD flags = codePage == CP_UTF8 ? 0 : WC_NO_BEST_FIT_CHARS;
    const int length = ::WideCharToMultiByte(codePage, flags, wide.data(), size, nullptr, 0, nullptr, nullptr);
    std::string narrow(static_cast<std::size_t>(length), '\0');
    ::WideCharToMultiByte(codePage, flags, wide.data(), size, narrow.data(), length, nullptr, nullptr);
    return narrow;
}

int ErrnoFromWin32(DWORD error)
{
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME: return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT:
    case ERROR_CANNOT_MAKE: return EACCES;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_USER_MAPPED_FILE: return EBUSY;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS: return EEXIST;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL: return ENOSPC;
    case ERROR_FILE_TOO_LARGE: return EFBIG;
    case ERROR_DIRECTORY: return EISDIR;
    case ERROR_FILENAME_EXCED_RANGE: return ENAMETOOLONG;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY: return ENOMEM;
    case ERROR_NOT_SAME_DEVICE: return EXDEV;
    case ERROR_INVALID_NAME:
    case ERROR_INVALID_PARAMETER: return EINVAL;
    default: return EIO;
    }
}

}  // namespace ase2sgl::platform
