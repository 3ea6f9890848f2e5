// The geometry pass on two threads: objects read in parallel from the vertex-start
// lines the counting pass noted, handed on in object order once each is shown to be
// what the sequential read gives.
#include "ase/mesh_tables.h"

#include "ase/geometry_reader.h"
#include "ase/keys.h"
#include "ase/line_source.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <thread>

namespace ase2sgl {

namespace {

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
              std::min<std::size_t>(static_cast<std::size_t>(tables.objectCount), tables.vertexStartLines.size())))
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
                if (object >= startable_ || !TakeObject(reader, object))
                    return;
            }
        } catch (...) {
            const std::lock_guard lock(mutex_);
            if (!error_)
                error_ = std::current_exception();
            stop_ = true;
            turnTaken_.notify_all();
        }
    }

    // Reads `object` from its own vertex-start line, waits for its turn, and hands it
    // to the sink if the sequential read would have given the same; otherwise hands
    // the rest of the input to the sequential read. False when this thread is done.
    bool TakeObject(GeometryReader& reader, std::int32_t object)
    {
        const std::int64_t lineStart = tables_.vertexStartLines[static_cast<std::size_t>(object)];
        const bool found = reader.ReadObjectAt(object, lineStart);
        std::unique_lock lock(mutex_);
        turnTaken_.wait(lock, [&] { return turn_ == object || stop_; });
        if (stop_)
            return false;
        lock.unlock();  // the turn is this thread's until it passes it on
        if (!found || previousEnd_ > lineStart) {
            HandOver(reader, object);
            return false;
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
        return true;
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

void ReadGeometryInParallel(const InputOpener& open, const MeshTables& tables, const ObjectSink& sink)
{
    ParallelGeometry(open, tables, sink).Run();
}

}  // namespace ase2sgl
