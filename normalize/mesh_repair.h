// The meshes as normalize puts them in order and repairs them, before they are
// written: the lists taken in number order, faces naming a vertex outside the
// vertex list left out, texture faces matched to the kept faces (a placeholder
// texture vertex for corners none reaches), corner normals taken from the input
// (per face, or per vertex as q3map2 lists them) or computed by smoothing group.
// The text writer (normalize.cpp) and sgltool's bundle route (tools/mesh_records.h)
// both start from this, so that the two give the same meshes; and the value rules
// below say which text a value is written as, which both read the same way.
#pragma once

#include "tolerant/scene.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

namespace ase2sgl::normalize {

using tolerant::FaceLine;
using tolerant::FaceNormal;
using tolerant::MeshLists;
using tolerant::SceneNode;
using tolerant::TexFaceLine;
using tolerant::ValueText;
using tolerant::VertexLine;
using tolerant::VertexNormal;

inline constexpr std::size_t kMaxValueText = 40;
inline constexpr std::string_view kPlaceholderTexVertex = "0.0000\t-0.0000\t0.0000";

// A decimal the converter reads exactly as a float parser does: -?d+(.d+)?([eE][+-]?d+)?
inline bool IsPlainDecimal(std::string_view text)
{
    std::size_t i = 0;
    auto digits = [&] {
        const std::size_t start = i;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9')
            ++i;
        return i > start;
    };
    if (i < text.size() && text[i] == '-')
        ++i;
    if (!digits())
        return false;
    if (i < text.size() && text[i] == '.') {
        ++i;
        if (!digits())
            return false;
    }
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        if (i < text.size() && (text[i] == '+' || text[i] == '-'))
            ++i;
        if (!digits())
            return false;
    }
    return i == text.size();
}

inline bool ParseValue(std::string_view text, double& value)
{
    if (!text.empty() && text[0] == '+')
        text.remove_prefix(1);
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size() && std::isfinite(value);
}

// A small non-negative integer, or `fallback` when the text is none.
inline std::int64_t IntegerOr(std::string_view text, std::int64_t max, std::int64_t fallback)
{
    if (text.size() == 1 && text[0] >= '0' && text[0] <= '9')  // most are one digit: an edge flag, a material
        return text[0] - '0' <= max ? text[0] - '0' : fallback;
    std::int64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size() && value >= 0 && value <= max ? value : fallback;
}

inline double ValueOf(std::string_view text)
{
    double value = 0.0;
    return ParseValue(text, value) ? value : 0.0;
}

// Room for the text of a value that is not copied as it stands.
inline constexpr std::size_t kValueTextRoom = 64;

// The text a value is written as: the value's own text when the converter reads it
// as written, else the value printed with nine significant digits into `room`;
// empty when the text is no number at all (written as 0.0000 and counted).
inline std::string_view ValueTextOf(std::string_view text, char (&room)[kValueTextRoom])
{
    if (IsPlainDecimal(text) && text.size() <= kMaxValueText)
        return text;
    double value = 0.0;
    if (!ParseValue(text, value))
        return {};
    const int length = std::snprintf(room, sizeof room, "%.9g", value);
    return {room, static_cast<std::size_t>(length)};
}
inline constexpr std::string_view kUnreadableValueText = "0.0000";

// A computed value (a normal's component) as written: four decimals.
inline std::string_view FixedText(double value, char (&room)[kValueTextRoom])
{
    const int length = std::snprintf(room, sizeof room, "%.4f", value);
    return {room, static_cast<std::size_t>(length)};
}

// Values that are no number, counted for the report's one note about them.
struct UnreadableValues {
    std::int64_t count = 0;
    std::int32_t firstLine = 0;
    void Add(std::int32_t line)
    {
        if (count++ == 0)
            firstLine = line;
    }
};

// Entry numbers of a list, slot by slot: by each entry's own number when the
// numbers are distinct and lie within the list, otherwise in line order.
template <typename Entry>
inline std::vector<std::int64_t> OrderByNumber(const std::vector<Entry>& entries, std::size_t slots, bool& broken)
{
    std::vector<std::int64_t> order(slots, -1);
    broken = false;
    for (std::size_t i = 0; i < entries.size() && !broken; ++i) {
        const std::int64_t number = entries[i].number;
        if (number < 0 || static_cast<std::size_t>(number) >= slots || order[static_cast<std::size_t>(number)] != -1)
            broken = true;
        else
            order[static_cast<std::size_t>(number)] = static_cast<std::int64_t>(i);
    }
    if (broken) {
        std::fill(order.begin(), order.end(), -1);
        for (std::size_t i = 0; i < std::min(slots, entries.size()); ++i)
            order[i] = static_cast<std::int64_t>(i);
    }
    return order;
}

using Vector = std::array<double, 3>;

// The cross product of a face's edges AB and AC: its normal, as long as twice its area.
inline Vector FaceCross(const MeshLists& mesh, const std::vector<std::int64_t>& vertexOrder, const FaceLine& face)
{
    std::array<std::array<double, 3>, 3> p{};
    for (std::size_t c = 0; c < 3; ++c) {
        const VertexLine& v =
            mesh.vertices[static_cast<std::size_t>(vertexOrder[static_cast<std::size_t>(face.corner[c])])];
        for (std::size_t k = 0; k < 3; ++k)
            p[c][k] = ValueOf(v.value[k]);
    }
    const Vector u{p[1][0] - p[0][0], p[1][1] - p[0][1], p[1][2] - p[0][2]};
    const Vector w{p[2][0] - p[0][0], p[2][1] - p[0][1], p[2][2] - p[0][2]};
    return {u[1] * w[2] - u[2] * w[1], u[2] * w[0] - u[0] * w[2], u[0] * w[1] - u[1] * w[0]};
}

// Of unit length, or zero when it has no direction.
inline Vector Unit(Vector n)
{
    const double length = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
    if (!(length > 0.0) || !std::isfinite(length))
        return {0.0, 0.0, 0.0};
    for (double& component : n)
        component /= length;
    return n;
}

inline Vector FaceNormalOf(const MeshLists& mesh, const std::vector<std::int64_t>& vertexOrder, const FaceLine& face)
{
    return Unit(FaceCross(mesh, vertexOrder, face));
}

// A mesh put in order: faces that name a vertex outside the list are left out.
struct OrderedMesh {
    std::vector<std::int64_t> vertexOrder, texVertexOrder, faceOrder, texFaceOrder, normalOrder;
    std::vector<std::size_t> keptFaces;  // slots of faceOrder that are written
};

inline OrderedMesh OrderMesh(const SceneNode& node, std::vector<tolerant::Note>& notes)
{
    const MeshLists& mesh = node.mesh;
    OrderedMesh ordered;
    bool broken = false;
    auto order = [&](const auto& entries, std::size_t slots, const char* list) {
        auto result = OrderByNumber(entries, slots, broken);
        if (broken)
            notes.push_back({node.meshLine, std::string("numbers of the ") + list +
                                                 " list out of order or repeated: read in line order"});
        return result;
    };
    ordered.vertexOrder = order(mesh.vertices, mesh.vertices.size(), "vertex");
    ordered.texVertexOrder = order(mesh.texVertices, mesh.texVertices.size(), "texture-vertex");
    ordered.faceOrder = order(mesh.faces, mesh.faces.size(), "face");
    ordered.texFaceOrder = order(mesh.texFaces, mesh.faces.size(), "texture-face");
    ordered.normalOrder = order(mesh.faceNormals, mesh.faces.size(), "face-normal");
    std::int64_t outside = 0;
    std::int32_t firstOutside = 0;
    for (std::size_t slot = 0; slot < ordered.faceOrder.size(); ++slot) {
        const FaceLine& face = mesh.faces[static_cast<std::size_t>(ordered.faceOrder[slot])];
        const bool inside = std::all_of(face.corner.begin(), face.corner.end(), [&](std::int64_t v) {
            return v >= 0 && static_cast<std::size_t>(v) < mesh.vertices.size();
        });
        if (inside) {
            ordered.keptFaces.push_back(slot);
        } else if (outside++ == 0) {
            firstOutside = face.line;
        }
    }
    if (outside > 0)
        notes.push_back({firstOutside, std::to_string(outside) + " face(s) naming a vertex outside the vertex list left out"});
    return ordered;
}

// Texture vertices and texture faces. A mesh without them, and every corner whose
// texture face is missing or names no texture vertex, gets one extra texture vertex
// (0, 0) written with V as -0, which is what the converter stores for a corner that
// no texture face reaches.
struct TextureFaces {
    std::vector<std::array<std::int64_t, 3>> corners;  // per kept face
    std::int64_t missing = 0;  // kept faces without a texture face
    std::int64_t outside = 0;  // corners naming no texture vertex
    bool NeedPlaceholder() const { return missing > 0 || outside > 0; }
};

inline TextureFaces MatchTextureFaces(const MeshLists& mesh, const OrderedMesh& ordered)
{
    const std::size_t texCount = mesh.texVertices.size();
    const auto placeholder = static_cast<std::int64_t>(texCount);
    TextureFaces result;
    result.corners.reserve(ordered.keptFaces.size());
    for (std::size_t slot : ordered.keptFaces) {
        std::array<std::int64_t, 3> corners{placeholder, placeholder, placeholder};
        const std::int64_t entry = ordered.texFaceOrder[slot];
        if (entry < 0 || texCount == 0) {
            ++result.missing;
        } else {
            const TexFaceLine& texFace = mesh.texFaces[static_cast<std::size_t>(entry)];
            for (std::size_t c = 0; c < 3; ++c) {
                if (texFace.corner[c] >= 0 && static_cast<std::size_t>(texFace.corner[c]) < texCount)
                    corners[c] = texFace.corner[c];
                else
                    ++result.outside;
            }
        }
        result.corners.push_back(corners);
    }
    return result;
}

inline void NoteTextureRepairs(std::vector<tolerant::Note>& notes, const SceneNode& node, const TextureFaces& faces)
{
    const std::size_t texCount = node.mesh.texVertices.size();
    if (texCount == 0)
        notes.push_back({node.meshLine, "no texture coordinates: every corner given (0, 0)"});
    else if (faces.missing > 0)
        notes.push_back({node.meshLine, std::to_string(faces.missing) + " face(s) without a texture face: given (0, 0)"});
    if (texCount > 0 && faces.outside > 0)
        notes.push_back({node.meshLine, std::to_string(faces.outside) +
                                         " texture-face corner(s) naming no texture vertex: given (0, 0)"});
}

// Where a face's corner normals come from. Most exporters follow each face-normal
// line with the vertex normals of its corners A, B and C; q3map2 instead lists one
// vertex normal per vertex number after all the face normals.
struct NormalSource {
    bool perFace = false;
    std::vector<std::int64_t> byVertex;  // vertex number -> vertex-normal entry, or -1
};

inline NormalSource FindNormalSource(const MeshLists& mesh)
{
    NormalSource source;
    source.perFace = !mesh.faceNormals.empty() &&
                     std::all_of(mesh.faceNormals.begin(), mesh.faceNormals.end(),
                                 [](const FaceNormal& normal) { return normal.vertexNormalCount == 3; });
    if (source.perFace || mesh.vertexNormals.empty())
        return source;
    source.byVertex.assign(mesh.vertices.size(), -1);
    for (std::size_t i = 0; i < mesh.vertexNormals.size(); ++i) {
        const std::int64_t vertex =
            IntegerOr(mesh.vertexNormals[i].number, std::numeric_limits<std::int32_t>::max(), -1);
        if (vertex >= 0 && static_cast<std::size_t>(vertex) < source.byVertex.size() &&
            source.byVertex[static_cast<std::size_t>(vertex)] < 0)
            source.byVertex[static_cast<std::size_t>(vertex)] = static_cast<std::int64_t>(i);
    }
    return source;
}

// The vertex-normal entries of a face's corners A, B and C, if the input has them.
inline bool CornerNormals(const MeshLists& mesh, const NormalSource& source, const FaceLine& face, std::int64_t normalEntry,
                   std::array<std::size_t, 3>& corners)
{
    if (source.perFace) {
        if (normalEntry < 0)
            return false;
        const FaceNormal& normal = mesh.faceNormals[static_cast<std::size_t>(normalEntry)];
        for (std::size_t c = 0; c < 3; ++c)
            corners[c] = normal.firstVertexNormal + c;
        return true;
    }
    if (source.byVertex.empty())
        return false;
    for (std::size_t c = 0; c < 3; ++c) {
        const std::int64_t entry = source.byVertex[static_cast<std::size_t>(face.corner[c])];
        if (entry < 0)
            return false;
        corners[c] = static_cast<std::size_t>(entry);
    }
    return true;
}

// The smoothing groups of a face as bits: "*MESH_SMOOTHING 1,3" puts it in groups 1
// and 3. Groups are numbered from 1; no number (an empty value, 0) is no group.
inline std::uint64_t SmoothingMask(std::string_view text)
{
    std::uint64_t mask = 0;
    for (std::size_t start = 0; start <= text.size();) {
        const std::size_t comma = std::min(text.find(',', start), text.size());
        const std::int64_t group = IntegerOr(text.substr(start, comma - start), 64, 0);
        if (group >= 1)
            mask |= std::uint64_t{1} << (group - 1);
        start = comma + 1;
    }
    return mask;
}

// Corner normals computed as modelling tools show them: smooth within a smoothing
// group, hard across groups. A corner's normal is the sum of the normals of the
// faces round its vertex that share a group with its face, each as long as the
// face is large, made unit length. A face in no group is flat.
class SmoothNormals {
  public:
    SmoothNormals(const MeshLists& mesh, const OrderedMesh& ordered)
    {
        const std::size_t faces = ordered.keptFaces.size();
        std::vector<std::vector<std::pair<std::uint64_t, Vector>>> round(mesh.vertices.size());
        for (std::size_t k = 0; k < faces; ++k) {
            const FaceLine& face = FaceAt(mesh, ordered, k);
            const std::uint64_t mask = SmoothingMask(face.smoothing);
            if (mask == 0)
                continue;
            const Vector cross = FaceCross(mesh, ordered.vertexOrder, face);
            for (std::int64_t v : face.corner)
                Accumulate(round[static_cast<std::size_t>(v)], mask, cross);
        }
        round_ = std::move(round);
    }

    // The normal of face `face`'s corner at vertex `vertex`, or `flat` when the face
    // is in no group or the sum has no direction.
    Vector At(const FaceLine& face, std::int64_t vertex, const Vector& flat) const
    {
        const std::uint64_t mask = SmoothingMask(face.smoothing);
        Vector sum{0.0, 0.0, 0.0};
        for (const auto& [groups, normal] : round_[static_cast<std::size_t>(vertex)])
            if ((groups & mask) != 0)
                for (std::size_t i = 0; i < 3; ++i)
                    sum[i] += normal[i];
        const Vector unit = Unit(sum);
        // Faces of one plane give the flat normal again: written as the flat one, so
        // that a rounding (a zero's sign) does not change the text.
        const bool asFlat = std::abs(unit[0] - flat[0]) < 1e-9 && std::abs(unit[1] - flat[1]) < 1e-9 &&
                            std::abs(unit[2] - flat[2]) < 1e-9;
        return mask == 0 || asFlat || unit == Vector{0.0, 0.0, 0.0} ? flat : unit;
    }

    static const FaceLine& FaceAt(const MeshLists& mesh, const OrderedMesh& ordered, std::size_t k)
    {
        return mesh.faces[static_cast<std::size_t>(ordered.faceOrder[ordered.keptFaces[k]])];
    }

  private:
    // Faces of the same groups round a vertex are summed at once, so that a corner
    // looks at each distinct set of groups once, not at each face.
    static void Accumulate(std::vector<std::pair<std::uint64_t, Vector>>& sums, std::uint64_t mask, const Vector& n)
    {
        for (auto& [groups, sum] : sums) {
            if (groups == mask) {
                for (std::size_t i = 0; i < 3; ++i)
                    sum[i] += n[i];
                return;
            }
        }
        sums.emplace_back(mask, n);
    }

    std::vector<std::vector<std::pair<std::uint64_t, Vector>>> round_;  // per vertex: groups, summed normal
};

// The note of a mesh whose corner normals were computed for some faces, `smoothed`
// of them within their smoothing groups.
inline void NoteComputedNormals(std::vector<tolerant::Note>& notes, std::int32_t line, std::int64_t computed,
                                std::int64_t smoothed)
{
    if (computed == 0)
        return;
    notes.push_back({line, "normals computed for " + std::to_string(computed) + " face(s) (" +
                               (smoothed == 0           ? std::string("flat face normals")
                                : smoothed == computed ? std::string("smooth within their smoothing groups")
                                                       : std::to_string(smoothed) +
                                                             " smooth within their smoothing groups, the others flat") +
                               ")"});
}

// Where each mesh goes instead of its text, when NormalizeOptions::meshes names
// it: every mesh the text would hold, in file order, as put in order here. The
// target adds the notes the writing of the mesh adds (texture repairs, computed
// normals, after the ordering's), counts the values that are no number (the node's
// transform first, at the node's line, then the mesh's, at its mesh line), and
// gives the number of faces whose corner normals were computed.
class MeshTarget {
  public:
    virtual ~MeshTarget() = default;
    virtual std::int64_t Mesh(const SceneNode& node, const OrderedMesh& ordered, std::vector<tolerant::Note>& notes,
                              UnreadableValues& unreadable) = 0;
};

}  // namespace ase2sgl::normalize
