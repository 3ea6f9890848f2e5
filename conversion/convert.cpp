// The conversion, step by step: count the objects (first read), open the output,
// read each object's geometry and write its record as soon as it is complete
// (second read, on one thread or more), then commit the output. On two or three
// threads the second read runs beside the first instead of after it.
#include "conversion/convert.h"

#include "ase/line_source.h"
#include "ase/mesh_tables.h"
#include "ase/split_object.h"
#include "bundle/atomic_output.h"
#include "bundle/mesh_bundle.h"
#include "conversion/output_path.h"
#include "platform/cores.h"
#include "platform/output_file.h"

#include <algorithm>
#include <functional>
#include <optional>
#include <span>

namespace ase2sgl {

namespace {

// The bundle's size if every face the counting pass found is read: the object count,
// then each object's record.
std::uint64_t BundleSizeLimit(const MeshTables& tables)
{
    std::uint64_t bytes = kCountBytes;
    for (const std::int32_t corners : tables.cornerCount)
        bytes += RecordBytes(static_cast<std::uint64_t>(corners));
    return bytes;
}

// The corners an object's record holds: three per face line read.
std::span<const CornerRecord> CornersRead(const ObjectArrays& arrays)
{
    return {arrays.corners.data(), static_cast<std::size_t>(arrays.cornersRead)};
}

// Below this size one thread converts: a second one would cost more to start than
// it saves. Up to three threads read beside the count, each from kBytesBeside of
// input; more read after a count in parallel parts, each from kBytesPerThread.
constexpr std::int64_t kParallelFrom = std::int64_t{4} << 20;
constexpr std::int64_t kBytesBeside = std::int64_t{2} << 20;
constexpr std::int64_t kBytesPerThread = std::int64_t{8} << 20;
constexpr std::int64_t kMostThreadsBeside = 3;
constexpr std::int64_t kMaxThreads = 256;

// Threads for a read of `bytes` of input: as many as the process has cores to run
// them, each with at least kBytesPerThread, or kBytesBeside while they are three or
// fewer; one below kParallelFrom.
int ThreadsFor(std::int64_t bytes)
{
    if (bytes < kParallelFrom)
        return 1;
    std::int64_t wanted = bytes / kBytesPerThread;
    if (wanted <= kMostThreadsBeside)
        wanted = std::min(kMostThreadsBeside, bytes / kBytesBeside);
    wanted = std::min({std::int64_t{platform::UsableCores()}, wanted, kMaxThreads});
    return static_cast<int>(std::max<std::int64_t>(wanted, 1));
}

// The thread choices that ask for two threads whatever the input's size.
bool AskedForTwo(GeometryThreads threads)
{
    return threads == GeometryThreads::kTwo || threads == GeometryThreads::kTwoBesideTheCount;
}

// The bytes of the largest object, from its vertex-start line to the next one's.
std::int64_t LargestObjectBytes(const MeshTables& tables)
{
    std::int64_t largest = 0;
    for (std::size_t j = 0; j < tables.objectStart.size(); ++j) {
        const std::int64_t end = j + 1 < tables.objectStart.size() ? tables.objectStart[j + 1] : tables.inputBytes;
        largest = std::max(largest, end - tables.objectStart[j]);
    }
    return largest;
}

// Large inputs are read by as many threads as the process has cores to run them, up
// to one per object unless an object is large enough to be read by several threads
// at once; a single small object, and a read that is observed, by one.
int GeometryThreadCount(const MeshTables& tables, GeometryThreads threads, const PassObserver* observer)
{
    if (tables.objectCount < 1 || observer != nullptr || threads == GeometryThreads::kOne)
        return 1;
    const bool splits = LargestObjectBytes(tables) >= SplitFromBytes();
    if (tables.objectCount < 2 && !splits)
        return 1;
    if (AskedForTwo(threads))
        return 2;
    const int count = ThreadsFor(tables.inputBytes);
    return splits ? count : std::min(count, static_cast<int>(tables.objectCount));
}

// Threads for a conversion whose geometry is read while the count goes on, or 0 where
// the count goes first. Two or three threads: one counts while the others read behind
// it, and all read once it is done. With more, one thread counting would hold up the
// readers, so the count is read in parallel parts first. One thread, for an input of
// a chunk or more: it counts 1 MiB ahead, then reads the objects it has counted,
// so that the second read finds the pages the first took in still mapped and their
// bytes still in the cache. Only where the output can be written over: the object
// count goes first in the file and is known last.
int ThreadsBesideTheCount(const LineSource& input, GeometryThreads threads, bool outputWritesOver)
{
    if (!outputWritesOver)
        return 0;
    if (threads == GeometryThreads::kTwoBesideTheCount)
        return 2;
    if (threads != GeometryThreads::kChosen)
        return 0;
    const auto size = static_cast<std::int64_t>(input.SizeWhenOpened());
    const int count = ThreadsFor(size);
    if (count == 1)
        return size >= static_cast<std::int64_t>(LineSource::kDefaultChunk) ? 1 : 0;
    return count <= kMostThreadsBeside ? count : 0;
}

// The two reads at once, each record written as soon as its object is read; the
// object count, written first as 0, is written over when the count is done. The
// bundle's size is not known ahead, so `reserve` is asked for room as it grows.
void CountAndWriteBundle(LineSource& input, const InputOpener& open, const std::string& inputName, int threads,
                         ByteSink& output, const std::function<void(std::uint64_t)>& reserve)
{
    BundleWriter bundle(output);
    bundle.WriteObjectCount(0);
    RoomAhead room(reserve);
    const NamedObjectSink sink = [&](std::int32_t, const std::string& nameText, const ObjectArrays& arrays) {
        const std::span<const CornerRecord> corners = CornersRead(arrays);
        room.Record(corners.size());
        bundle.WriteObject(nameText, corners);
    };
    const MeshTables tables = CountAndReadGeometry(input, open, inputName, sink, threads);
    input.Close();
    bundle.WriteObjectCountOver(tables.objectCount);
}

// The first read: in parallel parts for a large input, as the geometry read.
MeshTables Count(LineSource& input, const InputOpener& open, const std::string& inputName, GeometryThreads threads,
                 PassObserver* observer = nullptr)
{
    if (observer != nullptr || threads == GeometryThreads::kOne)
        return CountObjects(input, inputName, observer);
    const int count = AskedForTwo(threads) ? 2 : ThreadsFor(static_cast<std::int64_t>(input.SizeWhenOpened()));
    return CountObjectsInParallel(input, open, inputName, count);
}

// The second read, with each object's record written as soon as the geometry pass
// has finished it. Object order is input order, so records come out in file order.
void WriteBundle(LineSource& input, const InputOpener& open, const MeshTables& tables, GeometryThreads threads,
                 ByteSink& output, PassObserver* observer = nullptr)
{
    BundleWriter bundle(output, BundleSizeLimit(tables));
    bundle.WriteObjectCount(tables.objectCount);
    const ObjectSink sink = [&](std::int32_t object, const ObjectArrays& arrays) {
        bundle.WriteObject(tables.nameText[static_cast<std::size_t>(object)], CornersRead(arrays));
    };
    if (const int count = GeometryThreadCount(tables, threads, observer); count > 1) {
        input.Close();
        ReadGeometryInParallel(open, tables, sink, count);
    } else {
        ReadGeometry(input, tables, sink, observer);
        input.Close();  // closed before the output can replace it
    }
    bundle.Flush();
}

}  // namespace

namespace {

// The file route after the input is open: counted before the output is touched (an
// input that is refused, or cannot be read to its end, leaves the output path as it
// was), then the bundle written whole or not at all.
void ConvertToFile(LineSource& input, const InputOpener& open, const std::string& inputName,
                   const std::string& outputPath, GeometryThreads threads)
{
    // Reading beside the count, the output is made first: a regular file (or none
    // yet) is written through a temporary file, which can be written over. Where it
    // cannot be made, the count goes first, as below, so that an input that is
    // refused is still the failure reported.
    const platform::PathKind kind = platform::KindOf(outputPath);
    if (const int beside = ThreadsBesideTheCount(input, threads, kind == platform::PathKind::kRegularFile ||
                                                                     kind == platform::PathKind::kMissing);
        beside > 0) {
        std::optional<AtomicOutputFile> output;
        try {
            output.emplace(outputPath);
        } catch (const FileError&) {
        }
        if (output && output->WritesOver()) {
            CountAndWriteBundle(input, open, inputName, beside, *output,
                                [&](std::uint64_t room) { output->Reserve(room); });
            output->Commit();
            return;
        }
    }
    const MeshTables tables = Count(input, open, inputName, threads);
    AtomicOutputFile output(outputPath);
    output.Reserve(BundleSizeLimit(tables));
    WriteBundle(input, open, tables, threads, output);
    output.Commit();
}

// Where an input that cannot seek is copied: beside the output, on the disk that
// takes the bundle anyway; for an output written in place (a pipe, a device), the
// host's temporary folder.
std::string SpoolFolder(const std::string& outputPath)
{
    const platform::PathKind kind = platform::KindOf(outputPath);
    if (kind != platform::PathKind::kRegularFile && kind != platform::PathKind::kMissing)
        return {};
    return platform::Beside(platform::ResolveLinks(outputPath), ".");
}

}  // namespace

void Convert(const std::string& inputPath, const std::string& outputPath, GeometryThreads threads)
{
    CheckOutputPath(inputPath, outputPath);
    LineSource input(inputPath, LineSource::kDefaultChunk, SpoolFolder(outputPath));
    ConvertToFile(input, [&] { return input.Reopen(); }, inputPath, outputPath, threads);
}

void ConvertObserved(const std::string& inputPath, const std::string& inputName, PassObserver& observer,
                     ByteSink& output)
{
    LineSource input(inputPath, LineSource::kDefaultChunk, {});
    const MeshTables tables = CountObjects(input, inputName, &observer);
    WriteBundle(
        input, [&] { return input.Reopen(); }, tables, GeometryThreads::kOne, output, &observer);
}

void ConvertBytesToFile(std::string_view ase, const std::string& inputName, const std::string& outputPath)
{
    CheckOutputPath(inputName, outputPath);
    LineSource input = LineSource::FromMemory(ase);
    ConvertToFile(input, [&] { return input.Reopen(); }, inputName, outputPath, GeometryThreads::kChosen);
}

namespace {

std::string ConvertInMemory(std::string_view ase, GeometryThreads threads, PassObserver* observer)
{
    LineSource input = LineSource::FromMemory(ase);
    const InputOpener open = [&] { return input.Reopen(); };
    MemorySink output;
    if (const int beside = observer == nullptr ? ThreadsBesideTheCount(input, threads, true) : 0; beside > 0) {
        CountAndWriteBundle(input, open, kMemoryInputName, beside, output, [](std::uint64_t) {});
        return std::move(output.bytes);
    }
    const MeshTables tables = Count(input, open, kMemoryInputName, threads, observer);
    WriteBundle(input, open, tables, threads, output, observer);
    return std::move(output.bytes);
}

}  // namespace

std::string ConvertBytes(std::string_view ase, PassObserver* observer)
{
    return ConvertInMemory(ase, GeometryThreads::kChosen, observer);
}

std::string ConvertBytes(std::string_view ase, GeometryThreads threads)
{
    return ConvertInMemory(ase, threads, nullptr);
}

}  // namespace ase2sgl
