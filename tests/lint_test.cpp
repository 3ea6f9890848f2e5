// sgltool lint: its object list is the bundle ase2sgl writes, on real files and on
// damaged ones; each way a mesh fails to become an object of its own is named; the
// report of every corpus file is kept as a golden file.
//   ASE2SGL_UPDATE_GOLDEN=1 build/dev/tests/lint_test   rewrites tests/golden/lint/
#include "lint/lint.h"

#include "common/conversion_error.h"
#include "conversion/convert.h"
#include "support/ase_damage.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>

namespace ase2sgl {
namespace {

using testing::BoxMesh;
using testing::MeshLines;
using testing::MeshSpec;

// The objects of the bundle ase2sgl writes for `ase`, as lint must list them:
// name and vertex count, in order; empty with `refused` set when it refuses.
struct Written {
    bool refused = false;
    std::vector<std::pair<std::string, std::int32_t>> objects;
};

Written WhatAse2sglWrites(std::string_view ase)
{
    Written written;
    try {
        const testing::Bundle bundle = testing::ParseBundle(ConvertBytes(ase));
        for (const auto& object : bundle.objects)
            written.objects.emplace_back(object.name, object.VertexCount());
    } catch (const InputRefused&) {
        written.refused = true;
    }
    return written;
}

void ExpectListsWhatIsWritten(std::string_view ase, const std::string& label)
{
    const lint::LintReport report = lint::Lint(ase);
    const Written written = WhatAse2sglWrites(ase);
    ASSERT_EQ(report.refused, written.refused) << label;
    ASSERT_EQ(report.objects.size(), written.objects.size()) << label;
    for (std::size_t i = 0; i < written.objects.size(); ++i) {
        // A name field ends at its first zero byte; the node name may hold one.
        const std::string& name = report.objects[i].name;
        EXPECT_EQ(name.substr(0, name.find('\0')), written.objects[i].first) << label << ", object " << i;
        EXPECT_EQ(report.objects[i].vertices, written.objects[i].second) << label << ", object " << i;
    }
}

using testing::CorpusFiles;

TEST(Lint, ListsWhatAse2sglWritesOnTheCorpus)
{
    const auto files = CorpusFiles();
    if (files.empty())
        GTEST_SKIP() << "no corpus of real ASE files at " << ASE2SGL_CORPUS_DIR << " (set ASE2SGL_CORPUS)";
    for (const auto& file : files)
        ExpectListsWhatIsWritten(testing::ReadFile(file), file.filename().string());
}

TEST(Lint, ListsWhatAse2sglWritesOnDamagedFiles)
{
    MeshSpec bare = testing::WithoutNormalsBlock(testing::WithoutTextureLists(BoxMesh("Bare")));
    const std::string scene =
        testing::Scene({BoxMesh("First"), testing::WithoutNormalsBlock(BoxMesh("NoNormals")), bare,
                        testing::WithoutTextureLists(BoxMesh("Untextured")), BoxMesh("Last")});
    int variants = 0;
    damage::ForEachStackedDamage(scene, 20261209, 400, [&](const damage::Variant& variant) {
        ExpectListsWhatIsWritten(variant.bytes, variant.label);
        ++variants;
    });
    EXPECT_EQ(variants, 400);
}

std::vector<std::string> OtherNode(std::string_view block, std::string_view name)
{
    return {"*" + std::string(block) + " {", "\t*NODE_NAME \"" + std::string(name) + "\"", "}"};
}

std::string Join(const std::vector<std::vector<std::string>>& parts)
{
    std::vector<std::string> head = {"*3DSMAX_ASCIIEXPORT\t200", "*COMMENT \"AsciiExport Version  2,00\""};
    std::vector<std::vector<std::string>> all = {head};
    all.insert(all.end(), parts.begin(), parts.end());
    return testing::Lines(testing::Concat(all));
}

// ASCII text as UTF-16 with its byte order mark.
std::string ToUtf16(std::string_view text, bool littleEndian)
{
    std::string out = littleEndian ? "\xFF\xFE" : "\xFE\xFF";
    for (const char c : text) {
        out += littleEndian ? c : '\0';
        out += littleEndian ? '\0' : c;
    }
    return out;
}

// Each way a mesh can fail to become an object of its own, and what lint says.
TEST(Lint, NamesEachLossWithItsReason)
{
    const MeshSpec bare = testing::WithoutNormalsBlock(testing::WithoutTextureLists(BoxMesh("Bare")));
    std::string cr = Join({MeshLines(BoxMesh("Box"))});
    std::replace(cr.begin(), cr.end(), '\n', '\r');
    std::string blender = Join({MeshLines(BoxMesh("Box"))});
    for (std::size_t at = blender.find("*MESH_VERTEX "); at != std::string::npos;
         at = blender.find("*MESH_VERTEX ", at))
        blender.replace(at, 13, "*MESH_VERTEX\t");
    blender.replace(blender.find("AsciiExport Version  2,00"), 25, "Ascii Scene Exporter for Blender");
    std::string ctrlZ = Join({MeshLines(BoxMesh("Box")), MeshLines(BoxMesh("After"))});
    ctrlZ.insert(ctrlZ.find("*GEOMOBJECT", ctrlZ.find("*GEOMOBJECT") + 1), "\x1A");
    // Another exporter's comment over 3ds Max's own layout: every mesh is still read.
    std::string maxLayout = Join({MeshLines(BoxMesh("Box"))});
    maxLayout.replace(maxLayout.find("AsciiExport Version  2,00"), 25, "Ascii Scene Exporter for Blender");
    // A group indents its nodes a tab deeper: the converter's keys miss them.
    std::vector<std::string> grouped = {"*GROUP \"Props\" {"};
    for (const std::string& line : MeshLines(BoxMesh("Inner")))
        grouped.push_back("\t" + line);
    grouped.push_back("}");
    std::string zeroNormals = Join({MeshLines(BoxMesh("Box"))});
    // Read by the tolerant reader (keywords in any case), not by the converter's scan.
    for (std::size_t at = zeroNormals.find("*MESH_VERTEXNORMAL "); at != std::string::npos;
         at = zeroNormals.find("*MESH_VERTEXNORMAL ", at))
        zeroNormals.replace(at, 19, "*MESH_VERTEXNORMAl ");

    struct Case {
        const char* label;
        std::string ase;
        bool clean;
        std::vector<std::string> kinds;  // finding kinds the report must hold
        std::size_t objects;
        std::string says = {};                  // a part of the text report
        std::vector<std::string> absent = {};  // finding kinds it must not hold
    };
    const std::vector<Case> cases = {
        {"well-formed meshes", Join({MeshLines(BoxMesh("A")), MeshLines(BoxMesh("B"))}), true, {}, 2},
        {"a camera at the end",
         Join({MeshLines(BoxMesh("A")), OtherNode("CAMERAOBJECT", "Cam")}),
         true,
         {"node-without-mesh"},
         1},
        {"a camera before a mesh names it",
         Join({MeshLines(BoxMesh("A")), OtherNode("CAMERAOBJECT", "Cam"), MeshLines(BoxMesh("B"))}),
         false,
         {"name-taken"},
         2},
        {"a mesh with neither texture list nor normals merges the next",
         Join({MeshLines(bare), MeshLines(BoxMesh("Next")), MeshLines(BoxMesh("Third"))}),
         false,
         {"mesh-merged"},
         2},
        {"no normals block",
         Join({MeshLines(testing::WithoutNormalsBlock(BoxMesh("A"))), MeshLines(BoxMesh("B"))}),
         true,
         {"normals-missing"},
         2},
        {"no texture lists",
         Join({MeshLines(testing::WithoutTextureLists(BoxMesh("A")))}),
         true,
         {"texcoords-missing"},
         1},
        {"CR-only line ends", cr, false, {"cr-line-ends"}, 0},
        {"UTF-16", ToUtf16(Join({MeshLines(BoxMesh("A"))}), true), false, {"utf16", "mesh-not-read"}, 0},
        {"UTF-16 big-endian", ToUtf16(Join({MeshLines(BoxMesh("A"))}), false), false, {"utf16", "mesh-not-read"}, 0},
        {"another exporter's spacing", blender, false, {"dialect", "mesh-not-read"}, 0},
        {"another exporter's comment, 3ds Max's layout", maxLayout, true, {"dialect"}, 1},
        {"another exporter's spacing", blender, false, {"dialect", "mesh-not-read"}, 0, "\"Box\" (line 3) is dropped",
         {"node-without-mesh"}},
        {"a mesh in a group the converter does not read is dropped, not merged",
         Join({MeshLines(BoxMesh("A")), grouped}), false, {"mesh-not-read"}, 1,
         "in the *GROUP at line " + std::to_string(3 + MeshLines(BoxMesh("A")).size()) + " is dropped",
         {"mesh-merged", "node-without-mesh"}},
        {"vertex normals that do not scan leave the bundle's normals zero", zeroNormals, true, {"normals-zero"}, 1,
         "every normal is zero in the bundle, none of its normals-block lines reads; sgltool convert reads the "
         "file's normals"},
        {"no normals block: the way out is named",
         Join({MeshLines(testing::WithoutNormalsBlock(BoxMesh("A")))}), true, {"normals-missing"}, 1,
         "normals left zero; sgltool convert computes them", {"normals-zero"}},
        {"a 0x1A byte before the second mesh", ctrlZ, false, {"ctrl-z"}, 1},
        {"a 0x1A byte after the last mesh", Join({MeshLines(BoxMesh("A"))}) + "\x1A\x1A", true, {"ctrl-z"}, 1},
        // The bundle's name field holds 254 bytes: a longer name is its own, cut.
        {"a name longer than the name field", Join({MeshLines(BoxMesh(std::string(300, 'n')))}), true, {}, 1},
        // Upper-cased as Windows-1252 does: letters only, not the division sign.
        {"Windows-1252 letters in the name", Join({MeshLines(BoxMesh("caf\xE9 \xF7 \x9A\xFF"))}), true, {}, 1},
    };
    for (const Case& c : cases) {
        const lint::LintReport report = lint::Lint(c.ase);
        EXPECT_EQ(report.Clean(), c.clean) << c.label << "\n" << lint::FormatText(report, "test.ase");
        EXPECT_EQ(report.objects.size(), c.objects) << c.label;
        for (const std::string& kind : c.kinds)
            EXPECT_TRUE(std::any_of(report.findings.begin(), report.findings.end(),
                                    [&](const lint::Finding& f) { return f.kind == kind; }))
                << c.label << ": no " << kind << "\n"
                << lint::FormatText(report, "test.ase");
        for (const std::string& kind : c.absent)
            EXPECT_FALSE(std::any_of(report.findings.begin(), report.findings.end(),
                                     [&](const lint::Finding& f) { return f.kind == kind; }))
                << c.label << ": " << kind << "\n"
                << lint::FormatText(report, "test.ase");
        EXPECT_NE(lint::FormatText(report, "test.ase").find(c.says), std::string::npos)
            << c.label << "\n"
            << lint::FormatText(report, "test.ase");
        ExpectListsWhatIsWritten(c.ase, c.label);
    }

    MeshSpec triangle;
    triangle.vertices = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}};
    triangle.faces = {{0, 1, 2}};
    triangle.texVertices = {{0, 0}, {1, 0}, {0, 1}};
    triangle.texFaces = {{0, 1, 2}};
    triangle.vertexNormals = {{0, 0, 1}, {0, 0, 1}, {0, 0, 1}};
    const std::vector<std::vector<std::string>> many(5001, MeshLines(triangle));
    const lint::LintReport refused = lint::Lint(Join(many));
    EXPECT_TRUE(refused.refused);
    EXPECT_FALSE(refused.Clean());
}

// Each object's lines: the node header it is named from, its first vertex line, and
// the last line of its reading (the line before the next object's first vertex
// line, or the file's last line, with or without a line feed after it). Sixty
// objects put lines far past the first few kilobytes that the line feeds are
// counted in; thousands of blank lines count as many line feeds in a row.
TEST(Lint, ObjectLinesAreTheLinesOfItsReading)
{
    std::vector<std::string> meshLines;
    for (int i = 0; i < 60; ++i)
        for (std::string& line : MeshLines(BoxMesh("M" + std::to_string(i))))
            meshLines.push_back(std::move(line));
    const std::string two = Join({MeshLines(BoxMesh("A")), MeshLines(BoxMesh("B"))});
    const std::string sixty = Join({meshLines});
    // Blank lines by the thousand: a line feed in every byte for kilobytes on end.
    const std::string blankLines = Join({MeshLines(BoxMesh("A")), std::vector<std::string>(20000), MeshLines(BoxMesh("B"))});
    const auto withCrLf = [](const std::string& text) {
        std::string crLf;
        for (const char c : text)
            crLf += c == '\n' ? std::string("\r\n") : std::string(1, c);
        return crLf;
    };
    const std::vector<std::pair<const char*, std::string>> cases = {
        {"LF line ends", two},
        {"no line feed after the last line", two.substr(0, two.size() - 1)},
        {"CR LF line ends", withCrLf(two)},
        {"sixty objects", sixty},
        {"sixty objects, CR LF", withCrLf(sixty)},
        {"20000 blank lines between", blankLines},
    };
    for (const auto& [label, ase] : cases) {
        const std::vector<std::string> lines = testing::SplitLines(ase);
        std::vector<std::int32_t> headers, starts;
        for (std::size_t i = 0; i < lines.size(); ++i) {
            if (lines[i].starts_with("\t*NODE_NAME"))
                headers.push_back(static_cast<std::int32_t>(i + 1));
            if (lines[i].starts_with("\t\t\t*MESH_VERTEX    0\t"))
                starts.push_back(static_cast<std::int32_t>(i + 1));
        }
        ASSERT_GE(starts.size(), 2u) << label;
        const lint::LintReport report = lint::Lint(ase);
        ASSERT_EQ(report.objects.size(), starts.size()) << label;
        for (std::size_t i = 0; i < starts.size(); ++i) {
            const std::int32_t lastLine =
                i + 1 < starts.size() ? starts[i + 1] - 1 : static_cast<std::int32_t>(lines.size());
            EXPECT_EQ(report.objects[i].headerLine, headers[i]) << label << ", object " << i;
            EXPECT_EQ(report.objects[i].firstLine, starts[i]) << label << ", object " << i;
            EXPECT_EQ(report.objects[i].lastLine, lastLine) << label << ", object " << i;
        }
        // Every list complete, every mesh its own: nothing to report.
        EXPECT_TRUE(report.findings.empty()) << label << "\n" << lint::FormatText(report, "test.ase");
    }
}

// What the file is told as: encoding, line ends, dialect, from the one read.
TEST(Lint, TellsTheTextItReads)
{
    const std::string max = Join({MeshLines(BoxMesh("Box"))});
    std::string latin = max;
    latin.replace(latin.find("Box"), 3, "Bo\xEEte");  // a Windows-1252 name
    std::string utf8 = max;
    utf8.replace(utf8.find("Box"), 3, "Bo\xC3\xAEte");
    std::string single = max;
    std::replace(single.begin(), single.end(), '\n', ' ');
    struct Case {
        const char* label;
        std::string ase;
        tolerant::Encoding encoding;
        tolerant::LineEnds ends;
        std::string heading;
    };
    const std::vector<Case> cases = {
        {"UTF-8 name", utf8, tolerant::Encoding::kUtf8, tolerant::LineEnds::kLf, "3ds Max, UTF-8, LF line ends"},
        {"8-bit name", latin, tolerant::Encoding::kEightBit, tolerant::LineEnds::kLf, "3ds Max, 8-bit, LF line ends"},
        {"UTF-16", ToUtf16(max, true), tolerant::Encoding::kUtf16Le, tolerant::LineEnds::kLf, "UTF-16 LE"},
        {"one line", single, tolerant::Encoding::kUtf8, tolerant::LineEnds::kNone, "UTF-8, no line ends; 1 mesh"},
    };
    for (const Case& c : cases) {
        const lint::LintReport report = lint::Lint(c.ase);
        EXPECT_EQ(report.encoding, c.encoding) << c.label;
        EXPECT_EQ(report.lineEnds, c.ends) << c.label;
        EXPECT_NE(lint::FormatText(report, "f").find(c.heading), std::string::npos)
            << c.label << "\n"
            << lint::FormatText(report, "f");
    }
}

// Quiet keeps the losses alone; strict fails on warnings; plurals agree; the totals
// add the files up.
TEST(Lint, QuietStrictAndTotals)
{
    const MeshSpec bare = testing::WithoutNormalsBlock(testing::WithoutTextureLists(BoxMesh("Bare")));
    const lint::LintReport clean = lint::Lint(Join({MeshLines(BoxMesh("A"))}));
    const lint::LintReport warned = lint::Lint(Join({MeshLines(testing::WithoutNormalsBlock(BoxMesh("A")))}));
    // Bare merges Next into its object; Warned stays its own, without normals.
    const lint::LintReport lossy = lint::Lint(Join(
        {MeshLines(bare), MeshLines(BoxMesh("Next")), MeshLines(testing::WithoutNormalsBlock(BoxMesh("Warned")))}));
    EXPECT_EQ(lint::FormatText(clean, "a.ase", true), "");
    EXPECT_EQ(lint::FormatText(warned, "b.ase", true), "");
    const std::string quiet = lint::FormatText(lossy, "c.ase", true);
    EXPECT_NE(quiet.find("loss: "), std::string::npos) << quiet;
    EXPECT_EQ(quiet.find("warning: "), std::string::npos) << quiet;
    EXPECT_EQ(quiet.find("ase2sgl writes"), std::string::npos) << quiet;
    EXPECT_NE(quiet.find("1 of 3 meshes does not become an object of its own"), std::string::npos) << quiet;
    EXPECT_NE(lint::FormatText(lossy, "c.ase").find("warning: "), std::string::npos) << "not quiet, it has warnings";
    EXPECT_TRUE(warned.Passes(false));
    EXPECT_FALSE(warned.Passes(true));
    EXPECT_TRUE(clean.Passes(true));
    lint::LintTotals totals;
    for (const lint::LintReport* report : {&clean, &warned, &lossy})
        totals.Add(*report, true);
    EXPECT_EQ(lint::FormatTotals(totals),
              "3 files: 4 of 5 meshes become objects of their own under their own names; 1 loss, 2 warnings; "
              "2 files fail\n");
}

// The report of every corpus file, kept: a change in what ase2sgl does with a real
// file shows here as a changed line.
TEST(Lint, CorpusReportsMatchTheGoldenFiles)
{
    const auto files = CorpusFiles();
    if (files.empty())
        GTEST_SKIP() << "no corpus of real ASE files at " << ASE2SGL_CORPUS_DIR << " (set ASE2SGL_CORPUS)";
    const std::filesystem::path golden = std::filesystem::path(ASE2SGL_SOURCE_DIR) / "tests/golden/lint";
    const bool update = std::getenv("ASE2SGL_UPDATE_GOLDEN") != nullptr;
    for (const auto& file : files) {
        const std::string name = file.filename().string();
        const std::string text = lint::FormatText(lint::Lint(testing::ReadFile(file)), name);
        const std::filesystem::path path = golden / (file.stem().string() + ".txt");
        if (update)
            testing::WriteFile(path, text);
        ASSERT_TRUE(std::filesystem::exists(path)) << path << " (ASE2SGL_UPDATE_GOLDEN=1 writes it)";
        EXPECT_EQ(text, testing::ReadFile(path)) << name;
    }
}

}  // namespace
}  // namespace ase2sgl

namespace ase2sgl {
namespace {

// Read from a file (the converter reading the file, the tolerant reader a stream
// of its bytes, nothing of the file's size held), the report is the one of the
// same bytes in memory: on the corpus, on damaged text, on a refused file, and on
// a scene whose bundle is written in several pieces with objects of zero normals
// and of no texture coordinates among them.
TEST(Lint, AFileGivesTheReportOfItsBytes)
{
    std::vector<std::pair<std::string, std::string>> inputs;
    for (const std::filesystem::path& file : testing::CorpusFiles())
        inputs.emplace_back(file.filename().string(), testing::ReadFile(file));
    const std::string box = testing::Scene({BoxMesh("A"), BoxMesh("B")});
    inputs.emplace_back("0x1A between meshes", box.substr(0, box.size() / 2) + "\x1A" + box.substr(box.size() / 2));
    inputs.emplace_back("0x1A at the end", box + "\x1A\n");
    inputs.emplace_back("CR line ends", [&] {
        std::string text = box;
        std::replace(text.begin(), text.end(), '\n', '\r');
        return text;
    }());
    inputs.emplace_back("no line end at the end", box.substr(0, box.size() - 1));
    std::vector<MeshSpec> many;
    for (int i = 0; i < 1500; ++i) {
        MeshSpec mesh = BoxMesh("Box" + std::to_string(i));
        if (i % 7 == 3)
            mesh.vertexNormals.assign(36, {0.0f, 0.0f, 0.0f});
        if (i % 11 == 5)
            mesh = testing::WithoutTextureLists(mesh);
        many.push_back(mesh);
    }
    inputs.emplace_back("1500 meshes", testing::Scene(many));
    inputs.emplace_back("5001 meshes", testing::Scene(std::vector<MeshSpec>(5001, BoxMesh())));

    testing::ScratchDir dir;
    for (const auto& [label, bytes] : inputs) {
        const std::filesystem::path path = dir / "in.ase";
        testing::WriteFile(path, bytes);
        const lint::LintReport inMemory = lint::Lint(bytes);
        // The converter's reads after the tolerant reading, or beside it on threads of their own.
        for (const tolerant::ReadThreads threads : {tolerant::ReadThreads::kOne, tolerant::ReadThreads::kTwo}) {
            const std::string labelled = label + (threads == tolerant::ReadThreads::kTwo ? ", threads" : "");
            tolerant::MemorySource source(bytes);
            const lint::LintReport fromFile = lint::LintFile(path.string(), source, threads);
            EXPECT_EQ(lint::FormatText(fromFile, "in.ase"), lint::FormatText(inMemory, "in.ase")) << labelled;
            EXPECT_EQ(lint::ToJson(fromFile, "in.ase").dump(), lint::ToJson(inMemory, "in.ase").dump()) << labelled;
            if (label == "1500 meshes") {  // what the bundle's bytes tell is in the comparison
                const std::string text = lint::FormatText(fromFile, "in.ase");
                EXPECT_NE(text.find("[normals-zero]"), std::string::npos);
                EXPECT_NE(text.find("[texcoords-missing]"), std::string::npos);
            }
        }
    }
}

}  // namespace
}  // namespace ase2sgl
