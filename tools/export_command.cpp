// `sgltool export`: a bundle as glTF 2.0 or Wavefront OBJ, by the output's extension.
#include "tools/export.h"
#include "tools/subcommands.h"

#include <memory>

namespace ase2sgl::tools {

namespace {

struct ExportOptions {
    std::string input, output;
};

int Export(const ExportOptions& options)
{
    const ExportFormat format = FormatOf(options.output);
    LoadedBundle loaded;
    LoadBundle(options.input, loaded);
    if (format == ExportFormat::kObj)
        ExportObj(loaded, options.output);
    else
        ExportGltf(loaded, options.output, format == ExportFormat::kGlb);
    return kExitOk;
}

}  // namespace

Subcommand AddExportCommand(CLI::App& app)
{
    auto options = std::make_shared<ExportOptions>();
    CLI::App* command = app.add_subcommand(
        "export",
        "Write the bundle as glTF 2.0 (.gltf with the buffer embedded, or .glb) or Wavefront OBJ (.obj), "
        "one mesh per object: right-handed, Y up; glTF texture origin top left, OBJ bottom left");
    command->add_option("input", options->input, "Bundle file")->required();
    command->add_option("output", options->output, "Output file: .gltf, .glb or .obj")->required();
    command->footer(kExitStatusHelp);
    return {command, [options] { return Export(*options); }};
}

}  // namespace ase2sgl::tools
