// In-process benchmarks of the reading primitives on a generated exporter-layout
// scene: line reading, key tests and number scanning, and the two reads on their
// own, the first by number of parts (the model for many cores: the serial share is
// what does not shrink with the parts). Bytes per second are input bytes.
#include "ase/keys.h"
#include "ase/line_source.h"
#include "ase/list_scan.h"
#include "ase/mesh_tables.h"
#include "ase/numbered_key.h"
#include "conversion/convert.h"
#include "ase_generator.h"
#include "support/key_format.h"

#include <benchmark/benchmark.h>

#include <string>
#include <vector>

namespace {

using namespace ase2sgl;
using ase2sgl::testing::FormatKey;

const std::string& Scene()
{
    static const std::string scene = bench::GenerateAse({bench::Layout::kRealistic, 20'000'000, false, 1});
    return scene;
}

// Every line of the scene that starts with `prefix`.
std::vector<std::string_view> LinesStartingWith(std::string_view prefix)
{
    std::vector<std::string_view> lines;
    LineSource source = LineSource::FromMemory(Scene());
    std::string_view line;
    while (source.ReadLine(line)) {
        if (StartsWith(line, prefix))
            lines.push_back(line);
    }
    return lines;
}

std::int64_t TotalBytes(const std::vector<std::string_view>& lines)
{
    std::int64_t bytes = 0;
    for (const std::string_view line : lines)
        bytes += static_cast<std::int64_t>(line.size()) + 1;
    return bytes;
}

void ReadLines(benchmark::State& state)
{
    for (auto _ : state) {
        LineSource source = LineSource::FromMemory(Scene());
        std::string_view line;
        std::size_t count = 0;
        while (source.ReadLine(line))
            count += line.size();
        benchmark::DoNotOptimize(count);
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(Scene().size()));
}
BENCHMARK(ReadLines)->Unit(benchmark::kMillisecond);

// Each vertex line with the number the vertex run expects there.
std::vector<std::pair<std::string_view, std::int64_t>> NumberedVertexLines()
{
    std::vector<std::pair<std::string_view, std::int64_t>> numbered;
    std::int64_t next = 0;
    for (const std::string_view line : LinesStartingWith("\t\t\t*MESH_VERTEX ")) {
        next = StartsWith(line, keys::kVertexStart) ? 0 : next + 1;
        numbered.emplace_back(line, next);
    }
    return numbered;
}

std::int64_t TotalBytes(const std::vector<std::pair<std::string_view, std::int64_t>>& numbered)
{
    std::int64_t bytes = 0;
    for (const auto& entry : numbered)
        bytes += static_cast<std::int64_t>(entry.first.size()) + 1;
    return bytes;
}

// The vertex-run key test by formatting the key and comparing.
void VertexKeyFormatted(benchmark::State& state)
{
    const auto lines = NumberedVertexLines();
    std::string key;
    std::int64_t bytes = 0;
    for (const auto& [line, number] : lines)
        bytes += static_cast<std::int64_t>(line.size()) + 1;
    for (auto _ : state) {
        std::int64_t matched = 0;
        for (const auto& [line, number] : lines) {
            FormatKey(key, keys::kVertex, number);
            matched += StartsWith(line, key);
        }
        benchmark::DoNotOptimize(matched);
    }
    state.SetBytesProcessed(state.iterations() * bytes);
}
BENCHMARK(VertexKeyFormatted)->Unit(benchmark::kMillisecond);

// The same test with the key advanced in place, as the passes do it.
void VertexKeyInPlace(benchmark::State& state)
{
    const auto lines = NumberedVertexLines();
    const std::int64_t bytes = TotalBytes(lines);
    for (auto _ : state) {
        std::int64_t matched = 0;
        NumberedKey key(keys::kVertex, 0);
        for (const auto& [line, number] : lines) {
            if (number == 0)
                key.Reset(0);
            matched += StartsWith(line, key.View());
            key.Advance();
        }
        benchmark::DoNotOptimize(matched);
    }
    state.SetBytesProcessed(state.iterations() * bytes);
}
BENCHMARK(VertexKeyInPlace)->Unit(benchmark::kMillisecond);

void ScanVertexLines(benchmark::State& state)
{
    const std::vector<std::string_view> lines = LinesStartingWith("\t\t\t*MESH_VERTEX ");
    std::string format;
    for (auto _ : state) {
        float sum = 0;
        for (std::size_t i = 0; i < lines.size(); ++i) {
            float x = 0, y = 0, z = 0;
            FormatKey(format, keys::kVertexScan, static_cast<std::int64_t>(i % 10000));
            ScanLine(lines[i], format, {x, y, z});
            sum += x + y + z;
        }
        benchmark::DoNotOptimize(sum);
    }
    state.SetBytesProcessed(state.iterations() * TotalBytes(lines));
}
BENCHMARK(ScanVertexLines)->Unit(benchmark::kMillisecond);

// Vertex lines scanned from the end of their key, as the geometry pass does.
void ScanVertexLinesAfterKey(benchmark::State& state)
{
    const auto lines = NumberedVertexLines();
    const std::int64_t bytes = TotalBytes(lines);
    for (auto _ : state) {
        float sum = 0;
        NumberedKey key(keys::kVertex, 0);
        for (const auto& [line, number] : lines) {
            if (number == 0)
                key.Reset(0);
            float x = 0, y = 0, z = 0;
            ScanAfterKey<keys::kVertexScanTail>(line, key.View(), x, y, z);
            key.Advance();
            sum += x + y + z;
        }
        benchmark::DoNotOptimize(sum);
    }
    state.SetBytesProcessed(state.iterations() * bytes);
}
BENCHMARK(ScanVertexLinesAfterKey)->Unit(benchmark::kMillisecond);

void ScanVertexNormalLines(benchmark::State& state)
{
    const std::vector<std::string_view> lines = LinesStartingWith("\t\t\t\t*MESH_VERTEXNORMAL ");
    for (auto _ : state) {
        float sum = 0;
        for (const std::string_view line : lines) {
            std::int32_t number = 0;
            float x = 0, y = 0, z = 0;
            ScanLine(line, keys::kVertexNormalScan, {number, x, y, z});
            sum += x + y + z;
        }
        benchmark::DoNotOptimize(sum);
    }
    state.SetBytesProcessed(state.iterations() * TotalBytes(lines));
}
BENCHMARK(ScanVertexNormalLines)->Unit(benchmark::kMillisecond);

void ScanVertexNormalLinesAfterHead(benchmark::State& state)
{
    const std::vector<std::string_view> lines = LinesStartingWith("\t\t\t\t*MESH_VERTEXNORMAL ");
    for (auto _ : state) {
        float sum = 0;
        for (const std::string_view line : lines) {
            std::int32_t number = 0;
            float x = 0, y = 0, z = 0;
            ScanWithHead<keys::kVertexNormalHead, keys::kVertexNormalScanTail, keys::kVertexNormalScan>(line, number,
                                                                                                       x, y, z);
            sum += x + y + z;
        }
        benchmark::DoNotOptimize(sum);
    }
    state.SetBytesProcessed(state.iterations() * TotalBytes(lines));
}
BENCHMARK(ScanVertexNormalLinesAfterHead)->Unit(benchmark::kMillisecond);

// The first read, whole (1) or in parts on as many threads.
void CountObjectsInParts(benchmark::State& state)
{
    const int parts = static_cast<int>(state.range(0));
    for (auto _ : state) {
        LineSource input = LineSource::FromMemory(Scene());
        const MeshTables tables =
            parts == 1 ? CountObjects(input, "bench")
                       : CountObjectsInParallel(input, [] { return LineSource::FromMemory(Scene()); }, "bench", parts);
        benchmark::DoNotOptimize(tables.objectCount);
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(Scene().size()));
}
BENCHMARK(CountObjectsInParts)->Arg(1)->Arg(2)->Arg(4)->Unit(benchmark::kMillisecond)->UseRealTime();

// The second read on one thread, every object handed to a sink that keeps nothing.
void ReadGeometryOnOneThread(benchmark::State& state)
{
    LineSource counted = LineSource::FromMemory(Scene());
    const MeshTables tables = CountObjects(counted, "bench");
    for (auto _ : state) {
        LineSource input = LineSource::FromMemory(Scene());
        std::int64_t corners = 0;
        ReadGeometry(input, tables, [&](std::int32_t, const ObjectArrays& arrays) { corners += arrays.cornersRead; });
        benchmark::DoNotOptimize(corners);
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(Scene().size()));
}
BENCHMARK(ReadGeometryOnOneThread)->Unit(benchmark::kMillisecond);

// The whole conversion in memory on one thread: both reads and the bundle written
// (its writing is what stays serial when the reads are shared out).
void ConvertOnOneThread(benchmark::State& state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(ConvertBytes(Scene(), GeometryThreads::kOne).size());
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(Scene().size()));
}
BENCHMARK(ConvertOnOneThread)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
