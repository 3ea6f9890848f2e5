// The output file, written whole or not at all: a temporary file beside the output,
// renamed over it once complete.
#include "bundle/atomic_output.h"

#include "common/conversion_error.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <utility>

namespace ase2sgl {

namespace {

constexpr std::string_view kCreateAction = "impossible de creer";
constexpr std::string_view kWriteAction = "impossible d'ecrire";

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
        platform::RemoveFile(pendingTemporary);
}

AtomicOutputFile::AtomicOutputFile(std::string path) : path_(std::move(path)), target_(platform::ResolveLinks(path_))
{
    // Asked of the path as given, which the system follows itself: a link of
    // Linux's /proc such as /dev/stdout names a pipe that no path spells.
    switch (platform::KindOf(path_)) {
    case platform::PathKind::kDirectory: throw FileError(kCreateAction, path_, EISDIR);
    case platform::PathKind::kOther:  // a device or a pipe: written in place
        if (const int error = file_.OpenExisting(path_); error != 0)
            throw FileError(kCreateAction, path_, error);
        return;
    default: break;
    }
    unsigned long long seed =
        static_cast<unsigned long long>(platform::ProcessNumber()) * 0x9E3779B97F4A7C15ull ^
        static_cast<unsigned long long>(std::chrono::steady_clock::now().time_since_epoch().count());
    int error = 0;
    for (int attempt = 0; attempt < 100; ++attempt) {
        seed = seed * 6364136223846793005ull + 1442695040888963407ull;
        char name[40];
        std::snprintf(name, sizeof name, ".ase2sgl-%012llx.tmp", seed >> 16);
        temporary_ = platform::Beside(target_, name);
        error = file_.CreateNew(temporary_);
        if (error == 0) {
            RememberTemporary(temporary_);
            return;
        }
        if (error != EEXIST)
            break;
    }
    temporary_.clear();
    throw FileError(kCreateAction, path_, error);
}

AtomicOutputFile::~AtomicOutputFile()
{
    file_.Close();
    if (!temporary_.empty()) {
        platform::RemoveFile(temporary_.c_str());
        pendingSet = 0;
    }
}

void AtomicOutputFile::Write(const char* data, std::size_t size)
{
    if (const int error = file_.Write(data, size); error != 0)
        throw FileError(kWriteAction, path_, error);
    written_ += size;
}

void AtomicOutputFile::WriteOver(std::uint64_t offset, const char* data, std::size_t size)
{
    if (const int error = file_.WriteAt(offset, data, size); error != 0)
        throw FileError(kWriteAction, path_, error);
}

void AtomicOutputFile::Reserve(std::uint64_t bytes)
{
    if (temporary_.empty() || bytes == 0)
        return;  // written in place, or nothing to reserve
    // A reservation that fails midway (a full disk) may still have grown the file, so
    // Commit cuts the file to what was written either way.
    if (file_.Reserve(bytes))
        reserved_ = bytes;
}

void AtomicOutputFile::Commit()
{
    if (written_ < reserved_)
        if (const int error = file_.Truncate(written_); error != 0)
            throw FileError(kWriteAction, path_, error);
    if (const int error = file_.Close(); error != 0)
        throw FileError(kWriteAction, path_, error);
    if (temporary_.empty())
        return;
    if (const int error = platform::MoveIntoPlace(temporary_, target_); error != 0)
        throw FileError(kCreateAction, path_, error);
    temporary_.clear();
    pendingSet = 0;
}

}  // namespace ase2sgl
