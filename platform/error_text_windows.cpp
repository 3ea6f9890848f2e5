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

}  // namespace ase2sgl::platform
