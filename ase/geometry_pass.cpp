// Geometry pass: the second read of the input. For each vertex list it meets it
// fills one object's vertex pool and corners from the lists that follow: vertex
// lines, then (read ahead) the texture vertices, then, after seeking back to the
// line after the first vertex line, the faces, texture faces and vertex normals.
//
// The lists are found the way the exporter's layout places them, and inputs that
// break that layout are read the same way: searches run on past the end of an
// object into the next ones, fixed-count reads take whatever lines come. Every
// write is checked against the arrays the counting pass sized; a write that would
// fall outside them is skipped.
#include "ase/mesh_tables.h"

#include "ase/geometry_reader.h"
#include "ase/keys.h"
#include "ase/list_scan.h"
#include "ase/numbered_key.h"

#include <algorithm>
#include <cstring>

namespace ase2sgl {

bool GeometryReader::ReadObjectAt(std::int32_t object, std::int64_t lineStart)
{
    input_.SeekTo(lineStart);
    if (!input_.ReadLine(line_) || !StartsWith(line_, keys::kVertexStart))
        return false;
    ReadObject(object);
    return true;
}

void GeometryReader::RunFrom(std::int64_t position, std::int32_t object, const Carry& carry, const ObjectSink& sink)
{
    input_.SeekTo(position);
    SetCarry(carry);
    // An object number at or above the object count has no arrays, and neither has
    // any later one: reading further could fill nothing.
    while (object < tables_.objectCount && FindVertexStart()) {
        ReadObject(object);
        sink(object, arrays_);
        ++object;
    }
    SendEmptyObjects(object, sink);
}

bool GeometryReader::NeedsCarry() const
{
    return (faceScans_ > 0 && !firstFaceScanComplete_) || (texFaceScans_ > 0 && !firstTexFaceScanComplete_);
}

GeometryReader::Carry GeometryReader::CarryAfter(const Carry& before) const
{
    Carry after = before;
    if (faceScans_ > 0)
        std::copy(std::begin(faceVertex_), std::end(faceVertex_), after.face);
    if (texFaceScans_ > 0)
        std::copy(std::begin(texFaceVertex_), std::end(texFaceVertex_), after.texFace);
    return after;
}

void GeometryReader::SetCarry(const Carry& carry)
{
    std::copy(std::begin(carry.face), std::end(carry.face), faceVertex_);
    std::copy(std::begin(carry.texFace), std::end(carry.texFace), texFaceVertex_);
}

void GeometryReader::SendEmptyObjects(std::int32_t object, const ObjectSink& sink)
{
    arrays_.vertexPool.clear();
    arrays_.corners.clear();
    arrays_.cornersRead = 0;
    for (; object < tables_.objectCount; ++object)
        sink(object, arrays_);
}

bool GeometryReader::FindVertexStart()
{
    while (input_.ReadLine(line_)) {
        if (StartsWith(line_, keys::kVertexStart))
            return true;
    }
    return false;
}

// The line in hand is the object's first vertex line.
void GeometryReader::ReadObject(std::int32_t object)
{
    PrepareArrays(object);
    const std::int64_t afterVertexStart = input_.Tell();
    ReadVertices();
    const bool textured = ReadTexVertices();
    // The texture vertices come after the faces in the file, but the faces need
    // them in the pool: they were read ahead, and the faces are read now.
    input_.SeekTo(afterVertexStart);
    const std::int64_t faces = ReadFaces();
    arrays_.cornersRead =
        static_cast<std::int32_t>(std::min<std::int64_t>(faces * 3, static_cast<std::int64_t>(arrays_.corners.size())));
    if (faces == 0)
        return;  // no face list before the end of the input
    if (textured && !ReadTexFaces(faces))
        return;
    ReadNormals(faces);
}

void GeometryReader::PrepareArrays(std::int32_t object)
{
    constexpr CornerRecord kZero{};
    arrays_.vertexPool.assign(static_cast<std::size_t>(tables_.vertexCount[static_cast<std::size_t>(object)]), kZero);
    arrays_.corners.assign(static_cast<std::size_t>(tables_.cornerCount[static_cast<std::size_t>(object)]), kZero);
    arrays_.cornersRead = 0;
    faceScans_ = texFaceScans_ = 0;
}

CornerRecord* GeometryReader::PoolEntry(std::int64_t index)
{
    return index >= 0 && static_cast<std::uint64_t>(index) < arrays_.vertexPool.size()
               ? &arrays_.vertexPool[static_cast<std::size_t>(index)]
               : nullptr;
}

CornerRecord* GeometryReader::Corner(std::int64_t index)
{
    return index >= 0 && static_cast<std::uint64_t>(index) < arrays_.corners.size()
               ? &arrays_.corners[static_cast<std::size_t>(index)]
               : nullptr;
}

// Vertex lines 0, 1, 2, ... each scanned with its own number in the format.
void GeometryReader::ReadVertices()
{
    NumberedKey next(keys::kVertex, 0);
    std::string_view key = keys::kVertexStart;  // the key the line in hand starts with
    std::int64_t v = 0;
    do {
        if (CornerRecord* entry = PoolEntry(v))
            ScanAfterKey(line_, key, keys::kVertexScanTail,
                         {entry->position[0], entry->position[2], entry->position[1]});
        ++v;
        next.Advance();
        key = next.View();
        if (!input_.ReadLine(line_))
            return;
    } while (StartsWith(line_, key));
}

// Searches on from the line after the one that ended the vertex list, up to the
// normals block; at the first texture-vertex line reads the list into the pool.
// True when a list was found.
bool GeometryReader::ReadTexVertices()
{
    const std::int64_t listStart = FindTexVertexList(input_.Tell());
    if (listStart < 0)
        return false;
    input_.SeekTo(listStart);
    input_.ReadLine(line_);
    // Entries past the pool cannot be written and the read position is dropped by
    // the seek back, so the run stops at the end of the pool.
    NumberedKey next(keys::kTexVertex, 0);
    do {
        CornerRecord* entry = PoolEntry(next.Number());
        if (entry == nullptr)
            break;
        ScanWithHead(line_, keys::kTexVertexHead, keys::kTexVertexScanTail, keys::kTexVertexScan,
                     {discard_, entry->texcoord[0], entry->texcoord[1]});
        entry->texcoord[1] = -entry->texcoord[1];
        input_.ReadLine(line_);
        next.Advance();
    } while (StartsWith(line_, next.View()));
    return true;
}

// Offset of the first texture-vertex line at or after `from`, or kNoLine when a
// normals block or the end of the input comes first. Objects without normals or
// texture lists all search on to the same distant line; the last search is
// remembered, so no stretch of the input is searched twice.
std::int64_t GeometryReader::FindTexVertexList(std::int64_t from)
{
    const bool known = from >= search_.from && (search_.stop == Stop::kEndOfInput || from <= search_.stopLine);
    if (!known) {
        search_.from = from;
        search_.stop = Stop::kEndOfInput;
        for (;;) {
            const std::int64_t lineStart = input_.Tell();
            if (!input_.ReadLine(line_))
                break;
            const bool normals = StartsWith(line_, keys::kNormalsBlock);
            if (normals || StartsWith(line_, keys::kTexVertexStart)) {
                search_.stop = normals ? Stop::kNormalsBlock : Stop::kTexVertexList;
                search_.stopLine = lineStart;
                break;
            }
        }
    }
    return search_.stop == Stop::kTexVertexList ? search_.stopLine : kNoLine;
}

// Searches from the line after the vertex-start line for the first face line,
// then reads the face list. Gives the number of faces read.
std::int64_t GeometryReader::ReadFaces()
{
    do {
        if (!input_.ReadLine(line_))
            return 0;
    } while (!StartsWith(line_, keys::kFaceStart));
    NumberedKey next(keys::kFace, 0);
    std::string_view key = keys::kFaceStart;  // the key the line in hand starts with
    std::int64_t corner = 0;
    do {
        const int stored =
            ScanAfterKey(line_, key, keys::kFaceScanTail, {faceVertex_[0], faceVertex_[1], faceVertex_[2]});
        if (faceScans_++ == 0)
            firstFaceScanComplete_ = stored == 3;
        for (const std::int32_t vertex : faceVertex_) {
            const CornerRecord* entry = PoolEntry(vertex);
            CornerRecord* target = Corner(corner++);
            if (entry != nullptr && target != nullptr)
                std::memcpy(target->position, entry->position, sizeof target->position);
        }
        next.Advance();
        key = next.View();
        if (!input_.ReadLine(line_))
            break;
    } while (StartsWith(line_, key));
    return corner / 3;
}

// Searches for the texture-face list, up to the normals block, and applies
// exactly one line per face in line order: the lines after the first are not
// tested. A line that does not scan leaves the texture-vertex numbers of the
// line before. False when the input ended.
bool GeometryReader::ReadTexFaces(std::int64_t faces)
{
    for (;;) {
        if (!input_.ReadLine(line_))
            return false;
        if (StartsWith(line_, keys::kNormalsBlock))
            return true;
        if (StartsWith(line_, keys::kTexFaceStart))
            break;
    }
    bool more = true;
    for (std::int64_t f = 0; f < faces; ++f) {
        if (more) {
            const int stored = ScanWithHead(line_, keys::kTexFaceHead, keys::kTexFaceScanTail, keys::kTexFaceScan,
                                            {discard_, texFaceVertex_[0], texFaceVertex_[1], texFaceVertex_[2]});
            if (texFaceScans_++ == 0)
                firstTexFaceScanComplete_ = stored == 4;
        } else if (Corner(3 * f) == nullptr)
            break;  // past the end: no more lines to scan, no more corners to fill
        for (int i = 0; i < 3; ++i) {
            const CornerRecord* entry = PoolEntry(texFaceVertex_[i]);
            CornerRecord* target = Corner(3 * f + i);
            if (entry != nullptr && target != nullptr)
                std::memcpy(target->texcoord, entry->texcoord, sizeof target->texcoord);
        }
        more = more && input_.ReadLine(line_);
    }
    return more;
}

// Searches for the first face-normal line (nothing else ends this search), then
// reads four lines per face: the face normal, which is not used, and the vertex
// normals of corners A, B and C.
void GeometryReader::ReadNormals(std::int64_t faces)
{
    do {
        if (!input_.ReadLine(line_))
            return;
    } while (!StartsWith(line_, keys::kFaceNormalStart));
    for (std::int64_t corner = 0; corner < faces * 3; ++corner) {
        if (!input_.ReadLine(line_))
            return;  // the remaining lines are empty and scan nothing
        if (CornerRecord* target = Corner(corner))
            ScanWithHead(line_, keys::kVertexNormalHead, keys::kVertexNormalScanTail, keys::kVertexNormalScan,
                         {discard_, target->normal[0], target->normal[2], target->normal[1]});
        if (corner % 3 == 2 && !input_.ReadLine(line_))
            return;
    }
}

void ReadGeometry(LineSource& input, const MeshTables& tables, const ObjectSink& sink)
{
    GeometryReader(input, tables).RunFrom(0, 0, GeometryReader::Carry{}, sink);
}

}  // namespace ase2sgl
