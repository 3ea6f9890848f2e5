// GeometryReader: the geometry pass over one LineSource, for the sequential read
// (geometry_pass.cpp) and for each thread of the parallel one (parallel_geometry.cpp).
// Internal to the ASE reader; the passes' interface is ase/mesh_tables.h.
#pragma once

#include "ase/line_source.h"
#include "ase/mesh_tables.h"

#include <cstdint>
#include <limits>
#include <string_view>

namespace ase2sgl {

// Reads objects one after the other: for each vertex list it meets it fills one
// object's vertex pool and corners from the lists that follow. The object's arrays
// stay valid until the next object is read.
class GeometryReader {
  public:
    GeometryReader(LineSource& input, const MeshTables& tables) : input_(input), tables_(tables) {}

    // The face and texture-face numbers a scan that stores less leaves in place: the
    // only state one object's reading hands to the next.
    struct Carry {
        std::int32_t face[3] = {0, 0, 0};
        std::int32_t texFace[3] = {0, 0, 0};
    };

    // Reads the object whose vertex-start line begins at `lineStart`, as the
    // sequential read does once it has found that line. False when that line is not
    // a vertex-start line (the file changed since it was counted).
    bool ReadObjectAt(std::int32_t object, std::int64_t lineStart);
    // The sequential read from `position` on, objects `object` to objectCount - 1,
    // each handed to `sink` when complete. From the start (position 0, object 0, no
    // carry) it is the whole geometry pass.
    void RunFrom(std::int64_t position, std::int32_t object, const Carry& carry, const ObjectSink& sink);
    // Where the reading of the last object ended: the next search starts there.
    std::int64_t Position() const { return input_.Tell(); }
    // True when the last object's face or texture-face numbers took values from
    // the objects before it (its first scan of either kind stored less than all).
    bool NeedsCarry() const;
    // The carry after the last object, given the carry before it.
    Carry CarryAfter(const Carry& before) const;
    void SetCarry(const Carry& carry);
    const ObjectArrays& Arrays() const { return arrays_; }

  private:
    void SendEmptyObjects(std::int32_t object, const ObjectSink& sink);
    bool FindVertexStart();
    void ReadObject(std::int32_t object);
    void PrepareArrays(std::int32_t object);

    CornerRecord* PoolEntry(std::int64_t index);

    CornerRecord* Corner(std::int64_t index);
    void ReadVertices();
    bool ReadTexVertices();
    std::int64_t FindTexVertexList(std::int64_t from);
    std::int64_t ReadFaces();
    bool ReadTexFaces(std::int64_t faces);
    void ReadNormals(std::int64_t faces);

    static constexpr std::int64_t kNoLine = -1;

    LineSource& input_;
    const MeshTables& tables_;
    ObjectArrays arrays_;
    std::string_view line_;
    // Scan targets start at 0 and keep their values across faces and objects: a
    // face line that does not scan reuses the previous line's numbers.
    std::int32_t faceVertex_[3] = {0, 0, 0};
    std::int32_t texFaceVertex_[3] = {0, 0, 0};
    std::int32_t discard_ = 0;
    // The current object's face and texture-face scans, for NeedsCarry.
    std::int64_t faceScans_ = 0, texFaceScans_ = 0;
    bool firstFaceScanComplete_ = false, firstTexFaceScanComplete_ = false;
    // The last texture-vertex search: where it started, where and why it stopped.
    enum class Stop { kTexVertexList, kNormalsBlock, kEndOfInput };
    struct {
        std::int64_t from = std::numeric_limits<std::int64_t>::max();
        std::int64_t stopLine = 0;
        Stop stop = Stop::kEndOfInput;
    } search_;
};

}  // namespace ase2sgl
