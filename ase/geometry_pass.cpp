// Geometry pass: the second read of the input. For each object, from the
// vertex-start line the counting pass found for it, fills its vertex pool and
// corners from the lists that follow: vertex lines, then (read ahead) the texture
// vertices, then, after seeking back to the line after the first vertex line, the
// faces, texture faces and vertex normals.
//
// The lists are found the way the exporter's layout places them, and inputs that
// break that layout are read the same way, but only within the object's own lines:
// the next object's vertex-start line is the end of the input for every search and
// every fixed-count read (a mesh exported without normals finds none, instead of
// taking the next mesh's). Every write is checked against the arrays the counting
// pass sized; a write that would fall outside them is skipped.
#include "ase/mesh_tables.h"

#include "ase/geometry_reader.h"
#include "ase/keys.h"
#include "ase/list_scan.h"
#include "ase/numbered_key.h"
#include "ase/split_object.h"

#include "platform/large_pages.h"

#include <algorithm>
#include <array>
#include <cstring>

#if defined(__GNUC__)
#define ASE2SGL_FLATTEN __attribute__((flatten))
#else
#define ASE2SGL_FLATTEN
#endif

namespace ase2sgl {

namespace {

// A count the observer is told; without an observer it is not kept at all, so the
// plain conversion runs the instructions it ran before there was an observer.
template <bool kOn>
struct Tally {
    void Add(bool yes) { count += yes; }
    std::int64_t count = 0;
};
template <>
struct Tally<false> {
    void Add(bool) {}
    static constexpr std::int64_t count = 0;
};

// How a face line's corners get the pool entries it names. The entries of a small
// pool stay in the processor's cache and are copied as each line is read
// (ImmediateCopies). A large object's pool (32 bytes a vertex: 12.8 MB for a mesh of
// 400,000 vertices) is far larger than the cache, and the vertices of a face line may
// lie anywhere in it: DeferredCopies asks for each entry (a prefetch) when its line
// is scanned and copies it kLines lines later, so that the waits for memory overlap
// instead of following one another. Either way the copies are the ones the lines
// name, in their order; only their time moves, and nothing in between reads what
// they fill (the pool is complete before the face lists, and no other line of the
// list writes the field copied). The two ways are two instances of each run, each
// compiled with everything it calls inlined (ASE2SGL_FLATTEN): the line scans stay
// inlined as they are where there is one instance, and a small pool's run costs what
// it cost before there were two ways.
//
// Pools from this many entries (1 MiB: one core's second-level cache here) have their
// copies deferred.
constexpr std::size_t kDeferFromEntries = (std::size_t{1} << 20) / sizeof(CornerRecord);

bool DefersCopies(const ObjectArrays& arrays)
{
    return arrays.vertexPool.size() >= kDeferFromEntries;
}

template <typename Copy>
struct ImmediateCopies {
    void Add(const CornerRecord* from, CornerRecord* to)
    {
        if (from != nullptr && to != nullptr)
            Copy{}(*from, *to);
    }
    void LineDone() {}
    void Flush() {}
};

template <typename Copy>
class DeferredCopies {
  public:
    static constexpr std::size_t kLines = 8;

    void Add(const CornerRecord* from, CornerRecord* to)
    {
        if (from != nullptr)
            Prefetch(from);
        queued_[count_++] = {from, to};
    }
    // After each line's three corners.
    void LineDone()
    {
        if (count_ == queued_.size())
            Flush();
    }
    void Flush()
    {
        for (std::size_t i = 0; i < count_; ++i)
            if (queued_[i].from != nullptr && queued_[i].to != nullptr)
                Copy{}(*queued_[i].from, *queued_[i].to);
        count_ = 0;
    }

  private:
    // A hint only: nothing where the compiler has no such builtin, never a fault.
    static void Prefetch(const void* address)
    {
#if defined(__GNUC__)
        __builtin_prefetch(address);
#else
        static_cast<void>(address);
#endif
    }
    struct Queued {
        const CornerRecord* from;
        CornerRecord* to;
    };
    std::array<Queued, 3 * kLines> queued_{};  // three corners a line
    std::size_t count_ = 0;
};

struct CopyPosition {
    void operator()(const CornerRecord& from, CornerRecord& to) const
    {
        std::memcpy(to.position, from.position, sizeof to.position);
    }
};
struct CopyTexcoord {
    void operator()(const CornerRecord& from, CornerRecord& to) const
    {
        std::memcpy(to.texcoord, from.texcoord, sizeof to.texcoord);
    }
};

}  // namespace

ObjectExtent ExtentOf(const MeshTables& tables, std::int32_t object)
{
    const auto j = static_cast<std::size_t>(object);
    ObjectExtent extent;
    extent.start = tables.objectStart[j];
    if (j + 1 < tables.objectStart.size())
        extent.end = tables.objectStart[j + 1];
    extent.vertexCount = tables.vertexCount[j];
    extent.cornerCount = tables.cornerCount[j];
    return extent;
}

void GeometryReader::ReadObject(std::int32_t object, const ObjectExtent& extent)
{
    end_ = extent.end;
    input_.SeekTo(extent.start);
    PrepareArrays(extent);
    seen_ = PassObserver::ReadObject{};
    seen_.object = object;
    if (ReadSplit(extent)) {
        seen_.cornersRead = arrays_.cornersRead;
        return;
    }
    // The line the counting pass found; only a file changed since then can have
    // another there, and such an object stays empty.
    if (Read() && StartsWith(line_, keys::kVertexStart))
        ReadLists();
    seen_.cornersRead = arrays_.cornersRead;
}

// A large object on several threads, when it is not observed: the same arrays and
// scan targets as ReadLists leaves (the file-order path), or false, with the
// arrays zero-filled again, for the sequential read.
bool GeometryReader::ReadSplit(const ObjectExtent& extent)
{
    if (splitThreads_ < 2 || observe_)
        return false;
    const std::int64_t end = extent.end == kNoEnd ? static_cast<std::int64_t>(input_.SizeWhenOpened()) : extent.end;
    const std::int64_t bytes = end - extent.start;
    if (bytes < SplitFromBytes())
        return false;
    // A few pieces per thread, so that one that reads slower (floats against
    // integers) holds up the others less; none much under 1 MiB.
    constexpr std::int64_t kPieceBytes = std::int64_t{1} << 20;
    const auto pieces =
        static_cast<int>(std::clamp<std::int64_t>(bytes / kPieceBytes, splitThreads_, std::int64_t{4} * splitThreads_));
    SplitRead read;
    if (!ReadObjectSplit(input_, extent, arrays_, splitThreads_, pieces, read)) {
        PrepareArrays(extent);
        return false;
    }
    faceScans_ = read.faces;
    firstFaceScanComplete_ = true;
    if (read.faces > 0)
        std::copy(std::begin(read.face), std::end(read.face), faceVertex_);
    texFaceScans_ = read.texFaces ? read.faces : 0;
    firstTexFaceScanComplete_ = true;
    if (read.texFaces)
        std::copy(std::begin(read.texFace), std::end(read.texFace), texFaceVertex_);
    return true;
}

bool GeometryReader::NeedsCarry() const
{
    return (faceScans_ > 0 && !firstFaceScanComplete_) || (texFaceScans_ > 0 && !firstTexFaceScanComplete_);
}

GeometryReader::CarryUpdate GeometryReader::Update() const
{
    CarryUpdate update;
    update.face = faceScans_ > 0;
    update.texFace = texFaceScans_ > 0;
    std::copy(std::begin(faceVertex_), std::end(faceVertex_), update.own.face);
    std::copy(std::begin(texFaceVertex_), std::end(texFaceVertex_), update.own.texFace);
    return update;
}

GeometryReader::Carry GeometryReader::CarryUpdate::Apply(const Carry& before) const
{
    Carry after = before;
    if (face)
        std::copy(std::begin(own.face), std::end(own.face), after.face);
    if (texFace)
        std::copy(std::begin(own.texFace), std::end(own.texFace), after.texFace);
    return after;
}

GeometryReader::Carry GeometryReader::CarryAfter(const Carry& before) const
{
    return Update().Apply(before);
}

void GeometryReader::SetCarry(const Carry& carry)
{
    std::copy(std::begin(carry.face), std::end(carry.face), faceVertex_);
    std::copy(std::begin(carry.texFace), std::end(carry.texFace), texFaceVertex_);
}

bool GeometryReader::Read()
{
    if (input_.Tell() >= end_) {
        line_ = {};
        return false;
    }
    return input_.ReadLine(line_);
}

// Reads on until a line starts with `kKey`, or (with `kNormalsEnd`) the normals
// block, or the object's lines end; `at` is where the search stopped.
template <const std::string_view& kKey, bool kNormalsEnd>
SearchEnd GeometryReader::Search(std::int64_t& at)
{
    for (;;) {
        at = input_.Tell();
        if (!Read()) {
            at = PassObserver::kNone;
            return SearchEnd::kEndOfInput;
        }
        if (kNormalsEnd && StartsWith(line_, keys::kNormalsBlock))
            return SearchEnd::kNormalsBlock;
        if (StartsWith(line_, kKey))
            return SearchEnd::kFound;
    }
}

// The line in hand is the object's first vertex line.
void GeometryReader::ReadLists()
{
    const std::int64_t afterVertexStart = input_.Tell();
    ReadVertices();
    const std::int64_t afterVertexRunEnd = input_.Tell();
    if (!observe_ && ReadListsInFileOrder())
        return;
    input_.SeekTo(afterVertexRunEnd);
    const bool textured = ReadTexVertices();
    // The texture vertices come after the faces in the file, but the faces need
    // them in the pool: they were read ahead, and the faces are read now.
    input_.SeekTo(afterVertexStart);
    if (observe_)
        ReadFaceLists<true>(textured);
    else
        ReadFaceLists<false>(textured);
}

// True when the line in hand, or one after it, begins with `kKey` before the
// object's lines end. A line that begins with one of `kStops` makes it give false
// at once (with `stopped` set), leaving the line in hand there; the line in hand is
// tested for them only when `stopsFromLineInHand`.
template <const std::string_view& kKey, const std::string_view&... kStops>
bool GeometryReader::FindFromLineInHand(bool stopsFromLineInHand, bool& stopped)
{
    stopped = false;
    for (bool first = true;; first = false) {
        if (!first && !Read())
            return false;
        if ((!first || stopsFromLineInHand) && (StartsWith(line_, kStops) || ...)) {
            stopped = true;
            return false;
        }
        if (StartsWith(line_, kKey))
            return true;
    }
}

// The lists read once each, in the order the exporter writes them: vertices (read
// already), faces, texture vertices, texture faces, normals. Each search starts
// where the list before it ended instead of where the searches above start, which
// finds the same lines as long as no line passed over would have stopped one of
// those searches earlier: a texture-vertex list or normals block before the faces,
// a texture-face or face-normal list before the texture vertices. Such a layout
// gives false, with the reader's carried numbers as they were, and the object is
// read again the way above. The vertex lists and the face list only hold lines
// that begin with their own keys, which none of the searches looks for.
bool GeometryReader::ReadListsInFileOrder()
{
    // Faces: the search above starts after the vertex-start line, and no vertex line
    // can begin a face list, so it is the line that ended the vertex run on. The
    // texture-vertex search would start right after that line.
    bool stopped = false;
    if (!FindFromLineInHand<keys::kFaceStart, keys::kTexVertexStart, keys::kNormalsBlock>(false, stopped)) {
        arrays_.cornersRead = 0;
        return !stopped;
    }
    const Carry carryBefore = Update().own;  // the reader's numbers as they stand
    const std::int64_t faceScansBefore = faceScans_;
    const bool firstFaceScanCompleteBefore = firstFaceScanComplete_;
    const std::int64_t faces = ReadFaceRun<false>();
    SetCornersRead(faces);

    // Texture vertices: from the line that ended the face run. The texture-face and
    // normals searches start after that line.
    SearchEnd texVertices = SearchEnd::kEndOfInput;
    for (bool first = true;; first = false) {
        if (!first) {
            if (!Read())
                break;
            if (StartsWith(line_, keys::kTexFaceStart) || StartsWith(line_, keys::kFaceNormalStart)) {
                SetCarry(carryBefore);
                faceScans_ = faceScansBefore;
                firstFaceScanComplete_ = firstFaceScanCompleteBefore;
                return false;
            }
        }
        if (StartsWith(line_, keys::kNormalsBlock)) {
            texVertices = SearchEnd::kNormalsBlock;
            break;
        }
        if (StartsWith(line_, keys::kTexVertexStart)) {
            texVertices = SearchEnd::kFound;
            break;
        }
    }
    if (texVertices == SearchEnd::kEndOfInput)
        return true;  // no normals either: none was passed over
    if (texVertices == SearchEnd::kFound) {
        ReadTexVertexRun();
        // Texture faces: from the line that ended the run (no line of it can begin
        // a texture-face list or a normals block), up to a normals block.
        if (!FindFromLineInHand<keys::kTexFaceStart, keys::kNormalsBlock>(true, stopped)) {
            if (!stopped)
                return true;  // the object's lines ended: no normals
        } else if (!ReadTexFaceRun<false>(faces)) {
            return true;
        }
    }
    ReadNormals<false>(faces);
    return true;
}

// Faces, texture faces and normals, from the line after the vertex-start line.
template <bool kObserve>
void GeometryReader::ReadFaceLists(bool textured)
{
    const std::int64_t faces = ReadFaces<kObserve>();
    SetCornersRead(faces);
    if (faces == 0)
        return;  // no face list before the end of the input
    if (textured && !ReadTexFaces<kObserve>(faces))
        return;
    ReadNormals<kObserve>(faces);
}

void GeometryReader::SetCornersRead(std::int64_t faces)
{
    arrays_.cornersRead =
        static_cast<std::int32_t>(std::min<std::int64_t>(faces * 3, static_cast<std::int64_t>(arrays_.corners.size())));
}

namespace {

// Sizes `array` to `count` zero records. One that has to grow is allocated afresh
// at the size it needs (the old block goes back first, nothing is copied), from
// memory that comes zeroed and is not written again: for a large object the system's
// zeroing of its fresh pages is the only pass over them before the lists are read.
// From 4 MiB the block is offered large pages before anything writes it (a 100 MB
// scene that is one object: 8,700 page faults before, 3,090 after, 7% less time on
// one core). An array large enough already is zero-filled.
void PrepareZeroed(CornerArray& array, std::size_t count)
{
    if (count <= array.capacity()) {
        array.assign(count, CornerRecord{});
        return;
    }
    constexpr std::size_t kLargeBytes = std::size_t{4} << 20;
    CornerArray().swap(array);
    array.reserve(count);
    if (count >= kLargeBytes / sizeof(CornerRecord))
        platform::AdviseLargePages(array.data(), count * sizeof(CornerRecord));
    array.resize(count);  // no writes: the block is zero
}

}  // namespace

void GeometryReader::PrepareArrays(const ObjectExtent& extent)
{
    PrepareZeroed(arrays_.vertexPool, static_cast<std::size_t>(extent.vertexCount));
    PrepareZeroed(arrays_.corners, static_cast<std::size_t>(extent.cornerCount));
    arrays_.cornersRead = 0;
    faceScans_ = texFaceScans_ = 0;
}

// Vertex lines 0, 1, 2, ... each scanned with its own number in the format.
void GeometryReader::ReadVertices()
{
    NumberedKey next(keys::kVertex, 0);
    std::string_view key = keys::kVertexStart;  // the key the line in hand starts with
    std::int64_t v = 0;
    do {
        if (CornerRecord* entry = PoolEntry(v))
            ScanAfterKey<keys::kVertexScanTail>(line_, key, entry->position[0], entry->position[2],
                                                entry->position[1]);
        ++v;
        next.Advance();
        key = next.View();
        if (!Read())
            return;
    } while (StartsWith(line_, key));
}

// Searches on from the line after the one that ended the vertex list, up to the
// normals block; at the first texture-vertex line reads the list into the pool.
// True when a list was found.
bool GeometryReader::ReadTexVertices()
{
    seen_.texVertexSearch = Search<keys::kTexVertexStart, true>(seen_.texVertexStart);
    if (seen_.texVertexSearch != SearchEnd::kFound)
        return false;
    ReadTexVertexRun();
    return true;
}

// The line in hand is the first texture-vertex line.
void GeometryReader::ReadTexVertexRun()
{
    // Entries past the pool cannot be written and the read position is dropped by
    // the seek back, so the run stops at the end of the pool.
    NumberedKey next(keys::kTexVertex, 0);
    do {
        CornerRecord* entry = PoolEntry(next.Number());
        if (entry == nullptr)
            break;
        ScanWithHead<keys::kTexVertexHead, keys::kTexVertexScanTail, keys::kTexVertexScan>(
            line_, discard_, entry->texcoord[0], entry->texcoord[1]);
        entry->texcoord[1] = -entry->texcoord[1];
        Read();
        next.Advance();
    } while (StartsWith(line_, next.View()));
}

// Searches from the line after the vertex-start line for the first face line,
// then reads the face list. Gives the number of faces read.
template <bool kObserve>
std::int64_t GeometryReader::ReadFaces()
{
    if (Search<keys::kFaceStart, false>(seen_.faceStart) != SearchEnd::kFound)
        return 0;
    return ReadFaceRun<kObserve>();
}

// The line in hand is the first face line. Gives the number of faces read.
template <bool kObserve>
std::int64_t GeometryReader::ReadFaceRun()
{
    return DefersCopies(arrays_) ? ReadFaceRunWith<kObserve, DeferredCopies<CopyPosition>>()
                                 : ReadFaceRunWith<kObserve, ImmediateCopies<CopyPosition>>();
}

template <bool kObserve, typename Copies>
ASE2SGL_FLATTEN std::int64_t GeometryReader::ReadFaceRunWith()
{
    NumberedKey next(keys::kFace, 0);
    std::string_view key = keys::kFaceStart;  // the key the line in hand starts with
    std::int64_t corner = 0;
    Tally<kObserve> notScanned, outside;
    Copies copies;
    do {
        const int stored =
            ScanAfterKey<keys::kFaceScanTail>(line_, key, faceVertex_[0], faceVertex_[1], faceVertex_[2]);
        if (faceScans_++ == 0)
            firstFaceScanComplete_ = stored == 3;
        notScanned.Add(stored < 3);
        for (const std::int32_t vertex : faceVertex_) {
            const CornerRecord* entry = PoolEntry(vertex);
            outside.Add(entry == nullptr);
            copies.Add(entry, Corner(corner++));
        }
        copies.LineDone();
        next.Advance();
        key = next.View();
        if (!Read())
            break;
    } while (StartsWith(line_, key));
    copies.Flush();
    seen_.faces = corner / 3;
    seen_.faceLinesNotScanned = notScanned.count;
    seen_.vertexNumbersOutside = outside.count;
    return corner / 3;
}

// Searches for the texture-face list, up to the normals block, and applies
// exactly one line per face in line order: the lines after the first are not
// tested. A line that does not scan leaves the texture-vertex numbers of the
// line before. False when the input ended.
template <bool kObserve>
bool GeometryReader::ReadTexFaces(std::int64_t faces)
{
    seen_.texFaceSearch = Search<keys::kTexFaceStart, true>(seen_.texFaceStart);
    if (seen_.texFaceSearch != SearchEnd::kFound)
        return seen_.texFaceSearch == SearchEnd::kNormalsBlock;
    return ReadTexFaceRun<kObserve>(faces);
}

// The line in hand is the first texture-face line. False when the input ended.
template <bool kObserve>
bool GeometryReader::ReadTexFaceRun(std::int64_t faces)
{
    return DefersCopies(arrays_)
               ? ReadTexFaceRunWith<kObserve, DeferredCopies<CopyTexcoord>>(faces)
               : ReadTexFaceRunWith<kObserve, ImmediateCopies<CopyTexcoord>>(faces);
}

template <bool kObserve, typename Copies>
ASE2SGL_FLATTEN bool GeometryReader::ReadTexFaceRunWith(std::int64_t faces)
{
    bool more = true;
    Tally<kObserve> notScanned, missing, outside;
    Copies copies;
    for (std::int64_t f = 0; f < faces; ++f) {
        if (more) {
            const int stored = ScanWithHead<keys::kTexFaceHead, keys::kTexFaceScanTail, keys::kTexFaceScan>(
                line_, discard_, texFaceVertex_[0], texFaceVertex_[1], texFaceVertex_[2]);
            if (texFaceScans_++ == 0)
                firstTexFaceScanComplete_ = stored == 4;
            notScanned.Add(stored < 4);
        } else {
            missing.Add(true);
            if (Corner(3 * f) == nullptr)
                break;  // past the end: no more lines to scan, no more corners to fill
        }
        for (int i = 0; i < 3; ++i) {
            const CornerRecord* entry = PoolEntry(texFaceVertex_[i]);
            outside.Add(entry == nullptr);
            copies.Add(entry, Corner(3 * f + i));
        }
        copies.LineDone();
        more = more && Read();
    }
    copies.Flush();
    seen_.texFaceLinesNotScanned = notScanned.count;
    seen_.texFaceLinesMissing = missing.count;
    seen_.texVertexNumbersOutside = outside.count;
    return more;
}

// Searches for the first face-normal line (nothing else ends this search), then
// reads four lines per face: the face normal, which is not used, and the vertex
// normals of corners A, B and C.
template <bool kObserve>
void GeometryReader::ReadNormals(std::int64_t faces)
{
    seen_.normalsSearch = Search<keys::kFaceNormalStart, false>(seen_.faceNormalStart);
    if (seen_.normalsSearch != SearchEnd::kFound)
        return;
    Tally<kObserve> notScanned;
    std::int64_t corner = 0;
    for (; corner < faces * 3; ++corner) {
        if (!Read())
            break;  // the remaining lines are empty and scan nothing
        if (CornerRecord* target = Corner(corner))
            notScanned.Add(
                ScanWithHead<keys::kVertexNormalHead, keys::kVertexNormalScanTail, keys::kVertexNormalScan>(
                    line_, discard_, target->normal[0], target->normal[2], target->normal[1]) < 4);
        if (corner % 3 == 2 && !Read()) {
            ++corner;
            break;
        }
    }
    seen_.vertexNormalLinesNotScanned = notScanned.count;
    seen_.vertexNormalLinesMissing = faces * 3 - corner;
}

void ReadGeometry(LineSource& input, const MeshTables& tables, const ObjectSink& sink, PassObserver* observer)
{
    GeometryReader reader(input, tables);
    reader.Observe(observer != nullptr);
    for (std::int32_t object = 0; object < tables.objectCount; ++object) {
        reader.ReadObject(object);
        if (observer != nullptr)
            observer->ObjectRead(reader.Seen());
        sink(object, reader.Arrays());
    }
}

}  // namespace ase2sgl
