// The same input gives the same bundle bytes on every run: nothing in a bundle
// depends on the time, on what memory held before, or on which thread read an
// object. Each input converts with one thread and with two, over heap memory
// pre-filled with different bytes, and every result must be identical.
#include "common/format_limits.h"
#include "conversion/convert.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <malloc.h>

#include <typeinfo>

namespace ase2sgl {
namespace {

namespace fs = std::filesystem;
using testing::BoxMesh;
using testing::CorpusFiles;
using testing::MeshSpec;
using testing::ReadFile;
using testing::Scene;
using testing::ScratchDir;
using testing::WithoutNormalsBlock;
using testing::WithoutTextureLists;

// Every block malloc hands out is filled with `fill` until the next call (glibc; a
// no-op where another allocator, such as a sanitizer's, is in place).
void FillNewHeapBlocksWith(int fill)
{
    ::mallopt(M_PERTURB, fill);
}

struct Run {
    GeometryThreads threads;
    int heapFill;
};
constexpr Run kRuns[] = {{GeometryThreads::kOne, 0x00},
                         {GeometryThreads::kTwo, 0xA5},
                         {GeometryThreads::kTwoBesideTheCount, 0x3C},
                         {GeometryThreads::kOne, 0x5A},
                         {GeometryThreads::kTwo, 0xFF},
                         {GeometryThreads::kTwoBesideTheCount, 0xC3}};

void ExpectSameBytesOnEveryRun(std::string_view ase, const std::string& what)
{
    std::vector<std::string> results;
    for (const Run& run : kRuns) {
        FillNewHeapBlocksWith(run.heapFill);
        results.push_back(ConvertBytes(ase, run.threads));
    }
    FillNewHeapBlocksWith(0);
    for (std::size_t i = 1; i < results.size(); ++i)
        EXPECT_TRUE(results[i] == results[0]) << what << ": run " << i << " differs from run 0";
}

TEST(DeterministicOutput, CorpusFilesGiveTheSameBytesWithOneOrTwoThreads)
{
    const auto files = CorpusFiles();
    if (files.empty())
        GTEST_SKIP() << "no corpus of real ASE files at " << ASE2SGL_CORPUS_DIR << " (set ASE2SGL_CORPUS)";
    for (const fs::path& file : files)
        ExpectSameBytesOnEveryRun(ReadFile(file), file.filename().string());
}

// Scenes whose objects the two threads split between them, including the layouts
// where an object's lists are searched for past its own node (the second thread's
// guesses must then be thrown away), and names shorter than their field.
TEST(DeterministicOutput, GeneratedScenesGiveTheSameBytesWithOneOrTwoThreads)
{
    std::vector<MeshSpec> plain, mixed;
    for (int i = 0; i < 64; ++i) {
        plain.push_back(BoxMesh("B" + std::to_string(i)));
        MeshSpec mesh = BoxMesh(std::string(static_cast<std::size_t>(i % 7), 'n'));
        if (i % 5 == 1)
            mesh = WithoutTextureLists(mesh);
        if (i % 9 == 2)
            mesh = WithoutNormalsBlock(mesh);
        mixed.push_back(mesh);
    }
    ExpectSameBytesOnEveryRun(Scene(plain), "64 boxes");
    ExpectSameBytesOnEveryRun(Scene(mixed), "64 boxes, some without texture lists or normals");
}

// The file route (the atomic output file, its reserved blocks cut back to the
// written length; beside the count, room reserved as the records come and the object
// count written over at the end) gives the bytes of the in-memory one, with every
// thread choice, over a new output and over an old, longer one.
TEST(DeterministicOutput, FileConversionWritesTheSameBytes)
{
    ScratchDir dir;
    for (const int objects : {0, 1, 40}) {
        std::vector<MeshSpec> meshes(static_cast<std::size_t>(objects), BoxMesh());
        const std::string scene = Scene(meshes) + (objects == 0 ? "*3DSMAX_ASCIIEXPORT\t200\n" : "");
        testing::WriteFile(dir / "scene.ase", scene);
        const std::string expected = ConvertBytes(scene, GeometryThreads::kOne);
        for (const GeometryThreads threads : {GeometryThreads::kOne, GeometryThreads::kTwo,
                                              GeometryThreads::kTwoBesideTheCount}) {
            for (const bool over : {false, true}) {
                if (over)
                    testing::WriteFile(dir / "scene.sgl", std::string(100000, 'z'));
                else
                    fs::remove(dir / "scene.sgl");
                Convert((dir / "scene.ase").string(), (dir / "scene.sgl").string(), threads);
                EXPECT_TRUE(ReadFile(dir / "scene.sgl") == expected)
                    << objects << " objects, threads " << static_cast<int>(threads) << (over ? ", over a file" : "");
            }
        }
    }
}

// A 0x1A byte ends the input as if the file were cut there, however the threads
// share a file that is mapped (a megabyte or more) and searched for that byte once
// between the two reads: before the first window's end, just past it, and late in
// an object the second thread reads.
TEST(DeterministicOutput, AnEndByteInALargeFileEndsTheInputOnEveryRoute)
{
    ScratchDir dir;
    const std::vector<MeshSpec> meshes(1500, BoxMesh());
    const std::string scene = Scene(meshes);
    ASSERT_GT(scene.size(), std::size_t{2} << 20);
    for (const std::size_t at : {scene.size() / 3, (std::size_t{1} << 20) + 5, scene.size() * 9 / 10}) {
        const std::string expected = ConvertBytes(std::string_view(scene).substr(0, at), GeometryThreads::kOne);
        testing::WriteFile(dir / "scene.ase", scene.substr(0, at) + '\x1A' + scene.substr(at));
        for (const GeometryThreads threads : {GeometryThreads::kOne, GeometryThreads::kTwo,
                                              GeometryThreads::kTwoBesideTheCount}) {
            Convert((dir / "scene.ase").string(), (dir / "scene.sgl").string(), threads);
            EXPECT_TRUE(ReadFile(dir / "scene.sgl") == expected)
                << "0x1A at " << at << ", threads " << static_cast<int>(threads);
        }
    }
}

// The same failure, whichever way the threads go: beside the count the output is made
// before the count, so where both the input is refused and the output cannot be
// made, the refusal must still be the one reported, as when the count goes first.
TEST(DeterministicOutput, FailuresAreTheSameWithEveryThreadChoice)
{
    ScratchDir dir;
    std::vector<MeshSpec> many(static_cast<std::size_t>(kMaxObjects) + 1, BoxMesh());
    testing::WriteFile(dir / "refused.ase", Scene(many));
    testing::WriteFile(dir / "good.ase", Scene({BoxMesh(), BoxMesh()}));
    testing::WriteFile(dir / "old.sgl", "old bytes");
    struct Case {
        const char* input;
        fs::path output;
    };
    const Case cases[] = {
        {"refused.ase", dir / "missing" / "out.sgl"},
        {"good.ase", dir / "missing" / "out.sgl"},
        {"refused.ase", dir / "old.sgl"},
    };
    const auto failure = [&](const Case& c, GeometryThreads threads) {
        try {
            Convert((dir / c.input).string(), c.output.string(), threads);
            return std::string("converted");
        } catch (const std::exception& e) {
            return std::string(typeid(e).name()) + ": " + e.what();
        }
    };
    for (const Case& c : cases) {
        const std::string expected = failure(c, GeometryThreads::kOne);
        EXPECT_NE(expected, "converted");
        for (const GeometryThreads threads : {GeometryThreads::kTwo, GeometryThreads::kTwoBesideTheCount})
            EXPECT_EQ(failure(c, threads), expected) << c.input << " -> " << c.output;
        EXPECT_EQ(ReadFile(dir / "old.sgl"), "old bytes");
        EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 3);  // no file left
    }
}

}  // namespace
}  // namespace ase2sgl
