// The geometry pass on several threads. Each object is read within its own lines,
// from the vertex-start line the counting pass found for it to the next object's, so
// what it gets depends on nothing before it but the face and texture-face numbers
// a line that does not scan takes from the object before (the carry). The readers
// take objects in turn from a shared counter and hand them to the sink in object
// order: an object finished before its turn is set aside (up to one per thread) and
// handed on by the thread whose turn reaches it. An object whose first face or
// texture-face scan stored less than all used the carry, and is read again with the
// true one before it is handed on.
#include "ase/mesh_tables.h"

#include "ase/geometry_reader.h"
#include "ase/line_source.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <exception>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

namespace ase2sgl {

namespace {

class ParallelGeometry {
  public:
    ParallelGeometry(const InputOpener& open, const MeshTables& tables, const ObjectSink& sink)
        : open_(open), tables_(tables), sink_(sink)
    {
    }

    void Run(int threads)
    {
        aheadLimit_ = static_cast<std::size_t>(threads);
        std::vector<std::thread> helpers;
        helpers.reserve(static_cast<std::size_t>(threads - 1));
        try {
            for (int i = 1; i < threads; ++i)
                helpers.emplace_back([this] { Work(); });
        } catch (...) {
            Stop(std::current_exception());  // no thread to be had: the ones started finish
        }
        Work();
        for (std::thread& helper : helpers)
            helper.join();
        if (error_)
            std::rethrow_exception(error_);
    }

  private:
    void Work()
    {
        try {
            LineSource input = open_();
            GeometryReader reader(input, tables_);
            for (;;) {
                const std::int32_t object = next_.fetch_add(1);
                if (object >= tables_.objectCount || !TakeObject(reader, object))
                    return;
            }
        } catch (...) {
            Stop(std::current_exception());
        }
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
    bool TakeObject(GeometryReader& reader, std::int32_t object)
    {
        reader.ReadObject(object);
        std::unique_lock lock(mutex_);
        turnTaken_.wait(lock, [&] { return turn_ == object || stop_ || aside_.size() < aheadLimit_; });
        if (stop_)
            return false;
        if (turn_ != object) {
            aside_.emplace(object, SetAside{reader.TakeArrays(), reader.NeedsCarry(), reader.Update()});
            return true;
        }
        lock.unlock();  // the turn is this thread's until it passes it on
        HandOn(reader, object, reader.NeedsCarry());
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
                HandOn(reader, inTurn, true);  // read again here, with the true carry
            } else {
                sink_(inTurn, next.arrays);
                carry_ = next.update.Apply(carry_);
            }
            lock.lock();
            turn_ = inTurn + 1;
        }
        turnTaken_.notify_all();
        return true;
    }

    // Hands on `object`, the last one `reader` read unless `readAgain`: then it is read
    // first with the true carry (it took face numbers from the objects before it).
    void HandOn(GeometryReader& reader, std::int32_t object, bool readAgain)
    {
        if (readAgain) {
            reader.SetCarry(carry_);
            reader.ReadObject(object);
        }
        sink_(object, reader.Arrays());
        carry_ = reader.CarryAfter(carry_);
    }

    // An object read before its turn.
    struct SetAside {
        ObjectArrays arrays;
        bool needsCarry = false;
        GeometryReader::CarryUpdate update;
    };

    const InputOpener& open_;
    const MeshTables& tables_;
    const ObjectSink& sink_;
    std::atomic<std::int32_t> next_{0};

    std::mutex mutex_;
    std::condition_variable turnTaken_;
    std::int32_t turn_ = 0;  // the next object to hand to the sink
    std::map<std::int32_t, SetAside> aside_;  // objects read before their turn
    std::size_t aheadLimit_ = 1;
    bool stop_ = false;
    std::exception_ptr error_;
    GeometryReader::Carry carry_;  // written by the thread whose turn it is
};

}  // namespace

void ReadGeometryInParallel(const InputOpener& open, const MeshTables& tables, const ObjectSink& sink, int threads)
{
    ParallelGeometry(open, tables, sink).Run(std::max(threads, 1));
}

}  // namespace ase2sgl
