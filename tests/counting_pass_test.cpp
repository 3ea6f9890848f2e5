// Counting pass: which objects exist, their names, and the sizes their arrays get.
#include "ase/line_source.h"
#include "ase/mesh_tables.h"
#include "common/conversion_error.h"
#include "common/format_limits.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace ase2sgl {
namespace {

using testing::BoxMesh;
using testing::Concat;
using testing::Lines;
using testing::MeshLines;
using testing::MeshSpec;
using testing::Scene;
using testing::WithoutTextureLists;

MeshTables Count(const std::string& ase)
{
    LineSource input = LineSource::FromMemory(ase, 7);  // small chunks: lines cross the buffer's end
    MeshTables tables = CountObjects(input, "test.ase");
    std::string_view line;
    input.ReadLine(line);
    EXPECT_EQ(input.Tell(), static_cast<std::int64_t>(std::min(ase.find('\n') + 1, ase.size())))
        << "the pass leaves the input rewound";
    return tables;
}

struct Expected {
    std::string name;
    std::int32_t vertexCount;
    std::int32_t cornerCount;
};

void ExpectObjects(const MeshTables& tables, const std::vector<Expected>& expected)
{
    ASSERT_EQ(tables.objectCount, static_cast<std::int32_t>(expected.size()));
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(tables.nameText[i], expected[i].name) << "object " << i;
        EXPECT_EQ(tables.vertexCount[i], expected[i].vertexCount) << "object " << i;
        EXPECT_EQ(tables.cornerCount[i], expected[i].cornerCount) << "object " << i;
    }
}

TEST(CountingPass, MeasuresWellFormedMeshes)
{
    MeshSpec fewTex = BoxMesh("Few");
    fewTex.texVertices.resize(4);
    MeshSpec moreTex = BoxMesh("More");
    moreTex.texVertices.resize(14, {0.5f, 0.5f});
    struct Case {
        const char* label;
        std::string ase;
        std::vector<Expected> objects;
    };
    const Case cases[] = {
        {"no node header", Lines({"*3DSMAX_ASCIIEXPORT\t200", "\t\t\t*MESH_VERTEX    0\t1\t2\t3"}), {}},
        {"empty input", "", {}},
        {"box with 12 texture vertices", Scene({BoxMesh()}), {{"BOX01", 12, 36}}},
        {"texture list shorter than the vertex list", Scene({fewTex}), {{"FEW", 8, 36}}},
        {"texture list longer", Scene({moreTex}), {{"MORE", 14, 36}}},
        {"no texture list, normals block stops the search",
         Scene({WithoutTextureLists(BoxMesh("Plain"))}),
         {{"PLAIN", 8, 36}}},
        {"several objects in order",
         Scene({BoxMesh("a"), fewTex, BoxMesh("c")}),
         {{"A", 12, 36}, {"FEW", 8, 36}, {"C", 12, 36}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        ExpectObjects(Count(c.ase), c.objects);
    }
}

TEST(CountingPass, NamesAreTheHeaderLineLessItsLastByteUpperCased)
{
    struct Case {
        std::string header;
        std::string name;
    };
    const Case cases[] = {
        {"\t*NODE_NAME \"Box01\"", "BOX01"},
        {"\t*NODE_NAME \"box 2\" x", "BOX 2\" "},
        {"\t*NODE_NAME \"Box\" ", "BOX\""},  // a trailing blank: the closing quote stays
        {"\t*NODE_NAME \"\"", ""},           // empty name
        {"\t*NODE_NAME \"", ""},             // ends right after the opening quote
        {"\t*NODE_NAME \"x", ""},
        {"\t*NODE_NAME \"Box\"\r\r", "BOX\""},  // CR CR LF leaves one CR, the last byte
        {"\t*NODE_NAME \"" + std::string(254, 'n') + "\"", std::string(254, 'N')},
        {"\t*NODE_NAME \"" + std::string(255, 'n') + "\"", std::string(254, 'N')},
        {"\t*NODE_NAME \"" + std::string(10000, 'n') + "\"", std::string(254, 'N')},
        {std::string("\t*NODE_NAME \"a\0b\"", 17), std::string("A\0B", 3)},
    };
    for (const Case& c : cases) {
        std::vector<std::string> lines = MeshLines(BoxMesh());
        lines[1] = c.header;
        const MeshTables tables = Count(testing::Lines(lines));
        ASSERT_EQ(tables.objectCount, 1) << c.header;
        EXPECT_EQ(tables.nameText[0], c.name) << c.header;
    }
}

TEST(CountingPass, UpperCasesHighBytesAsWindows1252)
{
    std::string all;
    for (int c = 0x20; c <= 0xFF; ++c)
        all += static_cast<char>(c);
    std::vector<std::string> lines = MeshLines(BoxMesh());
    lines[1] = "\t*NODE_NAME \"" + all + "\"";
    const MeshTables tables = Count(testing::Lines(lines));
    ASSERT_EQ(tables.objectCount, 1);
    ASSERT_EQ(tables.nameText[0].size(), all.size());
    for (std::size_t i = 0; i < tables.nameText[0].size(); ++i) {
        const int in = 0x20 + static_cast<int>(i);
        int expected = in;
        if ((in >= 'a' && in <= 'z') || (in >= 0xE0 && in <= 0xFE && in != 0xF7))
            expected = in - 0x20;
        else if (in == 0x9A || in == 0x9C || in == 0x9E)
            expected = in - 0x10;
        else if (in == 0xFF)
            expected = 0x9F;
        EXPECT_EQ(static_cast<unsigned char>(tables.nameText[0][i]), expected) << "byte " << in;
    }
}

TEST(CountingPass, FollowsTheExporterLayoutQuirks)
{
    const std::vector<std::string> box = MeshLines(BoxMesh("Box"));
    const std::vector<std::string> plain = MeshLines(WithoutTextureLists(BoxMesh("Plain")));
    MeshSpec noNormalsSpec = WithoutTextureLists(BoxMesh("Bare"));
    noNormalsSpec.normalsBlock = false;
    noNormalsSpec.vertexNormals.clear();
    const std::vector<std::string> bare = MeshLines(noNormalsSpec);

    std::vector<std::string> gap = box;  // vertex line 5 missing
    gap.erase(gap.begin() + 11 + 5);
    std::vector<std::string> faceRightAfterVertices = box;  // no closing line between the lists
    faceRightAfterVertices.erase(faceRightAfterVertices.begin() + 19, faceRightAfterVertices.begin() + 21);
    std::vector<std::string> endsInVertices(box.begin(), box.begin() + 11 + 4);

    struct Case {
        const char* label;
        std::vector<std::string> lines;
        std::vector<Expected> objects;
    };
    const Case cases[] = {
        {"second header before any vertex line: first name, first mesh",
         Concat({{"\t*NODE_NAME \"First\"", "\t*NODE_NAME \"Second\""}, box}),
         {{"FIRST", 12, 36}}},
        {"a gap ends the vertex list", gap, {{"BOX", 12, 36}}},
        {"vertex list line 5 missing, no texture list",
         [&] {
             auto lines = plain;
             lines.erase(lines.begin() + 11 + 5);
             return lines;
         }(),
         {{"PLAIN", 5, 36}}},
        {"face list right after the vertices is passed over, up to the end", faceRightAfterVertices, {{"BOX", 8, 0}}},
        {"face list right after the vertices: the next object's faces count",
         Concat({faceRightAfterVertices, MeshLines(WithoutTextureLists(BoxMesh("Next")))}),
         {{"BOX", 8, 36}}},
        {"no texture list nor normals: the search passes later headers to a normals block",
         Concat({bare, plain, box}),
         {{"BARE", 8, 36}, {"BOX", 12, 36}}},
        {"no texture list nor normals: the next object's texture list counts", Concat({bare, box}), {{"BARE", 12, 36}}},
        {"no texture list nor normals, last object", Concat({box, bare}), {{"BOX", 12, 36}, {"BARE", 8, 36}}},
        {"input ends inside the vertex list", endsInVertices, {{"BOX", 4, 0}}},
        {"a trailing header without a mesh is dropped",
         Concat({box, {"\t*NODE_NAME \"Camera01\"", "}"}}),
         {{"BOX", 12, 36}}},
        {"header right after the last texture vertex is not tested",
         [&] {
             auto lines = box;
             const auto tvertEnd =
                 std::find(lines.begin(), lines.end(), "\t\t\t*MESH_TVERT 11\t0.7500\t1.0000\t0.0000");
             lines.insert(tvertEnd + 1, "\t*NODE_NAME \"Hidden\"");
             return Concat({lines, MeshLines(BoxMesh("Shown"))});
         }(),
         {{"BOX", 12, 36}, {"SHOWN", 12, 36}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        ExpectObjects(Count(testing::Lines(c.lines)), c.objects);
    }
}

TEST(CountingPass, RefusesMoreObjectsThanTheFormatHolds)
{
    const std::vector<std::string> mesh = {
        "\t*NODE_NAME \"T\"", "\t\t\t*MESH_VERTEX    0\t0\t0\t0", "}", "\t\t\t*MESH_FACE    0:    A:0 B:0 C:0 AB:", "}",
        "\t\t*MESH_NORMALS {"};
    std::vector<std::string> lines;
    for (int i = 0; i < kMaxObjects; ++i)
        lines.insert(lines.end(), mesh.begin(), mesh.end());
    lines.push_back("\t*NODE_NAME \"NoMesh\"");  // dropped: it never reaches a vertex list
    EXPECT_EQ(Count(testing::Lines(lines)).objectCount, kMaxObjects);

    lines.insert(lines.end(), mesh.begin(), mesh.end());
    const std::string tooMany = testing::Lines(lines);
    LineSource input = LineSource::FromMemory(tooMany);
    try {
        CountObjects(input, "big.ase");
        FAIL() << "5001 objects were accepted";
    } catch (const InputRefused& refusal) {
        EXPECT_EQ(std::string(refusal.what()), "big.ase: plus de 5000 objets (limite du format: 5000), fichier refuse");
    }
}

}  // namespace
}  // namespace ase2sgl
