// sgltool convert's two routes to a bundle must agree byte for byte: the meshes
// turned straight into records (tools/mesh_records.h) against the normalized text
// read by the converter, on crafted scenes of every exporter's ways, on every
// damage of a scene, on a large generated mesh and on the real corpus; and the same
// report, refusal and notes.
#include "tools/mesh_records.h"

#include "conversion/convert.h"
#include "support/ase_damage.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <random>

namespace ase2sgl {
namespace {

using testing::Lines;
using testing::Replace;

struct RouteResult {
    bool ok = false;
    std::string error;
    std::string report;
    std::string bundle;
};

// The route sgltool convert takes where the records cannot be used: normalize
// into text, the converter on that text.
RouteResult ThroughText(std::string_view ase, tolerant::ReadThreads threads)
{
    std::string text;
    normalize::NormalizeOptions options;
    options.threads = threads;
    const normalize::NormalizeResult result =
        normalize::NormalizeTo(ase, [&](std::string_view piece) { text.append(piece); }, options);
    if (!result.ok)
        return {false, result.error, {}, {}};
    return {true, {}, normalize::DescribeReport(result.report), ConvertBytes(text)};
}

// The meshes straight into records, as ConvertByRecords writes them, into memory.
RouteResult ThroughRecords(std::string_view ase, tolerant::ReadThreads threads)
{
    MemorySink sink;
    BundleWriter bundle(sink);
    bundle.WriteObjectCount(0);
    std::uint64_t reserved = 0;
    tools::MeshRecords records(bundle, [&](std::uint64_t bytes) { reserved = bytes; });
    normalize::NormalizeOptions options;
    options.threads = threads;
    options.meshes = &records;
    const normalize::NormalizeResult result = normalize::NormalizeTo(ase, [](std::string_view) {}, options);
    if (!result.ok)
        return {false, result.error, {}, {}};
    bundle.WriteObjectCountOver(records.Objects());
    if (records.Objects() > 0) {
        EXPECT_GE(reserved, sink.bytes.size()) << "room reserved ahead of the records";
    }
    return {true, {}, normalize::DescribeReport(result.report), std::move(sink.bytes)};
}

// The first byte where two bundles part, for a failure to point at.
std::string FirstDifference(const std::string& a, const std::string& b)
{
    std::size_t at = 0;
    while (at < a.size() && at < b.size() && a[at] == b[at])
        ++at;
    return "sizes " + std::to_string(a.size()) + " and " + std::to_string(b.size()) + ", first difference at byte " +
           std::to_string(at);
}

// Both routes on `ase`, on one thread and on two; false when the records declined
// (a mesh they leave to the text route).
bool ExpectSameBundle(const std::string& label, std::string_view ase, bool twoThreadsToo = true)
{
    for (const tolerant::ReadThreads threads : {tolerant::ReadThreads::kOne, tolerant::ReadThreads::kTwo}) {
        if (threads == tolerant::ReadThreads::kTwo && !twoThreadsToo)
            continue;
        const RouteResult text = ThroughText(ase, threads);
        RouteResult records;
        try {
            records = ThroughRecords(ase, threads);
        } catch (const tools::TakeTheTextRoute&) {
            return false;
        }
        EXPECT_EQ(records.ok, text.ok) << label;
        EXPECT_EQ(records.error, text.error) << label;
        EXPECT_EQ(records.report, text.report) << label;
        EXPECT_TRUE(records.bundle == text.bundle) << label << ": " << FirstDifference(records.bundle, text.bundle);
    }
    return true;
}

// A node header, and a mesh block in 3ds Max's layout from list lines given whole.
std::string MaxNode(const std::string& name, const std::vector<std::string>& vertices,
                    const std::vector<std::string>& faces, const std::vector<std::string>& rest)
{
    std::vector<std::string> lines = {"*GEOMOBJECT {", "\t*NODE_NAME \"" + name + "\"", "\t*MESH {",
                                      "\t\t*MESH_VERTEX_LIST {"};
    lines.insert(lines.end(), vertices.begin(), vertices.end());
    lines.push_back("\t\t}");
    lines.push_back("\t\t*MESH_FACE_LIST {");
    lines.insert(lines.end(), faces.begin(), faces.end());
    lines.push_back("\t\t}");
    lines.insert(lines.end(), rest.begin(), rest.end());
    lines.push_back("\t}");
    lines.push_back("}");
    return testing::Lines(lines);
}

std::string Vertex(int n, const std::string& x, const std::string& y, const std::string& z)
{
    return "\t\t\t*MESH_VERTEX " + std::to_string(n) + "\t" + x + "\t" + y + "\t" + z;
}

std::string Face(int n, int a, int b, int c, const std::string& smoothing = "1")
{
    return "\t\t\t*MESH_FACE " + std::to_string(n) + ":    A: " + std::to_string(a) + " B: " + std::to_string(b) +
           " C: " + std::to_string(c) + " AB: 1 BC: 1 CA: 0\t *MESH_SMOOTHING " + smoothing + " \t*MESH_MTLID 0";
}

const std::string kHeader = "*3DSMAX_ASCIIEXPORT\t200\n";

// A pyramid of four faces round an apex, with a square base of two: smoothing
// groups given per face.
std::string Pyramid(const std::string& name, const std::vector<std::string>& smoothing,
                    const std::vector<std::string>& rest = {})
{
    const std::vector<std::string> vertices = {Vertex(0, "0", "0", "2"),  Vertex(1, "-1", "-1", "0"),
                                               Vertex(2, "1", "-1", "0"), Vertex(3, "1", "1", "0"),
                                               Vertex(4, "-1", "1", "0")};
    const std::array<std::array<int, 3>, 6> corners = {{{0, 1, 2}, {0, 2, 3}, {0, 3, 4}, {0, 4, 1}, {1, 3, 2}, {1, 4, 3}}};
    std::vector<std::string> faces;
    for (int f = 0; f < 6; ++f) {
        const auto& c = corners[static_cast<std::size_t>(f)];
        faces.push_back(Face(f, c[0], c[1], c[2], smoothing[static_cast<std::size_t>(f)]));
    }
    return MaxNode(name, vertices, faces, rest);
}

const std::vector<std::string> kTexLists = {
    "\t\t*MESH_TVERTLIST {",         "\t\t\t*MESH_TVERT 0\t0.25\t0.75\t0.0", "\t\t\t*MESH_TVERT 1\t1\t0\t0",
    "\t\t\t*MESH_TVERT 2\t0\t1\t0",  "\t\t}",
    "\t\t*MESH_TFACELIST {",         "\t\t\t*MESH_TFACE 0\t0\t1\t2",        "\t\t\t*MESH_TFACE 1\t2\t1\t0",
    "\t\t}"};

// The triangle of 3ds Max's exporter with `from` replaced by `to`.
std::string Triangle(std::string_view from = "", std::string_view to = "")
{
    std::string text = kHeader + MaxNode("Tri",
                                         {Vertex(0, "1.0000", "2.0000", "3.0000"), Vertex(1, "4.0000", "2.0000", "3.0000"),
                                          Vertex(2, "1.0000", "5.0000", "3.0000")},
                                         {Face(0, 0, 1, 2)},
                                         {"\t\t*MESH_TVERTLIST {", "\t\t\t*MESH_TVERT 0\t0.0000\t0.0000\t0.0000",
                                          "\t\t\t*MESH_TVERT 1\t1.0000\t0.0000\t0.0000",
                                          "\t\t\t*MESH_TVERT 2\t0.0000\t1.0000\t0.0000", "\t\t}",
                                          "\t\t*MESH_TFACELIST {", "\t\t\t*MESH_TFACE 0\t0\t1\t2", "\t\t}",
                                          "\t\t*MESH_NORMALS {", "\t\t\t*MESH_FACENORMAL 0\t0.0000\t0.0000\t1.0000",
                                          "\t\t\t\t*MESH_VERTEXNORMAL 0\t0.0000\t0.0000\t1.0000",
                                          "\t\t\t\t*MESH_VERTEXNORMAL 1\t0.0000\t0.0000\t1.0000",
                                          "\t\t\t\t*MESH_VERTEXNORMAL 2\t0.0000\t0.0000\t1.0000", "\t\t}"});
    return from.empty() ? text : Replace(text, from, to);
}

struct Case {
    std::string label;
    std::string ase;
};

std::vector<Case> CraftedScenes()
{
    const std::string blender = Replace(Triangle(), "\t", " ");
    return {
        {"3ds Max triangle", Triangle()},
        {"Blender's blanks", blender},
        {"q3map2: face normals, then one vertex normal per vertex",
         Replace(Triangle(), "\t\t\t\t*MESH_VERTEXNORMAL 2\t0.0000\t0.0000\t1.0000",
                 "\t\t\t\t*MESH_VERTEXNORMAL 2\t0.0000\t0.0000\t1.0000\n\t\t\t*MESH_FACENORMAL 1\t0 0 1")},
        {"per-vertex normals naming vertices out of order and outside",
         Replace(Replace(Triangle(), "*MESH_VERTEXNORMAL 0\t", "*MESH_VERTEXNORMAL 7\t"), "*MESH_FACENORMAL 0\t",
                 "*MESH_FACENORMAL 0\t0 0 1\n\t\t\t*MESH_FACENORMAL 1\t")},
        {"no normals block: flat normals", kHeader + Pyramid("Flat", {"", "", "", "", "", ""})},
        {"one smoothing group", kHeader + Pyramid("Smooth", {"1", "1", "1", "1", "1", "1"})},
        {"groups mixed, several per face, none, odd texts",
         kHeader + Pyramid("Mixed", {"1,2", "2", "", "3", "1,3", "x"})},
        {"group numbers past 64 and zero", kHeader + Pyramid("Odd", {"65", "0", "64", "64", "1,,2", "2,"})},
        {"texture lists with faces of the pyramid missing their texture face",
         kHeader + Pyramid("Tex", {"1", "1", "1", "1", "1", "1"}, kTexLists)},
        {"texture faces naming no texture vertex",
         kHeader + Pyramid("TexOut", {"1", "1", "2", "2", "", ""},
                           {"\t\t*MESH_TVERTLIST {", "\t\t\t*MESH_TVERT 0\t0.5\t0.5", "\t\t}", "\t\t*MESH_TFACELIST {",
                            "\t\t\t*MESH_TFACE 0\t0\t9\t-1", "\t\t\t*MESH_TFACE 1\t0\t0\t0", "\t\t}"})},
        {"texture vertices but no texture faces",
         kHeader + Pyramid("NoTFaces", {"1", "1", "1", "1", "1", "1"},
                           {"\t\t*MESH_TVERTLIST {", "\t\t\t*MESH_TVERT 0\t0.5\t0.5\t0.5", "\t\t}"})},
        {"exponents, signs and long digits copied",
         Triangle("4.0000\t2.0000\t3.0000", "1e3\t-2.5E-2\t0.1234567890123456789012345678901234567")},
        {"plus signs, nan, inf and words rewritten", Triangle("4.0000\t2.0000\t3.0000", "+1\tnan\tinf")},
        {"hex, leading dot and a trailing dot", Triangle("1.0000\t5.0000\t3.0000", "0x1p3\t.5\t5.")},
        {"a number past the float range and one below it",
         Triangle("1.0000\t5.0000\t3.0000", "1e39\t1e-50\t-0")},
        {"a plain decimal longer than forty characters",
         Triangle("1.0000\t5.0000\t3.0000", "1.00000000000000000000000000000000000000000001\t5\t3")},
        {"unreadable normals and texture values",
         Replace(Triangle("\t\t\t\t*MESH_VERTEXNORMAL 1\t0.0000\t0.0000\t1.0000",
                          "\t\t\t\t*MESH_VERTEXNORMAL 1\tx\t1e5x\t--1"),
                 "*MESH_TVERT 1\t1.0000\t0.0000\t0.0000", "*MESH_TVERT 1\ta\tb")},
        {"unreadable values in the transform and the face normal",
         Replace(Replace(Triangle(), "\t*MESH {",
                         "\t*NODE_TM {\n\t\t*NODE_NAME \"Tri\"\n\t\t*TM_ROW0 1 0 0\n\t\t*TM_ROW1 0 x 0\n\t\t*TM_ROW2 0 0 "
                         "1\n\t\t*TM_ROW3 y 0 0\n\t}\n\t*MESH {"),
                 "*MESH_FACENORMAL 0\t0.0000\t0.0000\t1.0000", "*MESH_FACENORMAL 0\tq\t0.0000\t1.0000")},
        {"unicode name", Triangle("\"Tri\"", "\"W\xC3\xBC" "rfel \xE7\xAB\x8B\xE6\x96\xB9\xE4\xBD\x93\"")},
        {"lower-case Windows-1252 letters", Triangle("\"Tri\"", "\"caf\xE9 \xFF\x9A\xF7\"")},
        {"a name of 300 bytes", Triangle("\"Tri\"", "\"" + std::string(300, 'n') + "\"")},
        {"an empty name", Triangle("\"Tri\"", "\"\"")},
        {"a name with a quote and a carriage return",
         Triangle("\t*NODE_NAME \"Tri\"", "\t*NODE_NAME \"Tr\\\"i\r\"")},
        {"an empty mesh and a mesh of vertices only",
         kHeader + MaxNode("Empty", {}, {}, {}) + MaxNode("NoFaces", {Vertex(0, "1", "2", "3")}, {}, {}) +
             Triangle().substr(kHeader.size())},
        {"faces naming missing vertices, one mesh left with none",
         kHeader + MaxNode("Some", {Vertex(0, "0", "0", "0"), Vertex(1, "1", "0", "0"), Vertex(2, "0", "1", "0")},
                           {Face(0, 0, 1, 2), Face(1, 0, 1, 3), Face(2, -1, 1, 2), Face(3, 2, 1, 0)}, {}) +
             MaxNode("None", {Vertex(0, "0", "0", "0")}, {Face(0, 0, 1, 2)}, {})},
        {"vertex and face numbers repeated and out of order",
         kHeader + MaxNode("Order",
                           {Vertex(2, "0", "1", "0"), Vertex(0, "0", "0", "0"), Vertex(1, "1", "0", "0"),
                            Vertex(1, "5", "5", "5")},
                           {Face(1, 0, 1, 2), Face(0, 2, 1, 0), Face(0, 3, 2, 1)}, kTexLists)},
        {"a camera, a light, a helper and a group, dropped",
         kHeader + "*CAMERAOBJECT {\n\t*NODE_NAME \"Cam\"\n}\n*LIGHTOBJECT {\n\t*NODE_NAME \"Sun\"\n}\n" +
             "*GROUP \"G\" {\n*HELPEROBJECT {\n\t*NODE_NAME \"Dummy\"\n}\n" + Triangle().substr(kHeader.size()) +
             "}\n" + Triangle("Tri", "Second").substr(kHeader.size())},
        {"UTF-16", testing::Utf16(Triangle(), true, true)},
        {"CR LF line ends and no final line end",
         Replace(Triangle(), "\n", "\r\n").substr(0, Replace(Triangle(), "\n", "\r\n").size() - 2)},
        {"nothing but the header", kHeader},
        {"no text at all", ""},
    };
}

TEST(MeshRecords, CraftedScenesGiveTheTextRoutesBundle)
{
    for (const Case& scene : CraftedScenes())
        EXPECT_TRUE(ExpectSameBundle(scene.label, scene.ase)) << scene.label << ": the records declined";
}

// Past a bundle's objects, both refuse with the same message; at the limit both
// write every object.
TEST(MeshRecords, TheObjectLimitIsTheTextRoutes)
{
    const std::string node = Triangle().substr(kHeader.size());
    std::string scene = kHeader;
    for (std::int32_t i = 0; i < kMaxObjects; ++i)
        scene += node;
    ASSERT_TRUE(ExpectSameBundle("at the limit", scene));
    EXPECT_TRUE(ThroughRecords(scene, tolerant::ReadThreads::kOne).ok);
    scene += node;
    ASSERT_TRUE(ExpectSameBundle("one past the limit", scene));
    EXPECT_FALSE(ThroughRecords(scene, tolerant::ReadThreads::kOne).ok);
}

// Names the converter would read otherwise than as one header line are left to the
// text route; so are none of the others above.
TEST(MeshRecords, NamesThatBreakTheirLineAreLeftToTheText)
{
    int kept = 0;
    for (const std::string& name : {std::string("a\nb"), std::string("a\0b", 3), std::string("a\x1a" "b")}) {
        std::string scene = Triangle();
        scene.replace(scene.find("Tri"), 3, name);
        const normalize::NormalizeResult parsed = normalize::Normalize(scene);
        ASSERT_TRUE(parsed.ok);
        if (parsed.text.find("\"" + name + "\"") == std::string::npos)
            continue;  // the reader did not keep the byte in the name: nothing to decline
        ++kept;
        // Also from the writing thread, with a reading thread running beside it.
        EXPECT_THROW(ThroughRecords(scene, tolerant::ReadThreads::kOne), tools::TakeTheTextRoute);
        EXPECT_THROW(ThroughRecords(scene + scene.substr(kHeader.size()), tolerant::ReadThreads::kTwo),
                     tools::TakeTheTextRoute);
    }
    EXPECT_GT(kept, 0) << "no name kept a byte that breaks its line";
}

// Every damage of a small scene of two meshes (lines cut, dropped, doubled,
// renumbered, numbers made huge, negative or words, names of every length).
TEST(MeshRecords, EveryDamageGivesTheTextRoutesBundle)
{
    const std::string scene =
        kHeader + Pyramid("Pyr", {"1", "1", "2", "", "1,2", "2"}, kTexLists) + Triangle().substr(kHeader.size());
    // Under Wine, where a thread's start and every hand-over between threads cost a
    // round trip to Wine's server, every eighth variant is read on two threads too.
    const int twoThreadsEvery = testing::UnderWine() ? 8 : 1;
    int variants = 0, declined = 0;
    const auto expect = [&](const damage::Variant& variant) {
        declined += ExpectSameBundle(variant.label, variant.bytes, variants % twoThreadsEvery == 0) ? 0 : 1;
        ++variants;
    };
    damage::ForEachDamage(scene, expect);
    damage::ForEachStackedDamage(scene, 20, 300, expect);
    EXPECT_GT(variants, 1000);
    EXPECT_LT(declined * 20, variants) << "the records declined " << declined << " of " << variants;
}

// A grid of more than 10000 vertices and faces (numbers past the four columns) with
// values of every kind of text, normals computed for half of it.
TEST(MeshRecords, ALargeGeneratedMeshGivesTheTextRoutesBundle)
{
    std::mt19937 random(7);
    std::uniform_real_distribution<double> value(-1000.0, 1000.0);
    const auto text = [&](int kind) {
        char buffer[64];
        const double v = value(random);
        const char* formats[] = {"%.4f", "%.6e", "%.17g", "%+.3f", "%.0f"};
        std::snprintf(buffer, sizeof buffer, formats[kind % 5], v);
        return std::string(buffer);
    };
    constexpr int kSide = 110;
    std::vector<std::string> vertices, faces, rest = {"\t\t*MESH_NORMALS {"};
    for (int y = 0; y < kSide; ++y)
        for (int x = 0; x < kSide; ++x) {
            const int n = y * kSide + x;
            vertices.push_back(Vertex(n, std::to_string(x), std::to_string(y), text(n)));
        }
    for (int y = 0; y + 1 < kSide; ++y)
        for (int x = 0; x + 1 < kSide; ++x) {
            const int a = y * kSide + x, f = static_cast<int>(faces.size());
            faces.push_back(Face(f, a, a + 1, a + kSide, std::to_string(1 + f % 3)));
            if (f % 2 == 0) {
                rest.push_back("\t\t\t*MESH_FACENORMAL " + std::to_string(f) + "\t0\t0\t1");
                for (int c = 0; c < 3; ++c)
                    rest.push_back("\t\t\t\t*MESH_VERTEXNORMAL " + std::to_string(a) + "\t" + text(f + c) + "\t" +
                                   text(f + c + 1) + "\t" + text(f + c + 2));
            }
        }
    rest.push_back("\t\t}");
    EXPECT_TRUE(ExpectSameBundle("grid", kHeader + MaxNode("Grid", vertices, faces, rest)));
}

TEST(MeshRecords, CorpusFilesGiveTheTextRoutesBundle)
{
    const std::vector<std::filesystem::path> files = testing::CorpusFiles();
    if (files.empty())
        GTEST_SKIP() << "no corpus of real ASE files (set ASE2SGL_CORPUS)";
    for (const std::filesystem::path& file : files)
        EXPECT_TRUE(ExpectSameBundle(file.filename().string(), testing::ReadFile(file))) << file;
}

}  // namespace
}  // namespace ase2sgl
