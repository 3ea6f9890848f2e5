// `sgltool lint`: says what ase2sgl will do with each file. Exit 0 when every mesh
// of every file becomes an object of its own under its own name (with --strict,
// and no warning either), 1 otherwise, 3 when a file cannot be read (it wins over
// 1): a build can use it as a gate. Over many files a totals line ends the text
// report.
#include "tools/ase_input.h"
#include "tools/subcommands.h"

#include "common/conversion_error.h"
#include "lint/lint.h"

#include <algorithm>
#include <iostream>
#include <memory>

namespace ase2sgl::tools {

namespace {

struct LintOptions {
    std::vector<std::string> files;
    bool json = false;
    bool strict = false;
    bool quiet = false;
};

void PrintLintJson(const nlohmann::ordered_json& files)
{
    const nlohmann::ordered_json document = {{"report", "sgltool lint"}, {"version", 1}, {"files", files}};
    // Names hold the file's own bytes, which need not be UTF-8.
    std::cout << document.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) << '\n';
}

int LintFiles(const LintOptions& options)
{
    int status = kExitOk;
    nlohmann::ordered_json files = nlohmann::ordered_json::array();
    lint::LintTotals totals;
    for (const std::string& path : options.files) {
        lint::LintReport report;
        try {
            InputFile input(path, "lint " + path);
            report = lint::LintFile(path, input);
            input.Done();
        } catch (const ToolError& error) {
            ReportError(error.what());
            status = kExitFile;
            continue;
        } catch (const ConversionError&) {
            ReportError(path + ": cannot be read");
            status = kExitFile;
            continue;
        }
        if (options.json)
            files.push_back(lint::ToJson(report, path));
        else
            std::cout << lint::FormatText(report, path, options.quiet);
        totals.Add(report, options.strict);
        if (!report.Passes(options.strict))
            status = std::max(status, kExitNo);
    }
    if (options.json)
        PrintLintJson(files);
    else if (options.files.size() > 1)
        std::cout << lint::FormatTotals(totals);
    return status;
}

}  // namespace

Subcommand AddLintCommand(CLI::App& app)
{
    auto options = std::make_shared<LintOptions>();
    CLI::App* command = app.add_subcommand(
        "lint",
        "Tell, before converting, what ase2sgl will do with ASE files: the objects it writes, and every "
        "mesh or node that does not become an object of its own, with line numbers and the reason");
    command->add_option("files", options->files, "ASE files")->required();
    command->add_flag("--json", options->json, "Print a JSON report (schema: tools/sgltool-lint.schema.json)");
    command->add_flag("--strict", options->strict, "Fail (exit 1) on warnings too: values the engine will not see");
    command->add_flag("--quiet", options->quiet, "Print only the losses, and only for files that have some");
    command->footer(
        "Exit status: 0 every mesh of every file becomes an object of its own under its own name;\n"
        "1 some mesh does not (or ase2sgl refuses a file; with --strict, or a warning is given);\n"
        "2 the command line is wrong; 3 a file cannot be read.\n");
    return {command, [options] { return LintFiles(*options); }};
}

}  // namespace ase2sgl::tools
