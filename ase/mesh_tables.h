// MeshTables: what the two reads of an ASE file learn about its objects, and the
// converter entry that runs the whole conversion.
//
// An object is one mesh of the input: a node header ("\t*NODE_NAME \"...") and the
// vertex, face, texture and normal lists that follow it. Objects are numbered from 0
// in input order. The counting pass fills MeshTables; the geometry pass then fills
// one object's working arrays at a time, and each finished object goes straight to
// the bundle writer, so memory holds one object's arrays, not the scene's.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace ase2sgl {

class LineSource;

// Loaders of the format size their tables by this limit: a bundle never holds more.
inline constexpr std::int32_t kMaxObjects = 5000;

// One corner of a face, or one entry of a vertex pool. Positions and normals hold
// the input's first, third and second component: the bundle's axis convention
// exchanges the second and third. texcoord[1] holds the input's V negated; stream
// assembly negates it back, so the file carries V as the input wrote it.
struct CornerRecord {
    float position[3];
    float normal[3];
    float texcoord[2];
};
static_assert(sizeof(CornerRecord) == 32);

struct MeshTables {
    std::int32_t nodeCount = 0;
    // Per object, indexed by object number (at most kMaxObjects entries):
    // the name as the bundle stores it: the node header line from its fourteenth
    // byte on, less the line's last byte (the closing quote of a well-formed header),
    // upper-cased, at most 254 bytes;
    std::vector<std::string> nameText;
    // the vertex pool size: the larger of the vertex and texture-vertex line counts;
    std::vector<std::int32_t> vertexCount;
    // three per face line.
    std::vector<std::int32_t> cornerCount;
    // Offsets of the input's lines that start with the vertex-start key, in order, up
    // to kMaxObjects of them; and the input's length as read (up to a 0x1A byte).
    std::vector<std::int64_t> vertexStartLines;
    std::int64_t inputBytes = 0;
};

// The working arrays of the object being read, reused from object to object. Both
// are zero-filled for each object, so a field no line writes is +0.0 (a texture V
// never written reaches the file as -0.0, since stream assembly negates it).
struct ObjectArrays {
    std::vector<CornerRecord> vertexPool;  // vertexCount entries: ASE vertex i is entry i
    std::vector<CornerRecord> corners;     // cornerCount entries: face f has corners 3f..3f+2
    std::int32_t outputVertexCount = 0;    // corners the geometry pass stored, <= corners.size()
};

// Called once per object, in object order, when its arrays are complete.
using ObjectSink = std::function<void(std::int32_t object, const ObjectArrays& arrays)>;

// First read: finds the objects, names and measures them, and rewinds the input.
// Throws InputRefused for more than kMaxObjects objects.
MeshTables CountObjects(LineSource& input, const std::string& inputPath);

// Second read: fills each object's arrays and hands them to `sink`, every object
// from 0 to nodeCount - 1 (objects this read never reaches are handed over empty).
void ReadGeometry(LineSource& input, const MeshTables& tables, const ObjectSink& sink);

// The same read with two threads, each with its own LineSource from `open`. Each
// object is read from the vertex-start line the counting pass saw for it, and is
// handed to `sink` in object order, on either thread, only once it is shown to be
// what ReadGeometry gives: the object before it ended before that line, and its
// face and texture-face numbers did not depend on the objects before it. From the
// first object that fails this, the rest is read one object after the other.
using InputOpener = std::function<LineSource()>;
void ReadGeometryInParallel(const InputOpener& open, const MeshTables& tables, const ObjectSink& sink);

// How many threads read the geometry. The conversion chooses (two for a large
// input when two cores are idle); tests force either, since the bytes written must
// not depend on it.
enum class GeometryThreads { kChosen, kOne, kTwo };

// Converts one ASE file into one mesh bundle file. The output appears only once it
// is complete; on failure (FileError, InputRefused, std::bad_alloc) nothing is
// written at the output path.
void Convert(const std::string& inputPath, const std::string& outputPath,
             GeometryThreads threads = GeometryThreads::kChosen);

// The same conversion from bytes in memory to bytes in memory (tests, the fuzzer).
std::string ConvertBytes(std::string_view ase, GeometryThreads threads = GeometryThreads::kChosen);

}  // namespace ase2sgl
