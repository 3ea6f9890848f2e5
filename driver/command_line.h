// The command line of ase2sgl: ase2sgl INPUT [OUTPUT]. No switches; an argument
// that begins with a minus sign is a path like any other.
#pragma once

namespace ase2sgl {

// One run: argument checks, the progress line, the conversion and its report.
// Returns the exit status: 0 converted, 1 input missing or unreadable (nothing is
// printed), 3 the conversion failed or its output was refused (one "Erreur: ..."
// line on standard error). When the bundle itself goes to standard output (a pipe
// or a device named as the output, such as /dev/stdout), the completion lines go
// to standard error, so that standard output carries the bundle's bytes alone.
int RunConverter(int argc, char** argv);

}  // namespace ase2sgl
