// What every sgltool subcommand starts from: a bundle file mapped into memory,
// checked by the reader, its objects in file order. Failures are ToolError.
#pragma once

#include "bundle/bundle_reader.h"
#include "tools/exit_status.h"

#include <array>
#include <string>
#include <vector>

namespace ase2sgl::tools {

// "FILE: reason at byte N (object I)", or "FILE: reason: strerror" for file errors.
std::string DescribeStatus(const std::string& path, const bundle::ReadStatus& status);

struct LoadedBundle {
    std::string path;
    bundle::MappedFile file;
    std::vector<bundle::Object> objects;
    std::size_t ByteCount() const { return file.Bytes().size(); }
};

// Maps and validates; throws ToolError (kExitFile) with the reader's reason and offset.
void LoadBundle(const std::string& path, LoadedBundle& loaded);

using Vec3 = std::array<float, 3>;
inline Vec3 Vec3At(const bundle::PackedFloats& values, std::size_t vertex)
{
    return {values[3 * vertex], values[3 * vertex + 1], values[3 * vertex + 2]};
}

// The bundle keeps the ASE's x, z, y: a left-handed frame with Y up. Negating z
// gives the right-handed, Y-up frame of glTF and OBJ, the ASE scene turned so that
// its Z axis points up (x, z, -y of the ASE): a rotation, so faces keep their side.
inline Vec3 ToRightHandedYUp(Vec3 v)
{
    return {v[0], v[1], -v[2]};
}

// Length of the UTF-8 sequence starting at text[i], or 0 when it is not valid
// (overlong forms, surrogates and values past U+10FFFF included).
std::size_t Utf8Length(std::string_view text, std::size_t i);

// A name as UTF-8 text: kept when it is valid UTF-8, else read byte by byte as
// Latin-1; control characters become '?'. For JSON, glTF and the console.
std::string DisplayName(std::string_view name);

}  // namespace ase2sgl::tools
