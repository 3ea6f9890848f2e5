// sgltool's subcommands. Each file *_command.cpp adds one subcommand to the
// command line with its options and returns the handler that runs it once the
// command line has been parsed; RunSgltool (sgltool.cpp) keeps them in a table.
#pragma once

#include "tools/exit_status.h"

#include <CLI/CLI.hpp>

#include <functional>
#include <string>

namespace ase2sgl::tools {

struct Subcommand {
    CLI::App* command = nullptr;  // owned by the application; parsed() tells whether it was chosen
    std::function<int()> run;     // returns the exit status or throws ToolError
};

// Bundles (.sgl): read, compared, exported, drawn.
Subcommand AddInfoCommand(CLI::App& app);
Subcommand AddCheckCommand(CLI::App& app);
Subcommand AddDiffCommand(CLI::App& app);
Subcommand AddExportCommand(CLI::App& app);
Subcommand AddRenderCommand(CLI::App& app);
// ASE files: rewritten, judged, converted.
Subcommand AddNormalizeCommand(CLI::App& app);
Subcommand AddLintCommand(CLI::App& app);
Subcommand AddConvertCommand(CLI::App& app);

// Prints "sgltool: MESSAGE" on standard error.
void ReportError(const std::string& message);

}  // namespace ase2sgl::tools
