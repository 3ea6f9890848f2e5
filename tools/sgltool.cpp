// sgltool's subcommands: options through CLI11, each subcommand a short function
// over the tool libraries; errors end as one "sgltool: FILE: reason" line.
#include "tools/sgltool.h"

#include "tools/bundle_diff.h"
#include "tools/export.h"
#include "tools/info_report.h"
#include "tools/render.h"

#include "bundle/atomic_output.h"
#include "common/conversion_error.h"
#include "conversion/convert.h"
#include "conversion/output_path.h"
#include "lint/lint.h"
#include "normalize/normalize.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>

#ifndef SGLTOOL_VERSION
#define SGLTOOL_VERSION "unknown"
#endif

namespace ase2sgl::tools {

namespace {

constexpr const char* kExitStatuses =
    "Exit status: 0 success (check: every file is a sound bundle; diff: equal within the tolerance);\n"
    "1 check: a file is not a sound bundle, or diff: the bundles differ; 2 the command line is wrong;\n"
    "3 a file cannot be read or written, or an input is not a sound bundle.\n";

void ReportError(const std::string& message)
{
    std::cerr << "sgltool: " << message << '\n';
}

int Info(const std::vector<std::string>& paths, bool json)
{
    int status = kExitOk;
    nlohmann::ordered_json files = nlohmann::ordered_json::array();
    for (const std::string& path : paths) {
        LoadedBundle loaded;
        try {
            LoadBundle(path, loaded);
        } catch (const ToolError& error) {
            ReportError(error.what());
            status = error.exitStatus;
            continue;
        }
        const BundleInfo info = DescribeBundle(loaded);
        if (json)
            files.push_back(InfoJson(info));
        else
            PrintInfoTable(info, std::cout);
    }
    if (json)
        std::cout << InfoReport(files).dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) << '\n';
    return status;
}

int Check(const std::vector<std::string>& paths)
{
    int status = kExitOk;
    for (const std::string& path : paths) {
        bundle::MappedFile file;
        bundle::ReadStatus read = file.Open(path.c_str());
        if (!read) {
            ReportError(DescribeStatus(path, read));
            status = kExitFile;
            continue;
        }
        bundle::Bundle reader;
        read = reader.Open(file.Bytes());
        if (!read) {
            ReportError(DescribeStatus(path, read));
            status = std::max(status, kExitNo);
            continue;
        }
        std::cout << path << ": sound bundle, " << reader.ObjectCount()
                  << (reader.ObjectCount() == 1 ? " object, " : " objects, ") << file.Bytes().size() << " bytes\n";
    }
    return status;
}

int Diff(const std::string& pathA, const std::string& pathB, double tolerance)
{
    LoadedBundle a, b;
    LoadBundle(pathA, a);
    LoadBundle(pathB, b);
    const BundleDiff diff = DiffBundles(a, b);
    PrintDiff(diff, a, b, tolerance, std::cout);
    return diff.Equal(tolerance) ? kExitOk : kExitNo;
}

int Export(const std::string& input, const std::string& output)
{
    const ExportFormat format = FormatOf(output);
    LoadedBundle loaded;
    LoadBundle(input, loaded);
    if (format == ExportFormat::kObj)
        ExportObj(loaded, output);
    else
        ExportGltf(loaded, output, format == ExportFormat::kGlb);
    return kExitOk;
}

int RenderPicture(const std::string& input, const std::string& output, const RenderOptions& options)
{
    LoadedBundle loaded;
    LoadBundle(input, loaded);
    WritePng(Render(loaded, options).image, output);
    return kExitOk;
}

std::string ReadInput(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << file.rdbuf();
    if (!file)
        throw ToolError(path + ": cannot be read", kExitFile);
    return std::move(bytes).str();
}

normalize::NormalizeResult NormalizeInput(const std::string& path, bool keepOtherNodes)
{
    normalize::NormalizeResult result = normalize::Normalize(ReadInput(path), {keepOtherNodes});
    if (!result.ok)
        throw ToolError(path + ": " + result.error, kExitFile);
    return result;
}

// Rewrites any exporter's ASE into the layout ase2sgl reads; the output is
// replaced whole or not at all, like a bundle.
int NormalizeFile(const std::string& input, const std::string& output, bool keepOtherNodes, bool report)
{
    const normalize::NormalizeResult result = NormalizeInput(input, keepOtherNodes);
    AtomicOutputFile file(output);
    file.Write(result.text.data(), result.text.size());
    file.Commit();
    std::cout << (report ? normalize::DescribeReport(result.report) : normalize::Summary(result.report) + "\n");
    return kExitOk;
}

// Normalizes in memory, then converts with the converter's own code to the path
// ase2sgl would choose.
int ConvertFile(const std::string& input, const std::string& output, bool report)
{
    const normalize::NormalizeResult result = NormalizeInput(input, false);
    ConvertBytesToFile(result.text, input, output.empty() ? DefaultOutputPath(input) : output);
    std::cout << (report ? normalize::DescribeReport(result.report) : normalize::Summary(result.report) + "\n");
    return kExitOk;
}

// Says what ase2sgl will do with each file. Exit 0 when every mesh of every file
// becomes an object of its own under its own name, 1 otherwise, 2 when a file
// cannot be read (as for a wrong command line): a build can use it as a gate.
int LintFiles(const std::vector<std::string>& paths, bool json)
{
    int status = kExitOk;
    nlohmann::ordered_json files = nlohmann::ordered_json::array();
    for (const std::string& path : paths) {
        std::string bytes;
        try {
            bytes = ReadInput(path);
        } catch (const ToolError& error) {
            ReportError(error.what());
            status = kExitUsage;
            continue;
        }
        const lint::LintReport report = lint::Lint(bytes);
        if (json)
            files.push_back(lint::ToJson(report, path));
        else
            std::cout << lint::FormatText(report, path);
        if (!report.Clean())
            status = std::max(status, kExitNo);
    }
    if (json) {
        const nlohmann::ordered_json document = {{"report", "sgltool lint"}, {"version", 1}, {"files", files}};
        // Names hold the file's own bytes, which need not be UTF-8.
        std::cout << document.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) << '\n';
    }
    return status;
}

}  // namespace

int RunSgltool(int argc, char** argv)
{
    CLI::App app{"sgltool: look into mesh bundles (.sgl) written by ase2sgl", "sgltool"};
    app.set_version_flag("--version", std::string("sgltool ") + SGLTOOL_VERSION);
    app.footer(kExitStatuses);
    app.require_subcommand(1);

    std::vector<std::string> infoFiles;
    bool json = false;
    CLI::App* info = app.add_subcommand(
        "info",
        "Per object: vertices, triangles, bounding box, degenerate triangles, normals off unit length "
        "(by more than 0.01), NaN or infinite values, texture coordinate range; then totals");
    info->add_option("files", infoFiles, "Bundle files")->required();
    info->add_flag("--json", json, "Print a JSON report instead (layout: tools/sgltool-info.schema.json)");
    info->footer(kExitStatuses);

    std::vector<std::string> checkFiles;
    CLI::App* check = app.add_subcommand("check",
                                         "Check that each file is a sound bundle; name the first fault "
                                         "and its byte offset otherwise");
    check->add_option("files", checkFiles, "Bundle files")->required();
    check->footer(kExitStatuses);

    std::string diffA, diffB;
    double tolerance = 0;
    CLI::App* diff = app.add_subcommand("diff",
                                        "Compare two bundles: objects added, removed, renamed or changed, "
                                        "with the largest differences and where they are");
    diff->add_option("a", diffA, "First bundle")->required();
    diff->add_option("b", diffB, "Second bundle")->required();
    diff->add_option("--tolerance", tolerance, "Largest difference of a value still counted as equal (default 0)")
        ->check(CLI::NonNegativeNumber);
    diff->footer(kExitStatuses);

    std::string exportInput, exportOutput;
    CLI::App* exporter = app.add_subcommand(
        "export",
        "Write the bundle as glTF 2.0 (.gltf with the buffer embedded, or .glb) or Wavefront OBJ (.obj), "
        "one mesh per object: right-handed, Y up; glTF texture origin top left, OBJ bottom left");
    exporter->add_option("input", exportInput, "Bundle file")->required();
    exporter->add_option("output", exportOutput, "Output file: .gltf, .glb or .obj")->required();
    exporter->footer(kExitStatuses);

    std::string renderInput, renderOutput;
    RenderOptions renderOptions;
    std::string objectName;
    const std::map<std::string, View> views = {
        {"front", View::kFront}, {"top", View::kTop}, {"side", View::kSide}, {"iso", View::kIso}};
    CLI::App* render = app.add_subcommand("render",
                                          "Draw a preview picture (PNG): one colour per object, lit by "
                                          "the bundle's normals, framed on the bounding box");
    render->add_option("input", renderInput, "Bundle file")->required();
    render->add_option("output", renderOutput, "PNG file to write")->required();
    render->add_option("--size", renderOptions.size, "Width and height in pixels (16 to 8192, default 512)")
        ->check(CLI::Range(16, 8192));
    render->add_option("--object", objectName, "Draw only the object of this name");
    std::string viewName = "iso";
    render->add_option("--view", viewName, "front, top, side or iso (default: iso, a three-quarter view)")
        ->check(CLI::IsMember({"front", "top", "side", "iso"}));
    render->add_flag("--checker", renderOptions.checker, "Overlay an 8 x 8 checker from the texture coordinates");
    render->footer(kExitStatuses);

    std::string normalizeInput, normalizeOutput;
    bool keepOtherNodes = false, report = false;
    CLI::App* normalizer = app.add_subcommand(
        "normalize",
        "Rewrite an ASE file of any exporter (3ds Max, Blender scripts, AC3D, q3map2; UTF-8 or UTF-16) in "
        "the layout ase2sgl reads: one object per mesh under its own name, texture lists and normals "
        "everywhere (flat normals computed where missing)");
    normalizer->add_option("input", normalizeInput, "ASE file")->required();
    normalizer->add_option("output", normalizeOutput, "ASE file to write")->required();
    normalizer->add_flag("--keep-other-nodes", keepOtherNodes,
                         "Keep cameras, lights, helpers and nodes without a mesh (ase2sgl gives their names to "
                         "the next mesh)");
    normalizer->add_flag("--report", report, "List everything passed over or repaired, with line numbers");
    normalizer->footer(kExitStatuses);

    std::vector<std::string> lintFiles;
    bool lintJson = false;
    CLI::App* linter = app.add_subcommand(
        "lint",
        "Tell, before converting, what ase2sgl will do with ASE files: the objects it writes, and every "
        "mesh or node that does not become an object of its own, with line numbers and the reason");
    linter->add_option("files", lintFiles, "ASE files")->required();
    linter->add_flag("--json", lintJson, "Print a JSON report (schema: tools/sgltool-lint.schema.json)");
    linter->footer(
        "Exit status: 0 every mesh of every file becomes an object of its own under its own name;\n"
        "1 some mesh does not (or ase2sgl refuses a file); 2 the command line is wrong or a file\n"
        "cannot be read.\n");

    std::string convertInput, convertOutput;
    CLI::App* converter = app.add_subcommand(
        "convert",
        "Normalize an ASE file in memory and convert it to a bundle as ase2sgl does (same default output "
        "path, written whole or not at all); one line says what was changed");
    converter->add_option("input", convertInput, "ASE file")->required();
    converter->add_option("output", convertOutput,
                          "Bundle file (default: the input with its last three bytes "
                          "replaced by sgl, as ase2sgl)");
    converter->add_flag("--report", report, "List everything passed over or repaired, with line numbers");
    converter->footer(kExitStatuses);

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

    try {
        if (info->parsed())
            return Info(infoFiles, json);
        if (check->parsed())
            return Check(checkFiles);
        if (diff->parsed())
            return Diff(diffA, diffB, tolerance);
        if (exporter->parsed())
            return Export(exportInput, exportOutput);
        if (normalizer->parsed())
            return NormalizeFile(normalizeInput, normalizeOutput, keepOtherNodes, report);
        if (converter->parsed())
            return ConvertFile(convertInput, convertOutput, report);
        if (linter->parsed())
            return LintFiles(lintFiles, lintJson);
        if (render->count("--object") > 0)
            renderOptions.object = objectName;
        renderOptions.view = views.at(viewName);
        return RenderPicture(renderInput, renderOutput, renderOptions);
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

}  // namespace ase2sgl::tools
