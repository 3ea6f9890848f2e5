// Normalize: the tolerant reading (scene_reader.cpp) written back in the layout of
// 3ds Max's ASCII exporter, the only one the converter reads. Each list is written
// in number order, complete, and closed by a brace line, which is what keeps the
// converter's line-by-line searches inside their own object:
//   vertex lines   "\t\t\t*MESH_VERTEX %4d\t" x y z          (numbers right-aligned in 4)
//   face lines     "\t\t\t*MESH_FACE %4d:    A:%5d B:%5d C:%5d AB:..."
//   texture lines  "\t\t\t*MESH_TVERT %d\t" u v w   and  "\t\t\t*MESH_TFACE %d\t%d\t%d\t%d"
//   normals        "\t\t*MESH_NORMALS {", per face one "\t\t\t*MESH_FACENORMAL" line and
//                  three "\t\t\t\t*MESH_VERTEXNORMAL" lines for corners A, B and C.
// Values are copied as their text when the converter reads that text as written,
// so a file already in this layout gives the same floats.
#include "normalize/normalize.h"

#include "normalize/ase_text.h"
#include "normalize/scene.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>

namespace ase2sgl::normalize {
namespace {

constexpr std::size_t kMaxOutputBytes = 2147483647;  // the converter's positions are 32-bit
constexpr std::int64_t kMaxObjects = 5000;           // what a bundle holds
constexpr std::size_t kMaxValueText = 40;
constexpr std::string_view kPlaceholderTexVertex = "0.0000\t-0.0000\t0.0000";

// A decimal the converter reads exactly as a float parser does: -?d+(.d+)?([eE][+-]?d+)?
bool IsPlainDecimal(std::string_view text)
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

bool ParseValue(std::string_view text, double& value)
{
    if (!text.empty() && text[0] == '+')
        text.remove_prefix(1);
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size() && std::isfinite(value);
}

// A small non-negative integer, or `fallback` when the text is none.
std::int64_t IntegerOr(std::string_view text, std::int64_t max, std::int64_t fallback)
{
    std::int64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size() && value >= 0 && value <= max ? value : fallback;
}

double ValueOf(std::string_view text)
{
    double value = 0.0;
    return ParseValue(text, value) ? value : 0.0;
}

class Writer {
  public:
    explicit Writer(NormalizeReport& report) : report_(report) {}
    std::string out;
    std::int64_t unreadableValues = 0;
    std::int32_t firstUnreadableLine = 0;

    void Text(std::string_view text) { out.append(text); }
    void Integer(std::int64_t value) { out.append(std::to_string(value)); }
    void Padded(std::int64_t value, int width)
    {
        char buffer[32];
        const int length = std::snprintf(buffer, sizeof buffer, "%*lld", width, static_cast<long long>(value));
        out.append(buffer, static_cast<std::size_t>(length));
    }
    void Fixed(double value)
    {
        char buffer[64];
        const int length = std::snprintf(buffer, sizeof buffer, "%.4f", value);
        out.append(buffer, static_cast<std::size_t>(length));
    }
    void Value(std::string_view text, std::int32_t line)
    {
        if (IsPlainDecimal(text) && text.size() <= kMaxValueText) {
            out.append(text);
            return;
        }
        double value = 0.0;
        if (ParseValue(text, value)) {
            char buffer[64];
            const int length = std::snprintf(buffer, sizeof buffer, "%.9g", value);
            out.append(buffer, static_cast<std::size_t>(length));
            return;
        }
        if (unreadableValues++ == 0)
            firstUnreadableLine = line;
        out.append("0.0000");
    }
    void Values(const ValueText& values, std::int32_t line)
    {
        for (std::size_t i = 0; i < 3; ++i) {
            Text("\t");
            Value(values[i], line);
        }
    }
    void Note(std::int32_t line, std::string text) { report_.notes.push_back({line, std::move(text)}); }

  private:
    NormalizeReport& report_;
};

// Entry numbers of a list, slot by slot: by each entry's own number when the
// numbers are distinct and lie within the list, otherwise in line order.
template <typename Entry>
std::vector<std::int64_t> OrderByNumber(const std::vector<Entry>& entries, std::size_t slots, bool& broken)
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

std::array<double, 3> FaceNormalOf(const MeshLists& mesh, const std::vector<std::int64_t>& vertexOrder,
                                   const FaceLine& face)
{
    std::array<std::array<double, 3>, 3> p{};
    for (std::size_t c = 0; c < 3; ++c) {
        const VertexLine& v =
            mesh.vertices[static_cast<std::size_t>(vertexOrder[static_cast<std::size_t>(face.corner[c])])];
        for (std::size_t k = 0; k < 3; ++k)
            p[c][k] = ValueOf(v.value[k]);
    }
    const std::array<double, 3> u{p[1][0] - p[0][0], p[1][1] - p[0][1], p[1][2] - p[0][2]};
    const std::array<double, 3> w{p[2][0] - p[0][0], p[2][1] - p[0][1], p[2][2] - p[0][2]};
    std::array<double, 3> n{u[1] * w[2] - u[2] * w[1], u[2] * w[0] - u[0] * w[2], u[0] * w[1] - u[1] * w[0]};
    const double length = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
    if (!(length > 0.0) || !std::isfinite(length))
        return {0.0, 0.0, 0.0};
    for (double& component : n)
        component /= length;
    return n;
}

// A mesh put in order: faces that name a vertex outside the list are left out.
struct OrderedMesh {
    std::vector<std::int64_t> vertexOrder, texVertexOrder, faceOrder, texFaceOrder, normalOrder;
    std::vector<std::size_t> keptFaces;  // slots of faceOrder that are written
};

OrderedMesh OrderMesh(const SceneNode& node, Writer& writer)
{
    const MeshLists& mesh = node.mesh;
    OrderedMesh ordered;
    bool broken = false;
    auto order = [&](const auto& entries, std::size_t slots, const char* list) {
        auto result = OrderByNumber(entries, slots, broken);
        if (broken)
            writer.Note(node.meshLine,
                        std::string("numbers of the ") + list + " list out of order or repeated: read in line order");
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
        writer.Note(firstOutside,
                    std::to_string(outside) + " face(s) naming a vertex outside the vertex list left out");
    return ordered;
}

void WriteNodeHeader(Writer& w, const SceneNode& node, std::string_view keyword)
{
    w.Text(keyword);
    w.Text(" {\n\t*NODE_NAME \"");
    w.Text(node.name);
    w.Text("\"\n");
    if (node.hasTransform) {
        w.Text("\t*NODE_TM {\n\t\t*NODE_NAME \"");
        w.Text(node.name);
        w.Text("\"\n");
        for (std::size_t row = 0; row < 4; ++row) {
            w.Text("\t\t*TM_ROW");
            w.Integer(static_cast<std::int64_t>(row));
            w.Text(" ");
            for (std::size_t i = 0; i < 3; ++i) {
                if (i > 0)
                    w.Text("\t");
                w.Value(node.transform[row][i], node.line);
            }
            w.Text("\n");
        }
        w.Text("\t}\n");
    }
}

std::string_view SmoothingText(std::string_view text)
{
    const bool plain = text.size() <= 64 &&
                       std::all_of(text.begin(), text.end(), [](char c) { return (c >= '0' && c <= '9') || c == ','; });
    return plain ? text : std::string_view();
}

void WriteFaces(Writer& w, const MeshLists& mesh, const OrderedMesh& ordered)
{
    w.Text("\t\t*MESH_FACE_LIST {\n");
    std::int64_t f = 0;
    for (std::size_t slot : ordered.keptFaces) {
        const FaceLine& face = mesh.faces[static_cast<std::size_t>(ordered.faceOrder[slot])];
        w.Text("\t\t\t*MESH_FACE ");
        w.Padded(f++, 4);
        w.Text(":");
        static constexpr std::string_view kLabels[] = {"    A:", " B:", " C:", " AB:", " BC:", " CA:"};
        for (std::size_t c = 0; c < 6; ++c) {
            // Edge visibility flags default to visible when the exporter left them out.
            const std::int64_t value = c < 3 ? face.corner[c] : IntegerOr(face.edge[c - 3], 1, 1);
            w.Text(kLabels[c]);
            w.Padded(value, 5);
        }
        w.Text("\t *MESH_SMOOTHING ");
        w.Text(SmoothingText(face.smoothing));
        w.Text(" \t*MESH_MTLID ");
        w.Integer(IntegerOr(face.materialId, std::numeric_limits<std::int32_t>::max(), 0));
        w.Text("\n");
    }
    w.Text("\t\t}\n");
}

// Texture vertices and texture faces. A mesh without them, and every corner whose
// texture face is missing or names no texture vertex, gets one extra texture vertex
// (0, 0) written with V as -0, which is what the converter stores for a corner that
// no texture face reaches.
void WriteTextureLists(Writer& w, const SceneNode& node, const OrderedMesh& ordered)
{
    const MeshLists& mesh = node.mesh;
    const std::size_t texCount = mesh.texVertices.size();
    const auto placeholder = static_cast<std::int64_t>(texCount);
    std::int64_t missing = 0, outside = 0;
    std::vector<std::array<std::int64_t, 3>> texFaces;
    texFaces.reserve(ordered.keptFaces.size());
    for (std::size_t slot : ordered.keptFaces) {
        std::array<std::int64_t, 3> corners{placeholder, placeholder, placeholder};
        const std::int64_t entry = ordered.texFaceOrder[slot];
        if (entry < 0 || texCount == 0) {
            ++missing;
        } else {
            const TexFaceLine& texFace = mesh.texFaces[static_cast<std::size_t>(entry)];
            for (std::size_t c = 0; c < 3; ++c) {
                if (texFace.corner[c] >= 0 && static_cast<std::size_t>(texFace.corner[c]) < texCount)
                    corners[c] = texFace.corner[c];
                else
                    ++outside;
            }
        }
        texFaces.push_back(corners);
    }
    const bool needPlaceholder = missing > 0 || outside > 0;
    if (texCount == 0)
        w.Note(node.meshLine, "no texture coordinates: every corner given (0, 0)");
    else if (missing > 0)
        w.Note(node.meshLine, std::to_string(missing) + " face(s) without a texture face: given (0, 0)");
    if (texCount > 0 && outside > 0)
        w.Note(node.meshLine,
               std::to_string(outside) + " texture-face corner(s) naming no texture vertex: given (0, 0)");
    w.Text("\t\t*MESH_NUMTVERTEX ");
    w.Integer(static_cast<std::int64_t>(texCount + (needPlaceholder ? 1 : 0)));
    w.Text("\n\t\t*MESH_TVERTLIST {\n");
    for (std::size_t t = 0; t < texCount; ++t) {
        const VertexLine& tv = mesh.texVertices[static_cast<std::size_t>(ordered.texVertexOrder[t])];
        w.Text("\t\t\t*MESH_TVERT ");
        w.Integer(static_cast<std::int64_t>(t));
        ValueText values = tv.value;
        if (values[2].empty())
            values[2] = "0.0000";
        w.Values(values, node.meshLine);
        w.Text("\n");
    }
    if (needPlaceholder) {
        w.Text("\t\t\t*MESH_TVERT ");
        w.Integer(placeholder);
        w.Text("\t");
        w.Text(kPlaceholderTexVertex);
        w.Text("\n");
    }
    w.Text("\t\t}\n\t\t*MESH_NUMTVFACES ");
    w.Integer(static_cast<std::int64_t>(texFaces.size()));
    w.Text("\n\t\t*MESH_TFACELIST {\n");
    for (std::size_t f = 0; f < texFaces.size(); ++f) {
        w.Text("\t\t\t*MESH_TFACE ");
        w.Integer(static_cast<std::int64_t>(f));
        for (std::int64_t corner : texFaces[f]) {
            w.Text("\t");
            w.Integer(corner);
        }
        w.Text("\n");
    }
    w.Text("\t\t}\n");
}

// Where a face's corner normals come from. Most exporters follow each face-normal
// line with the vertex normals of its corners A, B and C; q3map2 instead lists one
// vertex normal per vertex number after all the face normals.
struct NormalSource {
    bool perFace = false;
    std::vector<std::int64_t> byVertex;  // vertex number -> vertex-normal entry, or -1
};

NormalSource FindNormalSource(const MeshLists& mesh)
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
bool CornerNormals(const MeshLists& mesh, const NormalSource& source, const FaceLine& face, std::int64_t normalEntry,
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

// Returns how many faces got a computed normal.
std::int64_t WriteNormals(Writer& w, const SceneNode& node, const OrderedMesh& ordered)
{
    const MeshLists& mesh = node.mesh;
    const NormalSource source = FindNormalSource(mesh);
    std::int64_t computed = 0;
    w.Text("\t\t*MESH_NORMALS {\n");
    std::int64_t f = 0;
    for (std::size_t slot : ordered.keptFaces) {
        const FaceLine& face = mesh.faces[static_cast<std::size_t>(ordered.faceOrder[slot])];
        const std::int64_t normalEntry = ordered.normalOrder[slot];
        const std::array<double, 3> flat = FaceNormalOf(mesh, ordered.vertexOrder, face);
        auto writeFlat = [&] {
            for (double component : flat) {
                w.Text("\t");
                w.Fixed(component);
            }
            w.Text("\n");
        };
        w.Text("\t\t\t*MESH_FACENORMAL ");
        w.Integer(f++);
        std::array<std::size_t, 3> corners{};
        const bool given = CornerNormals(mesh, source, face, normalEntry, corners);
        if (normalEntry >= 0) {
            w.Values(mesh.faceNormals[static_cast<std::size_t>(normalEntry)].value, node.meshLine);
            w.Text("\n");
        } else {
            writeFlat();
        }
        if (!given)
            ++computed;
        for (std::size_t c = 0; c < 3; ++c) {
            w.Text("\t\t\t\t*MESH_VERTEXNORMAL ");
            if (given) {
                const VertexNormal& normal = mesh.vertexNormals[corners[c]];
                w.Integer(IntegerOr(normal.number, std::numeric_limits<std::int32_t>::max(), face.corner[c]));
                w.Values(normal.value, node.meshLine);
                w.Text("\n");
            } else {
                w.Integer(face.corner[c]);
                writeFlat();
            }
        }
    }
    w.Text("\t\t}\n");
    if (computed > 0)
        w.Note(node.meshLine, "normals computed for " + std::to_string(computed) + " face(s) (flat face normals)");
    return computed;
}

void WriteMesh(Writer& w, const SceneNode& node, const OrderedMesh& ordered, NormalizeReport& report)
{
    const MeshLists& mesh = node.mesh;
    WriteNodeHeader(w, node, "*GEOMOBJECT");
    w.Text("\t*MESH {\n\t\t*TIMEVALUE 0\n\t\t*MESH_NUMVERTEX ");
    w.Integer(static_cast<std::int64_t>(mesh.vertices.size()));
    w.Text("\n\t\t*MESH_NUMFACES ");
    w.Integer(static_cast<std::int64_t>(ordered.keptFaces.size()));
    w.Text("\n\t\t*MESH_VERTEX_LIST {\n");
    for (std::size_t v = 0; v < mesh.vertices.size(); ++v) {
        w.Text("\t\t\t*MESH_VERTEX ");
        w.Padded(static_cast<std::int64_t>(v), 4);
        w.Values(mesh.vertices[static_cast<std::size_t>(ordered.vertexOrder[v])].value, node.meshLine);
        w.Text("\n");
    }
    w.Text("\t\t}\n");
    WriteFaces(w, mesh, ordered);
    WriteTextureLists(w, node, ordered);
    if (WriteNormals(w, node, ordered) > 0)
        ++report.normalsComputed;
    w.Text("\t}\n}\n");
}

const char* NodeKindName(NodeKind kind)
{
    switch (kind) {
    case NodeKind::kGeometry: return "node without a mesh";
    case NodeKind::kCamera: return "camera";
    case NodeKind::kLight: return "light";
    case NodeKind::kHelper: return "helper";
    case NodeKind::kShape: return "shape";
    }
    return "node";
}

const char* NodeKeyword(NodeKind kind)
{
    switch (kind) {
    case NodeKind::kGeometry: return "*GEOMOBJECT";
    case NodeKind::kCamera: return "*CAMERAOBJECT";
    case NodeKind::kLight: return "*LIGHTOBJECT";
    case NodeKind::kHelper: return "*HELPEROBJECT";
    case NodeKind::kShape: return "*SHAPEOBJECT";
    }
    return "*GEOMOBJECT";
}

bool Contains(std::string_view text, std::string_view part)
{
    return text.find(part) != std::string_view::npos;
}

Dialect DetectDialect(std::string_view comment, std::string_view text)
{
    if (Contains(comment, "AsciiExport"))
        return Dialect::kMax;
    if (Contains(comment, "Blender") || Contains(comment, "Ascii Scene Exporter"))
        return Dialect::kBlender;
    if (Contains(comment, "AC3D"))
        return Dialect::kAc3d;
    if (Contains(comment, "Q3Map2") || Contains(comment, "q3map2"))
        return Dialect::kQ3map2;
    // No telling comment: q3map2 puts a tab, not a blank, after every keyword.
    if (Contains(text.substr(0, 1 << 16), "*NODE_NAME\t"))
        return Dialect::kQ3map2;
    return Dialect::kUnknown;
}

const char* EncodingName(Encoding encoding)
{
    switch (encoding) {
    case Encoding::kUtf8: return "UTF-8";
    case Encoding::kUtf8WithBom: return "UTF-8 with BOM";
    case Encoding::kUtf16Le: return "UTF-16 LE";
    case Encoding::kUtf16Be: return "UTF-16 BE";
    }
    return "UTF-8";
}

const char* LineEndsName(LineEnds ends)
{
    switch (ends) {
    case LineEnds::kNone: return "none";
    case LineEnds::kLf: return "LF";
    case LineEnds::kCrLf: return "CR LF";
    case LineEnds::kCr: return "CR";
    case LineEnds::kMixed: return "mixed";
    }
    return "none";
}

bool IsWritableMesh(const SceneNode& node)
{
    return node.kind == NodeKind::kGeometry && !node.mesh.vertices.empty() && !node.mesh.faces.empty();
}

void WriteScene(const Scene& scene, const NormalizeOptions& options, Writer& w, NormalizeReport& report)
{
    w.Text("*3DSMAX_ASCIIEXPORT\t200\n*COMMENT \"AsciiExport Version  2,00 - normalized\"\n");
    for (const SceneNode& node : scene.nodes) {
        if (w.out.size() > kMaxOutputBytes)
            return;
        if (IsWritableMesh(node)) {
            const OrderedMesh ordered = OrderMesh(node, w);
            if (!ordered.keptFaces.empty()) {
                WriteMesh(w, node, ordered, report);
                ++report.meshesWritten;
                continue;
            }
        }
        const std::string what = std::string(NodeKindName(node.kind)) + " \"" + std::string(node.name) + "\"";
        if (node.kind == NodeKind::kGeometry &&
            (node.hasMesh || !node.mesh.vertices.empty() || !node.mesh.faces.empty()))
            w.Note(node.line, "mesh \"" + std::string(node.name) + "\" has no face with all its vertices: no object");
        if (options.keepOtherNodes) {
            WriteNodeHeader(w, node, NodeKeyword(node.kind));
            w.Text("}\n");
            ++report.otherNodesKept;
            w.Note(node.line, what + " kept (the converter gives its name to the next mesh)");
        } else {
            ++report.otherNodesDropped;
            w.Note(node.line, what + " dropped");
        }
    }
    if (w.unreadableValues > 0)
        w.Note(w.firstUnreadableLine, std::to_string(w.unreadableValues) + " unreadable value(s) written as 0");
}

}  // namespace

const char* DialectName(Dialect dialect)
{
    switch (dialect) {
    case Dialect::kMax: return "3ds Max";
    case Dialect::kBlender: return "Blender";
    case Dialect::kAc3d: return "AC3D";
    case Dialect::kQ3map2: return "q3map2";
    case Dialect::kUnknown: return "unknown";
    }
    return "unknown";
}

NormalizeResult Normalize(std::string_view input, const NormalizeOptions& options)
{
    NormalizeResult result;
    if (input.size() > kMaxInputBytes) {
        result.error = "the input is larger than " + std::to_string(kMaxInputBytes >> 20) + " MiB";
        return result;
    }
    const DecodedText decoded = DecodeText(input);
    NormalizeReport& report = result.report;
    report.encoding = EncodingName(decoded.encoding);
    report.lineEnds = LineEndsName(DetectLineEnds(decoded.text));
    Scene scene = ReadScene(decoded.text);
    report.dialect = DetectDialect(scene.comment, decoded.text);
    for (Note& note : scene.notes)
        report.notes.push_back({note.line, std::move(note.text)});
    if (scene.stoppedAtCtrlZ)
        report.notes.push_back({0, "a 0x1A byte ends the text: what follows it is not read"});

    std::int64_t objects = 0;
    for (const SceneNode& node : scene.nodes)
        objects += IsWritableMesh(node) || options.keepOtherNodes ? 1 : 0;
    if (objects > kMaxObjects) {
        result.error = "the file holds " + std::to_string(objects) + " objects; a bundle holds at most " +
                       std::to_string(kMaxObjects);
        return result;
    }
    Writer writer(report);
    WriteScene(scene, options, writer, report);
    if (writer.out.size() > kMaxOutputBytes) {
        result.error = "the normalized text would be larger than 2 GiB";
        return result;
    }
    std::stable_sort(report.notes.begin(), report.notes.end(),
                     [](const ReportNote& a, const ReportNote& b) { return a.line < b.line; });
    result.text = std::move(writer.out);
    result.ok = true;
    return result;
}

std::string Summary(const NormalizeReport& report)
{
    std::string line = std::to_string(report.meshesWritten) + (report.meshesWritten == 1 ? " mesh" : " meshes") +
                       ", dialect: " + DialectName(report.dialect) + ", normals computed for " +
                       std::to_string(report.normalsComputed);
    if (report.encoding != "UTF-8")
        line += ", encoding: " + report.encoding;
    if (report.otherNodesDropped > 0)
        line += ", other nodes dropped: " + std::to_string(report.otherNodesDropped);
    if (report.otherNodesKept > 0)
        line += ", other nodes kept: " + std::to_string(report.otherNodesKept);
    return line;
}

std::string DescribeReport(const NormalizeReport& report)
{
    std::string text = Summary(report) + "\nline ends: " + report.lineEnds + "\n";
    for (const ReportNote& note : report.notes) {
        if (note.line > 0)
            text += "line " + std::to_string(note.line) + ": ";
        text += note.text + "\n";
    }
    return text;
}

}  // namespace ase2sgl::normalize
