// Usable cores on Windows: the processors in this process's affinity mask (within
// its processor group, at most 64; start /affinity and job objects set it).
#include "platform/cores.h"

#include "platform/windows_support.h"

#include <algorithm>
#include <bit>
#include <cstdint>

namespace ase2sgl::platform {

int UsableCores()
{
    DWORD_PTR processMask = 0, systemMask = 0;
    if (!::GetProcessAffinityMask(::GetCurrentProcess(), &processMask, &systemMask))
        return 1;
    return std::max(std::popcount(static_cast<std::uint64_t>(processMask)), 1);
}

}  // namespace ase2sgl::platform
