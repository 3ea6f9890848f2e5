// sgltool's exit statuses, the same for every subcommand, and the error that ends
// a subcommand with one "sgltool: FILE: reason" line and one of them.
#pragma once

#include <stdexcept>
#include <string>

namespace ase2sgl::tools {

inline constexpr int kExitOk = 0;
inline constexpr int kExitNo = 1;     // check: a file is not a sound bundle; diff: the bundles differ
inline constexpr int kExitUsage = 2;  // the command line is wrong
inline constexpr int kExitFile = 3;   // a file cannot be read or written, or an input is not a sound bundle

// The exit statuses as `--help` lists them under the bundle subcommands.
inline constexpr const char* kExitStatusHelp =
    "Exit status: 0 success (check: every file is a sound bundle; diff: equal within the tolerance);\n"
    "1 check: a file is not a sound bundle, or diff: the bundles differ; 2 the command line is wrong;\n"
    "3 a file cannot be read or written, or an input is not a sound bundle.\n";

// One line for standard error, naming the file and the reason; RunSgltool prints it.
struct ToolError : std::runtime_error {
    ToolError(const std::string& message, int status) : std::runtime_error(message), exitStatus(status) {}
    int exitStatus;
};

}  // namespace ase2sgl::tools
