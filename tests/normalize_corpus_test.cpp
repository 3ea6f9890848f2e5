// Normalize on the real exporter files: every GEOMOBJECT of the original becomes an
// object of its own under its own name, with the positions and texture coordinates
// that assimp, an independent ASE reader, takes from the original; and a file the
// converter already reads well converts to the same bytes after normalizing.
//
// How assimp's reading maps onto a bundle (assimp 5.2):
//   - assimp moves each mesh into its node's local space and gives the node the
//     ASE node transform (*NODE_TM); the ASE vertex lines hold world positions, so
//     the world position is the node's global transform applied to assimp's vertex.
//   - assimp's root node turns the ASE axes (z up) into its own (y up): an ASE
//     point (x, y, z) comes out as (x, z, -y). The bundle stores (x, z, y), so a
//     bundle position is assimp's world position (X, Y, Z) as (X, Y, -Z).
//   - texture coordinates: both keep U and V as the file wrote them (channel 0).
//   - assimp splits a mesh by material and drops nothing else, so the triangles of
//     all its meshes, taken together, are compared with all triangles of the bundle,
//     each assimp triangle matched to one bundle triangle (corners in the same
//     cyclic order).
// assimp 5.2.5 crashes on some files: it runs in a child process, and a file whose
// child dies is skipped with a message; so is a file where it gives positions that
// are not finite (it divides by a node matrix that cannot be inverted). It reads
// UTF-16 text only in part, so it is given an ASCII copy of such a file (narrowed
// here code unit by code unit, the files being ASCII text).
#include "conversion/convert.h"
#include "normalize/normalize.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <iostream>

#if ASE2SGL_HAVE_ASSIMP
#include <assimp/postprocess.h>
#include <assimp/scene.h>
#include <sys/wait.h>
#include <unistd.h>
#include <assimp/Importer.hpp>
#endif

namespace ase2sgl {
namespace {

using testing::Bundle;

using testing::CorpusFiles;

// The text with the zero bytes of UTF-16 dropped: enough to find ASCII keys in.
std::string AsciiOf(std::string bytes)
{
    std::erase(bytes, '\0');
    return bytes;
}

std::string Upper(std::string text)
{
    for (char& c : text)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return text;
}

// The names of the original's GEOMOBJECTs, read with a plain text search (not the
// reader under test): the first quoted string after *NODE_NAME after each
// *GEOMOBJECT, upper-cased as the bundle stores names.
std::vector<std::string> GeomObjectNames(const std::string& text)
{
    std::vector<std::string> names;
    for (std::size_t at = text.find("*GEOMOBJECT"); at != std::string::npos; at = text.find("*GEOMOBJECT", at + 1)) {
        const std::size_t key = text.find("*NODE_NAME", at);
        const std::size_t open = text.find('"', key);
        const std::size_t close = text.find('"', open + 1);
        names.push_back(key == std::string::npos || close == std::string::npos
                            ? std::string()
                            : Upper(text.substr(open + 1, close - open - 1)));
    }
    return names;
}

std::vector<std::string> ObjectNames(const Bundle& bundle)
{
    std::vector<std::string> names;
    for (const auto& object : bundle.objects)
        names.push_back(object.name);
    return names;
}

Bundle NormalizeAndConvert(const std::string& bytes, bool keepOtherNodes, std::string* summary = nullptr)
{
    const normalize::NormalizeResult result = normalize::Normalize(bytes, {keepOtherNodes});
    EXPECT_TRUE(result.ok) << result.error;
    if (summary)
        *summary = normalize::Summary(result.report);
    return testing::ParseBundle(ConvertBytes(result.text));
}

TEST(NormalizeCorpus, EveryGeomObjectBecomesAnObjectUnderItsOwnName)
{
    const auto files = CorpusFiles();
    if (files.empty())
        GTEST_SKIP() << "no corpus of real ASE files at " << ASE2SGL_CORPUS_DIR << " (set ASE2SGL_CORPUS)";
    std::size_t meshes = 0, objects = 0;
    for (const auto& file : files) {
        const std::string bytes = testing::ReadFile(file);
        const std::vector<std::string> expected = GeomObjectNames(AsciiOf(bytes));
        std::string summary;
        const Bundle bundle = NormalizeAndConvert(bytes, false, &summary);
        EXPECT_EQ(bundle.problem, "") << file;
        EXPECT_EQ(ObjectNames(bundle), expected) << file.filename();
        for (const auto& object : bundle.objects)
            EXPECT_GT(object.VertexCount(), 0) << file.filename() << " " << object.name;
        meshes += expected.size();
        objects += bundle.objects.size();
        std::cout << file.filename().string() << ": " << expected.size() << " GEOMOBJECTs, " << bundle.objects.size()
                  << " objects (" << summary << ")\n";
    }
    std::cout << "all files: " << meshes << " GEOMOBJECTs, " << objects << " objects\n";
}

// "Already works": the converter writes one object per GEOMOBJECT, under its name.
// One such file is repaired on purpose, and must change: its texture faces name
// texture vertices beyond the list and it has no normals.
TEST(NormalizeCorpus, KeepingOtherNodesChangesNothingThatAlreadyConverts)
{
    const auto files = CorpusFiles();
    if (files.empty())
        GTEST_SKIP() << "no corpus of real ASE files at " << ASE2SGL_CORPUS_DIR << " (set ASE2SGL_CORPUS)";
    const std::string repaired = "x_invalid_uv_index.ase";
    int compared = 0;
    for (const auto& file : files) {
        const std::string bytes = testing::ReadFile(file);
        const std::string original = ConvertBytes(bytes);
        const std::vector<std::string> names = GeomObjectNames(AsciiOf(bytes));
        if (names.empty() || ObjectNames(testing::ParseBundle(original)) != names)
            continue;
        const normalize::NormalizeResult result = normalize::Normalize(bytes, {true});
        ASSERT_TRUE(result.ok) << result.error;
        const bool same = ConvertBytes(result.text) == original;
        if (file.filename() == repaired) {
            EXPECT_FALSE(same) << repaired << " is repaired by normalize, so its bundle should change";
            continue;
        }
        EXPECT_TRUE(same) << file.filename() << ": the bundle differs";
        std::cout << file.filename().string() << (same ? ": same bundle" : ": DIFFERENT bundle")
                  << " after normalize --keep-other-nodes\n";
        ++compared;
    }
    EXPECT_GE(compared, 10) << "fewer corpus files than expected already convert well";
}

#if ASE2SGL_HAVE_ASSIMP

struct Corner {
    std::array<float, 3> position;  // bundle axes
    std::array<float, 2> texcoord;
};
using Triangle = std::array<Corner, 3>;

// Runs assimp on `path` in a child process and returns its triangles in bundle
// axes, or a reason to skip.
std::vector<Triangle> AssimpTriangles(const std::filesystem::path& path, std::string& skipReason)
{
    int pipeEnds[2];
    if (pipe(pipeEnds) != 0) {
        skipReason = "no pipe";
        return {};
    }
    const pid_t child = fork();
    if (child == 0) {
        close(pipeEnds[0]);
        Assimp::Importer importer;
        const aiScene* scene = importer.ReadFile(path.string(), 0);
        if (!scene)
            _exit(3);
        std::vector<float> out;
        std::vector<std::pair<const aiNode*, aiMatrix4x4>> pending{
            {scene->mRootNode, scene->mRootNode->mTransformation}};
        while (!pending.empty()) {
            const auto [node, global] = pending.back();
            pending.pop_back();
            for (unsigned i = 0; i < node->mNumChildren; ++i)
                pending.push_back({node->mChildren[i], global * node->mChildren[i]->mTransformation});
            for (unsigned m = 0; m < node->mNumMeshes; ++m) {
                const aiMesh* mesh = scene->mMeshes[node->mMeshes[m]];
                for (unsigned f = 0; f < mesh->mNumFaces; ++f) {
                    if (mesh->mFaces[f].mNumIndices != 3)
                        continue;
                    for (unsigned c = 0; c < 3; ++c) {
                        const unsigned index = mesh->mFaces[f].mIndices[c];
                        const aiVector3D p = global * mesh->mVertices[index];
                        const aiVector3D t = mesh->HasTextureCoords(0) ? mesh->mTextureCoords[0][index] : aiVector3D();
                        out.insert(out.end(), {p.x, p.y, -p.z, t.x, t.y});
                    }
                }
            }
        }
        const char* data = reinterpret_cast<const char*>(out.data());
        std::size_t left = out.size() * sizeof(float);
        while (left > 0) {
            const ssize_t written = write(pipeEnds[1], data, left);
            if (written <= 0)
                _exit(4);
            data += written;
            left -= static_cast<std::size_t>(written);
        }
        _exit(0);
    }
    close(pipeEnds[1]);
    std::string bytes;
    char buffer[65536];
    for (ssize_t got; (got = read(pipeEnds[0], buffer, sizeof buffer)) > 0;)
        bytes.append(buffer, static_cast<std::size_t>(got));
    close(pipeEnds[0]);
    int status = 0;
    waitpid(child, &status, 0);
    if (WIFSIGNALED(status)) {
        skipReason = "assimp crashed (signal " + std::to_string(WTERMSIG(status)) + ")";
        return {};
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        skipReason = "assimp refused the file";
        return {};
    }
    std::vector<float> values(bytes.size() / sizeof(float));
    std::memcpy(values.data(), bytes.data(), values.size() * sizeof(float));
    std::vector<Triangle> triangles(values.size() / 15);
    for (std::size_t t = 0; t < triangles.size(); ++t)
        for (std::size_t c = 0; c < 3; ++c) {
            const float* v = &values[t * 15 + c * 5];
            triangles[t][c] = {{v[0], v[1], v[2]}, {v[3], v[4]}};
        }
    return triangles;
}

std::vector<Triangle> BundleTriangles(const Bundle& bundle)
{
    std::vector<Triangle> triangles;
    for (const auto& object : bundle.objects)
        for (std::size_t v = 0; v + 2 < static_cast<std::size_t>(object.VertexCount()); v += 3) {
            Triangle triangle;
            for (std::size_t c = 0; c < 3; ++c)
                triangle[c] = {{object.positions[3 * (v + c)], object.positions[3 * (v + c) + 1],
                                object.positions[3 * (v + c) + 2]},
                               {object.texcoords[2 * (v + c)], object.texcoords[2 * (v + c) + 1]}};
            triangles.push_back(triangle);
        }
    return triangles;
}

bool Near(float a, float b, float tolerance)
{
    return std::fabs(a - b) <= tolerance;
}

bool SameTriangle(const Triangle& a, const Triangle& b, float positionTolerance, bool compareTexcoords)
{
    for (std::size_t rotation = 0; rotation < 3; ++rotation) {
        bool same = true;
        for (std::size_t c = 0; c < 3 && same; ++c) {
            const Corner& x = a[c];
            const Corner& y = b[(c + rotation) % 3];
            for (std::size_t k = 0; k < 3; ++k)
                same = same && Near(x.position[k], y.position[k], positionTolerance);
            if (compareTexcoords)
                for (std::size_t k = 0; k < 2; ++k)
                    same = same && Near(x.texcoord[k], y.texcoord[k], 1e-3f);
        }
        if (same)
            return true;
    }
    return false;
}

float Centroid(const Triangle& t)
{
    return (t[0].position[0] + t[1].position[0] + t[2].position[0]) / 3.0f;
}

// Matches every assimp triangle to a bundle triangle not matched yet; returns the
// number left unmatched.
std::size_t UnmatchedTriangles(std::vector<Triangle> reference, std::vector<Triangle> ours, float tolerance,
                               bool compareTexcoords)
{
    auto byCentroid = [](const Triangle& a, const Triangle& b) { return Centroid(a) < Centroid(b); };
    std::sort(ours.begin(), ours.end(), byCentroid);
    std::vector<bool> used(ours.size(), false);
    std::size_t unmatched = 0;
    for (const Triangle& triangle : reference) {
        const float x = Centroid(triangle);
        auto it = std::lower_bound(ours.begin(), ours.end(), x - tolerance,
                                   [](const Triangle& t, float value) { return Centroid(t) < value; });
        bool found = false;
        for (; it != ours.end() && Centroid(*it) <= x + tolerance; ++it) {
            const auto index = static_cast<std::size_t>(it - ours.begin());
            if (!used[index] && SameTriangle(triangle, *it, tolerance, compareTexcoords)) {
                used[index] = found = true;
                break;
            }
        }
        unmatched += found ? 0 : 1;
    }
    return unmatched;
}

float Extent(const std::vector<Triangle>& triangles)
{
    float extent = 1.0f;
    for (const Triangle& t : triangles)
        for (const Corner& c : t)
            for (float v : c.position)
                extent = std::max(extent, std::fabs(v));
    return extent;
}

bool AllFinite(const std::vector<Triangle>& triangles)
{
    return std::all_of(triangles.begin(), triangles.end(), [](const Triangle& t) {
        return std::all_of(t.begin(), t.end(), [](const Corner& c) {
            return std::all_of(c.position.begin(), c.position.end(), [](float v) { return std::isfinite(v); });
        });
    });
}

// UTF-16 LE text with a byte order mark, narrowed to one byte per code unit.
std::string NarrowUtf16(const std::string& bytes)
{
    std::string narrow;
    for (std::size_t i = 2; i + 1 < bytes.size(); i += 2)
        narrow += bytes[i];
    return narrow;
}

TEST(NormalizeCorpus, PositionsAndTextureCoordinatesAgreeWithAssimp)
{
    const auto files = CorpusFiles();
    if (files.empty())
        GTEST_SKIP() << "no corpus of real ASE files at " << ASE2SGL_CORPUS_DIR << " (set ASE2SGL_CORPUS)";
    // Texture-face numbers beyond the texture list: assimp 5.2.5 reads past its
    // array there (fixed in later assimp); normalize gives such corners (0, 0).
    const std::vector<std::string> texcoordsUndefined = {"x_invalid_uv_index.ase"};
    testing::ScratchDir scratch;
    int compared = 0;
    for (const auto& file : files) {
        const std::string bytes = testing::ReadFile(file);
        const Bundle bundle = NormalizeAndConvert(bytes, false);
        if (bundle.objects.empty())
            continue;
        std::filesystem::path assimpInput = file;
        if (bytes.starts_with("\xFF\xFE")) {
            assimpInput = scratch / file.filename().string();
            testing::WriteFile(assimpInput, NarrowUtf16(bytes));
        }
        std::string skipReason;
        const std::vector<Triangle> reference = AssimpTriangles(assimpInput, skipReason);
        if (skipReason.empty() && !AllFinite(reference))
            skipReason = "assimp gives positions that are not finite (a node matrix it cannot invert)";
        if (!skipReason.empty()) {
            std::cout << file.filename().string() << ": skipped, " << skipReason << "\n";
            continue;
        }
        const std::vector<Triangle> ours = BundleTriangles(bundle);
        const bool compareTexcoords = std::find(texcoordsUndefined.begin(), texcoordsUndefined.end(),
                                                file.filename().string()) == texcoordsUndefined.end();
        // Values are written with four to six decimals; assimp's trip into node
        // space and back costs a few float steps of the model's extent.
        const float tolerance = 1e-3f + 2e-5f * Extent(ours);
        const std::size_t unmatched = UnmatchedTriangles(reference, ours, tolerance, compareTexcoords);
        EXPECT_EQ(reference.size(), ours.size()) << file.filename();
        EXPECT_EQ(unmatched, 0u) << file.filename() << ": of " << reference.size() << " assimp triangles";
        std::cout << file.filename().string() << ": " << reference.size() << " assimp triangles, " << ours.size()
                  << " ours, " << unmatched << " unmatched" << (compareTexcoords ? "" : " (positions only)") << "\n";
        ++compared;
    }
    EXPECT_GE(compared, 20);
}

#else

TEST(NormalizeCorpus, PositionsAndTextureCoordinatesAgreeWithAssimp)
{
    GTEST_SKIP() << "assimp is not installed (Debian: libassimp-dev): no independent reading to compare with";
}

#endif

}  // namespace
}  // namespace ase2sgl
