// Error texts on POSIX: the C library's own.
#include "platform/error_text.h"

#include <cstring>

namespace ase2sgl::platform {

std::string ErrorText(int errorNumber)
{
    return std::strerror(errorNumber);
}

}  // namespace ase2sgl::platform
