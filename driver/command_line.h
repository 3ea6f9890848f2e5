// The command line of ase2sgl: ase2sgl INPUT [OUTPUT]. No switches; an argument
// that begins with a minus sign is a path like any other.
#pragma once

#include <string>

namespace ase2sgl {

// Without an output path the bundle goes next to the input: the input path less
// its last three bytes, then "sgl" (no dot is looked for: "model" gives "mosgl").
// A path of three bytes or fewer keeps nothing and gives "sgl".
std::string DefaultOutputPath(const std::string& inputPath);

// One run: argument checks, the progress line, the conversion and its report.
// Returns the exit status: 0 converted, 1 input missing or unreadable (nothing is
// printed), 3 the conversion failed (one "Erreur: ..." line on standard error).
int RunConverter(int argc, char** argv);

}  // namespace ase2sgl
