// `sgltool info`: per-object statistics of bundles, as a table or a JSON report.
#include "tools/info_report.h"
#include "tools/subcommands.h"

#include "conversion/output_path.h"

#include <fstream>
#include <iostream>
#include <memory>

namespace ase2sgl::tools {

namespace {

struct InfoOptions {
    std::vector<std::string> files;
    bool json = false;
};

// Whether the file opens as ASE text, by the converter's own rule (the one that
// keeps it from writing over a scene).
bool HoldsAseText(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    char head[512] = {};
    file.read(head, sizeof head);
    return LooksLikeAseText(std::string_view(head, static_cast<std::size_t>(file.gcount())));
}

// The reader's reason, or for ASE text what to run on it instead.
std::string LoadFailure(const std::string& path, const ToolError& error)
{
    if (error.exitStatus == kExitFile && HoldsAseText(path))
        return path + ": ASE text, not a bundle: `sgltool lint` tells what ase2sgl makes of it";
    return error.what();
}

// A file that cannot be loaded is reported and passed over; the others are still described.
int Info(const InfoOptions& options)
{
    int status = kExitOk;
    nlohmann::ordered_json files = nlohmann::ordered_json::array();
    for (const std::string& path : options.files) {
        LoadedBundle loaded;
        try {
            LoadBundle(path, loaded);
        } catch (const ToolError& error) {
            ReportError(LoadFailure(path, error));
            status = error.exitStatus;
            continue;
        }
        const BundleInfo info = DescribeBundle(loaded);
        if (options.json)
            files.push_back(InfoJson(info));
        else
            PrintInfoTable(info, std::cout);
    }
    if (options.json)
        std::cout << InfoReport(files).dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) << '\n';
    return status;
}

}  // namespace

Subcommand AddInfoCommand(CLI::App& app)
{
    auto options = std::make_shared<InfoOptions>();
    CLI::App* command = app.add_subcommand(
        "info",
        "Per object: vertices, triangles, bounding box, degenerate triangles, normals off unit length "
        "(by more than 0.01), NaN or infinite values, texture coordinate range; then totals");
    command->add_option("files", options->files, "Bundle files")->required();
    command->add_flag("--json", options->json, "Print a JSON report instead (layout: tools/sgltool-info.schema.json)");
    command->footer(kExitStatusHelp);
    return {command, [options] { return Info(*options); }};
}

}  // namespace ase2sgl::tools
