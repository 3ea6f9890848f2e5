// Mapped input on POSIX: mmap(2), and a SIGBUS handler for the pages of a file that
// another program cut shorter while it was mapped.
#include "platform/mapped_input.h"

#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstddef>
#include <limits>
#include <mutex>
#include <utility>

namespace ase2sgl::platform {

namespace {

// The mappings the handler knows, one slot each: the converter maps at most one
// input per thread at a time. A mapping that finds no free slot is not made (the
// input is read instead), so a slot is always there for a mapping that exists.
struct Slot {
    std::atomic<bool> taken{false};
    std::atomic<std::uintptr_t> begin{0};
    std::atomic<std::uintptr_t> end{0};
    std::atomic<bool> cut{false};
};
constexpr std::size_t kSlots = 512;
std::array<Slot, kSlots> slots;
static_assert(std::atomic<std::uintptr_t>::is_always_lock_free && std::atomic<bool>::is_always_lock_free,
              "the handler reads the slots without locking");

struct sigaction previousAction {};
std::uintptr_t pageSize = 4096;
// The system may keep a file's pages in blocks of up to 2 MiB (a large page on x86-64
// and on arm64 with 4 KiB pages) and map each block whole, with one page-table entry.
constexpr std::uintptr_t kLargeBlock = std::uintptr_t{2} << 20;
bool handlerInstalled = false;

// Hands a bus error that is not one of ours to whoever had it before, or, where no
// one did, to the default action: the signal is raised again, to be delivered as
// this handler returns, and ends the process as it would have without it.
void PassOn(int signal, siginfo_t* info, void* context)
{
    if ((previousAction.sa_flags & SA_SIGINFO) != 0 && previousAction.sa_sigaction != nullptr) {
        previousAction.sa_sigaction(signal, info, context);
        return;
    }
    if (previousAction.sa_handler != SIG_DFL && previousAction.sa_handler != SIG_IGN) {
        previousAction.sa_handler(signal);
        return;
    }
    struct sigaction fallback {};
    fallback.sa_handler = SIG_DFL;
    sigemptyset(&fallback.sa_mask);
    ::sigaction(SIGBUS, &fallback, nullptr);
    ::raise(signal);
}

// A touch of a mapped page with no file behind it: a zero page is put in its place
// and the mapping marked as cut. Only calls that may be made in a handler: atomic
// loads and stores, and mmap (a system call).
void OnBusError(int signal, siginfo_t* info, void* context)
{
    if (info == nullptr || info->si_code <= 0) {  // sent by a process, not a fault: no address
        PassOn(signal, info, context);
        return;
    }
    const auto address = reinterpret_cast<std::uintptr_t>(info->si_addr);
    for (Slot& slot : slots) {
        const std::uintptr_t begin = slot.begin.load(std::memory_order_acquire);
        if (begin == 0 || address < begin || address >= slot.end.load(std::memory_order_acquire))
            continue;
        void* page = reinterpret_cast<void*>(address & ~(pageSize - 1));
        if (::mmap(page, pageSize, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0) == MAP_FAILED)
            break;
        slot.cut.store(true, std::memory_order_release);
        return;
    }
    PassOn(signal, info, context);
}

void InstallHandler()
{
    const long size = ::sysconf(_SC_PAGESIZE);
    if (size <= 0)
        return;
    pageSize = static_cast<std::uintptr_t>(size);
    // The handler before this one is known before this one can run.
    if (::sigaction(SIGBUS, nullptr, &previousAction) != 0)
        return;
    struct sigaction action {};
    action.sa_sigaction = OnBusError;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    handlerInstalled = ::sigaction(SIGBUS, &action, nullptr) == 0;
}

int TakeSlot(std::uintptr_t begin, std::uintptr_t end)
{
    for (std::size_t i = 0; i < kSlots; ++i) {
        bool expected = false;
        if (slots[i].taken.compare_exchange_strong(expected, true, std::memory_order_acq_rel)) {
            slots[i].cut.store(false, std::memory_order_relaxed);
            slots[i].end.store(end, std::memory_order_release);
            slots[i].begin.store(begin, std::memory_order_release);
            return static_cast<int>(i);
        }
    }
    return -1;
}

void FreeSlot(int slot)
{
    Slot& s = slots[static_cast<std::size_t>(slot)];
    s.begin.store(0, std::memory_order_release);
    s.end.store(0, std::memory_order_release);
    s.taken.store(false, std::memory_order_release);
}

}  // namespace

MappedInput::MappedInput(MappedInput&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)), size_(std::exchange(other.size_, 0)),
      slot_(std::exchange(other.slot_, -1))
{
}

MappedInput& MappedInput::operator=(MappedInput&& other) noexcept
{
    if (this != &other) {
        Unmap();
        data_ = std::exchange(other.data_, nullptr);
        size_ = std::exchange(other.size_, 0);
        slot_ = std::exchange(other.slot_, -1);
    }
    return *this;
}

bool MappedInput::Map(const InputFile& file, std::uint64_t size)
{
    Unmap();
    static std::once_flag installed;
    std::call_once(installed, InstallHandler);
    struct stat status {};
    if (!handlerInstalled || size == 0 || size > std::numeric_limits<std::size_t>::max() ||
        ::fstat(static_cast<int>(file.handle_), &status) != 0 || !S_ISREG(status.st_mode))
        return false;
    const auto length = static_cast<std::size_t>(size);
    void* data = ::mmap(nullptr, length, PROT_READ, MAP_PRIVATE, static_cast<int>(file.handle_), 0);
    if (data == MAP_FAILED)
        return false;
    const auto begin = reinterpret_cast<std::uintptr_t>(data);
    slot_ = TakeSlot(begin, begin + length);
    if (slot_ < 0) {
        ::munmap(data, length);
        return false;
    }
    data_ = static_cast<const char*>(data);
    size_ = size;
    return true;
}

void MappedInput::Release(std::uint64_t offset, std::uint64_t length) const
{
    if (data_ == nullptr || offset >= size_)
        return;
    length = std::min(length, size_ - offset);
    const std::uint64_t first = (offset + pageSize - 1) / pageSize * pageSize;
    const std::uint64_t last = (offset + length) / pageSize * pageSize;
    if (first >= last)
        return;
    ::madvise(const_cast<char*>(data_) + first, static_cast<std::size_t>(last - first), MADV_DONTNEED);
}

void MappedInput::ReleaseFromBlockStart(std::uint64_t offset, std::uint64_t length) const
{
    if (data_ == nullptr || offset >= size_)
        return;
    // A block mapped whole and given back only in part stays mapped, all of it; a
    // reading that gives back what it passed a piece at a time would keep every block
    // it crossed. Starting at the start of the block `offset` lies in, each block is
    // given back whole by the first call that reaches its end.
    const auto base = reinterpret_cast<std::uintptr_t>(data_);
    const std::uintptr_t blockStart = (base + offset) / kLargeBlock * kLargeBlock;
    const std::uint64_t start = blockStart > base ? blockStart - base : 0;
    Release(start, offset - start + length);
}

bool MappedInput::Cut() const
{
    return slot_ >= 0 && slots[static_cast<std::size_t>(slot_)].cut.load(std::memory_order_acquire);
}

void MappedInput::Unmap() noexcept
{
    if (data_ == nullptr)
        return;
    FreeSlot(slot_);  // the handler stops looking here before the pages go
    ::munmap(const_cast<char*>(data_), static_cast<std::size_t>(size_));
    data_ = nullptr;
    size_ = 0;
    slot_ = -1;
}

}  // namespace ase2sgl::platform
