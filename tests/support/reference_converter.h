// A deliberately plain second implementation of the conversion, for differential
// tests: same bytes out for any input, at any cost.
#pragma once

#include <string>
#include <string_view>

namespace ase2sgl::testing {

// Converts ASE text to bundle bytes; throws std::runtime_error past 5000 objects.
std::string ReferenceConvert(std::string_view ase);

}  // namespace ase2sgl::testing
