// Real exporter files: every one converts, every bundle has a sound layout, and
// values checked by hand against the ASE text come out where they should. The
// files live beside the project (not in it); without them these tests skip.
#include "conversion/convert.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <map>

namespace ase2sgl {
namespace {

using testing::Bundle;
using testing::CorpusDir;
using testing::CorpusFiles;
using testing::ScratchDir;

// Converts with the real executable and reads the result back.
Bundle ConvertFile(const std::filesystem::path& input, const ScratchDir& dir)
{
    const std::filesystem::path output = dir / (input.stem().string() + ".sgl");
    const auto run = testing::RunTool({input.string(), output.string()});
    EXPECT_EQ(run.exitStatus, 0) << input << ": " << run.err;
    EXPECT_EQ(run.out, "\nConversion termine\n") << input;
    return testing::ParseBundle(testing::ReadFile(output));
}

TEST(Corpus, EveryFileConvertsToASoundBundle)
{
    const auto files = CorpusFiles();
    if (files.empty())
        GTEST_SKIP() << "no corpus of real ASE files at " << ASE2SGL_CORPUS_DIR << " (set ASE2SGL_CORPUS)";
    ScratchDir dir;
    for (const auto& file : files) {
        const Bundle bundle = ConvertFile(file, dir);
        EXPECT_EQ(bundle.problem, "") << file;
    }
    EXPECT_GE(files.size(), 30u);
}

TEST(Corpus, HandCheckedValues)
{
    if (CorpusFiles().empty())
        GTEST_SKIP() << "no corpus of real ASE files at " << ASE2SGL_CORPUS_DIR << " (set ASE2SGL_CORPUS)";
    ScratchDir dir;
    auto convert = [&](const char* name) { return ConvertFile(CorpusDir() / name, dir); };

    // One triangle: face A:2 B:0 C:1; vertex 2 is 19 18 2; normals 0 0 1; texture
    // face 0 1 2 with texture vertex 0 at (1, 0).
    const Bundle triangle = convert("d_single_triangle.ase");
    ASSERT_EQ(triangle.objects.size(), 1u);
    EXPECT_EQ(triangle.objects[0].name, "CUBE.008");
    ASSERT_EQ(triangle.objects[0].VertexCount(), 3);
    EXPECT_EQ(triangle.objects[0].positions, (std::vector<float>{19, 2, 18, -19, 2, 18, -19, 2, -19}));
    EXPECT_EQ(triangle.objects[0].normals, (std::vector<float>{0, 1, 0, 0, 1, 0, 0, 1, 0}));
    EXPECT_EQ(triangle.objects[0].texcoords, (std::vector<float>{1, 0, 1, 1, 0, 1}));

    // Face 0 is A:0 B:2 C:3, texture face 9 11 10; vertex 0 is -29.3447 -34.1813 4.0862.
    const Bundle cube = convert("a_rotating_cube.ase");
    ASSERT_EQ(cube.objects.size(), 1u);
    EXPECT_EQ(cube.objects[0].name, "BOX01");
    ASSERT_EQ(cube.objects[0].VertexCount(), 36);
    EXPECT_EQ(std::vector<float>(cube.objects[0].positions.begin(), cube.objects[0].positions.begin() + 3),
              (std::vector<float>{-29.3447f, 4.0862f, -34.1813f}));
    EXPECT_EQ(std::vector<float>(cube.objects[0].normals.begin(), cube.objects[0].normals.begin() + 3),
              (std::vector<float>{0, -1, 0}));
    EXPECT_EQ(std::vector<float>(cube.objects[0].texcoords.begin(), cube.objects[0].texcoords.begin() + 4),
              (std::vector<float>{1, 0, 1, 1}));

    // Three cubes without texture lists or normals: the first object's texture search
    // runs over the other two node headers, so the bundle holds one object.
    const Bundle cubes = convert("a_three_cubes.ase");
    ASSERT_EQ(cubes.objects.size(), 1u);
    EXPECT_EQ(cubes.objects[0].name, "QUADER01");
    EXPECT_EQ(cubes.objects[0].VertexCount(), 36);

    // 26 meshes with normals but no texture lists, helper nodes between them.
    const Bundle mocap = convert("a_mocap_rom.ase");
    ASSERT_EQ(mocap.objects.size(), 26u);
    int corners = 0;
    for (const auto& object : mocap.objects)
        corners += object.VertexCount();
    EXPECT_EQ(corners, 2016 * 3);

    // Files in other exporters' spacing, an empty file and a UTF-16 one: no object.
    for (const char* name : {"x_empty.ase", "a_three_cubes_utf16le.ase", "g_wedge_45.ase", "v_vehicle.ase"})
        EXPECT_TRUE(convert(name).objects.empty()) << name;

    // Texture faces 7 8 9 beyond three texture vertices: no texture coordinate.
    const Bundle invalidUv = convert("x_invalid_uv_index.ase");
    ASSERT_EQ(invalidUv.objects.size(), 1u);
    EXPECT_EQ(invalidUv.objects[0].texcoords, (std::vector<float>{0, -0.0f, 0, -0.0f, 0, -0.0f}));
}

// The corpus exported without normals, as artists often do: each file with its
// normals blocks taken out. Every object the original gives is still there, under
// its name, with its positions and texture coordinates, and zero normals. Files
// whose meshes also lack texture lists are left out: there the first read merges
// the meshes, with or without normals.
std::string WithoutNormalsBlocks(const std::string& ase)
{
    std::string out;
    bool inNormals = false;
    for (std::string& line : testing::SplitLines(ase)) {
        const std::string_view text = std::string_view(line).substr(0, line.find_last_not_of('\r') + 1);
        if (text == "\t\t*MESH_NORMALS {")
            inNormals = true;
        else if (!inNormals)
            out += line + "\n";
        else if (text == "\t\t}")
            inNormals = false;
    }
    return out;
}

TEST(Corpus, MeshesWithoutNormalsKeepTheirObjects)
{
    const auto files = CorpusFiles();
    if (files.empty())
        GTEST_SKIP() << "no corpus of real ASE files at " << ASE2SGL_CORPUS_DIR << " (set ASE2SGL_CORPUS)";
    int compared = 0;
    for (const auto& file : files) {
        const std::string original = testing::ReadFile(file);
        if (original.find("*MESH_TVERTLIST") == std::string::npos)
            continue;
        const Bundle with = testing::ParseBundle(ConvertBytes(original));
        const Bundle without = testing::ParseBundle(ConvertBytes(WithoutNormalsBlocks(original)));
        ASSERT_EQ(without.objects.size(), with.objects.size()) << file;
        for (std::size_t i = 0; i < with.objects.size(); ++i) {
            const auto& a = with.objects[i];
            const auto& b = without.objects[i];
            EXPECT_EQ(b.name, a.name) << file << " object " << i;
            EXPECT_EQ(b.positions, a.positions) << file << " object " << i;
            EXPECT_EQ(b.texcoords, a.texcoords) << file << " object " << i;
            EXPECT_EQ(b.normals, std::vector<float>(a.normals.size(), 0.0f)) << file << " object " << i;
            compared += a.VertexCount() > 0;
        }
    }
    EXPECT_GE(compared, 30);  // objects with geometry, over the files that have texture lists
}

}  // namespace
}  // namespace ase2sgl
