// Wavefront OBJ export: per object an "o" line, its positions, texture coordinates
// and normals, and one face per triangle naming vertex/texcoord/normal by their
// 1-based file-wide numbers. Values print with 9 significant digits, enough to
// give back every float exactly.
#include "tools/export.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

namespace ase2sgl::tools {

namespace {

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

[[noreturn]] void WriteFailed(const std::string& path, int error)
{
    throw ToolError(path + ": cannot write: " + std::strerror(error), kExitFile);
}

// OBJ names end at the line's end and are split at blanks by some readers.
std::string ObjName(std::string_view name)
{
    std::string text = DisplayName(name);
    std::replace_if(
        text.begin(), text.end(), [](char c) { return c == ' ' || c == '\t'; }, '_');
    return text.empty() ? "unnamed" : text;
}

}  // namespace

void ExportObj(const LoadedBundle& loaded, const std::string& outputPath)
{
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(outputPath.c_str(), "wb"));
    if (!file)
        throw ToolError(outputPath + ": cannot create: " + std::strerror(errno), kExitFile);
    std::FILE* out = file.get();
    std::fprintf(out, "# %zu objects, written by sgltool from %s\n", loaded.objects.size(),
                 DisplayName(loaded.path).c_str());
    std::uint64_t first = 1;  // OBJ numbers vertices from 1, across the whole file
    for (const bundle::Object& object : loaded.objects) {
        const auto n = static_cast<std::size_t>(object.vertexCount);
        std::fprintf(out, "o %s\n", ObjName(object.name).c_str());
        for (std::size_t v = 0; v < n; ++v) {
            const Vec3 p = ToRightHandedYUp(Vec3At(object.positions, v));
            std::fprintf(out, "v %.9g %.9g %.9g\n", p[0], p[1], p[2]);
        }
        for (std::size_t v = 0; v < n; ++v)
            std::fprintf(out, "vt %.9g %.9g\n", object.texcoords[2 * v], object.texcoords[2 * v + 1]);
        for (std::size_t v = 0; v < n; ++v) {
            const Vec3 normal = ToRightHandedYUp(Vec3At(object.normals, v));
            std::fprintf(out, "vn %.9g %.9g %.9g\n", normal[0], normal[1], normal[2]);
        }
        for (std::size_t t = 0; t < n / 3; ++t) {
            const std::uint64_t a = first + 3 * t;
            std::fprintf(out, "f %llu/%llu/%llu %llu/%llu/%llu %llu/%llu/%llu\n", (unsigned long long)a,
                         (unsigned long long)a, (unsigned long long)a, (unsigned long long)(a + 1),
                         (unsigned long long)(a + 1), (unsigned long long)(a + 1), (unsigned long long)(a + 2),
                         (unsigned long long)(a + 2), (unsigned long long)(a + 2));
        }
        first += n;
    }
    if (std::ferror(out) || std::fflush(out) != 0)
        WriteFailed(outputPath, errno);
    if (std::fclose(file.release()) != 0)
        WriteFailed(outputPath, errno);
}

ExportFormat FormatOf(const std::string& outputPath)
{
    std::string extension = outputPath.substr(std::min(outputPath.size(), outputPath.rfind('.')));
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (extension == ".gltf")
        return ExportFormat::kGltf;
    if (extension == ".glb")
        return ExportFormat::kGlb;
    if (extension == ".obj")
        return ExportFormat::kObj;
    throw ToolError(outputPath + ": unknown output format (use .gltf, .glb or .obj)", kExitUsage);
}

}  // namespace ase2sgl::tools
