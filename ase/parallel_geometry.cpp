// The geometry pass on several threads. Each object is read within its own lines,
// from the vertex-start line the counting pass found for it to the next object's, so
// what it gets depends on nothing before it but the face and texture-face numbers
// a line that does not scan takes from the object before (the carry). The readers
// take objects in turn from a shared counter and hand them to the sink in object
// order: an object finished before its turn is set aside (up to one per thread) and
// handed on by the thread whose turn reaches it. An object whose first face or
// texture-face scan stored less than all used the carry, and is read again with the
// true one before it is handed on. An object large enough is read by all the
// threads at once, over ranges of its lines (ase/split_object.cpp): the thread that
// takes it starts the others it needs; a scene that is one mesh uses every core.
//
// The same readers can also run while the count is still going on (one to three
// threads): the count, on the calling thread, publishes each object as it adds it,
// and an object may be read once the next one's vertex-start line is known (its end)
// or the count is done. The readers wait for that; the calling thread joins them
// when the count is done. The first read then runs ahead of the second on another
// core instead of both waiting for each other at the end of the count. The count
// keeps near the readers: more than 1 MiB ahead of the oldest object not yet
// handed on, it reads objects itself, leaving two ready for every other thread and
// at least as many bytes as the object it takes. The
// sources share one mapping of the file, so the pages the count took in are still
// there for the readers, and are given back once every object before them is handed
// on.
#include "ase/mesh_tables.h"

#include "ase/geometry_reader.h"
#include "ase/line_source.h"
#include "common/format_limits.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <exception>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace ase2sgl {

namespace {

class ParallelGeometry {
  public:
    // Objects from complete tables.
    ParallelGeometry(const InputOpener& open, const MeshTables& tables, const ObjectSink& sink)
        : open_(open), tables_(&tables), sink_(sink)
    {
    }
    // Objects as a count running beside the readers publishes them; `mapping` is the
    // one the count and the readers share (or null), `lead` how far the count may get
    // ahead of the oldest object not yet handed on.
    ParallelGeometry(const InputOpener& open, const NamedObjectSink& sink,
                     std::shared_ptr<const platform::MappedInput> mapping, std::int64_t lead)
        : open_(open), namedSink_(sink), mapping_(std::move(mapping)), lead_(lead)
    {
        published_.reserve(static_cast<std::size_t>(kMaxObjects) + 1);  // never moves: read while it grows
    }

    void Run(int threads)
    {
        std::vector<std::thread> helpers = StartHelpers(threads);
        Work();
        Join(helpers);
    }

    // Runs `count` on this thread while the other threads read what it publishes,
    // then reads with them. The count's failure is the one thrown.
    MeshTables CountAlongside(int threads, const CountTelling& count)
    {
        std::vector<std::thread> helpers = StartHelpers(threads);
        MeshTables tables;
        std::exception_ptr countError;
        try {
            tables = count([this](const MeshTables& counted) { Publish(counted); });
        } catch (...) {
            countError = std::current_exception();
        }
        {
            const std::lock_guard lock(mutex_);
            counted_ = true;
            if (countError)
                stop_ = true;
            turnTaken_.notify_all();
        }
        if (!countError)
            WorkAfterCount();
        try {
            Join(helpers);
        } catch (...) {
            if (!countError)
                throw;
        }
        if (countError)
            std::rethrow_exception(countError);
        return tables;
    }

  private:
    std::vector<std::thread> StartHelpers(int threads)
    {
        threads_ = threads;
        std::vector<std::thread> helpers;
        helpers.reserve(static_cast<std::size_t>(threads - 1));
        try {
            for (int i = 1; i < threads; ++i)
                helpers.emplace_back([this] { Work(); });
        } catch (...) {
            Stop(std::current_exception());  // no thread to be had: the ones started finish
        }
        return helpers;
    }

    void Join(std::vector<std::thread>& helpers)
    {
        for (std::thread& helper : helpers)
            helper.join();
        if (error_)
            std::rethrow_exception(error_);
    }

    // One object the count added: the last in `counted`. The one before it may now be read.
    void Publish(const MeshTables& counted)
    {
        const std::int32_t last = counted.objectCount - 1;
        Published entry{counted.nameText[static_cast<std::size_t>(last)], ExtentOf(counted, last)};  // no end yet
        {
            const std::lock_guard lock(mutex_);
            if (!published_.empty())
                published_.back().extent.end = entry.extent.start;
            published_.push_back(std::move(entry));
            turnTaken_.notify_all();
        }
        KeepNear();
    }

    // On the counting thread, after each object: while the count is more than lead_
    // bytes ahead of the oldest object not yet handed on, reads an object that may be
    // read itself, as long as that leaves two for every other thread (one to read
    // while this one reads, one for after), or one once more than kMostAhead bytes lie
    // between (their pages are held), and at least its own bytes for each of them
    // (LeavesEnoughBytes); else it counts on, since the readers must not wait for a
    // count that is reading. It never waits. A failure
    // while it reads is the readers' (it stops them), not the count's, which goes on.
    void KeepNear()
    {
        try {
            for (;;) {
                std::unique_lock lock(mutex_);
                const auto turn = static_cast<std::size_t>(turn_);
                if (stop_ || turn >= published_.size())
                    return;
                const std::int64_t ahead = published_.back().extent.start - published_[turn].extent.start;
                if (ahead <= lead_)
                    return;
                const auto ready = static_cast<std::int32_t>(published_.size() - 1);
                const auto leftForOthers = static_cast<std::int32_t>(threads_ - 1) * (ahead > kMostAhead ? 1 : 2);
                std::int32_t object = next_.load();
                for (;;) {
                    if (ready - object <= leftForOthers || !LeavesEnoughBytes(object, ready))
                        return;
                    if (next_.compare_exchange_weak(object, object + 1))
                        break;
                }
                const ObjectExtent extent = published_[static_cast<std::size_t>(object)].extent;
                lock.unlock();
                if (!TakeObject(CountingThreadReader(), object, extent))
                    return;
            }
        } catch (...) {
            Stop(std::current_exception());
        }
    }

    // Whether the objects ready after `object` (up to `ready`, not included) hold at
    // least its bytes for every other thread (called with mutex_ held). The count
    // stops while the counting thread reads, and the others read more slowly than it
    // does (it has just passed those bytes): a large object taken while only small
    // ones are left for them leaves them waiting for the count.
    bool LeavesEnoughBytes(std::int32_t object, std::int32_t ready) const
    {
        const auto start = [this](std::int32_t i) { return published_[static_cast<std::size_t>(i)].extent.start; };
        const std::int64_t bytes = start(object + 1) - start(object);
        return start(ready) - start(object + 1) >= bytes * (threads_ - 1);
    }

    // Gives back the shared mapping's pages before the oldest object not yet handed
    // on (called with mutex_ held, after turn_ moved): no reader goes back before it,
    // and the count is past it. In steps of 256 KiB or more.
    void ReleaseHandedPages()
    {
        if (!mapping_ || static_cast<std::size_t>(turn_) >= published_.size())
            return;
        const auto frontier = static_cast<std::uint64_t>(published_[static_cast<std::size_t>(turn_)].extent.start);
        if (frontier < released_ + (std::uint64_t{1} << 18))
            return;
        mapping_->ReleaseFromBlockStart(released_, frontier - released_);
        released_ = frontier;
    }

    // Whether `object` is there to be read, waiting for the count where it has not
    // got that far; its extent when it is.
    bool Available(std::int32_t object, ObjectExtent& extent)
    {
        if (tables_ != nullptr) {
            if (object >= tables_->objectCount)
                return false;
            extent = ExtentOf(*tables_, object);
            return true;
        }
        const auto j = static_cast<std::size_t>(object);
        std::unique_lock lock(mutex_);
        // Readable: the next object is published (this one's end is known), or the
        // count is done and this one is the last.
        turnTaken_.wait(lock, [&] { return stop_ || counted_ || j + 1 < published_.size(); });
        if (stop_ || j >= published_.size())
            return false;
        extent = published_[j].extent;
        return true;
    }

    void Work()
    {
        try {
            LineSource input = open_();
            GeometryReader reader(input, tables_ != nullptr ? *tables_ : noTables_);
            reader.SplitLargeObjects(threads_);
            ReadObjectsInTurn(reader);
        } catch (...) {
            Stop(std::current_exception());
        }
    }

    // The counting thread, once the count is done, with the reader it used while
    // ahead (its arrays already grown).
    void WorkAfterCount()
    {
        try {
            GeometryReader& reader = CountingThreadReader();
            reader.SplitLargeObjects(threads_);  // not while it counts: the others are reading then
            ReadObjectsInTurn(reader);
        } catch (...) {
            Stop(std::current_exception());
        }
    }

    GeometryReader& CountingThreadReader()
    {
        if (!countingThreadReader_) {
            countingThreadSource_ = std::make_unique<LineSource>(open_());
            countingThreadReader_ = std::make_unique<GeometryReader>(*countingThreadSource_, noTables_);
        }
        return *countingThreadReader_;
    }

    void ReadObjectsInTurn(GeometryReader& reader)
    {
        for (;;) {
            const std::int32_t object = next_.fetch_add(1);
            ObjectExtent extent;
            if (!Available(object, extent) || !TakeObject(reader, object, extent))
                return;
        }
    }

    // The object handed to the sink: from complete tables, or as published (an
    // entry does not change once the object may be read).
    void Hand(std::int32_t object, const ObjectArrays& arrays)
    {
        if (tables_ != nullptr)
            sink_(object, arrays);
        else
            namedSink_(object, published_[static_cast<std::size_t>(object)].name, arrays);
    }

    void Stop(std::exception_ptr error)
    {
        const std::lock_guard lock(mutex_);
        if (!error_)
            error_ = std::move(error);
        stop_ = true;
        turnTaken_.notify_all();
    }

    // Reads `object` and hands it on as the sequential read would have read it: at
    // once when it is its turn, with the objects set aside after it; else it is set
    // aside for the thread whose turn comes first, while there is room, so that a
    // long object on one thread does not hold up the others. False when another
    // thread has failed.
    bool TakeObject(GeometryReader& reader, std::int32_t object, const ObjectExtent& extent)
    {
        reader.ReadObject(object, extent);
        std::unique_lock lock(mutex_);
        turnTaken_.wait(lock, [&] { return turn_ == object || stop_ || aside_.size() < static_cast<std::size_t>(threads_); });
        if (stop_)
            return false;
        if (turn_ != object) {
            aside_.emplace(object, SetAside{reader.TakeArrays(), reader.NeedsCarry(), reader.Update(), extent});
            return true;
        }
        lock.unlock();  // the turn is this thread's until it passes it on
        HandOn(reader, object, extent, reader.NeedsCarry());
        lock.lock();
        for (turn_ = object + 1; !stop_;) {
            const auto found = aside_.find(turn_);
            if (found == aside_.end())
                break;
            const std::int32_t inTurn = turn_;
            SetAside next = std::move(found->second);
            aside_.erase(found);
            lock.unlock();
            if (next.needsCarry) {
                HandOn(reader, inTurn, next.extent, true);  // read again here, with the true carry
            } else {
                Hand(inTurn, next.arrays);
                carry_ = next.update.Apply(carry_);
            }
            lock.lock();
            turn_ = inTurn + 1;
        }
        ReleaseHandedPages();
        turnTaken_.notify_all();
        return true;
    }

    // Hands on `object`, the last one `reader` read unless `readAgain`: then it is read
    // first with the true carry (it took face numbers from the objects before it).
    void HandOn(GeometryReader& reader, std::int32_t object, const ObjectExtent& extent, bool readAgain)
    {
        if (readAgain) {
            reader.SetCarry(carry_);
            reader.ReadObject(object, extent);
        }
        Hand(object, reader.Arrays());
        carry_ = reader.CarryAfter(carry_);
    }

    // An object read before its turn.
    struct SetAside {
        ObjectArrays arrays;
        bool needsCarry = false;
        GeometryReader::CarryUpdate update;
        ObjectExtent extent;
    };

    // An object the count has added, as the readers take it.
    struct Published {
        std::string name;
        ObjectExtent extent;
    };

    const InputOpener& open_;
    const MeshTables* tables_ = nullptr;  // complete tables; else the objects published
    const MeshTables noTables_;           // the readers' tables when objects are published
    ObjectSink sink_;
    NamedObjectSink namedSink_;
    std::vector<Published> published_;  // written under mutex_; an entry stays as it is once readable
    bool counted_ = false;               // the count is done: no entry will be added
    std::shared_ptr<const platform::MappedInput> mapping_;
    std::uint64_t released_ = 0;  // the shared mapping's pages before here are given back
    std::int64_t lead_ = 0;
    int threads_ = 1;  // reading; as many objects may be set aside at once
    // Past this many bytes between the oldest object not yet handed on and the count,
    // the pages held weigh more than the other threads' next object: the counting
    // thread reads an object where one stays ready for every other thread.
    static constexpr std::int64_t kMostAhead = std::int64_t{4} << 20;
    // The counting thread's own reader, for the objects it reads while ahead.
    std::unique_ptr<LineSource> countingThreadSource_;
    std::unique_ptr<GeometryReader> countingThreadReader_;
    std::atomic<std::int32_t> next_{0};

    std::mutex mutex_;
    std::condition_variable turnTaken_;
    std::int32_t turn_ = 0;  // the next object to hand to the sink
    std::map<std::int32_t, SetAside> aside_;  // objects read before their turn
    bool stop_ = false;
    std::exception_ptr error_;
    GeometryReader::Carry carry_;  // written by the thread whose turn it is
};

}  // namespace

void ReadGeometryInParallel(const InputOpener& open, const MeshTables& tables, const ObjectSink& sink, int threads)
{
    ParallelGeometry(open, tables, sink).Run(std::max(threads, 1));
}

MeshTables CountAndReadGeometry(const CountTelling& count, const InputOpener& open, const NamedObjectSink& sink,
                                int threads, std::int64_t lead, std::shared_ptr<const platform::MappedInput> mapping)
{
    return ParallelGeometry(open, sink, std::move(mapping), lead).CountAlongside(std::max(threads, 1), count);
}

MeshTables CountAndReadGeometry(LineSource& input, const InputOpener& open, const std::string& inputPath,
                                const NamedObjectSink& sink, int threads)
{
    // The sources `open` makes share the input's mapping (LineSource::Reopen); the
    // pages the count passes stay for them, up to kCountKeeps behind it: the count is
    // kept near the readers (kCountLead), and gets further ahead only within an object
    // too large to be read before its end is found.
    input.KeepPassedPages(kCountKeeps);
    return CountAndReadGeometry([&](const ObjectCounted& counted) { return CountObjects(input, inputPath, counted); },
                                open, sink, threads, kCountLead, input.Mapping());
}

}  // namespace ase2sgl
