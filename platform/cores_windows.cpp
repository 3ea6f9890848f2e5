// The second-core check on Windows: the cores in this process's affinity mask, and
// how busy the other programs kept them since this process started (Windows keeps
// no count of runnable threads that a program can read).
#include "platform/cores.h"

#include "platform/windows_support.h"

#include <bit>
#include <cstdint>

namespace ase2sgl::platform {

namespace {

std::uint64_t Ticks(const FILETIME& time)
{
    return (std::uint64_t{time.dwHighDateTime} << 32) | time.dwLowDateTime;
}

struct CpuTimes {
    std::uint64_t idle = 0, all = 0, own = 0;  // 100 ns units, summed over the cores
};

CpuTimes Sample()
{
    CpuTimes times;
    FILETIME idle{}, kernel{}, user{}, created{}, exited{}, ownKernel{}, ownUser{};
    if (::GetSystemTimes(&idle, &kernel, &user)) {
        times.idle = Ticks(idle);
        times.all = Ticks(kernel) + Ticks(user);  // kernel time includes idle time
    }
    if (::GetProcessTimes(::GetCurrentProcess(), &created, &exited, &ownKernel, &ownUser))
        times.own = Ticks(ownKernel) + Ticks(ownUser);
    return times;
}

// Taken as the program starts: the conversion's first read lies between this and
// the check.
const CpuTimes startTimes = Sample();

}  // namespace

bool SecondCoreIdle()
{
    DWORD_PTR processMask = 0, systemMask = 0;
    if (!::GetProcessAffinityMask(::GetCurrentProcess(), &processMask, &systemMask))
        return false;
    const int cores = std::popcount(static_cast<std::uint64_t>(processMask));
    if (cores < 2)
        return false;
    const CpuTimes now = Sample();
    const std::uint64_t all = now.all - startTimes.all;
    if (all == 0)
        return true;  // too short a time to tell: nothing was seen to be busy
    const std::uint64_t busy = all - (now.idle - startTimes.idle);
    const std::uint64_t own = now.own - startTimes.own;
    const std::uint64_t othersBusy = busy > own ? busy - own : 0;
    // The others may keep up to half a core busy besides the cores this run leaves them.
    const std::uint64_t wall = all / static_cast<std::uint64_t>(::GetActiveProcessorCount(ALL_PROCESSOR_GROUPS));
    return othersBusy * 2 <= wall * static_cast<std::uint64_t>(2 * (cores - 2) + 1);
}

}  // namespace ase2sgl::platform
