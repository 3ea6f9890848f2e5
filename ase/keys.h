// The whole vocabulary of the converter: every other line of an ASE file is passed
// over. Indentation is part of each key (one tab for node headers, two for the
// normals block, three for list lines, four for vertex normals), and list numbers are
// written as the exporter writes them: "%4d" right-aligned for vertex and face lines,
// plain "%d" for texture lines.
//
// A line is recognised by a byte-for-byte prefix test against a key (the numbered
// ones kept formatted by NumberedKey), then scanned for its values under a format:
// the key, with its values as ScanLine conversions. The passes scan a list line from
// where its key ends, with only the tail of the format; the checks at the end of
// this file show that this reads exactly what the whole format would.
#pragma once

#include <string_view>

namespace ase2sgl::keys {

inline constexpr std::string_view kNodeHeader = "\t*NODE_NAME \"";             // 13 bytes
inline constexpr std::string_view kVertexStart = "\t\t\t*MESH_VERTEX    0\t";  // first vertex line
inline constexpr std::string_view kVertex = "\t\t\t*MESH_VERTEX %4d\t";
inline constexpr std::string_view kVertexScan = "\t\t\t*MESH_VERTEX %4d\t%%f\t%%f\t%%f";
inline constexpr std::string_view kFaceStart = "\t\t\t*MESH_FACE    0:";
inline constexpr std::string_view kFace = "\t\t\t*MESH_FACE %4d:";
inline constexpr std::string_view kFaceScan = "\t\t\t*MESH_FACE %4d:    A:%%d B:%%d C:%%d AB:";
inline constexpr std::string_view kTexVertexStart = "\t\t\t*MESH_TVERT 0";
inline constexpr std::string_view kTexVertex = "\t\t\t*MESH_TVERT %d";
inline constexpr std::string_view kTexVertexScan = "\t\t\t*MESH_TVERT %d\t%f\t%f\t";
inline constexpr std::string_view kNormalsBlock = "\t\t*MESH_NORMALS";  // 15 bytes
inline constexpr std::string_view kTexFaceStart = "\t\t\t*MESH_TFACE 0";
inline constexpr std::string_view kTexFaceScan = "\t\t\t*MESH_TFACE %d\t%d\t%d\t%d";
inline constexpr std::string_view kFaceNormalStart = "\t\t\t*MESH_FACENORMAL 0";
inline constexpr std::string_view kVertexNormalScan = "\t\t\t\t*MESH_VERTEXNORMAL %d\t%f\t%f\t%f";

// The scan formats split where the passes split them.
// Vertex and face lines: the numbered key, then these.
inline constexpr std::string_view kVertexScanTail = "%f\t%f\t%f";
inline constexpr std::string_view kFaceScanTail = "    A:%d B:%d C:%d AB:";
// Texture-vertex, texture-face and vertex-normal lines: a literal head, then these.
inline constexpr std::string_view kTexVertexHead = "\t\t\t*MESH_TVERT ";
inline constexpr std::string_view kTexVertexScanTail = "%d\t%f\t%f\t";
inline constexpr std::string_view kTexFaceHead = "\t\t\t*MESH_TFACE ";
inline constexpr std::string_view kTexFaceScanTail = "%d\t%d\t%d\t%d";
inline constexpr std::string_view kVertexNormalHead = "\t\t\t\t*MESH_VERTEXNORMAL ";
inline constexpr std::string_view kVertexNormalScanTail = "%d\t%f\t%f\t%f";

// Scanning the tail from the end of the key reads exactly what scanning the whole
// format from the line's start reads, when:
//   - head + tail spells the whole format (the key formats write each '%' of the
//     tail as "%%"), so the key's bytes equal the line's, and every whitespace run
//     in the key is followed by a non-blank byte in both: it consumes the same bytes;
//   - the head ends with a non-blank byte, or with a blank that the format would
//     follow by skipping whitespace anyway (the tail starts with a conversion, which
//     skips whitespace first).
namespace split {

constexpr bool IsBlank(char c)
{
    return c == ' ' || c == '\t';
}

constexpr bool Joins(std::string_view whole, std::string_view head, std::string_view tail, bool escapedTail)
{
    if (whole.substr(0, head.size()) != head)
        return false;
    std::size_t i = head.size();
    for (const char c : tail) {
        if (i >= whole.size() || whole[i++] != c)
            return false;
        if (escapedTail && c == '%' && (i >= whole.size() || whole[i++] != '%'))
            return false;
    }
    return i == whole.size();
}

constexpr bool EndsCleanly(std::string_view head, std::string_view tail)
{
    return !head.empty() && !tail.empty() && (!IsBlank(head.back()) || tail.front() == '%');
}

}  // namespace split

static_assert(split::Joins(kVertexScan, kVertex, kVertexScanTail, true) &&
              split::EndsCleanly(kVertex, kVertexScanTail));
static_assert(split::Joins(kFaceScan, kFace, kFaceScanTail, true) && split::EndsCleanly(kFace, kFaceScanTail));
static_assert(split::Joins(kTexVertexScan, kTexVertexHead, kTexVertexScanTail, false) &&
              split::EndsCleanly(kTexVertexHead, kTexVertexScanTail));
static_assert(split::Joins(kTexFaceScan, kTexFaceHead, kTexFaceScanTail, false) &&
              split::EndsCleanly(kTexFaceHead, kTexFaceScanTail));
static_assert(split::Joins(kVertexNormalScan, kVertexNormalHead, kVertexNormalScanTail, false) &&
              split::EndsCleanly(kVertexNormalHead, kVertexNormalScanTail));

}  // namespace ase2sgl::keys
