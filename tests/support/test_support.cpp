#include "support/test_support.h"

#include "bundle/bundle_reader.h"

#include <algorithm>
#include <array>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

namespace ase2sgl::testing {

namespace {

template <typename LineRange>
std::string JoinLines(const LineRange& lines, std::string_view lineEnd)
{
    std::string text;
    for (std::string_view line : lines) {
        text += line;
        text += lineEnd;
    }
    return text;
}

}  // namespace

std::string Lines(std::initializer_list<std::string_view> lines)
{
    return JoinLines(lines, "\n");
}

std::string Lines(const std::vector<std::string>& lines, std::string_view lineEnd)
{
    return JoinLines(lines, lineEnd);
}

std::string Replace(std::string text, std::string_view from, std::string_view to)
{
    for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

std::string Utf16(std::string_view ascii, bool littleEndian, bool byteOrderMark)
{
    std::string out = byteOrderMark ? (littleEndian ? "\xFF\xFE" : "\xFE\xFF") : "";
    for (const char c : ascii) {
        out += littleEndian ? c : '\0';
        out += littleEndian ? '\0' : c;
    }
    return out;
}

std::vector<std::string> SplitLines(std::string_view text)
{
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) {
            lines.emplace_back(text.substr(start));
            break;
        }
        lines.emplace_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

std::vector<std::string> Concat(const std::vector<std::vector<std::string>>& parts)
{
    std::vector<std::string> lines;
    for (const auto& part : parts)
        lines.insert(lines.end(), part.begin(), part.end());
    return lines;
}

std::uint32_t Bits(float value)
{
    std::uint32_t bits;
    std::memcpy(&bits, &value, 4);
    return bits;
}

float FromBits(std::uint32_t bits)
{
    float value;
    std::memcpy(&value, &bits, 4);
    return value;
}

namespace {

std::string Format(const char* format, auto... values)
{
    char text[256];
    std::snprintf(text, sizeof text, format, values...);
    return text;
}

}  // namespace

std::vector<std::string> MeshLines(const MeshSpec& mesh)
{
    std::vector<std::string> lines = {
        "*GEOMOBJECT {",
        "\t*NODE_NAME \"" + mesh.name + "\"",
        "\t*NODE_TM {",
        "\t\t*NODE_NAME \"" + mesh.name + "\"",
        "\t\t*TM_ROW0 1.0000\t0.0000\t0.0000",
        "\t}",
        "\t*MESH {",
        "\t\t*TIMEVALUE 0",
        Format("\t\t*MESH_NUMVERTEX %zu", mesh.vertices.size()),
        Format("\t\t*MESH_NUMFACES %zu", mesh.faces.size()),
        "\t\t*MESH_VERTEX_LIST {",
    };
    for (std::size_t i = 0; i < mesh.vertices.size(); ++i) {
        const auto& v = mesh.vertices[i];
        lines.push_back(Format("\t\t\t*MESH_VERTEX %4zu\t%.4f\t%.4f\t%.4f", i, v[0], v[1], v[2]));
    }
    lines.push_back("\t\t}");
    lines.push_back("\t\t*MESH_FACE_LIST {");
    for (std::size_t i = 0; i < mesh.faces.size(); ++i) {
        const auto& f = mesh.faces[i];
        lines.push_back(
            Format("\t\t\t*MESH_FACE %4zu:    A: %4d B: %4d C: %4d AB:    1 BC:    1 CA:    0\t "
                   "*MESH_SMOOTHING 2 \t*MESH_MTLID 1",
                   i, f[0], f[1], f[2]));
    }
    lines.push_back("\t\t}");
    if (!mesh.texVertices.empty()) {
        lines.push_back(Format("\t\t*MESH_NUMTVERTEX %zu", mesh.texVertices.size()));
        lines.push_back("\t\t*MESH_TVERTLIST {");
        for (std::size_t i = 0; i < mesh.texVertices.size(); ++i) {
            const auto& t = mesh.texVertices[i];
            lines.push_back(Format("\t\t\t*MESH_TVERT %zu\t%.4f\t%.4f\t0.0000", i, t[0], t[1]));
        }
        lines.push_back("\t\t}");
    }
    if (!mesh.texFaces.empty()) {
        lines.push_back(Format("\t\t*MESH_NUMTVFACES %zu", mesh.texFaces.size()));
        lines.push_back("\t\t*MESH_TFACELIST {");
        for (std::size_t i = 0; i < mesh.texFaces.size(); ++i) {
            const auto& t = mesh.texFaces[i];
            lines.push_back(Format("\t\t\t*MESH_TFACE %zu\t%d\t%d\t%d", i, t[0], t[1], t[2]));
        }
        lines.push_back("\t\t}");
    }
    if (mesh.normalsBlock) {
        lines.push_back("\t\t*MESH_NORMALS {");
        for (std::size_t f = 0; f * 3 < mesh.vertexNormals.size(); ++f) {
            lines.push_back(Format("\t\t\t*MESH_FACENORMAL %zu\t0.0000\t0.0000\t-1.0000", f));
            for (std::size_t c = 0; c < 3 && 3 * f + c < mesh.vertexNormals.size(); ++c) {
                const auto& n = mesh.vertexNormals[3 * f + c];
                const int vertex = f < mesh.faces.size() ? mesh.faces[f][c] : 0;
                lines.push_back(Format("\t\t\t\t*MESH_VERTEXNORMAL %d\t%.4f\t%.4f\t%.4f", vertex, n[0], n[1], n[2]));
            }
        }
        lines.push_back("\t\t}");
    }
    lines.push_back("\t}");
    lines.push_back("\t*PROP_MOTIONBLUR 0");
    lines.push_back("\t*MATERIAL_REF 0");
    lines.push_back("}");
    return lines;
}

std::string Scene(const std::vector<MeshSpec>& meshes)
{
    std::vector<std::string> lines = {"*3DSMAX_ASCIIEXPORT\t200", "*COMMENT \"test scene\"", "*SCENE {",
                                      "\t*SCENE_FILENAME \"test.max\"", "}"};
    for (const MeshSpec& mesh : meshes) {
        const std::vector<std::string> block = MeshLines(mesh);
        lines.insert(lines.end(), block.begin(), block.end());
    }
    return Lines(lines);
}

MeshSpec BoxMesh(std::string name)
{
    MeshSpec box;
    box.name = std::move(name);
    box.vertices = {{-1, -1, 0}, {1, -1, 0}, {-1, 1, 0}, {1, 1, 0}, {-1, -1, 2}, {1, -1, 2}, {-1, 1, 2}, {1, 1, 2}};
    box.faces = {{0, 2, 3}, {3, 1, 0}, {4, 5, 7}, {7, 6, 4}, {0, 1, 5}, {5, 4, 0},
                 {1, 3, 7}, {7, 5, 1}, {3, 2, 6}, {6, 7, 3}, {2, 0, 4}, {4, 6, 2}};
    for (int i = 0; i < 12; ++i)
        box.texVertices.push_back({static_cast<float>(i % 4) * 0.25f, static_cast<float>(i / 4) * 0.5f});
    box.texFaces = {{9, 11, 10}, {10, 8, 9}, {8, 9, 11}, {11, 10, 8}, {4, 5, 7}, {7, 6, 4},
                    {0, 1, 3},   {3, 2, 0},  {4, 5, 7},  {7, 6, 4},   {0, 1, 3}, {3, 2, 0}};
    const std::array<std::array<float, 3>, 6> sides = {
        {{0, 0, -1}, {0, 0, 1}, {0, -1, 0}, {1, 0, 0}, {0, 1, 0}, {-1, 0, 0}}};
    for (int f = 0; f < 12; ++f)
        for (int c = 0; c < 3; ++c)
            box.vertexNormals.push_back(sides[static_cast<std::size_t>(f / 2)]);
    return box;
}

MeshSpec WithoutTextureLists(MeshSpec mesh)
{
    mesh.texVertices.clear();
    mesh.texFaces.clear();
    return mesh;
}

MeshSpec WithoutNormalsBlock(MeshSpec mesh)
{
    mesh.normalsBlock = false;
    mesh.vertexNormals.clear();
    return mesh;
}

Bundle ParseBundle(std::string_view bytes)
{
    Bundle bundle;
    bundle::Bundle reader;
    const bundle::ReadStatus status = reader.Open(std::as_bytes(std::span<const char>(bytes.data(), bytes.size())));
    if (!status) {
        bundle.problem = std::string(bundle::Describe(status.error)) + " at byte " + std::to_string(status.offset);
        if (status.object >= 0)
            bundle.problem += " (object " + std::to_string(status.object) + ")";
        return bundle;
    }
    for (const bundle::Object& object : reader) {
        BundleObject copy;
        copy.name = std::string(object.name);
        for (auto [from, to] : {std::pair{&object.positions, &copy.positions},
                                {&object.normals, &copy.normals},
                                {&object.texcoords, &copy.texcoords}}) {
            to->resize(from->size());
            from->CopyTo(*to);
        }
        bundle.objects.push_back(std::move(copy));
    }
    return bundle;
}

std::string Int32Bytes(std::int32_t value)
{
    std::string bytes(4, '\0');
    for (std::size_t i = 0; i < 4; ++i)
        bytes[i] = static_cast<char>((static_cast<std::uint32_t>(value) >> (8 * i)) & 0xFF);
    return bytes;
}

std::string EncodeBundle(const std::vector<RecordSpec>& records)
{
    std::string bytes = Int32Bytes(static_cast<std::int32_t>(records.size()));
    for (const RecordSpec& record : records) {
        std::string field = record.name;
        field.resize(255, '\0');
        bytes += field + Int32Bytes(record.vertexCount);
        for (const std::vector<float>* array : {&record.positions, &record.normals, &record.texcoords})
            for (const float value : *array)
                bytes += Int32Bytes(static_cast<std::int32_t>(Bits(value)));
    }
    return bytes;
}

std::string ReadFile(const std::filesystem::path& path)
{
    std::ifstream file(path, std::ios::binary);
    if (!file)
        throw std::runtime_error("cannot read " + path.string());
    std::ostringstream bytes;
    bytes << file.rdbuf();
    return std::move(bytes).str();
}

void WriteFile(const std::filesystem::path& path, std::string_view bytes)
{
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!file)
        throw std::runtime_error("cannot write " + path.string());
}

ScratchDir::ScratchDir()
{
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
        char name[32];
        std::snprintf(name, sizeof name, "ase2sgl-test-%08x", static_cast<unsigned>(random()));
        path_ = std::filesystem::temp_directory_path() / name;
        if (std::filesystem::create_directory(path_))
            return;
    }
    throw std::runtime_error("cannot make a scratch folder");
}

ScratchDir::~ScratchDir()
{
    std::error_code ignored;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all, ignored);
    std::filesystem::remove_all(path_, ignored);
}

std::filesystem::path CorpusDir()
{
    const char* override = std::getenv("ASE2SGL_CORPUS");
    const std::filesystem::path dir = override != nullptr ? override : ASE2SGL_CORPUS_DIR;
    std::error_code error;
    return std::filesystem::is_directory(dir, error) ? dir : std::filesystem::path();
}

std::vector<std::filesystem::path> CorpusFiles()
{
    std::vector<std::filesystem::path> files;
    const std::filesystem::path dir = CorpusDir();
    if (dir.empty())
        return files;
    for (const auto& entry : std::filesystem::directory_iterator(dir))
        if (entry.path().extension() == ".ase")
            files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    return files;
}

}  // namespace ase2sgl::testing
