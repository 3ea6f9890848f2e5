// File identity on POSIX: stat(2)'s device and inode, and the three folders of
// Linux's device and kernel file systems.
#include "platform/file_identity.h"

#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <string_view>

namespace ase2sgl::platform {

namespace {

bool Identity(const std::string& path, struct stat& status)
{
    return ::stat(path.c_str(), &status) == 0;
}

// The folder part of `path` as an absolute path with its links resolved; the path
// as written when the folder cannot be resolved (it does not exist).
std::string ResolvedFolder(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    std::string folder = slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
    char resolved[PATH_MAX];
    if (::realpath(folder.c_str(), resolved) != nullptr)
        return resolved;
    if (folder.front() != '/') {
        char current[PATH_MAX];
        if (::getcwd(current, sizeof current) != nullptr)
            folder = std::string(current) + "/" + folder;
    }
    return folder;
}

}  // namespace

bool SameFile(const std::string& first, const std::string& second)
{
    struct stat a {}, b {};
    return Identity(first, a) && Identity(second, b) && a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

bool IsStandardOutput(const std::string& path)
{
    struct stat named {}, output {};
    if (!Identity(path, named) || ::fstat(STDOUT_FILENO, &output) != 0)
        return false;
    return !S_ISREG(named.st_mode) && named.st_dev == output.st_dev && named.st_ino == output.st_ino;
}

bool InSystemFolder(const std::string& path)
{
    const std::string folder = ResolvedFolder(path);
    for (const std::string_view system : {"/dev", "/proc", "/sys"}) {
        if (folder.starts_with(system) && (folder.size() == system.size() || folder[system.size()] == '/'))
            return true;
    }
    return false;
}

}  // namespace ase2sgl::platform
