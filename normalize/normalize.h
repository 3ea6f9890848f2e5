// Normalize: rewrites the ASE text of any exporter (3ds Max, Blender scripts, AC3D,
// q3map2, UTF-16 re-encodings) into the one layout the converter reads: 3ds Max's
// ASCII exporter, exactly as it spaces its keys. Every mesh becomes a GEOMOBJECT of
// its own under its own name, with a texture-vertex list, a texture-face list and a
// normals block (face normals computed where the input has none), so that no
// object's list search runs on into the next one. The output is deterministic.
#pragma once

#include "common/text_buffer.h"
#include "tolerant/ase_text.h"
#include "tolerant/scene.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace ase2sgl::normalize {

class MeshTarget;  // normalize/mesh_repair.h

using tolerant::Dialect;
using tolerant::DialectName;

struct NormalizeOptions {
    // Cameras, lights, helpers, shapes and nodes without a mesh are dropped by
    // default: the converter would give their names to the next mesh. Kept, each is
    // written as a node header with no mesh, where it stood.
    bool keepOtherNodes = false;
    // The input is read this many bytes at a time (the memory it takes follows the
    // largest node, not the file).
    std::size_t readBytes = tolerant::kReadBytes;
    // Whether the input is read and cut into tokens on a thread of its own, and
    // the nodes written on another (the text is the same either way). kChosen
    // takes the first for an input of more than one read when the process may use
    // two cores, and the second past a megabyte when it may use three; kTwo takes
    // both whatever the input's size.
    tolerant::ReadThreads threads = tolerant::ReadThreads::kChosen;
    // When set, each mesh goes to this target as put in order and repaired instead of
    // being written as text: the sink is given only what is not a mesh (the file's
    // header line, other nodes kept). The report is the one the text would give.
    MeshTarget* meshes = nullptr;
};

struct NormalizeReport {
    Dialect dialect = Dialect::kUnknown;
    tolerant::Encoding encoding = tolerant::Encoding::kUtf8;
    tolerant::LineEnds lineEnds = tolerant::LineEnds::kNone;
    std::int32_t meshesWritten = 0;
    std::int32_t normalsComputed = 0;    // meshes with at least one face normal computed
    std::int32_t otherNodesDropped = 0;  // cameras, lights, helpers, empty nodes
    std::int32_t otherNodesKept = 0;
    std::vector<tolerant::Note> notes;  // everything passed over or repaired
};

struct NormalizeResult {
    bool ok = false;
    std::string error;  // when !ok
    std::string text;   // the normalized ASE text, LF line ends
    NormalizeReport report;
};

// Never throws for any input; a refusal (input too large, more meshes than a
// bundle holds) comes back as !ok with a message.
NormalizeResult Normalize(std::string_view input, const NormalizeOptions& options = {});

// Where the normalized text goes when it is not kept whole: a piece at a time, in
// order, about a megabyte each.
using TextSink = std::function<void(std::string_view)>;

// The same, the text handed to `sink` as it is written (result.text stays empty),
// with no limit on the input's size. On a refusal (more objects than a bundle
// holds, told only once the input has been read) the sink may have been given
// part of the text, which the caller throws away.
NormalizeResult NormalizeTo(std::string_view input, const TextSink& sink, const NormalizeOptions& options = {});

// The same, the input read from `source` a piece at a time, a node at a time: the
// memory it takes follows the largest mesh, not the input. What `source` throws
// when it cannot read leaves this function as it is.
NormalizeResult NormalizeFrom(tolerant::ByteSource& source, const TextSink& sink,
                              const NormalizeOptions& options = {});

// Where the text goes as the buffers it is written in: the sink may keep the
// buffer it is given, leaving another (or none) for the writing to go on in.
using BufferSink = std::function<void(TextBuffer&)>;

// NormalizeFrom, each piece handed over in its buffer rather than as a view.
NormalizeResult NormalizeFrom(tolerant::ByteSource& source, const BufferSink& sink,
                              const NormalizeOptions& options = {});

// One line: "3 meshes, dialect: Blender, normals computed for 1".
std::string Summary(const NormalizeReport& report);

// The summary and every note, one per line, for a person to read.
std::string DescribeReport(const NormalizeReport& report);

// Normalize (the text kept whole) refuses inputs above this size: the input and
// the normalized text (larger than its input) are both held in memory at once.
// NormalizeTo and NormalizeFrom have no such limit.
inline constexpr std::size_t kMaxInputBytes = std::size_t{256} << 20;

}  // namespace ase2sgl::normalize
