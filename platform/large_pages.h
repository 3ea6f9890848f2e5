// Large pages for the large arrays: one object of a scan, a sculpt or a merged level
// needs tens of MiB of working arrays, written from the first byte to the last as
// soon as they are allocated.
#pragma once

#include <cstddef>

namespace ase2sgl::platform {

// Asks the system to back the `bytes` at `data`, memory not yet written, with
// large pages where it can (on Linux, transparent huge pages of 2 MiB), so that
// the first writes fault in one page per 2 MiB rather than one per 4 KiB. A hint
// only: the memory and its contents are the same either way, and where the system
// has no such pages, or keeps them for programs that ask for all of them, nothing
// changes.
void AdviseLargePages(void* data, std::size_t bytes);

}  // namespace ase2sgl::platform
