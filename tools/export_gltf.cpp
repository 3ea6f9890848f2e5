// glTF export through tinygltf: one buffer holding, per object, its positions,
// normals and texture coordinates as three accessors of one mesh primitive.
#include "tools/export.h"

#include <tiny_gltf.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <sstream>

namespace ase2sgl::tools {

namespace {

float Finite(float value)
{
    return std::isfinite(value) ? value : 0.0f;
}

Vec3 Normalized(Vec3 v, bool& ok)
{
    const double length = std::sqrt(double(v[0]) * v[0] + double(v[1]) * v[1] + double(v[2]) * v[2]);
    ok = std::isfinite(length) && length > 1e-12;
    if (!ok)
        return v;
    return {float(v[0] / length), float(v[1] / length), float(v[2] / length)};
}

Vec3 FaceNormal(const bundle::Object& object, std::size_t triangle)
{
    Vec3 p[3];
    for (std::size_t k = 0; k < 3; ++k) {
        p[k] = Vec3At(object.positions, 3 * triangle + k);
        for (float& value : p[k])
            value = Finite(value);
    }
    const double e1[3] = {double(p[1][0]) - p[0][0], double(p[1][1]) - p[0][1], double(p[1][2]) - p[0][2]};
    const double e2[3] = {double(p[2][0]) - p[0][0], double(p[2][1]) - p[0][1], double(p[2][2]) - p[0][2]};
    // Bundle axes are left-handed: the face normal there is e2 x e1.
    const Vec3 cross = {float(e2[1] * e1[2] - e2[2] * e1[1]), float(e2[2] * e1[0] - e2[0] * e1[2]),
                        float(e2[0] * e1[1] - e2[1] * e1[0])};
    bool ok = false;
    const Vec3 normal = Normalized(cross, ok);
    return ok ? normal : Vec3{0, 1, 0};
}

// Appends `values` to the buffer as a new view and accessor; gives the accessor.
int AddAccessor(tinygltf::Model& model, const std::vector<float>& values, int components, bool withBounds)
{
    tinygltf::Buffer& buffer = model.buffers[0];
    tinygltf::BufferView view;
    view.buffer = 0;
    view.byteOffset = buffer.data.size();
    view.byteLength = 4 * values.size();
    view.target = TINYGLTF_TARGET_ARRAY_BUFFER;
    buffer.data.resize(buffer.data.size() + view.byteLength);
    std::memcpy(buffer.data.data() + view.byteOffset, values.data(), view.byteLength);
    model.bufferViews.push_back(view);

    tinygltf::Accessor accessor;
    accessor.bufferView = static_cast<int>(model.bufferViews.size() - 1);
    accessor.componentType = TINYGLTF_COMPONENT_TYPE_FLOAT;
    accessor.count = values.size() / static_cast<std::size_t>(components);
    accessor.type = components == 3 ? TINYGLTF_TYPE_VEC3 : TINYGLTF_TYPE_VEC2;
    if (withBounds) {
        accessor.minValues.assign(static_cast<std::size_t>(components), INFINITY);
        accessor.maxValues.assign(static_cast<std::size_t>(components), -INFINITY);
        for (std::size_t i = 0; i < values.size(); ++i) {
            const std::size_t c = i % static_cast<std::size_t>(components);
            accessor.minValues[c] = std::min(accessor.minValues[c], double(values[i]));
            accessor.maxValues[c] = std::max(accessor.maxValues[c], double(values[i]));
        }
    }
    model.accessors.push_back(accessor);
    return static_cast<int>(model.accessors.size() - 1);
}

void AddMesh(tinygltf::Model& model, const bundle::Object& object, tinygltf::Node& node)
{
    const auto n = static_cast<std::size_t>(object.vertexCount);
    std::vector<float> positions, normals, texcoords;
    positions.reserve(3 * n);
    normals.reserve(3 * n);
    texcoords.reserve(2 * n);
    for (std::size_t v = 0; v < n; ++v) {
        Vec3 position = Vec3At(object.positions, v);
        for (float& value : position)
            value = Finite(value);
        const Vec3 p = ToRightHandedYUp(position);
        const Vec3 normal = ToRightHandedYUp(ExportedNormal(object, v));
        positions.insert(positions.end(), p.begin(), p.end());
        normals.insert(normals.end(), normal.begin(), normal.end());
        texcoords.push_back(Finite(object.texcoords[2 * v]));
        texcoords.push_back(1.0f - Finite(object.texcoords[2 * v + 1]));
    }
    tinygltf::Primitive primitive;
    primitive.mode = TINYGLTF_MODE_TRIANGLES;
    primitive.attributes["POSITION"] = AddAccessor(model, positions, 3, true);
    primitive.attributes["NORMAL"] = AddAccessor(model, normals, 3, false);
    primitive.attributes["TEXCOORD_0"] = AddAccessor(model, texcoords, 2, false);
    tinygltf::Mesh mesh;
    mesh.name = node.name;
    mesh.primitives.push_back(primitive);
    model.meshes.push_back(mesh);
    node.mesh = static_cast<int>(model.meshes.size() - 1);
}

[[noreturn]] void WriteFailed(const std::string& path, int error)
{
    throw ToolError(path + ": cannot write" + (error != 0 ? std::string(": ") + std::strerror(error) : ""), kExitFile);
}

void WriteGltf(tinygltf::Model& model, const std::string& outputPath)
{
    tinygltf::TinyGLTF writer;
    errno = 0;
    if (!writer.WriteGltfSceneToFile(&model, outputPath, true, true, true, false))
        WriteFailed(outputPath, errno);
}

// tinygltf's own .glb file writer does not report a file it could not open, so the
// container is built in memory and written here.
void WriteGlb(tinygltf::Model& model, const std::string& outputPath)
{
    std::ostringstream bytes;
    tinygltf::TinyGLTF writer;
    if (!writer.WriteGltfSceneToStream(&model, bytes, false, true))
        WriteFailed(outputPath, 0);
    const std::string glb = std::move(bytes).str();
    errno = 0;
    std::FILE* file = std::fopen(outputPath.c_str(), "wb");
    if (file == nullptr)
        WriteFailed(outputPath, errno);
    const bool written = std::fwrite(glb.data(), 1, glb.size(), file) == glb.size();
    const int error = errno;
    if (std::fclose(file) != 0 || !written)
        WriteFailed(outputPath, written ? errno : error);
}

}  // namespace

Vec3 ExportedNormal(const bundle::Object& object, std::size_t vertex)
{
    bool ok = false;
    const Vec3 normal = Normalized(Vec3At(object.normals, vertex), ok);
    return ok ? normal : FaceNormal(object, vertex / 3);
}

void ExportGltf(const LoadedBundle& loaded, const std::string& outputPath, bool binary)
{
    tinygltf::Model model;
    model.asset.version = "2.0";
    model.asset.generator = "sgltool";
    model.buffers.resize(1);
    tinygltf::Scene scene;
    for (const bundle::Object& object : loaded.objects) {
        tinygltf::Node node;
        node.name = DisplayName(object.name);
        if (object.vertexCount > 0)
            AddMesh(model, object, node);
        model.nodes.push_back(node);
        scene.nodes.push_back(static_cast<int>(model.nodes.size() - 1));
    }
    if (model.buffers[0].data.empty())
        model.buffers.clear();   // glTF allows no empty buffer
    if (!scene.nodes.empty()) {  // a scene without nodes is written as null, which glTF forbids
        model.scenes.push_back(scene);
        model.defaultScene = 0;
    }

    if (binary)
        WriteGlb(model, outputPath);
    else
        WriteGltf(model, outputPath);
}

}  // namespace ase2sgl::tools
