// The text after a failed file operation's path: the host's words for an errno
// value. The Windows build gives the same English texts as GNU/Linux for the values
// its file calls map to, so that both print the same line for the same failure.
#pragma once

#include <string>

namespace ase2sgl::platform {

std::string ErrorText(int errorNumber);

}  // namespace ase2sgl::platform
