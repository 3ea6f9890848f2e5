// GeometryReader: the geometry pass over one LineSource, for the sequential read
// (geometry_pass.cpp) and for each thread of the parallel one (parallel_geometry.cpp).
// Internal to the ASE reader; the passes' interface is ase/mesh_tables.h.
#pragma once

#include "ase/line_source.h"
#include "ase/mesh_tables.h"
#include "ase/pass_observer.h"

#include <cstdint>
#include <limits>
#include <string_view>

namespace ase2sgl {

// Reads objects in any order: each one's vertex pool and corners from the lists
// between its vertex-start line and the next object's. The arrays stay valid until
// the next object is read.
class GeometryReader {
  public:
    GeometryReader(LineSource& input, const MeshTables& tables) : input_(input), tables_(tables) {}

    // Reads object `object` from its vertex-start line, within its own lines.
    void ReadObject(std::int32_t object) { ReadObject(object, ExtentOf(tables_, object)); }
    // The same, with the object's extent given (the tables may still be growing).
    void ReadObject(std::int32_t object, const ObjectExtent& extent);
    const ObjectArrays& Arrays() const { return arrays_; }
    // What the read of the object met: where its lists were found, lines that did
    // not scan, numbers outside the pool.
    // Counts of lines that do not scan and numbers outside the pool are kept only
    // when asked for.
    void Observe(bool observe) { observe_ = observe; }
    // Objects of SplitFromBytes() or more are read on `threads` threads, each over a
    // range of their lines (ase/split_object.h), where their layout allows; 1: never.
    void SplitLargeObjects(int threads) { splitThreads_ = threads; }
    const PassObserver::ReadObject& Seen() const { return seen_; }

    // The face and texture-face numbers a scan that stores less leaves in place: the
    // only state one object's reading hands to the next.
    struct Carry {
        std::int32_t face[3] = {0, 0, 0};
        std::int32_t texFace[3] = {0, 0, 0};
    };
    // True when the last object's face or texture-face numbers took values from
    // the objects before it (its first scan of either kind stored less than all).
    bool NeedsCarry() const;
    // The carry after the last object, given the carry before it.
    Carry CarryAfter(const Carry& before) const;
    void SetCarry(const Carry& carry);
    // What the last object does to the carry, kept apart from the reader: its own
    // numbers for a kind it scanned, the carry before it for a kind it did not.
    struct CarryUpdate {
        bool face = false, texFace = false;
        Carry own;
        Carry Apply(const Carry& before) const;
    };
    CarryUpdate Update() const;
    // The last object's arrays, taken away from the reader (which makes new ones for
    // the next object).
    ObjectArrays TakeArrays() { return std::move(arrays_); }

  private:
    // ReadLine, except that the object's end is the end of the input.
    bool Read();
    template <const std::string_view& kKey, bool kNormalsEnd>
    SearchEnd Search(std::int64_t& at);
    void ReadLists();
    bool ReadSplit(const ObjectExtent& extent);
    bool ReadListsInFileOrder();
    template <const std::string_view& kKey, const std::string_view&... kStops>
    bool FindFromLineInHand(bool stopsFromLineInHand, bool& stopped);
    void PrepareArrays(const ObjectExtent& extent);
    void SetCornersRead(std::int64_t faces);
    // The pool entry or corner record at `index`, or null outside the arrays (a
    // number in the file that names no vertex, a list longer than counted).
    CornerRecord* PoolEntry(std::int64_t index)
    {
        return index >= 0 && static_cast<std::uint64_t>(index) < arrays_.vertexPool.size()
                   ? &arrays_.vertexPool[static_cast<std::size_t>(index)]
                   : nullptr;
    }
    CornerRecord* Corner(std::int64_t index)
    {
        return index >= 0 && static_cast<std::uint64_t>(index) < arrays_.corners.size()
                   ? &arrays_.corners[static_cast<std::size_t>(index)]
                   : nullptr;
    }
    void ReadVertices();
    bool ReadTexVertices();
    void ReadTexVertexRun();
    template <bool kObserve>
    void ReadFaceLists(bool textured);
    template <bool kObserve>
    std::int64_t ReadFaces();
    template <bool kObserve>
    std::int64_t ReadFaceRun();
    template <bool kObserve, typename Copies>
    std::int64_t ReadFaceRunWith();
    template <bool kObserve>
    bool ReadTexFaces(std::int64_t faces);
    template <bool kObserve>
    bool ReadTexFaceRun(std::int64_t faces);
    template <bool kObserve, typename Copies>
    bool ReadTexFaceRunWith(std::int64_t faces);
    template <bool kObserve>
    void ReadNormals(std::int64_t faces);

    static constexpr std::int64_t kNoEnd = ObjectExtent::kNoEnd;

    LineSource& input_;
    const MeshTables& tables_;
    ObjectArrays arrays_;
    std::string_view line_;
    // Where the object being read ends: the next object's vertex-start line.
    std::int64_t end_ = kNoEnd;
    // Scan targets start at 0 and keep their values across faces and objects: a
    // face line that does not scan reuses the previous line's numbers.
    std::int32_t faceVertex_[3] = {0, 0, 0};
    std::int32_t texFaceVertex_[3] = {0, 0, 0};
    SkippedInt discard_;  // the number each texture-vertex, texture-face and normal line repeats
    // The current object's face and texture-face scans, for NeedsCarry.
    std::int64_t faceScans_ = 0, texFaceScans_ = 0;
    bool firstFaceScanComplete_ = false, firstTexFaceScanComplete_ = false;
    PassObserver::ReadObject seen_;
    bool observe_ = false;
    int splitThreads_ = 1;
};

}  // namespace ase2sgl
