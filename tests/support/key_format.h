// Keys and scan formats written out the plain way, by formatting the number into
// the key's template: what the converter's in-place keys (NumberedKey) must equal.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace ase2sgl::testing {

// Builds a key into `out`: "%4d" writes n right-aligned in four columns (a longer
// number whole, with no blank), "%d" writes n plainly, "%%" writes "%"; every other
// byte is copied.
void FormatKey(std::string& out, std::string_view keyFormat, std::int64_t n);

}  // namespace ase2sgl::testing
