// What the tolerant reader takes from an ASE file: its nodes in file order, each
// mesh's lists as they were written (numbers and values still as text, so that a
// value written back reads as the same float), and what was passed over.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace ase2sgl::normalize {

using ValueText = std::array<std::string_view, 3>;
inline constexpr std::int64_t kNoNumber = -1;

struct VertexLine {  // *MESH_VERTEX, *MESH_TVERT
    std::int64_t number = kNoNumber;
    ValueText value;
};

struct FaceLine {  // *MESH_FACE
    std::int64_t number = kNoNumber;
    std::array<std::int64_t, 3> corner{};
    std::array<std::string_view, 3> edge;  // AB, BC, CA when given
    std::string_view smoothing, materialId;
    std::int32_t line = 0;
};

struct TexFaceLine {  // *MESH_TFACE
    std::int64_t number = kNoNumber;
    std::array<std::int64_t, 3> corner{};
};

struct FaceNormal {  // *MESH_FACENORMAL and the *MESH_VERTEXNORMAL lines after it
    std::int64_t number = kNoNumber;
    ValueText value;
    std::size_t firstVertexNormal = 0, vertexNormalCount = 0;
};

struct VertexNormal {
    std::string_view number;
    ValueText value;
};

struct MeshLists {
    std::vector<VertexLine> vertices, texVertices;
    std::vector<FaceLine> faces;
    std::vector<TexFaceLine> texFaces;
    std::vector<FaceNormal> faceNormals;
    std::vector<VertexNormal> vertexNormals;
};

enum class NodeKind { kGeometry, kCamera, kLight, kHelper, kShape };

struct SceneNode {
    NodeKind kind = NodeKind::kGeometry;
    std::string_view keyword;  // as written, e.g. *GEOMOBJECT
    std::string_view name;
    bool named = false;
    std::int32_t line = 0;
    std::array<ValueText, 4> transform;  // *TM_ROW0 .. *TM_ROW3 of *NODE_TM
    bool hasTransform = false;
    bool hasMesh = false;
    std::int32_t meshLine = 0;
    MeshLists mesh;
};

// One note of the report: what was passed over or repaired, and where.
struct Note {
    std::int32_t line = 0;
    std::string text;
};

struct Scene {
    std::string_view comment;
    std::vector<SceneNode> nodes;
    std::vector<Note> notes;
    bool stoppedAtCtrlZ = false;
};

// Reads the node structure of any exporter's ASE text. One pass over the tokens
// with an explicit stack of open blocks: no recursion, linear time, and nothing is
// allocated but what the tokens read so far hold.
Scene ReadScene(std::string_view text);

}  // namespace ase2sgl::normalize
