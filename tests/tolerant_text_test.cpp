// The tolerant reader's words: keywords and face labels are told apart in any case,
// and a keyword that differs from a known one by a single byte (past the eighth
// letter too, or by a byte of 0x80 and up) is no known keyword.
#include "tolerant/scene.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string>

namespace ase2sgl {
namespace {

using tolerant::MeshLists;
using tolerant::ReadScene;
using tolerant::Scene;

// One mesh node whose vertex list holds `line` (and whose text stays alive for the
// views the scene keeps).
struct OneLine {
    std::string text;
    Scene scene;
    explicit OneLine(const std::string& line)
        : text("*GEOMOBJECT {\n*NODE_NAME \"n\"\n*MESH {\n*MESH_VERTEX_LIST {\n" + line + "\n}\n}\n}\n"),
          scene(ReadScene(text))
    {
    }
    const MeshLists& Mesh() const { return scene.nodes.at(0).mesh; }
};

// Which list a line went to: "v", "tv", "f", "tf", "fn", "vn", or "" for none.
std::string ListOf(const MeshLists& mesh)
{
    std::string lists;
    if (!mesh.vertices.empty())
        lists += "v";
    if (!mesh.texVertices.empty())
        lists += "tv";
    if (!mesh.faces.empty())
        lists += "f";
    if (!mesh.texFaces.empty())
        lists += "tf";
    if (!mesh.faceNormals.empty())
        lists += "fn";
    if (!mesh.vertexNormals.empty())
        lists += "vn";
    return lists;
}

TEST(TolerantWords, KeywordsAreKnownInAnyCaseAndOnlyExactly)
{
    const struct {
        const char* line;
        const char* list;
    } cases[] = {
        {"*MESH_VERTEX 0 1 2 3", "v"},
        {"*mesh_vertex 0 1 2 3", "v"},
        {"*Mesh_VerteX 0 1 2 3", "v"},
        {"*MESH_VERTEY 0 1 2 3", ""},  // the last letter, in the second eight bytes
        {"*MESH_WERTEX 0 1 2 3", ""},  // a letter of the first eight
        {"*MESH_VERTE 0 1 2 3", ""},
        {"*MESH_VERTEXX 0 1 2 3", ""},
        {"*MESH_VERTE\xD8 0 1 2 3", ""},  // 'X' with the high bit set
        {"*MESH_VERTE\xF8 0 1 2 3", ""},  // 'x' with the high bit set
        {"*MESH_VERTE` 0 1 2 3", ""},     // the bytes either side of the letters
        {"*MESH_VERTE| 0 1 2 3", ""},
        {"*MESH_VERTE@ 0 1 2 3", ""},
        {"MESH_VERTEX 0 1 2 3", ""},      // no star: a word, not a keyword
        {"*MESH_TVERT 0 0.5 0.5 0", "tv"},
        {"*mesh_tvert 0 0.5 0.5 0", "tv"},
        {"*MESH_TVERX 0 0.5 0.5 0", ""},
        {"*MESH_TFACE 0 0 1 2", "tf"},
        {"*Mesh_TFace 0 0 1 2", "tf"},
        {"*MESH_FACE 0: A: 0 B: 1 C: 2", "f"},
        {"*mesh_face 0: A: 0 B: 1 C: 2", "f"},
        {"*MESH_FACENORMAL 0 0 0 1", "fn"},
        {"*mesh_facenormal 0 0 0 1", "fn"},
        {"*MESH_FACENORMAl 0 0 0 1", "fn"},
        {"*MESH_FACENORMAM 0 0 0 1", ""},
        {"*MESH_VERTEXNORMAL 0 0 0 1", "vn"},
        {"*mesh_vertexNormal 0 0 0 1", "vn"},
        {"*MESH_VERTEXNORMALS 0 0 0 1", ""},
        {"*MESH_VERTEXNORMAK 0 0 0 1", ""},
        {"*MESH_MTLID 0 1 2 3", ""},  // a face's column, not a list
    };
    for (const auto& c : cases) {
        const OneLine read(c.line);
        EXPECT_EQ(ListOf(read.Mesh()), c.list) << c.line;
    }
}

TEST(TolerantWords, FaceColumnsAndLabelsInAnyCase)
{
    const struct {
        const char* line;
        bool read;
        std::array<std::int64_t, 3> corners;
        const char* edges;  // AB, BC, CA as written, "-" for none
        const char* smoothing;
        const char* materialId;
    } cases[] = {
        {"*MESH_FACE 0: A: 4 B: 5 C: 6 AB: 1 BC: 0 CA: 1 *MESH_SMOOTHING 2 *MESH_MTLID 3", true, {4, 5, 6}, "101", "2",
         "3"},
        {"*MESH_FACE 0: a: 4 b: 5 c: 6 ab: 1 Bc: 0 cA: 1 *mesh_smoothing 2 *Mesh_MtlId 3", true, {4, 5, 6}, "101", "2",
         "3"},
        {"*MESH_FACE 0: C: 6 A: 4 B: 5", true, {4, 5, 6}, "---", "", ""},
        {"*MESH_FACE 0: A: 4 B: 5 D: 6", false, {}, "", "", ""},
        {"*MESH_FACE 0: A: 4 B: 5 C: 6 AC: 1 CB: 0 BA: 1 ABC: 1", true, {4, 5, 6}, "---", "", ""},
        {"*MESH_FACE 0: A: 4 B: 5 C: 6 *MESH_SMOOTHINGS 2 *MESH_MTLIF 3", true, {4, 5, 6}, "---", "", ""},
    };
    for (const auto& c : cases) {
        const OneLine read(c.line);
        const MeshLists& mesh = read.Mesh();
        ASSERT_EQ(mesh.faces.size(), c.read ? 1u : 0u) << c.line;
        if (!c.read)
            continue;
        const tolerant::FaceLine& face = mesh.faces[0];
        EXPECT_EQ(face.corner, c.corners) << c.line;
        std::string edges;
        for (std::string_view edge : face.edge)
            edges += edge.empty() ? "-" : std::string(edge);
        EXPECT_EQ(edges, c.edges) << c.line;
        EXPECT_EQ(face.smoothing, c.smoothing) << c.line;
        EXPECT_EQ(face.materialId, c.materialId) << c.line;
    }
}

TEST(TolerantWords, NodeNamesAndTheCommentInAnyCase)
{
    for (const char* keyword : {"*NODE_NAME", "*node_name", "*Node_Name"}) {
        const std::string text = std::string("*comment \"c\"\n*GEOMOBJECT {\n") + keyword + " \"Box\"\n}\n";
        const Scene scene = ReadScene(text);
        ASSERT_EQ(scene.nodes.size(), 1u) << keyword;
        EXPECT_EQ(scene.nodes[0].name, "Box") << keyword;
        EXPECT_EQ(scene.comment, "c") << keyword;
    }
    const std::string misspelt = "*GEOMOBJECT {\n*NODE_NAMF \"Box\"\n}\n";
    EXPECT_FALSE(ReadScene(misspelt).nodes.at(0).named);
}

}  // namespace
}  // namespace ase2sgl
