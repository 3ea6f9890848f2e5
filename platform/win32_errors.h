// Win32 error codes as errno values: the one table that the converter's file calls
// and the bundle reader share, so that the same failure is told the same way by
// both (and prints GNU/Linux's text for it, platform/error_text.h). Header-only and
// needing nothing but <windows.h>, so that the bundle reader stays a library of its
// own.
#pragma once

#include <windows.h>

#include <cerrno>

namespace ase2sgl::platform {

// The errno value that names the same failure as a Win32 error code. A file that
// another program holds open without sharing it is busy, not forbidden.
inline int ErrnoFromWin32(DWORD error)
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
