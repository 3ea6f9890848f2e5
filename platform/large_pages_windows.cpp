// Large pages on Windows need a privilege (SeLockMemoryPrivilege) that ordinary
// accounts lack and memory reserved at allocation (VirtualAlloc with
// MEM_LARGE_PAGES): arrays from the C++ allocator stay as they are.
#include "platform/large_pages.h"

namespace ase2sgl::platform {

void AdviseLargePages(void* data, std::size_t bytes)
{
    static_cast<void>(data);
    static_cast<void>(bytes);
}

}  // namespace ase2sgl::platform
