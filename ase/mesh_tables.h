// MeshTables: what the two reads of an ASE file learn about its objects, and the
// two reads themselves.
//
// An object is one mesh of the input: a node header ("\t*NODE_NAME \"...") and the
// vertex, face, texture and normal lists that follow it. Objects are numbered from 0
// in input order. The counting pass fills MeshTables; the geometry pass then fills
// one object's working arrays at a time, and each finished object goes straight to
// the bundle writer, so memory holds one object's arrays, not the scene's.
#pragma once

#include "common/corner_record.h"

#include <cstdint>
#include <cstdlib>
#include <functional>
#include <limits>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

namespace ase2sgl {

class LineSource;
class PassObserver;
namespace platform {
class MappedInput;
}

struct MeshTables {
    std::int32_t objectCount = 0;
    // Per object, indexed by object number (at most kMaxObjects entries):
    // the name as the bundle stores it: the node header line from its fourteenth
    // byte on, less the line's last byte (the closing quote of a well-formed header),
    // upper-cased, at most 254 bytes;
    std::vector<std::string> nameText;
    // the vertex pool size: the larger of the vertex and texture-vertex line counts;
    std::vector<std::int32_t> vertexCount;
    // three per face line;
    std::vector<std::int32_t> cornerCount;
    // the offset of the vertex-start line the object's vertex search found: the
    // geometry pass reads the object from there up to the next object's line.
    std::vector<std::int64_t> objectStart;
    // The input's length as read (up to a 0x1A byte).
    std::int64_t inputBytes = 0;
};

// Memory for the working arrays that comes zeroed (calloc) and is left as it is by
// a resize: the records of a new block are zero without a pass of their own. For a
// large object that pass was a second one over tens of MiB the system had just
// zeroed when it handed out the pages. Records are trivial, so an element made
// without a value is simply left as the memory holds it; with a value it is copied
// as usual. A resize within a block already used therefore leaves what the records
// held: size these arrays with assign, or resize only a block just allocated (as
// the geometry pass does).
template <typename T>
struct ZeroedAllocator {
    using value_type = T;
    ZeroedAllocator() = default;
    template <typename U>
    ZeroedAllocator(const ZeroedAllocator<U>&) noexcept
    {
    }
    T* allocate(std::size_t n)
    {
        if (void* block = std::calloc(n, sizeof(T)))
            return static_cast<T*>(block);
        throw std::bad_alloc();
    }
    void deallocate(T* block, std::size_t) noexcept { std::free(block); }
    template <typename U>
    void construct(U*) noexcept
    {
        static_assert(std::is_trivially_default_constructible_v<U>, "left as the zeroed memory holds it");
    }
    template <typename U, typename... Args>
    void construct(U* at, Args&&... args)
    {
        ::new (static_cast<void*>(at)) U(std::forward<Args>(args)...);
    }
    friend bool operator==(const ZeroedAllocator&, const ZeroedAllocator&) { return true; }
};
using CornerArray = std::vector<CornerRecord, ZeroedAllocator<CornerRecord>>;

// The working arrays of the object being read, reused from object to object. Both
// are zero-filled for each object, so a field no line writes is +0.0 (a texture V
// never written reaches the file as -0.0, since stream assembly negates it).
struct ObjectArrays {
    CornerArray vertexPool;  // vertexCount entries: ASE vertex i is entry i
    CornerArray corners;     // cornerCount entries: face f has corners 3f..3f+2
    // The record's vertex count: three per face line read, at most corners.size().
    std::int32_t cornersRead = 0;
};

// Called once per object, in object order, when its arrays are complete.
using ObjectSink = std::function<void(std::int32_t object, const ObjectArrays& arrays)>;

// What the geometry pass needs of the count for one object: where its lines lie and
// how large its arrays are.
struct ObjectExtent {
    static constexpr std::int64_t kNoEnd = std::numeric_limits<std::int64_t>::max();
    std::int64_t start = 0;     // its vertex-start line
    std::int64_t end = kNoEnd;  // the next object's vertex-start line; none for the last
    std::int32_t vertexCount = 0;
    std::int32_t cornerCount = 0;
};
ObjectExtent ExtentOf(const MeshTables& tables, std::int32_t object);

// The name a bundle stores for the object of a node header line (as nameText above).
std::string NameText(std::string_view header);

// First read: finds the objects, names and measures them, and rewinds the input.
// Throws InputRefused for more than kMaxObjects objects (common/format_limits.h).
// An observer, if given, is told what the read does (ase/pass_observer.h).
MeshTables CountObjects(LineSource& input, const std::string& inputPath, PassObserver* observer = nullptr);
// The same count, telling `counted` of each object as it is added: the tables so
// far, the object last in them.
using ObjectCounted = std::function<void(const MeshTables& tables)>;
MeshTables CountObjects(LineSource& input, const std::string& inputPath, const ObjectCounted& counted);

// The first read with `threads` threads, each with its own LineSource from `open`
// counting a part of the input; the same tables, refusals and errors as CountObjects.
using InputOpener = std::function<LineSource()>;
MeshTables CountObjectsInParallel(LineSource& input, const InputOpener& open, const std::string& inputPath,
                                  int threads);

// Second read: fills each object's arrays and hands them to `sink`, every object
// from 0 to objectCount - 1 in order. Object j is read from its vertex-start line
// (objectStart[j]) within its own lines: a read that would reach object j + 1's
// vertex-start line finds the end of the input instead, so a mesh whose normals
// block or texture lists are missing never takes another object's lines. Only the
// face and texture-face numbers of a line that does not scan carry over from one
// object to the next.
void ReadGeometry(LineSource& input, const MeshTables& tables, const ObjectSink& sink,
                  PassObserver* observer = nullptr);

// The same read with `threads` threads (this one and threads - 1 more), each with its
// own LineSource from `open`, taking objects in turn. Objects are handed to `sink` in
// object order, on any of the threads; one whose face or texture-face numbers came
// from the objects before it (its first scan of either kind stored less than all) is
// read again with them first.
void ReadGeometryInParallel(const InputOpener& open, const MeshTables& tables, const ObjectSink& sink,
                            int threads = 2);

// The count and the geometry read at once, on `threads` threads: the count runs on
// the calling thread over `input`, and the other threads read each object's
// geometry as soon as the count has found where the next one starts; the calling
// thread joins them when the count is done (on one thread, it reads the objects it
// has counted whenever it is 1 MiB ahead, and the rest at the end). Objects reach
// `sink` in order, with their names, as ReadGeometryInParallel hands them on; the
// tables come back at the end. A failure of the count is the one thrown, as when the
// count runs first.
using NamedObjectSink =
    std::function<void(std::int32_t object, const std::string& nameText, const ObjectArrays& arrays)>;
MeshTables CountAndReadGeometry(LineSource& input, const InputOpener& open, const std::string& inputPath,
                                const NamedObjectSink& sink, int threads);
// The same with the count given: it must tell `counted` of each object it adds, as
// CountObjects does, and return the tables (tests slow it down to watch the readers).
// The count keeps within `lead` bytes of the oldest object not yet handed on (it
// reads objects itself while it is further ahead); `mapping`, when the count's and
// the readers' sources share one, has its pages given back behind that object.
using CountTelling = std::function<MeshTables(const ObjectCounted& counted)>;
inline constexpr std::int64_t kCountLead = std::int64_t{1} << 20;
// How far behind it the count keeps the pages it passed taken in for the readers.
inline constexpr std::int64_t kCountKeeps = std::int64_t{8} << 20;
MeshTables CountAndReadGeometry(const CountTelling& count, const InputOpener& open, const NamedObjectSink& sink,
                                int threads, std::int64_t lead = kCountLead,
                                std::shared_ptr<const platform::MappedInput> mapping = nullptr);

}  // namespace ase2sgl
