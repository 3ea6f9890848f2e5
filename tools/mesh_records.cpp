// What ase2sgl makes of one mesh in the normalized layout, without the text:
//   - its name: the node header line "\t*NODE_NAME \"name\"" taken as the counting
//     read takes it (upper-cased, at most 254 bytes);
//   - vertex v's position: the three values of vertex line v, first, third, second;
//   - texture vertex t: U and V of texture-vertex line t (V kept negated, as the
//     corner records hold it); the placeholder line's for corners no texture face
//     reaches;
//   - corners A, B, C of each face, in face order: their vertex's position, their
//     texture vertex's U and V, and the three values of their vertex-normal line,
//     first, third, second.
// Each value is read with the converter's own float reader from the text the
// writer would give it, so the floats are the text route's bit for bit.
#include "tools/mesh_records.h"

#include "ase/mesh_tables.h"
#include "ase/scan_fields.h"
#include "common/format_limits.h"

#include <limits>
#include <optional>

namespace ase2sgl::tools {

namespace {

using normalize::OrderedMesh;
using normalize::SceneNode;
using normalize::UnreadableValues;

// The float the converter reads from a value's text as normalize writes it.
float ReadWritten(std::string_view written)
{
    float value = 0.0f;
    scan::ScanFloat(written.data(), written.data() + written.size(), value);
    return value;
}

// A value of the input as the converter reads it once normalize has written it;
// one that is no number is written as 0.0000 and counted at `line`.
float ReadValue(std::string_view text, std::int32_t line, UnreadableValues& unreadable)
{
    char room[normalize::kValueTextRoom];
    std::string_view written = normalize::ValueTextOf(text, room);
    if (written.empty()) {
        unreadable.Add(line);
        written = normalize::kUnreadableValueText;
    }
    return ReadWritten(written);
}

// Counts a value that is written but not read into the bundle (a transform, a face
// normal, a texture vertex's W), as its writing counts it.
void CountValue(std::string_view text, std::int32_t line, UnreadableValues& unreadable)
{
    char room[normalize::kValueTextRoom];
    if (normalize::ValueTextOf(text, room).empty())
        unreadable.Add(line);
}

// A computed normal's component as the converter reads its four decimals.
float ReadFixed(double value)
{
    char room[normalize::kValueTextRoom];
    return ReadWritten(normalize::FixedText(value, room));
}

// U and -V of the placeholder texture vertex.
std::array<float, 2> PlaceholderTexcoord()
{
    const std::string_view text = normalize::kPlaceholderTexVertex;
    const std::size_t tab = text.find('\t');
    const std::size_t next = text.find('\t', tab + 1);
    return {ReadWritten(text.substr(0, tab)), -ReadWritten(text.substr(tab + 1, next - tab - 1))};
}

// Whether the converter reads the node header line holding `name` as one line
// that ends with the closing quote.
bool NameStaysOnItsLine(std::string_view name)
{
    return name.find_first_of(std::string_view("\n\0\x1a", 3)) == std::string_view::npos;
}

}  // namespace

MeshRecords::MeshRecords(BundleWriter& bundle, std::function<void(std::uint64_t)> reserve)
    : bundle_(bundle), room_(std::move(reserve))
{
}

std::int64_t MeshRecords::Mesh(const SceneNode& node, const OrderedMesh& ordered, std::vector<tolerant::Note>& notes,
                               UnreadableValues& unreadable)
{
    const normalize::MeshLists& mesh = node.mesh;
    constexpr std::uint64_t kMaxCount = std::numeric_limits<std::int32_t>::max();
    if (!NameStaysOnItsLine(node.name) || mesh.vertices.size() > kMaxCount || mesh.texVertices.size() >= kMaxCount ||
        ordered.keptFaces.size() > kMaxCount / 3)
        throw TakeTheTextRoute{};
    if (node.hasTransform)
        for (const normalize::ValueText& row : node.transform)
            for (const std::string_view value : row)
                CountValue(value, node.line, unreadable);

    positions_.resize(mesh.vertices.size());
    for (std::size_t v = 0; v < mesh.vertices.size(); ++v) {
        const normalize::ValueText& value =
            mesh.vertices[static_cast<std::size_t>(ordered.vertexOrder[v])].value;
        const float x = ReadValue(value[0], node.meshLine, unreadable);
        const float y = ReadValue(value[1], node.meshLine, unreadable);
        const float z = ReadValue(value[2], node.meshLine, unreadable);
        positions_[v] = {x, z, y};
    }

    const normalize::TextureFaces faces = normalize::MatchTextureFaces(mesh, ordered);
    normalize::NoteTextureRepairs(notes, node, faces);
    const std::size_t texCount = mesh.texVertices.size();
    texcoords_.resize(texCount + (faces.NeedPlaceholder() ? 1 : 0));
    for (std::size_t t = 0; t < texCount; ++t) {
        const normalize::ValueText& value =
            mesh.texVertices[static_cast<std::size_t>(ordered.texVertexOrder[t])].value;
        const float u = ReadValue(value[0], node.meshLine, unreadable);
        const float v = ReadValue(value[1], node.meshLine, unreadable);
        if (!value[2].empty())
            CountValue(value[2], node.meshLine, unreadable);
        texcoords_[t] = {u, -v};
    }
    if (faces.NeedPlaceholder())
        texcoords_[texCount] = PlaceholderTexcoord();

    // Corner normals as the text gives them: the input's where it has them for a
    // face, else computed (smooth by group, or flat) and read back from four decimals.
    const normalize::NormalSource source = normalize::FindNormalSource(mesh);
    std::optional<normalize::SmoothNormals> smooth;
    std::int64_t computed = 0, smoothed = 0;
    corners_.resize(ordered.keptFaces.size() * 3);
    for (std::size_t k = 0; k < ordered.keptFaces.size(); ++k) {
        const normalize::FaceLine& face = normalize::SmoothNormals::FaceAt(mesh, ordered, k);
        CornerRecord* corner = &corners_[3 * k];
        for (std::size_t c = 0; c < 3; ++c) {
            const std::array<float, 3>& position = positions_[static_cast<std::size_t>(face.corner[c])];
            const std::array<float, 2>& uv = texcoords_[static_cast<std::size_t>(faces.corners[k][c])];
            corner[c] = {{position[0], position[1], position[2]}, {0.0f, 0.0f, 0.0f}, {uv[0], uv[1]}};
        }
        const std::int64_t normalEntry = ordered.normalOrder[ordered.keptFaces[k]];
        if (normalEntry >= 0)
            for (const std::string_view value : mesh.faceNormals[static_cast<std::size_t>(normalEntry)].value)
                CountValue(value, node.meshLine, unreadable);
        std::array<std::size_t, 3> given{};
        if (normalize::CornerNormals(mesh, source, face, normalEntry, given)) {
            for (std::size_t c = 0; c < 3; ++c) {
                const normalize::ValueText& value = mesh.vertexNormals[given[c]].value;
                const float x = ReadValue(value[0], node.meshLine, unreadable);
                const float y = ReadValue(value[1], node.meshLine, unreadable);
                const float z = ReadValue(value[2], node.meshLine, unreadable);
                corner[c].normal[0] = x;
                corner[c].normal[1] = z;
                corner[c].normal[2] = y;
            }
            continue;
        }
        if (!smooth)
            smooth.emplace(mesh, ordered);
        ++computed;
        smoothed += normalize::SmoothingMask(face.smoothing) != 0 ? 1 : 0;
        const normalize::Vector flat = normalize::FaceNormalOf(mesh, ordered.vertexOrder, face);
        for (std::size_t c = 0; c < 3; ++c) {
            const normalize::Vector normal = smooth->At(face, face.corner[c], flat);
            corner[c].normal[0] = ReadFixed(normal[0]);
            corner[c].normal[1] = ReadFixed(normal[2]);
            corner[c].normal[2] = ReadFixed(normal[1]);
        }
    }
    normalize::NoteComputedNormals(notes, node.meshLine, computed, smoothed);

    room_.Record(corners_.size());
    const std::string header = "\t*NODE_NAME \"" + std::string(node.name) + "\"";
    bundle_.WriteObject(NameText(header), corners_);
    ++objects_;
    return computed;
}

}  // namespace ase2sgl::tools
