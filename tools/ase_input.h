// ASE input of the subcommands that read ASE text (normalize, lint, convert):
// the file's bytes whole, and the file normalized into the layout ase2sgl reads.
#pragma once

#include "normalize/normalize.h"

#include <string>

namespace ase2sgl::tools {

// The file's bytes; throws ToolError (kExitFile) when it cannot be read.
std::string ReadInput(const std::string& path);

// The file normalized; throws ToolError (kExitFile) naming the file when it
// cannot be read or is no ASE text the normalizer knows.
normalize::NormalizeResult NormalizeInput(const std::string& path, bool keepOtherNodes);

}  // namespace ase2sgl::tools
