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
#include "ase/line_source.h"
#include "ase/list_scan.h"
#include "ase/mesh_tables.h"
#include "ase/numbered_key.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <exception>
#include <limits>
#include <mutex>
#include <thread>

namespace ase2sgl {

namespace {

class GeometryReader {
  public:
    GeometryReader(LineSource& input, const MeshTables& tables) : input_(input), tables_(tables) {}

    void Run(const ObjectSink& sink)
    {
        std::int32_t object = 0;
        // An object number at or above the node count has no arrays, and neither has
        // any later one: reading further could fill nothing.
        while (object < tables_.nodeCount && FindVertexStart()) {
            ReadObject(object);
            sink(object, arrays_);
            ++object;
        }
        SendEmptyObjects(object, sink);
    }

    // Object by object, for the parallel read.

    // The face and texture-face numbers a scan that stores less leaves in place: the
    // only state one object's reading hands to the next.
    struct Carry {
        std::int32_t face[3] = {0, 0, 0};
        std::int32_t texFace[3] = {0, 0, 0};
    };

    // Reads the object whose vertex-start line begins at `lineStart`, as the
    // sequential read does once it has found that line. False when that line is not
    // a vertex-start line (the file changed since it was counted).
    bool ReadObjectAt(std::int32_t object, std::int64_t lineStart)
    {
        input_.SeekTo(lineStart);
        if (!input_.ReadLine(line_) || !StartsWith(line_, keys::kVertexStart))
            return false;
        ReadObject(object);
        return true;
    }
    // The sequential read from `position` on, objects `object` to nodeCount - 1.
    void RunFrom(std::int64_t position, std::int32_t object, const Carry& carry, const ObjectSink& sink)
    {
        input_.SeekTo(position);
        SetCarry(carry);
        while (object < tables_.nodeCount && FindVertexStart()) {
            ReadObject(object);
            sink(object, arrays_);
            ++object;
        }
        SendEmptyObjects(object, sink);
    }
    // Where the reading of the last object ended: the next search starts there.
    std::int64_t Position() const { return input_.Tell(); }
    // True when the last object's face or texture-face numbers took values from
    // the objects before it (its first scan of either kind stored less than all).
    bool NeedsCarry() const
    {
        return (faceScans_ > 0 && !firstFaceScanComplete_) || (texFaceScans_ > 0 && !firstTexFaceScanComplete_);
    }
    // The carry after the last object, given the carry before it.
    Carry CarryAfter(const Carry& before) const
    {
        Carry after = before;
        if (faceScans_ > 0)
            std::copy(std::begin(faceVertex_), std::end(faceVertex_), after.face);
        if (texFaceScans_ > 0)
            std::copy(std::begin(texFaceVertex_), std::end(texFaceVertex_), after.texFace);
        return after;
    }
    void SetCarry(const Carry& carry)
    {
        std::copy(std::begin(carry.face), std::end(carry.face), faceVertex_);
        std::copy(std::begin(carry.texFace), std::end(carry.texFace), texFaceVertex_);
    }
    const ObjectArrays& Arrays() const { return arrays_; }

  private:
    void SendEmptyObjects(std::int32_t object, const ObjectSink& sink)
    {
        arrays_.vertexPool.clear();
        arrays_.corners.clear();
        arrays_.outputVertexCount = 0;
        for (; object < tables_.nodeCount; ++object)
            sink(object, arrays_);
    }

    bool FindVertexStart()
    {
        while (input_.ReadLine(line_)) {
            if (StartsWith(line_, keys::kVertexStart))
                return true;
        }
        return false;
    }

    // The line in hand is the object's first vertex line.
    void ReadObject(std::int32_t object)
    {
        PrepareArrays(object);
        const std::int64_t afterVertexStart = input_.Tell();
        ReadVertices();
        const bool textured = ReadTexVertices();
        // The texture vertices come after the faces in the file, but the faces need
        // them in the pool: they were read ahead, and the faces are read now.
        input_.SeekTo(afterVertexStart);
        const std::int64_t faces = ReadFaces();
        arrays_.outputVertexCount = static_cast<std::int32_t>(
            std::min<std::int64_t>(faces * 3, static_cast<std::int64_t>(arrays_.corners.size())));
        if (faces == 0)
            return;  // no face list before the end of the input
        if (textured && !ReadTexFaces(faces))
            return;
        ReadNormals(faces);
    }

    void PrepareArrays(std::int32_t object)
    {
        constexpr CornerRecord kZero{};
        arrays_.vertexPool.assign(static_cast<std::size_t>(tables_.vertexCount[static_cast<std::size_t>(object)]),
                                  kZero);
        arrays_.corners.assign(static_cast<std::size_t>(tables_.cornerCount[static_cast<std::size_t>(object)]), kZero);
        arrays_.outputVertexCount = 0;
        faceScans_ = texFaceScans_ = 0;
    }

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

    // Vertex lines 0, 1, 2, ... each scanned with its own number in the format.
    void ReadVertices()
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
    bool ReadTexVertices()
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
    std::int64_t FindTexVertexList(std::int64_t from)
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
    std::int64_t ReadFaces()
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
    bool ReadTexFaces(std::int64_t faces)
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
    void ReadNormals(std::int64_t faces)
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

// Two readers take objects in turn from a shared counter, each from the vertex-start
// line the counting pass saw for it, and hand them to the sink in object order. The
// sequential read would start object j at the first vertex-start line at or after
// the end of object j - 1's reading. Every vertex-start line is in the list, so
// that is line j exactly when object j - 1 ended at or before it; and object j's
// arrays depend on nothing else before it but the carried face numbers, which are
// used only when its first scan of a kind stored less than all (then it is read
// again with the true carry). The first object that ends past the next one's line
// hands the rest of the input to the sequential read.
class ParallelGeometry {
  public:
    ParallelGeometry(const InputOpener& open, const MeshTables& tables, const ObjectSink& sink)
        : open_(open),
          tables_(tables),
          sink_(sink),
          startable_(static_cast<std::int32_t>(
              std::min<std::size_t>(static_cast<std::size_t>(tables.nodeCount), tables.vertexStartLines.size())))
    {
    }

    void Run()
    {
        std::thread helper([this] { Work(); });
        Work();
        helper.join();
        if (error_)
            std::rethrow_exception(error_);
        if (!handedOver_) {  // the tail after the last object: what the sequential read does there
            LineSource input = open_();
            GeometryReader(input, tables_).RunFrom(previousEnd_, turn_, carry_, sink_);
        }
    }

  private:
    void Work()
    {
        try {
            LineSource input = open_();
            GeometryReader reader(input, tables_);
            for (;;) {
                const std::int32_t object = next_.fetch_add(1);
                if (object >= startable_)
                    return;
                const std::int64_t lineStart = tables_.vertexStartLines[static_cast<std::size_t>(object)];
                const bool found = reader.ReadObjectAt(object, lineStart);
                std::unique_lock lock(mutex_);
                turnTaken_.wait(lock, [&] { return turn_ == object || stop_; });
                if (stop_)
                    return;
                lock.unlock();  // the turn is this thread's until it passes it on
                if (!found || previousEnd_ > lineStart) {
                    HandOver(reader, object);
                    return;
                }
                if (reader.NeedsCarry()) {
                    reader.SetCarry(carry_);
                    reader.ReadObjectAt(object, lineStart);
                }
                sink_(object, reader.Arrays());
                previousEnd_ = reader.Position();
                carry_ = reader.CarryAfter(carry_);
                lock.lock();
                turn_ = object + 1;
                turnTaken_.notify_all();
            }
        } catch (...) {
            const std::lock_guard lock(mutex_);
            if (!error_)
                error_ = std::current_exception();
            stop_ = true;
            turnTaken_.notify_all();
        }
    }

    // The sequential read from where object `object` would have started.
    void HandOver(GeometryReader& reader, std::int32_t object)
    {
        {
            const std::lock_guard lock(mutex_);
            stop_ = true;
            handedOver_ = true;
            turnTaken_.notify_all();
        }
        reader.RunFrom(previousEnd_, object, carry_, sink_);
    }

    const InputOpener& open_;
    const MeshTables& tables_;
    const ObjectSink& sink_;
    const std::int32_t startable_;  // objects with a vertex-start line of their own to start at
    std::atomic<std::int32_t> next_{0};

    std::mutex mutex_;
    std::condition_variable turnTaken_;
    std::int32_t turn_ = 0;  // the next object to hand to the sink
    bool stop_ = false;
    bool handedOver_ = false;
    std::exception_ptr error_;
    // Written by the thread whose turn it is.
    std::int64_t previousEnd_ = 0;
    GeometryReader::Carry carry_;
};

}  // namespace

void ReadGeometry(LineSource& input, const MeshTables& tables, const ObjectSink& sink)
{
    GeometryReader(input, tables).Run(sink);
}

void ReadGeometryInParallel(const InputOpener& open, const MeshTables& tables, const ObjectSink& sink)
{
    ParallelGeometry(open, tables, sink).Run();
}

}  // namespace ase2sgl
