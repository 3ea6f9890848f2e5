// The conversion, step by step: count the objects (first read), open the output,
// read each object's geometry and write its record as soon as it is complete
// (second read, on one thread or two), then commit the output.
#include "conversion/convert.h"

#include "ase/line_source.h"
#include "ase/mesh_tables.h"
#include "bundle/atomic_output.h"
#include "bundle/mesh_bundle.h"
#include "conversion/output_path.h"
#include "platform/cores.h"
#include "platform/output_file.h"

#include <span>

namespace ase2sgl {

namespace {

// The bundle's size if every face the counting pass found is read: the object count,
// then each object's record.
std::uint64_t BundleSizeLimit(const MeshTables& tables)
{
    std::uint64_t bytes = kCountBytes;
    for (const std::int32_t corners : tables.cornerCount)
        bytes += kRecordHeaderBytes + kBytesPerVertex * static_cast<std::uint64_t>(corners);
    return bytes;
}

// Below this size one thread converts: a second one would cost more to start than
// it saves.
constexpr std::int64_t kParallelFrom = std::int64_t{16} << 20;

// Large inputs are read by two threads when two cores are there to run them; a
// single object, and a read that is observed, always by one.
bool UseTwoThreads(const MeshTables& tables, GeometryThreads threads, const PassObserver* observer)
{
    if (tables.objectCount < 2 || observer != nullptr || threads == GeometryThreads::kOne)
        return false;
    return threads == GeometryThreads::kTwo || (tables.inputBytes >= kParallelFrom && platform::SecondCoreIdle());
}

// The second read, with each object's record written as soon as the geometry pass
// has finished it. Object order is input order, so records come out in file order.
void WriteBundle(LineSource& input, const InputOpener& open, const MeshTables& tables, GeometryThreads threads,
                 ByteSink& output, PassObserver* observer = nullptr)
{
    BundleWriter bundle(output, BundleSizeLimit(tables));
    bundle.WriteObjectCount(tables.objectCount);
    const ObjectSink sink = [&](std::int32_t object, const ObjectArrays& arrays) {
        const std::span<const CornerRecord> corners(arrays.corners.data(),
                                                    static_cast<std::size_t>(arrays.cornersRead));
        bundle.WriteObject(tables.nameText[static_cast<std::size_t>(object)], corners);
    };
    if (UseTwoThreads(tables, threads, observer)) {
        input.Close();
        ReadGeometryInParallel(open, tables, sink);
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
    const MeshTables tables = CountObjects(input, inputName);
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
    ConvertToFile(input, [&] { return LineSource::FromMemory(ase); }, inputName, outputPath, GeometryThreads::kChosen);
}

namespace {

std::string ConvertInMemory(std::string_view ase, GeometryThreads threads, PassObserver* observer)
{
    LineSource input = LineSource::FromMemory(ase);
    const MeshTables tables = CountObjects(input, kMemoryInputName, observer);
    MemorySink output;
    WriteBundle(
        input, [&] { return LineSource::FromMemory(ase); }, tables, threads, output, observer);
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
