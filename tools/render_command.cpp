// `sgltool render`: a preview picture of a bundle, written as PNG.
#include "tools/render.h"
#include "tools/subcommands.h"

#include <map>
#include <memory>

namespace ase2sgl::tools {

namespace {

struct RenderCommandOptions {
    std::string input, output;
    RenderOptions render;
    std::string objectName;  // taken only when --object was given
    std::string viewName = "iso";
};

const std::map<std::string, View>& Views()
{
    static const std::map<std::string, View> views = {
        {"front", View::kFront}, {"top", View::kTop}, {"side", View::kSide}, {"iso", View::kIso}};
    return views;
}

int RenderPicture(const CLI::App& command, RenderCommandOptions options)
{
    if (command.count("--object") > 0)
        options.render.object = options.objectName;
    options.render.view = Views().at(options.viewName);
    LoadedBundle loaded;
    LoadBundle(options.input, loaded);
    WritePng(Render(loaded, options.render).image, options.output);
    return kExitOk;
}

}  // namespace

Subcommand AddRenderCommand(CLI::App& app)
{
    auto options = std::make_shared<RenderCommandOptions>();
    CLI::App* command = app.add_subcommand("render",
                                           "Draw a preview picture (PNG): one colour per object, lit by "
                                           "the bundle's normals, framed on the bounding box");
    command->add_option("input", options->input, "Bundle file")->required();
    command->add_option("output", options->output, "PNG file to write")->required();
    command->add_option("--size", options->render.size, "Width and height in pixels (16 to 8192, default 512)")
        ->check(CLI::Range(16, 8192));
    command->add_option("--object", options->objectName, "Draw only the object of this name");
    command->add_option("--view", options->viewName, "front, top, side or iso (default: iso, a three-quarter view)")
        ->check(CLI::IsMember({"front", "top", "side", "iso"}));
    command->add_flag("--checker", options->render.checker, "Overlay an 8 x 8 checker from the texture coordinates");
    command->footer(kExitStatusHelp);
    return {command, [command, options] { return RenderPicture(*command, *options); }};
}

}  // namespace ase2sgl::tools
