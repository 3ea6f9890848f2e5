// `sgltool convert`: normalizes an ASE file in memory, then converts it with the
// converter's own code to the path ase2sgl would choose.
#include "tools/ase_input.h"
#include "tools/subcommands.h"

#include "conversion/convert.h"
#include "driver/command_line.h"

#include <iostream>
#include <memory>

namespace ase2sgl::tools {

namespace {

struct ConvertOptions {
    std::string input, output;
    bool report = false;
};

int ConvertFile(const ConvertOptions& options)
{
    const normalize::NormalizeResult result = NormalizeInput(options.input, false);
    ConvertBytesToFile(result.text, options.input,
                       options.output.empty() ? DefaultOutputPath(options.input) : options.output);
    std::cout << (options.report ? normalize::DescribeReport(result.report)
                                 : normalize::Summary(result.report) + "\n");
    return kExitOk;
}

}  // namespace

Subcommand AddConvertCommand(CLI::App& app)
{
    auto options = std::make_shared<ConvertOptions>();
    CLI::App* command = app.add_subcommand(
        "convert",
        "Normalize an ASE file in memory and convert it to a bundle as ase2sgl does (same default output "
        "path, written whole or not at all); one line says what was changed");
    command->add_option("input", options->input, "ASE file")->required();
    command->add_option("output", options->output,
                        "Bundle file (default: the input with its last three bytes "
                        "replaced by sgl, as ase2sgl)");
    command->add_flag("--report", options->report, "List everything passed over or repaired, with line numbers");
    command->footer(kExitStatusHelp);
    return {command, [options] { return ConvertFile(*options); }};
}

}  // namespace ase2sgl::tools
