// `sgltool convert`: any exporter's ASE to a bundle, or with --to to glTF or OBJ,
// in one step. The bundle is the one ase2sgl writes for the input's normalized
// text, written whole or not at all. It is made straight from the meshes as
// normalize orders them (tools/mesh_records.h); where that route is not taken, the
// input is normalized into a temporary file a piece at a time and the converter's
// own Convert reads that file as ase2sgl reads its input. The path written is
// printed after the summary line.
#include "tools/ase_input.h"
#include "tools/background_writer.h"
#include "tools/export.h"
#include "tools/loaded_bundle.h"
#include "tools/mesh_records.h"
#include "tools/subcommands.h"

#include "bundle/atomic_output.h"
#include "common/conversion_error.h"
#include "conversion/convert.h"
#include "conversion/output_path.h"
#include "platform/cores.h"
#include "platform/output_file.h"

#include <cctype>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <optional>
#include <random>
#include <system_error>

namespace ase2sgl::tools {

namespace {

struct ConvertOptions {
    std::vector<std::string> paths;  // the inputs; without -o, two paths may be input and output
    std::string outputFolder;
    std::string to = "sgl";
    bool report = false;
};

// A fresh path in the system's temporary folder, removed when this goes.
class TemporaryPath {
  public:
    explicit TemporaryPath(const std::string& extension)
    {
        std::mt19937_64 random(std::random_device{}() ^
                               static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()));
        path_ = (std::filesystem::temp_directory_path() / ("sgltool-" + std::to_string(random()) + extension)).string();
    }
    TemporaryPath(const TemporaryPath&) = delete;
    TemporaryPath& operator=(const TemporaryPath&) = delete;
    ~TemporaryPath()
    {
        std::error_code ignored;
        std::filesystem::remove(path_, ignored);
    }
    const std::string& Path() const { return path_; }

  private:
    std::string path_;
};

// The input normalized into `normalized`; throws ToolError naming the input.
normalize::NormalizeResult NormalizeToFile(const std::string& input, const std::string& normalized)
{
    InputFile source(input, "convert " + input);
    std::ofstream file(normalized, std::ios::binary | std::ios::trunc);
    if (!file)
        throw ToolError(normalized + ": cannot be written (temporary file)", kExitFile);
    BackgroundWriter writer(
        [&](std::string_view piece) { file.write(piece.data(), static_cast<std::streamsize>(piece.size())); },
        platform::UsableCores());
    normalize::NormalizeResult result =
        NormalizeFile(source, [&](std::string_view piece) { writer.Put(piece); }, false);
    writer.Finish();
    file.close();
    if (!file)
        throw ToolError(normalized + ": cannot be written (temporary file)", kExitFile);
    return result;
}

// Refuses what ase2sgl refuses: the input itself (links followed) or an existing
// ASE file as the output, which would replace a scene's source.
void RefuseOutput(const std::string& input, const std::string& output)
{
    switch (FindOutputHazard(input, output)) {
    case OutputHazard::kNone: return;
    case OutputHazard::kIsTheInput: throw ToolError(output + ": is the input itself; give another output path", kExitFile);
    case OutputHazard::kHoldsAseText:
        throw ToolError(output + ": holds ASE text, a scene's source; give another output path", kExitFile);
    }
}

// The converter on the normalized text; its messages name the input, not the
// temporary file.
void ConvertNormalized(const std::string& normalized, const std::string& input, const std::string& output)
{
    try {
        Convert(normalized, output);
    } catch (const ConversionError& error) {
        std::string message = error.what();
        for (std::size_t at = message.find(normalized); at != std::string::npos; at = message.find(normalized, at))
            message.replace(at, normalized.size(), input);
        throw ToolError(message, kExitFile);
    }
}

// The bundle of `input` written at `output` straight from its meshes, whole or not
// at all; the report is the one normalize gives. Nothing when this route is not
// taken (an output that is not a regular file, one that cannot be made or written,
// a mesh the records cannot be sure of): nothing is then left at `output`, and the
// caller goes through the text. Throws what reading the input throws (ToolError).
std::optional<normalize::NormalizeResult> ConvertByRecords(const std::string& input, const std::string& output)
{
    const platform::PathKind kind = platform::KindOf(output);
    if (kind != platform::PathKind::kRegularFile && kind != platform::PathKind::kMissing)
        return std::nullopt;
    InputFile source(input, "convert " + input);
    std::optional<AtomicOutputFile> file;
    try {
        file.emplace(output);
    } catch (const FileError&) {
        return std::nullopt;  // the text route tells why, at the point it tells it
    }
    if (!file->WritesOver())
        return std::nullopt;
    try {
        BundleWriter bundle(*file);
        bundle.WriteObjectCount(0);  // written over once the meshes are counted
        MeshRecords records(bundle, [&](std::uint64_t bytes) { file->Reserve(bytes); });
        normalize::NormalizeResult result = NormalizeFile(
            source, [](std::string_view) {}, false, &records);
        bundle.WriteObjectCountOver(records.Objects());
        file->Commit();
        return result;
    } catch (const TakeTheTextRoute&) {
        return std::nullopt;
    } catch (const FileError&) {
        return std::nullopt;  // a write that failed: the text route tells it as it does
    }
}

// The bundle of `input` at `bundlePath`: straight from its meshes, or where that
// route is not taken, through the normalized text.
normalize::NormalizeResult MakeBundle(const std::string& input, const std::string& bundlePath)
{
    if (std::optional<normalize::NormalizeResult> result = ConvertByRecords(input, bundlePath))
        return std::move(*result);
    const TemporaryPath normalized(".ase");
    normalize::NormalizeResult result = NormalizeToFile(input, normalized.Path());
    ConvertNormalized(normalized.Path(), input, bundlePath);
    return result;
}

void ConvertOne(const ConvertOptions& options, const std::string& input, const std::string& output)
{
    RefuseOutput(input, output);
    normalize::NormalizeResult result;
    if (options.to == "sgl") {
        result = MakeBundle(input, output);
    } else {
        const TemporaryPath bundle(".sgl");
        result = MakeBundle(input, bundle.Path());
        LoadedBundle loaded;
        LoadBundle(bundle.Path(), loaded);
        loaded.path = input;  // what an export names as its source
        if (options.to == "obj")
            ExportObj(loaded, output);
        else
            ExportGltf(loaded, output, options.to == "glb");
    }
    std::cout << (options.report ? normalize::DescribeReport(result.report) : normalize::Summary(result.report) + "\n")
              << "wrote " << output << "\n";
}

// Where an input's output goes: into the output folder under the input's name, or
// beside the input as ase2sgl puts it (for a bundle), with the format's extension.
std::string OutputFor(const ConvertOptions& options, const std::string& input)
{
    if (!options.outputFolder.empty()) {
        const std::filesystem::path name = std::filesystem::path(input).filename().replace_extension("." + options.to);
        return (std::filesystem::path(options.outputFolder) / name).string();
    }
    if (options.to == "sgl")
        return DefaultOutputPath(input);
    return std::filesystem::path(input).replace_extension("." + options.to).string();
}

// Two paths without -o are an input and its output, as ase2sgl takes them, unless
// the second is itself an ASE file.
bool InputAndOutput(const ConvertOptions& options)
{
    if (options.paths.size() != 2 || !options.outputFolder.empty())
        return false;
    std::string extension = std::filesystem::path(options.paths[1]).extension().string();
    for (char& c : extension)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return extension != ".ase";
}

int ConvertFiles(const ConvertOptions& options)
{
    if (InputAndOutput(options)) {
        ConvertOne(options, options.paths[0], options.paths[1]);
        return kExitOk;
    }
    if (!options.outputFolder.empty()) {
        std::error_code error;
        const std::filesystem::file_status folder = std::filesystem::status(options.outputFolder, error);
        if (!std::filesystem::is_directory(folder))
            throw ToolError(options.outputFolder + (folder.type() == std::filesystem::file_type::not_found
                                                        ? ": no such folder"
                                                        : ": is not a folder"),
                            kExitFile);
    }
    int status = kExitOk;
    for (const std::string& input : options.paths) {
        try {
            ConvertOne(options, input, OutputFor(options, input));
        } catch (const ToolError& error) {
            ReportError(error.what());
            status = error.exitStatus;
        }
    }
    return status;
}

}  // namespace

Subcommand AddConvertCommand(CLI::App& app)
{
    auto options = std::make_shared<ConvertOptions>();
    CLI::App* command = app.add_subcommand(
        "convert",
        "Normalize ASE files and convert them as ase2sgl does (bundles written whole or not at all), or with "
        "--to straight to glTF or OBJ; per file one line says what was changed and one the path written");
    command->add_option("paths", options->paths,
                        "ASE files; or one ASE file and its output (default output: the input with its last three "
                        "bytes replaced by sgl, as ase2sgl, or its extension by the --to format's)")
        ->required();
    command->add_option("-o,--output-folder", options->outputFolder, "Write every output into this folder");
    command->add_option("--to", options->to, "sgl (default), glb, gltf or obj")
        ->check(CLI::IsMember({"sgl", "glb", "gltf", "obj"}));
    command->add_flag("--report", options->report, "List everything passed over or repaired, with line numbers");
    command->footer(kExitStatusHelp);
    return {command, [options] { return ConvertFiles(*options); }};
}

}  // namespace ase2sgl::tools
