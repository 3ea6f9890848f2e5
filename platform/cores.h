// Whether a second thread would have a core of its own right now.
#pragma once

namespace ase2sgl::platform {

// True when this process may run on two or more cores and no other busy task is
// there to take the second one: a second thread that has to share its core with
// another busy process leaves the first one waiting, no faster than one thread.
bool SecondCoreIdle();

}  // namespace ase2sgl::platform
