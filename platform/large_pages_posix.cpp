// Large pages on POSIX: madvise(MADV_HUGEPAGE) where the system has it (Linux),
// over the 2 MiB-aligned part of the range; elsewhere nothing.
#include "platform/large_pages.h"

#include <sys/mman.h>

#include <cstdint>

namespace ase2sgl::platform {

void AdviseLargePages(void* data, std::size_t bytes)
{
#if defined(MADV_HUGEPAGE)
    // The advice applies to whole pages of the range: only the 2 MiB blocks that
    // lie wholly inside it can become large pages, so only those are named.
    constexpr std::uintptr_t kLargePage = std::uintptr_t{2} << 20;
    const auto begin = reinterpret_cast<std::uintptr_t>(data);
    const std::uintptr_t first = (begin + kLargePage - 1) & ~(kLargePage - 1);
    const std::uintptr_t last = (begin + bytes) & ~(kLargePage - 1);
    if (last > first)
        ::madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);  // a hint: failure changes nothing
#else
    static_cast<void>(data);
    static_cast<void>(bytes);
#endif
}

}  // namespace ase2sgl::platform
