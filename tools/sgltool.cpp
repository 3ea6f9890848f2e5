// sgltool, the companion of ase2sgl: looks into mesh bundles (info, check, diff,
// export, render) and reads ASE files of any exporter (normalize, lint, convert).
// Each subcommand adds its own options and handler (see subcommands.h); this file
// holds the table of them, parses the command line and runs the one chosen.
// Errors end as one "sgltool: FILE: reason" line and an exit status (exit_status.h).
#include "tools/sgltool.h"

#include "tools/exit_status.h"
#include "tools/subcommands.h"

#include "common/conversion_error.h"

#include <iostream>
#include <new>
#include <optional>
#include <vector>

#ifndef SGLTOOL_VERSION
#define SGLTOOL_VERSION "unknown"
#endif

namespace ase2sgl::tools {

namespace {

// In the order --help lists them.
constexpr Subcommand (*kSubcommands[])(CLI::App&) = {
    AddInfoCommand,   AddCheckCommand,     AddDiffCommand, AddExportCommand,
    AddRenderCommand, AddNormalizeCommand, AddLintCommand, AddConvertCommand,
};

// Every failure a handler lets through becomes one line and an exit status.
int RunHandler(const Subcommand& subcommand)
{
    try {
        return subcommand.run();
    } catch (const ToolError& error) {
        ReportError(error.what());
        return error.exitStatus;
    } catch (const ConversionError& error) {
        ReportError(error.what());
        return kExitFile;
    } catch (const std::bad_alloc&) {
        ReportError("out of memory");
        return kExitFile;
    } catch (const std::exception& error) {
        ReportError(error.what());
        return kExitFile;
    }
}

// Help and version requests end the program with status 0; any other parse error
// is one line and kExitUsage. Returns no value when the command line is good.
std::optional<int> Parse(CLI::App& app, int argc, char** argv)
{
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForVersion& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        ReportError(std::string(e.what()) + " (see sgltool --help)");
        return kExitUsage;
    }
    return std::nullopt;
}

}  // namespace

void ReportError(const std::string& message)
{
    std::cerr << "sgltool: " << message << '\n';
}

int RunSgltool(int argc, char** argv)
{
    CLI::App app{"sgltool: look into mesh bundles (.sgl) written by ase2sgl, and lint, normalize and "
                 "convert ASE files of any exporter",
                 "sgltool"};
    app.set_version_flag("--version", std::string("sgltool ") + SGLTOOL_VERSION);
    app.footer(kExitStatusHelp);
    app.require_subcommand(1);

    std::vector<Subcommand> subcommands;
    for (const auto add : kSubcommands)
        subcommands.push_back(add(app));
    if (const std::optional<int> status = Parse(app, argc, argv))
        return *status;
    for (const Subcommand& subcommand : subcommands) {
        if (subcommand.command->parsed())
            return RunHandler(subcommand);
    }
    ReportError("no subcommand given (see sgltool --help)");
    return kExitUsage;
}

}  // namespace ase2sgl::tools
