// The sgltool command line: subcommands over mesh bundles (info, check, diff,
// export, render) and over ASE files (normalize, lint, convert). Returns the exit
// status (see exit_status.h).
#pragma once

namespace ase2sgl::tools {

int RunSgltool(int argc, char** argv);

}  // namespace ase2sgl::tools
