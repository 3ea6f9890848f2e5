// `sgltool normalize`: rewrites any exporter's ASE into the layout ase2sgl reads;
// the output is replaced whole or not at all, like a bundle.
#include "tools/ase_input.h"
#include "tools/background_writer.h"
#include "tools/subcommands.h"

#include "bundle/atomic_output.h"
#include "platform/cores.h"

#include <filesystem>
#include <iostream>
#include <memory>

namespace ase2sgl::tools {

namespace {

struct NormalizeOptions {
    std::string input, output;
    bool keepOtherNodes = false;
    bool report = false;
};

int NormalizeFile(const NormalizeOptions& options)
{
    InputFile input(options.input, "normalize " + options.input);
    AtomicOutputFile file(options.output);
    // The normalized text is about as long as the input: room for that is allocated
    // ahead where replacing the output would otherwise make the file system write
    // the new file's blocks out first (see Reserve).
    std::error_code sizeError;
    const std::uintmax_t inputBytes = std::filesystem::file_size(options.input, sizeError);
    if (!sizeError)
        file.Reserve(inputBytes);
    BackgroundWriter writer([&](std::string_view piece) { file.Write(piece.data(), piece.size()); },
                            platform::UsableCores());
    const normalize::NormalizeResult result =
        NormalizeFile(input, normalize::BufferSink([&](TextBuffer& piece) { writer.Put(piece); }),
                      options.keepOtherNodes);
    writer.Finish();
    file.Commit();
    std::cout << (options.report ? normalize::DescribeReport(result.report)
                                 : normalize::Summary(result.report) + "\n");
    return kExitOk;
}

}  // namespace

Subcommand AddNormalizeCommand(CLI::App& app)
{
    auto options = std::make_shared<NormalizeOptions>();
    CLI::App* command = app.add_subcommand(
        "normalize",
        "Rewrite an ASE file of any exporter (3ds Max, Blender scripts, AC3D, q3map2; UTF-8 or UTF-16) in "
        "the layout ase2sgl reads: one object per mesh under its own name, texture lists and normals "
        "everywhere (flat normals computed where missing)");
    command->add_option("input", options->input, "ASE file")->required();
    command->add_option("output", options->output, "ASE file to write")->required();
    command->add_flag("--keep-other-nodes", options->keepOtherNodes,
                      "Keep cameras, lights, helpers and nodes without a mesh (ase2sgl gives their names to "
                      "the next mesh)");
    command->add_flag("--report", options->report, "List everything passed over or repaired, with line numbers");
    command->footer(kExitStatusHelp);
    return {command, [options] { return NormalizeFile(*options); }};
}

}  // namespace ase2sgl::tools
