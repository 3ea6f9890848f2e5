// Scanning a list line from where its key ends. Every list line the geometry pass
// scans begins with a key it has just matched byte for byte, and each scan format of
// the key table is that key followed by a tail. Scanning the tail from the end of the
// key reads exactly what scanning the whole format from the line's start reads:
//   - the key's bytes equal the line's, and every whitespace run in the key is
//     followed by a non-blank byte in both, so it consumes the same bytes of the line;
//   - the key ends either with a non-blank byte, or with a blank that the format
//     would follow by skipping whitespace anyway (the tail starts with a conversion,
//     which skips whitespace first).
// The static_asserts below check both conditions for every split used.
#pragma once

#include "ase/line_source.h"

#include <string_view>

namespace ase2sgl {

namespace scan_split {

constexpr bool IsBlank(char c)
{
    return c == ' ' || c == '\t';
}

// `head` (a key, or a key format with one "%4d"/"%d") followed by `tail` gives
// `whole`, where a scan-format template writes each '%' of the tail as "%%".
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

}  // namespace scan_split

namespace keys {
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

static_assert(scan_split::Joins(kVertexScan, kVertex, kVertexScanTail, true) &&
              scan_split::EndsCleanly(kVertex, kVertexScanTail));
static_assert(scan_split::Joins(kFaceScan, kFace, kFaceScanTail, true) &&
              scan_split::EndsCleanly(kFace, kFaceScanTail));
static_assert(scan_split::Joins(kTexVertexScan, kTexVertexHead, kTexVertexScanTail, false) &&
              scan_split::EndsCleanly(kTexVertexHead, kTexVertexScanTail));
static_assert(scan_split::Joins(kTexFaceScan, kTexFaceHead, kTexFaceScanTail, false) &&
              scan_split::EndsCleanly(kTexFaceHead, kTexFaceScanTail));
static_assert(scan_split::Joins(kVertexNormalScan, kVertexNormalHead, kVertexNormalScanTail, false) &&
              scan_split::EndsCleanly(kVertexNormalHead, kVertexNormalScanTail));
}  // namespace keys

// ScanLine of `line` under `head` + `tail`, for a line that begins with `matchedKey`
// (the key the caller has just compared it with, `head` formatted).
inline int ScanAfterKey(std::string_view line, std::string_view matchedKey, std::string_view tail,
                        std::initializer_list<ScanTarget> targets)
{
    return ScanLine(line.substr(matchedKey.size()), tail, targets);
}

// ScanLine of `line` under `whole` (= `head` + `tail`), taking the short way when the
// line begins with `head`, as it does in a well-formed list.
inline int ScanWithHead(std::string_view line, std::string_view head, std::string_view tail, std::string_view whole,
                        std::initializer_list<ScanTarget> targets)
{
    if (StartsWith(line, head))
        return ScanLine(line.substr(head.size()), tail, targets);
    return ScanLine(line, whole, targets);
}

}  // namespace ase2sgl
