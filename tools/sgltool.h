// The sgltool command line: subcommands info, check, diff, export and render over
// mesh bundles. Returns the exit status (see kExit* in loaded_bundle.h).
#pragma once

namespace ase2sgl::tools {

int RunSgltool(int argc, char** argv);

}  // namespace ase2sgl::tools
