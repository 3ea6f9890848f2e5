// The same input gives the same bundle bytes on every run: nothing in a bundle
// depends on the time, on what memory held before, or on which thread read an
// object. Each input converts with one thread and with two, over heap memory
// pre-filled with different bytes, and every result must be identical.
#include "conversion/convert.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <malloc.h>

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
                         {GeometryThreads::kOne, 0x5A},
                         {GeometryThreads::kTwo, 0xFF}};

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
// written length) gives the bytes of the in-memory one, with either thread count.
TEST(DeterministicOutput, FileConversionWritesTheSameBytes)
{
    ScratchDir dir;
    std::vector<MeshSpec> meshes(40, BoxMesh());
    const std::string scene = Scene(meshes);
    testing::WriteFile(dir / "scene.ase", scene);
    const std::string expected = ConvertBytes(scene, GeometryThreads::kOne);
    for (const GeometryThreads threads : {GeometryThreads::kOne, GeometryThreads::kTwo}) {
        Convert((dir / "scene.ase").string(), (dir / "scene.sgl").string(), threads);
        EXPECT_TRUE(ReadFile(dir / "scene.sgl") == expected);
    }
}

}  // namespace
}  // namespace ase2sgl
