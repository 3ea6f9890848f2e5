// Shared by the Windows side of the platform layer: UTF-8 paths to the wide
// strings of the file calls and back; Win32 error codes as errno values come
// from platform/win32_errors.h.
#pragma once

#include "platform/win32_errors.h"

#include <windows.h>

#include <string>
#include <string_view>

namespace ase2sgl::platform {

std::wstring Wide(std::string_view utf8);
// In another code page than UTF-8, a character the page lacks becomes "?" (no
// look-alike: a fullwidth solidus must not print as a path separator).
std::string Narrow(std::wstring_view wide, UINT codePage = CP_UTF8);

}  // namespace ase2sgl::platform
