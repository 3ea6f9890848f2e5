// File identity on Windows: the volume serial number and file index of a handle
// opened for no access, and the \\.\ namespace where devices and pipes are named.
#include "platform/file_identity.h"

#include "platform/windows_support.h"

namespace ase2sgl::platform {

namespace {

// Opened for no access at all, which no other program's sharing can refuse; a
// folder needs backup semantics to be opened.
bool Identity(const std::string& path, BY_HANDLE_FILE_INFORMATION& information)
{
    const HANDLE file =
        ::CreateFileW(Wide(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    const bool known = ::GetFileInformationByHandle(file, &information) != 0;
    ::CloseHandle(file);
    return known;
}

}  // namespace

bool SameFile(const std::string& first, const std::string& second)
{
    BY_HANDLE_FILE_INFORMATION a{}, b{};
    return Identity(first, a) && Identity(second, b) && a.dwVolumeSerialNumber == b.dwVolumeSerialNumber &&
           a.nFileIndexHigh == b.nFileIndexHigh && a.nFileIndexLow == b.nFileIndexLow;
}

bool IsStandardOutput(const std::string&)
{
    // Windows has no path that names the standard output stream itself (CON is the
    // console, which shows the console lines and the bytes alike).
    return false;
}

bool InSystemFolder(const std::string& path)
{
    return path.starts_with("\\\\.\\") || path.starts_with("//./");
}

}  // namespace ase2sgl::platform
