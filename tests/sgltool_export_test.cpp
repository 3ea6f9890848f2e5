// sgltool export: glTF that the Khronos validator accepts, with the axes, texture
// origin and winding the README promises; OBJ that assimp reads back with the same
// triangles and positions.
#include "tool_fixtures.h"
#include "tools/export.h"

#include <gtest/gtest.h>
#include <tiny_gltf.h>

#include <cmath>
#include <cstring>

#ifdef ASE2SGL_HAVE_ASSIMP
#include <assimp/postprocess.h>
#include <assimp/scene.h>
#include <assimp/Importer.hpp>
#endif

namespace ase2sgl {
namespace {

using testing::ScratchDir;
using tools::Vec3;

// Bundles with what glTF cannot hold as it is: NaN and infinite values, zero and
// long normals, a degenerate triangle, an empty object, no objects at all.
std::vector<std::filesystem::path> AwkwardBundles(const ScratchDir& dir)
{
    const float nan = std::nanf(""), inf = INFINITY;
    testing::RecordSpec odd{"ODD \xC9", 6, {}, {}, {}};
    odd.positions = {0, 0, 0, 4, 0, 0, 0, 2, nan, 1, 1, 1, 1, 1, 1, 3, 5, inf};
    odd.normals = {0, 0, 0, 0, 0, 2, nan, 1, 0, 0, 0, 0, 0, 0.6f, 0.8f, 0, 0, 0};
    odd.texcoords = {0.5f, -1, 2, 0.25f, inf, 0, 0, 0, 1, 1, 0, 3};
    const testing::RecordSpec empty{"EMPTY", 0, {}, {}, {}};
    testing::WriteFile(dir / "odd.sgl", testing::EncodeBundle({odd, empty}));
    testing::WriteFile(dir / "nothing.sgl", testing::EncodeBundle({}));
    testing::WriteFile(dir / "box.sgl",
                       ConvertBytes(testing::ReadFile(std::string(ASE2SGL_SOURCE_DIR) + "/examples/box.ase")));
    return {dir / "odd.sgl", dir / "nothing.sgl", dir / "box.sgl"};
}

TEST(SgltoolExport, GltfPassesTheKhronosValidator)
{
    if (testing::NodeModules().empty())
        GTEST_SKIP() << "node or the test tools are missing (.ci/run installs them into build/node)";
    ScratchDir dir;
    std::vector<std::filesystem::path> bundles = testing::CorpusBundles(dir);
    const auto awkward = AwkwardBundles(dir);
    bundles.insert(bundles.end(), awkward.begin(), awkward.end());
    std::vector<std::string> outputs;
    for (const auto& bundle : bundles) {
        for (const char* extension : {".glb", ".gltf"}) {
            const std::string output = (dir / (bundle.stem().string() + extension)).string();
            const testing::RunResult run = testing::RunSgltool({"export", bundle.string(), output});
            ASSERT_EQ(run.exitStatus, 0) << bundle << ": " << run.err;
            outputs.push_back(output);
        }
    }
    const testing::RunResult check = testing::RunNodeScript("validate_gltf.js", outputs);
    EXPECT_EQ(check.exitStatus, 0) << check.out << check.err;
    // What the validator may still say: texture coordinates no material samples,
    // and nodes of objects without vertices.
    std::istringstream lines(check.out);
    for (std::string line; std::getline(lines, line);)
        EXPECT_TRUE(line.find(": info UNUSED_OBJECT /meshes/") != std::string::npos ||
                    line.find(": info NODE_EMPTY /nodes/") != std::string::npos)
            << line;
}

struct LoadedGltf {
    tinygltf::Model model;
    std::vector<float> Floats(int accessorIndex) const
    {
        const tinygltf::Accessor& accessor = model.accessors[static_cast<std::size_t>(accessorIndex)];
        const tinygltf::BufferView& view = model.bufferViews[static_cast<std::size_t>(accessor.bufferView)];
        const std::size_t components = accessor.type == TINYGLTF_TYPE_VEC3 ? 3 : 2;
        std::vector<float> values(accessor.count * components);
        std::memcpy(values.data(), model.buffers[0].data.data() + view.byteOffset + accessor.byteOffset,
                    4 * values.size());
        return values;
    }
};

LoadedGltf LoadGlb(const std::string& path)
{
    LoadedGltf gltf;
    tinygltf::TinyGLTF loader;
    std::string error, warning;
    EXPECT_TRUE(loader.LoadBinaryFromFile(&gltf.model, &error, &warning, path)) << error;
    return gltf;
}

Vec3 At(const std::vector<float>& values, std::size_t vertex)
{
    return {values[3 * vertex], values[3 * vertex + 1], values[3 * vertex + 2]};
}

// The sign of (b - a) x (c - a) . normal: positive when the corners run
// counter-clockwise seen from the side the normal points to.
double Facing(const Vec3& a, const Vec3& b, const Vec3& c, const Vec3& normal)
{
    const double e1[3] = {double(b[0]) - a[0], double(b[1]) - a[1], double(b[2]) - a[2]};
    const double e2[3] = {double(c[0]) - a[0], double(c[1]) - a[1], double(c[2]) - a[2]};
    return (e1[1] * e2[2] - e1[2] * e2[1]) * normal[0] + (e1[2] * e2[0] - e1[0] * e2[2]) * normal[1] +
           (e1[0] * e2[1] - e1[1] * e2[0]) * normal[2];
}

// Counts the triangles of a glTF file whose winding agrees with their first
// corner's normal, and those whose winding disagrees.
std::pair<int, int> WindingAgreement(const LoadedGltf& gltf)
{
    int agree = 0, disagree = 0;
    for (const tinygltf::Mesh& mesh : gltf.model.meshes) {
        const std::vector<float> positions = gltf.Floats(mesh.primitives[0].attributes.at("POSITION"));
        const std::vector<float> normals = gltf.Floats(mesh.primitives[0].attributes.at("NORMAL"));
        for (std::size_t t = 0; 3 * t < positions.size() / 3; ++t) {
            const double facing =
                Facing(At(positions, 3 * t), At(positions, 3 * t + 1), At(positions, 3 * t + 2), At(normals, 3 * t));
            agree += facing > 0;
            disagree += facing < 0;
        }
    }
    return {agree, disagree};
}

TEST(SgltoolExport, GltfIsYUpRightHandedWithTheTextureOriginTopLeft)
{
    ScratchDir dir;
    const std::filesystem::path box = AwkwardBundles(dir)[2];
    const std::string output = (dir / "box.glb").string();
    ASSERT_EQ(testing::RunSgltool({"export", box.string(), output}).exitStatus, 0);
    const LoadedGltf gltf = LoadGlb(output);
    tools::LoadedBundle loaded;
    tools::LoadBundle(box.string(), loaded);
    const bundle::Object& object = loaded.objects[0];
    ASSERT_EQ(gltf.model.meshes.size(), 1u);
    EXPECT_EQ(gltf.model.nodes[0].name, "BOX01");
    const auto& attributes = gltf.model.meshes[0].primitives[0].attributes;
    const std::vector<float> positions = gltf.Floats(attributes.at("POSITION"));
    const std::vector<float> texcoords = gltf.Floats(attributes.at("TEXCOORD_0"));
    ASSERT_EQ(positions.size(), object.positions.size());
    for (std::size_t v = 0; v < static_cast<std::size_t>(object.vertexCount); ++v) {
        EXPECT_EQ(At(positions, v),
                  (Vec3{object.positions[3 * v], object.positions[3 * v + 1], -object.positions[3 * v + 2]}));
        EXPECT_EQ(texcoords[2 * v], object.texcoords[2 * v]);
        EXPECT_EQ(texcoords[2 * v + 1], 1 - object.texcoords[2 * v + 1]);
    }
    // The sample box's top (ASE +Z) is glTF +Y; every face winds counter-clockwise
    // seen from outside, where its normal points.
    EXPECT_EQ(gltf.model.accessors[static_cast<std::size_t>(attributes.at("POSITION"))].maxValues[1], 20.0);
    EXPECT_EQ(WindingAgreement(gltf), std::make_pair(12, 0));
}

// Files whose every face winds counter-clockwise round its exported normals; others
// hold smoothed or mirrored normals that disagree with some faces whichever way
// they wind (a_mocap_rom, the v_ lights and terminal, d_gauge_needle).
TEST(SgltoolExport, CorpusTrianglesFaceTheirNormals)
{
    ScratchDir dir;
    if (testing::CorpusDir().empty())
        GTEST_SKIP() << "no corpus of real ASE files at " << ASE2SGL_CORPUS_DIR << " (set ASE2SGL_CORPUS)";
    const struct {
        const char* file;
        int triangles;
    } cases[] = {{"a_anim", 24},           {"a_three_cubes", 12}, {"a_uvtransform", 32}, {"d_exploded_cube", 12},
                 {"d_single_triangle", 1}, {"d_testcube", 12},    {"d_testsphere", 960}, {"d_tiles_two_mat", 8}};
    for (const auto& c : cases) {
        const std::filesystem::path bundle = dir / (std::string(c.file) + ".sgl");
        testing::WriteFile(bundle,
                           ConvertBytes(testing::ReadFile(testing::CorpusDir() / (std::string(c.file) + ".ase"))));
        const std::string output = (dir / (std::string(c.file) + ".glb")).string();
        ASSERT_EQ(testing::RunSgltool({"export", bundle.string(), output}).exitStatus, 0);
        EXPECT_EQ(WindingAgreement(LoadGlb(output)), std::make_pair(c.triangles, 0)) << c.file;
    }
}

#ifdef ASE2SGL_HAVE_ASSIMP
TEST(SgltoolExport, ObjReadBackByAssimp)
{
    ScratchDir dir;
    std::vector<std::filesystem::path> bundles = testing::CorpusBundles(dir);
    bundles.push_back(AwkwardBundles(dir)[2]);
    for (const auto& bundle : bundles) {
        const std::string output = (dir / (bundle.stem().string() + ".obj")).string();
        ASSERT_EQ(testing::RunSgltool({"export", bundle.string(), output}).exitStatus, 0);
        tools::LoadedBundle loaded;
        tools::LoadBundle(bundle.string(), loaded);
        std::vector<float> expected;  // every position, in file order
        std::size_t triangles = 0;
        for (const bundle::Object& object : loaded.objects) {
            for (std::size_t v = 0; v < static_cast<std::size_t>(object.vertexCount); ++v) {
                const Vec3 p = tools::ToRightHandedYUp(tools::Vec3At(object.positions, v));
                expected.insert(expected.end(), p.begin(), p.end());
            }
            triangles += static_cast<std::size_t>(object.TriangleCount());
        }

        Assimp::Importer importer;
        const aiScene* scene = importer.ReadFile(output, 0);
        ASSERT_NE(scene, nullptr) << output << ": " << importer.GetErrorString();
        std::vector<float> read;
        std::size_t faces = 0;
        for (unsigned m = 0; m < scene->mNumMeshes; ++m) {
            const aiMesh* mesh = scene->mMeshes[m];
            for (unsigned f = 0; f < mesh->mNumFaces; ++f) {
                ASSERT_EQ(mesh->mFaces[f].mNumIndices, 3u);
                for (unsigned k = 0; k < 3; ++k) {
                    const aiVector3D& p = mesh->mVertices[mesh->mFaces[f].mIndices[k]];
                    read.insert(read.end(), {p.x, p.y, p.z});
                }
            }
            faces += mesh->mNumFaces;
        }
        EXPECT_EQ(faces, triangles) << output;
        EXPECT_EQ(read, expected) << output;
    }
}
#endif

}  // namespace
}  // namespace ase2sgl
