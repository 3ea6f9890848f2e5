// The two-thread geometry read against the sequential one: the same objects, in the
// same order, with the same arrays, on real files, on generated-like scenes and on
// layouts that make objects run into each other (where it must fall back).
#include "ase/line_source.h"
#include "ase/mesh_tables.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace ase2sgl {
namespace {

using testing::MeshSpec;

// Every object the sink received, flattened to bytes: number, count, corners.
std::string Collect(std::string_view ase, bool parallel)
{
    LineSource input = LineSource::FromMemory(ase);
    const MeshTables tables = CountObjects(input, "test");
    std::string out;
    std::int32_t expected = 0;
    const ObjectSink sink = [&](std::int32_t object, const ObjectArrays& arrays) {
        EXPECT_EQ(object, expected++);  // in order, each once
        out.append(reinterpret_cast<const char*>(&object), sizeof object);
        out.append(reinterpret_cast<const char*>(&arrays.cornersRead), sizeof arrays.cornersRead);
        out.append(reinterpret_cast<const char*>(arrays.corners.data()),
                   sizeof(CornerRecord) * static_cast<std::size_t>(arrays.cornersRead));
    };
    if (parallel)
        ReadGeometryInParallel([&] { return LineSource::FromMemory(ase); }, tables, sink);
    else
        ReadGeometry(input, tables, sink);
    EXPECT_EQ(expected, tables.objectCount);
    return out;
}

void ExpectSameAsSequential(std::string_view ase, const std::string& label)
{
    const std::string sequential = Collect(ase, false);
    for (int run = 0; run < 5; ++run)  // thread timing differs from run to run
        ASSERT_EQ(Collect(ase, true), sequential) << label << ", run " << run;
}

MeshSpec Mesh(std::string name, int faces, bool texture, bool normals)
{
    MeshSpec mesh = testing::BoxMesh(std::move(name));
    mesh.faces.clear();
    mesh.texFaces.clear();
    mesh.vertexNormals.clear();
    for (int f = 0; f < faces; ++f) {
        mesh.faces.push_back({f % 8, (f + 3) % 8, (f + 5) % 8});
        mesh.texFaces.push_back({f % 12, (f + 1) % 12, (f + 7) % 12});
        for (int i = 0; i < 3; ++i)
            mesh.vertexNormals.push_back({0.25f * static_cast<float>(i), -0.5f, static_cast<float>(f) * 0.001f});
    }
    if (!texture) {
        mesh.texVertices.clear();
        mesh.texFaces.clear();
    }
    if (!normals) {
        mesh.vertexNormals.clear();
        mesh.normalsBlock = false;
    }
    return mesh;
}

TEST(ParallelGeometry, MatchesTheSequentialReadOnWellFormedScenes)
{
    std::vector<MeshSpec> meshes;
    for (int i = 0; i < 40; ++i)
        meshes.push_back(Mesh("Mesh" + std::to_string(i), 1 + (i * 37) % 300, true, true));
    const std::string scene = testing::Scene(meshes);
    ExpectSameAsSequential(scene, "LF");
    std::string crlf;
    for (const char c : scene)
        crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    ExpectSameAsSequential(crlf, "CR LF");
}

// Meshes without normals or texture lists run into the next object; a face line
// that does not scan takes its numbers from the object before.
TEST(ParallelGeometry, FallsBackWhereObjectsRunIntoEachOther)
{
    struct Case {
        const char* label;
        std::vector<MeshSpec> meshes;
    };
    std::vector<Case> cases = {
        {"no normals in the middle",
         {Mesh("A", 5, true, true), Mesh("B", 7, true, false), Mesh("C", 9, true, true), Mesh("D", 4, true, true)}},
        {"no texture lists", {Mesh("A", 5, false, true), Mesh("B", 7, false, true), Mesh("C", 9, true, true)}},
        {"neither",
         {Mesh("A", 5, true, true), Mesh("B", 7, false, false), Mesh("C", 9, false, false), Mesh("D", 3, true, true),
          Mesh("E", 3, true, true)}},
        {"last without normals", {Mesh("A", 5, true, true), Mesh("B", 7, true, false)}},
    };
    for (const Case& c : cases)
        ExpectSameAsSequential(testing::Scene(c.meshes), c.label);

    // First face lines whose numbers do not scan: each such object takes the numbers
    // the object before it left, whichever thread read that one.
    std::vector<MeshSpec> meshes;
    for (int i = 0; i < 30; ++i)
        meshes.push_back(Mesh("M" + std::to_string(i), 300 + 40 * i, true, true));
    std::string scene = testing::Scene(meshes);
    const std::string firstFace = "\t\t\t*MESH_FACE    0:    A:";
    int broken = 0;
    for (std::size_t at = scene.find(firstFace); at != std::string::npos; at = scene.find(firstFace, at + 1)) {
        if (broken++ % 2 == 1)
            scene.replace(at + firstFace.size(), 5, "    x");
    }
    ExpectSameAsSequential(scene, "unscannable first face lines");

    // A vertex-start line with no node header before it, and a node header with no mesh.
    const std::string stray = testing::Lines({"\t\t\t*MESH_VERTEX    0\t1.0\t2.0\t3.0", "\t*NODE_NAME \"Empty\""});
    ExpectSameAsSequential(testing::Scene({Mesh("A", 5, true, true)}) + stray +
                               testing::Scene({Mesh("B", 6, true, true), Mesh("C", 2, true, true)}),
                           "stray vertex-start line");
}

TEST(ParallelGeometry, MatchesTheSequentialReadOnTheCorpus)
{
    const std::filesystem::path corpus = testing::CorpusDir();
    if (corpus.empty())
        GTEST_SKIP() << "no corpus";
    for (const auto& entry : std::filesystem::directory_iterator(corpus)) {
        if (entry.path().extension() == ".ase")
            ExpectSameAsSequential(testing::ReadFile(entry.path()), entry.path().filename().string());
    }
}

// Every cut of a scene: inputs that end inside an object.
TEST(ParallelGeometry, MatchesTheSequentialReadOnEveryCut)
{
    const std::string scene =
        testing::Scene({Mesh("A", 2, true, true), Mesh("B", 2, false, true), Mesh("C", 2, true, true)});
    for (std::size_t cut = 0; cut <= scene.size(); cut += 7) {
        const std::string_view part(scene.data(), cut);
        const std::string sequential = Collect(part, false);
        ASSERT_EQ(Collect(part, true), sequential) << "cut at " << cut;
    }
}

}  // namespace
}  // namespace ase2sgl
