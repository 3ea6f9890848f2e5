// What the tolerant reader takes from an ASE file: its nodes in file order, each
// mesh's lists as they were written (numbers and values still as text, so that a
// value written back reads as the same float), and what was passed over.
#pragma once

#include "tolerant/ase_text.h"

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace ase2sgl::tolerant {

using ValueText = std::array<std::string_view, 3>;
inline constexpr std::int64_t kNoNumber = -1;

struct VertexLine {  // *MESH_VERTEX, *MESH_TVERT
    std::int64_t number = kNoNumber;
    ValueText value;
};

struct FaceLine {  // *MESH_FACE
    std::int64_t number = kNoNumber;
    std::array<std::int64_t, 3> corner{};
    std::array<std::string_view, 3> edge;  // AB, BC, CA when given
    std::string_view smoothing, materialId;
    std::int32_t line = 0;
};

struct TexFaceLine {  // *MESH_TFACE
    std::int64_t number = kNoNumber;
    std::array<std::int64_t, 3> corner{};
};

struct FaceNormal {  // *MESH_FACENORMAL and the *MESH_VERTEXNORMAL lines after it
    std::int64_t number = kNoNumber;
    ValueText value;
    std::size_t firstVertexNormal = 0, vertexNormalCount = 0;
};

struct VertexNormal {
    std::string_view number;
    ValueText value;
};

struct MeshLists {
    std::vector<VertexLine> vertices, texVertices;
    std::vector<FaceLine> faces;
    std::vector<TexFaceLine> texFaces;
    std::vector<FaceNormal> faceNormals;
    std::vector<VertexNormal> vertexNormals;

    // Every list emptied, its memory kept for the next mesh's.
    void Clear()
    {
        vertices.clear();
        texVertices.clear();
        faces.clear();
        texFaces.clear();
        faceNormals.clear();
        vertexNormals.clear();
    }
};

enum class NodeKind { kGeometry, kCamera, kLight, kHelper, kShape };

struct SceneNode {
    NodeKind kind = NodeKind::kGeometry;
    std::string_view keyword;  // as written, e.g. *GEOMOBJECT
    std::string_view name;
    bool named = false;
    std::int32_t line = 0;
    std::int32_t groupLine = 0;  // the innermost *GROUP block holding the node, or 0
    std::array<ValueText, 4> transform;  // *TM_ROW0 .. *TM_ROW3 of *NODE_TM
    bool hasTransform = false;
    bool hasMesh = false;
    std::int32_t meshLine = 0;
    MeshLists mesh;
};

// One note of a report: what was passed over or repaired, and where.
struct Note {
    std::int32_t line = 0;  // of the input, from 1; 0 for the whole file
    std::string text;
};

// The exporter that wrote the file, told by its *COMMENT line or its spacing.
enum class Dialect { kMax, kBlender, kAc3d, kQ3map2, kUnknown };

// "3ds Max", "Blender", "AC3D", "q3map2", "unknown".
const char* DialectName(Dialect dialect);

struct Scene {
    std::string_view comment;
    std::vector<SceneNode> nodes;
    std::vector<Note> notes;
    bool stoppedAtCtrlZ = false;
    Dialect dialect = Dialect::kUnknown;
    Encoding encoding = Encoding::kUtf8;
    LineEnds lineEnds = LineEnds::kNone;
};

// Reads the node structure of any exporter's ASE text. One pass over the tokens
// with an explicit stack of open blocks: no recursion, linear time, and nothing is
// allocated but what the tokens read so far hold.
// The scene's text views point into `text`. Dialect, encoding and line ends are
// left for ReadAse to fill.
Scene ReadScene(std::string_view text);

// A file's bytes read whole: decoded, its line ends and dialect told, its scene
// read. The scene's views point into `decoded` (the decoded text) or into the bytes
// given, which must outlive it.
struct AseRead {
    std::unique_ptr<const std::string> decoded;  // held apart, so that moving keeps the views valid
    Scene scene;
};
AseRead ReadAse(std::string_view bytes);

// The input's bytes, front to back, whatever holds them (a file, a pipe, memory).
class ByteSource {
  public:
    virtual ~ByteSource() = default;
    // Up to `size` bytes into `buffer`; 0 only at the end of the input. May throw
    // when the input cannot be read: the exception leaves StreamAse as it is.
    virtual std::size_t Read(char* buffer, std::size_t size) = 0;

    // A source whose bytes all lie in memory already (a mapped file) gives them here,
    // whole, or nothing: StreamAse then takes the text that needs no decoding (UTF-8,
    // 8-bit) where it lies instead of copying it out. Read() still gives the bytes
    // from the start, and the first read and a text that is decoded go through it;
    // the rest is taken from where Read() stopped.
    virtual std::string_view InPlace() const { return {}; }
    // The bytes of InPlace() before `end` have been taken into the reading.
    virtual void TakenInPlace(std::size_t /*end*/) {}
    // Bytes [offset, offset + length) of InPlace() are read no more (once each, on
    // either of the reading's threads, mostly in order): a mapped source gives back
    // their memory. Must not throw.
    virtual void PassedInPlace(std::size_t /*offset*/, std::size_t /*length*/) const noexcept {}
};

// Bytes in memory. With `inPlace`, they are offered in place, as a mapped file's are.
class MemorySource : public ByteSource {
  public:
    explicit MemorySource(std::string_view bytes, bool inPlace = false) : bytes_(bytes), whole_(inPlace ? bytes : "") {}
    std::size_t Read(char* buffer, std::size_t size) override;
    std::string_view InPlace() const override { return whole_; }

  private:
    std::string_view bytes_;
    std::string_view whole_;
};

// Where each node goes once its block has closed (or the text has ended), in file
// order. The node's views are valid during the call only; its lists may be taken.
using NodeSink = std::function<void(SceneNode&)>;

inline constexpr std::size_t kReadBytes = std::size_t{1} << 18;

// Whether the input is read, decoded and cut into tokens on a thread of its own
// while the calling thread files the statements and hands the nodes out (at most
// five pieces ahead). The nodes, notes and facts are the same either way; the sink
// is always called on the calling thread. The first read is always filed on the
// calling thread, so an input that ends within it takes no thread. kChosen: a
// second thread when the process may use more than one core.
enum class ReadThreads { kChosen, kOne, kTwo };

// The same reading as ReadAse, a node at a time: the input is read `readBytes` at a
// time and cut at line ends, and only the text from the oldest node not yet handed
// out onwards is held, so memory follows the largest node, not the file. Returns
// the scene's facts and notes; its node list and comment are left empty. What
// `source` or `sink` throws leaves this function as it is (with two threads, once
// the nodes read before a failed read have been handed out).
Scene StreamAse(ByteSource& source, const NodeSink& sink, std::size_t readBytes = kReadBytes,
                ReadThreads threads = ReadThreads::kChosen);

// Whether `threads` gives the reading a thread of its own on this machine.
bool ReadsOnTwoThreads(ReadThreads threads);

// The text a node handed out points into, and its size: while `held` is held, the
// node's views stay valid, after the sink has returned too (for a sink that hands
// the node on to another thread).
struct NodeText {
    std::shared_ptr<const void> held;
    std::size_t bytes = 0;
};
using HoldingNodeSink = std::function<void(SceneNode&, NodeText)>;

// The same reading, each node handed out with the text it points into.
Scene StreamAse(ByteSource& source, const HoldingNodeSink& sink, std::size_t readBytes = kReadBytes,
                ReadThreads threads = ReadThreads::kChosen);

}  // namespace ase2sgl::tolerant
