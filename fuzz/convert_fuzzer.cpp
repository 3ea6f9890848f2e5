// Fuzz target: any bytes converted in memory must give either a refusal (more
// objects than a bundle holds) or a bundle whose layout a loader can trust: size
// 4 + sum of (259 + 32n), n a multiple of 3, every name zero-terminated within its
// 255 bytes, at most 5000 objects; the conversion may read at most five lines per
// input line, and gives the same bundle through a small read buffer, as the plain
// reference reading of the tests, with the reading (counting and geometry) split
// over two threads and over parts chosen by the input, and with the geometry read
// beside the count, and with each object read over line ranges by several threads
// (cut where the input says) wherever that read accepts it: the same corners and the
// same numbers handed to the next object. Anything else, and any sanitizer report,
// aborts.
//
// Build (clang, libFuzzer, AddressSanitizer and UndefinedBehaviorSanitizer):
//   cmake --preset fuzz && cmake --build --preset fuzz
// Seeds (real files, generated scenes, damaged variants), made anew each time:
//   build/fuzz/fuzz/make_fuzz_seeds ../shared/corpus/ase build/fuzz/seeds
// Run on one core for five minutes, keeping what it learns in build/fuzz/corpus:
//   mkdir -p build/fuzz/corpus
//   build/fuzz/fuzz/convert_fuzzer -dict=fuzz/ase.dict -max_len=65536 -timeout=10 \
//       -rss_limit_mb=4096 -max_total_time=300 build/fuzz/corpus build/fuzz/seeds
// A crash file it writes (crash-*, timeout-*, oom-*) replays with
//   build/fuzz/fuzz/convert_fuzzer FILE
#include "common/conversion_error.h"
#include "ase/geometry_reader.h"
#include "ase/line_source.h"
#include "ase/mesh_tables.h"
#include "ase/split_object.h"
#include "common/format_limits.h"
#include "conversion/convert.h"
#include "support/conversion_cost.h"
#include "support/reference_converter.h"
#include "support/test_support.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string_view>

namespace {

[[noreturn]] void Fail(const char* what, const std::string& detail)
{
    std::fprintf(stderr, "convert_fuzzer: %s: %s\n", what, detail.c_str());
    __builtin_trap();
}

// Node header lines, as the counting pass recognises them; a refusal is owed only
// to an input with more of them than a bundle can hold.
std::size_t CountNodeHeaders(std::string_view bytes)
{
    constexpr std::string_view kNodeHeader = "\t*NODE_NAME \"";
    std::size_t headers = bytes.starts_with(kNodeHeader) ? 1 : 0;
    for (std::size_t at = bytes.find(kNodeHeader); at != std::string_view::npos; at = bytes.find(kNodeHeader, at + 1))
        headers += at > 0 && bytes[at - 1] == '\n';
    return headers;
}

// Every object a read hands on, as bytes: number, name, corners read, corners.
std::string ObjectBytes(std::int32_t object, std::string_view name, const ase2sgl::ObjectArrays& arrays)
{
    std::string out(reinterpret_cast<const char*>(&object), sizeof object);
    out.append(name);
    out.append(reinterpret_cast<const char*>(&arrays.cornersRead), sizeof arrays.cornersRead);
    out.append(reinterpret_cast<const char*>(arrays.corners.data()),
               sizeof(ase2sgl::CornerRecord) * static_cast<std::size_t>(arrays.cornersRead));
    return out;
}

std::string ObjectsAfterTheCount(std::string_view ase)
{
    ase2sgl::LineSource input = ase2sgl::LineSource::FromMemory(ase);
    const ase2sgl::MeshTables tables = ase2sgl::CountObjects(input, "fuzz");
    std::string out;
    ase2sgl::ReadGeometry(input, tables, [&](std::int32_t object, const ase2sgl::ObjectArrays& arrays) {
        out += ObjectBytes(object, tables.nameText[static_cast<std::size_t>(object)], arrays);
    });
    return out;
}

std::string ObjectsBesideTheCount(std::string_view ase, int threads)
{
    ase2sgl::LineSource input = ase2sgl::LineSource::FromMemory(ase);
    std::string out;
    ase2sgl::CountAndReadGeometry(
        [&](const ase2sgl::ObjectCounted& counted) { return ase2sgl::CountObjects(input, "fuzz", counted); },
        [&] { return input.Reopen(); },
        [&](std::int32_t object, const std::string& name, const ase2sgl::ObjectArrays& arrays) {
            out += ObjectBytes(object, name, arrays);
        },
        threads, 0);
    return out;
}

// Each object read over line ranges, cut at `pieces` even points, against the
// sequential reader: where the split read accepts an object, its corners, record
// length and carry must be the sequential reader's.
void CheckSplitObjects(std::string_view ase, int pieces, int threads)
{
    ase2sgl::LineSource input = ase2sgl::LineSource::FromMemory(ase);
    const ase2sgl::MeshTables tables = ase2sgl::CountObjects(input, "fuzz");
    ase2sgl::GeometryReader sequential(input, tables);
    for (std::int32_t object = 0; object < tables.objectCount; ++object) {
        sequential.ReadObject(object);
        const ase2sgl::ObjectExtent extent = ase2sgl::ExtentOf(tables, object);
        ase2sgl::ObjectArrays arrays;
        arrays.vertexPool.assign(static_cast<std::size_t>(extent.vertexCount), ase2sgl::CornerRecord{});
        arrays.corners.assign(static_cast<std::size_t>(extent.cornerCount), ase2sgl::CornerRecord{});
        ase2sgl::SplitRead read;
        if (!ase2sgl::ReadObjectSplit(input, extent, arrays, threads, pieces, read))
            continue;
        const ase2sgl::ObjectArrays& expected = sequential.Arrays();
        const ase2sgl::GeometryReader::CarryUpdate update = sequential.Update();
        bool same = arrays.cornersRead == expected.cornersRead && !sequential.NeedsCarry() &&
                    arrays.corners.size() == expected.corners.size() &&
                    (arrays.corners.empty() ||
                     std::memcmp(arrays.corners.data(), expected.corners.data(),
                                 arrays.corners.size() * sizeof(ase2sgl::CornerRecord)) == 0) &&
                    (read.faces > 0) == update.face && read.texFaces == update.texFace;
        for (int i = 0; i < 3; ++i) {
            same = same && (!update.face || read.face[i] == update.own.face[i]) &&
                   (!update.texFace || read.texFace[i] == update.own.texFace[i]);
        }
        if (!same)
            Fail("the split read differs from the sequential one",
                 "object " + std::to_string(object) + ", " + std::to_string(pieces) + " pieces");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view ase(reinterpret_cast<const char*>(data), size);
    std::string bytes;
    try {
        bytes = ase2sgl::ConvertBytes(ase);
    } catch (const ase2sgl::InputRefused& refused) {
        if (CountNodeHeaders(ase) <= static_cast<std::size_t>(ase2sgl::kMaxObjects))
            Fail("refused an input with few node headers", refused.what());
        return 0;
    }
    const ase2sgl::testing::Bundle bundle = ase2sgl::testing::ParseBundle(bytes);
    if (!bundle.problem.empty())
        Fail("unsound bundle", bundle.problem);
    if (bundle.objects.size() > static_cast<std::size_t>(ase2sgl::kMaxObjects))
        Fail("too many objects", std::to_string(bundle.objects.size()));
    // The same conversion again, step by step, to count the lines read: a layout
    // that makes the searches reread the input shows here long before a timeout.
    // It reads through a small buffer, whose size the input picks, so that lines
    // cross the buffer's end at every byte; the bundle must not change.
    const std::size_t chunkSize = 1 + size % 251;
    const ase2sgl::testing::ConversionCost cost = ase2sgl::testing::ConvertCountingLines(ase, chunkSize);
    if (cost.linesRead > ase2sgl::testing::MaxLinesRead(ase))
        Fail("too many lines read",
             std::to_string(cost.linesRead) + " for " + std::to_string(ase2sgl::testing::CountLines(ase)) + " lines");
    if (cost.bundleBytes != bytes.size() || cost.bundleDigest != ase2sgl::testing::Digest(bytes))
        Fail("the bundle depends on the buffer size", std::to_string(chunkSize));
    // The plain reading the tests compare with (every search over every line, the
    // lists read in the order the searches start, not the file's) must give the same
    // bytes; it is slow on purpose, so only inputs of a few thousand lines go through it.
    if (ase2sgl::testing::CountLines(ase) <= 2000 && ase2sgl::testing::ReferenceConvert(ase) != bytes)
        Fail("the bundle differs from the reference reading", std::to_string(size) + " bytes");
    // Large inputs are read by several threads: the bundle must not change, and the
    // first read in any number of parts must find what the sequential one finds.
    if (ase2sgl::ConvertBytes(ase, ase2sgl::GeometryThreads::kTwo) != bytes)
        Fail("the bundle depends on the thread count", "2 threads");
    if (ase2sgl::ConvertBytes(ase, ase2sgl::GeometryThreads::kTwoBesideTheCount) != bytes)
        Fail("the bundle depends on the thread count", "2 threads beside the count");
    // Beside the count on one to three threads, the count kept right behind the
    // readers (it reads objects itself after each one it adds): the same objects.
    const int besideThreads = 1 + static_cast<int>(size % 3);
    if (ObjectsBesideTheCount(ase, besideThreads) != ObjectsAfterTheCount(ase))
        Fail("the objects depend on reading beside the count", std::to_string(besideThreads) + " threads");
    // Every object read over line ranges: checked object by object, and through the
    // whole conversion (the threshold lowered so that every object is split).
    CheckSplitObjects(ase, 2 + static_cast<int>(size % 13), 1 + static_cast<int>(size % 2));
    ase2sgl::SetSplitFromBytesForTests(0);
    const std::string splitBytes = ase2sgl::ConvertBytes(ase, ase2sgl::GeometryThreads::kTwo);
    ase2sgl::SetSplitFromBytesForTests(ase2sgl::kSplitFrom);
    if (splitBytes != bytes)
        Fail("the bundle depends on splitting objects", "2 threads");
    const int parts = 2 + static_cast<int>(size % 7);
    ase2sgl::LineSource whole = ase2sgl::LineSource::FromMemory(ase, chunkSize);
    ase2sgl::LineSource split = ase2sgl::LineSource::FromMemory(ase, chunkSize);
    const ase2sgl::MeshTables sequential = ase2sgl::CountObjects(whole, "fuzz");
    const ase2sgl::MeshTables parallel = ase2sgl::CountObjectsInParallel(
        split, [&] { return ase2sgl::LineSource::FromMemory(ase, chunkSize); }, "fuzz", parts);
    if (parallel.objectCount != sequential.objectCount || parallel.nameText != sequential.nameText ||
        parallel.vertexCount != sequential.vertexCount || parallel.cornerCount != sequential.cornerCount ||
        parallel.objectStart != sequential.objectStart || parallel.inputBytes != sequential.inputBytes)
        Fail("the count depends on the parts", std::to_string(parts) + " parts");
    return 0;
}
