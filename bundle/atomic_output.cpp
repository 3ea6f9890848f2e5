// The output file, written whole or not at all: a temporary file beside the output,
// renamed over it once complete.
#include "bundle/atomic_output.h"

#include "common/conversion_error.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <limits>
#include <utility>

namespace ase2sgl {

namespace {

constexpr std::string_view kCreateAction = "impossible de creer";
constexpr std::string_view kWriteAction = "impossible d'ecrire";

std::string Folder(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// A symbolic link at the output path is written through, as a plain create would:
// the file it names is the one replaced, or created when it does not exist yet.
std::string ResolveLinks(const std::string& path)
{
    std::string current = path;
    for (int depth = 0; depth < 40; ++depth) {  // the system's own limit on link chains
        struct stat status {};
        if (::lstat(current.c_str(), &status) != 0 || !S_ISLNK(status.st_mode))
            return current;
        std::string target(static_cast<std::size_t>(status.st_size) + 1, '\0');
        const ssize_t length = ::readlink(current.c_str(), target.data(), target.size());
        if (length <= 0 || static_cast<std::size_t>(length) >= target.size())
            return current;  // changed under us: replace the link itself
        target.resize(static_cast<std::size_t>(length));
        current = target.front() == '/' ? target : Folder(current) + "/" + target;
    }
    return current;
}

// The temporary file being written, for a run ended by a signal to remove: one slot
// serves the one conversion a process runs. Plain bytes, since a signal handler reads them.
char pendingTemporary[4096];
volatile std::sig_atomic_t pendingSet = 0;

void RememberTemporary(const std::string& path)
{
    pendingSet = 0;
    if (path.size() >= sizeof pendingTemporary)
        return;
    std::memcpy(pendingTemporary, path.c_str(), path.size() + 1);
    pendingSet = 1;
}

}  // namespace

void RemoveUnfinishedOutput() noexcept
{
    if (pendingSet)
        ::unlink(pendingTemporary);
}

AtomicOutputFile::AtomicOutputFile(std::string path) : path_(std::move(path)), target_(ResolveLinks(path_))
{
    struct stat status {};
    if (::stat(target_.c_str(), &status) == 0) {
        if (S_ISDIR(status.st_mode))
            throw FileError(kCreateAction, path_, EISDIR);
        if (!S_ISREG(status.st_mode)) {
            fd_ = ::open(target_.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
            if (fd_ < 0)
                throw FileError(kCreateAction, path_, errno);
            return;
        }
    }
    const std::string folder = Folder(target_);
    unsigned long long seed =
        static_cast<unsigned long long>(::getpid()) * 0x9E3779B97F4A7C15ull ^
        static_cast<unsigned long long>(std::chrono::steady_clock::now().time_since_epoch().count());
    for (int attempt = 0; attempt < 100; ++attempt) {
        seed = seed * 6364136223846793005ull + 1442695040888963407ull;
        char name[40];
        std::snprintf(name, sizeof name, "/.ase2sgl-%012llx.tmp", seed >> 16);
        temporary_ = folder + name;
        // 0666 less the umask: the mode a plain create gives.
        fd_ = ::open(temporary_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd_ >= 0) {
            RememberTemporary(temporary_);
            return;
        }
        if (errno != EEXIST)
            break;
    }
    const int error = errno;
    temporary_.clear();
    throw FileError(kCreateAction, path_, error);
}

AtomicOutputFile::~AtomicOutputFile()
{
    if (fd_ >= 0)
        ::close(fd_);
    if (!temporary_.empty()) {
        ::unlink(temporary_.c_str());
        pendingSet = 0;
    }
}

void AtomicOutputFile::Write(const char* data, std::size_t size)
{
    while (size > 0) {
        const ssize_t written = ::write(fd_, data, size);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            throw FileError(kWriteAction, path_, errno);
        }
        if (written == 0)
            throw FileError(kWriteAction, path_, ENOSPC);
        data += written;
        size -= static_cast<std::size_t>(written);
        written_ += static_cast<std::uint64_t>(written);
    }
}

void AtomicOutputFile::Reserve(std::uint64_t bytes)
{
    if (temporary_.empty() || bytes == 0 || bytes > static_cast<std::uint64_t>(std::numeric_limits<off_t>::max()))
        return;  // written in place, or nothing to reserve
    // Not every file system can: the writes then allocate as they go, as without it.
    // A reservation that fails midway (a full disk) may still have grown the file, so
    // Commit cuts the file to what was written either way.
    ::fallocate(fd_, 0, 0, static_cast<off_t>(bytes));
    reserved_ = bytes;
}

void AtomicOutputFile::Commit()
{
    if (written_ < reserved_ && ::ftruncate(fd_, static_cast<off_t>(written_)) != 0)
        throw FileError(kWriteAction, path_, errno);
    const int fd = std::exchange(fd_, -1);
    if (::close(fd) != 0)
        throw FileError(kWriteAction, path_, errno);
    if (temporary_.empty())
        return;
    if (::rename(temporary_.c_str(), target_.c_str()) != 0)
        throw FileError(kCreateAction, path_, errno);
    temporary_.clear();
    pendingSet = 0;
}

}  // namespace ase2sgl
