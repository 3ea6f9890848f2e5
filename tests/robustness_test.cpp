// Hostile input in memory: damaged files convert to a sound bundle or a clear
// refusal, and no layout makes the reads or the memory grow faster than the input.
// Memory is measured by counting every byte this test binary allocates (the global
// operator new below), so no timing is involved.
#include "common/conversion_error.h"
#include "conversion/convert.h"
#include "support/ase_damage.h"
#include "support/conversion_cost.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <malloc.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <new>

namespace {

// Live and peak heap bytes of this process, as malloc sized the blocks.
std::atomic<std::size_t> liveBytes{0};
std::atomic<std::size_t> peakBytes{0};

void* CountedAllocate(std::size_t size)
{
    void* block = std::malloc(size == 0 ? 1 : size);
    if (block == nullptr)
        return nullptr;
    const std::size_t live = liveBytes += ::malloc_usable_size(block);
    std::size_t peak = peakBytes.load(std::memory_order_relaxed);
    while (live > peak && !peakBytes.compare_exchange_weak(peak, live, std::memory_order_relaxed)) {
    }
    return block;
}

void CountedFree(void* block) noexcept
{
    if (block == nullptr)
        return;
    liveBytes -= ::malloc_usable_size(block);
    std::free(block);
}

}  // namespace

void* operator new(std::size_t size)
{
    if (void* block = CountedAllocate(size))
        return block;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size)
{
    return operator new(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept
{
    return CountedAllocate(size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept
{
    return CountedAllocate(size);
}
void operator delete(void* block) noexcept
{
    CountedFree(block);
}
void operator delete[](void* block) noexcept
{
    CountedFree(block);
}
void operator delete(void* block, std::size_t) noexcept
{
    CountedFree(block);
}
void operator delete[](void* block, std::size_t) noexcept
{
    CountedFree(block);
}
void operator delete(void* block, const std::nothrow_t&) noexcept
{
    CountedFree(block);
}
void operator delete[](void* block, const std::nothrow_t&) noexcept
{
    CountedFree(block);
}

namespace ase2sgl {
namespace {

using testing::BoxMesh;
using testing::MeshSpec;
using testing::ParseBundle;
using testing::Scene;

// A face line of 20 bytes (three tabs, *MESH_FACE, its number and a colon) gives
// three corners of 32 bytes and as many bytes of streams: 9.6 bytes per input
// byte at most. The line and write buffers are fixed.
constexpr double kMaxBytesPerInputByte = 12.0;
constexpr std::size_t kFixedBytes = std::size_t{4} << 20;

struct Cost {
    testing::ConversionCost steps;
    std::size_t peakBytes = 0;  // above what was allocated before the conversion
};

Cost MeasureConversion(std::string_view ase)
{
    const std::size_t before = liveBytes.load();
    peakBytes = before;
    Cost cost;
    cost.steps = testing::ConvertCountingLines(ase);
    cost.peakBytes = peakBytes.load() - before;
    return cost;
}

std::size_t MemoryBound(std::string_view ase)
{
    return static_cast<std::size_t>(kMaxBytesPerInputByte * static_cast<double>(ase.size())) + kFixedBytes;
}

// Converts and checks: a sound bundle, within the bounds on reads and memory.
// Gives the parsed bundle for further checks.
testing::Bundle ExpectSoundAndLinear(const std::string& label, std::string_view ase)
{
    SCOPED_TRACE(label);
    std::string bytes;
    try {
        bytes = ConvertBytes(ase);
    } catch (const InputRefused& refused) {
        ADD_FAILURE() << "refused: " << refused.what();
        return {};
    }
    testing::Bundle bundle = ParseBundle(bytes);
    EXPECT_EQ(bundle.problem, "");
    const Cost cost = MeasureConversion(ase);
    EXPECT_EQ(cost.steps.bundleDigest, testing::Digest(bytes));
    // Through a 7-byte read buffer lines cross its end everywhere: the same bundle.
    EXPECT_EQ(testing::ConvertCountingLines(ase, 7).bundleDigest, testing::Digest(bytes));
    EXPECT_LE(cost.steps.linesRead, testing::MaxLinesRead(ase)) << testing::CountLines(ase) << " input lines";
    EXPECT_LE(cost.peakBytes, MemoryBound(ase)) << ase.size() << " input bytes";
    return bundle;
}

// A mesh with every list in the exporter's layout, small enough that every single
// damage of it can be converted.
MeshSpec SmallMesh(std::string name)
{
    MeshSpec mesh;
    mesh.name = std::move(name);
    mesh.vertices = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {1, 1, 0}};
    mesh.faces = {{0, 1, 2}, {2, 1, 3}};
    mesh.texVertices = {{0, 0}, {1, 0}, {0, 1}, {1, 1}};
    mesh.texFaces = {{0, 1, 2}, {2, 1, 3}};
    mesh.vertexNormals.assign(6, {0, 0, 1});
    return mesh;
}

// Three small objects: one complete, one without texture lists, one without its
// normals block, so that damage meets every search of both reads.
std::string SmallScene()
{
    return Scene({SmallMesh("Full"), testing::WithoutTextureLists(SmallMesh("Untextured")),
                  testing::WithoutNormalsBlock(SmallMesh("NoNormals"))});
}

TEST(DamagedInput, EverySingleDamageGivesASoundBundle)
{
    const std::string scene = SmallScene();
    int variants = 0;
    damage::ForEachDamage(scene, [&](const damage::Variant& variant) {
        ExpectSoundAndLinear(variant.label, variant.bytes);
        ++variants;
    });
    EXPECT_GT(variants, 1000);  // the generator really produced the damage list
}

TEST(DamagedInput, StackedDamagesGiveASoundBundle)
{
    const std::string scene = Scene({BoxMesh("Box01"), SmallMesh("Small"), BoxMesh("Box02")});
    damage::ForEachStackedDamage(scene, 20240611, 1500, [&](const damage::Variant& variant) {
        ExpectSoundAndLinear(variant.label, variant.bytes);
    });
}

TEST(DamagedInput, StackedDamagesOfRealFilesGiveASoundBundle)
{
    const std::filesystem::path corpus = testing::CorpusDir();
    if (corpus.empty())
        GTEST_SKIP() << "no corpus of real ASE files beside the project";
    std::uint64_t seed = 7;
    for (const char* name : {"d_single_triangle.ase", "d_testcube.ase", "a_three_cubes.ase"}) {
        const std::filesystem::path path = corpus / name;
        if (!std::filesystem::exists(path))
            continue;
        const std::string ase = testing::ReadFile(path);
        ExpectSoundAndLinear(name, ase);
        damage::ForEachStackedDamage(ase, seed++, 200, [&](const damage::Variant& variant) {
            ExpectSoundAndLinear(std::string(name) + ", " + variant.label, variant.bytes);
        });
    }
}

TEST(DamagedInput, GeneratorCoversTheDamageList)
{
    // The labels the generator must produce for a one-object scene: if one of these
    // damages went missing, the test above would pass without trying it.
    const std::string scene = Scene({SmallMesh("Box")});
    std::vector<std::string> labels;
    damage::ForEachDamage(scene, [&](const damage::Variant& variant) { labels.push_back(variant.label); });
    auto has = [&](std::string_view prefix) {
        return std::any_of(labels.begin(), labels.end(), [&](const std::string& l) { return l.starts_with(prefix); });
    };
    for (const char* expected : {"cut after",
                                 "cut inside",
                                 "dropped",
                                 "duplicated",
                                 "swapped with the next",
                                 "indented one tab more",
                                 "indented one tab less",
                                 "tabs turned into blanks",
                                 "0x1A in the middle",
                                 "NUL in the middle",
                                 "renumbered by 1",
                                 "renumbered by -1",
                                 "number 0 made \"99999999999999999999\"",
                                 "number 1 made \"-1\"",
                                 "number 2 made \"x\"",
                                 "CR-only line ends",
                                 "CR CR LF line ends",
                                 "name of 0 bytes",
                                 "name of 1 bytes",
                                 "name of 2 bytes",
                                 "name of 254 bytes",
                                 "name of 255 bytes",
                                 "name of 10000 bytes",
                                 "name of high bytes"})
        EXPECT_TRUE(has(expected)) << expected;
    const std::size_t sceneLines = static_cast<std::size_t>(testing::CountLines(scene));
    EXPECT_EQ(
        std::count_if(labels.begin(), labels.end(), [](const std::string& l) { return l.starts_with("cut after"); }),
        static_cast<std::ptrdiff_t>(sceneLines));
}

TEST(DamagedInput, NamesAreCutToTheFieldAndKeepHighBytes)
{
    struct Case {
        std::size_t nameLength;
        std::size_t written;
    };
    for (const Case c : {Case{0, 0}, Case{1, 1}, Case{2, 2}, Case{254, 254}, Case{255, 254}, Case{10000, 254}}) {
        MeshSpec mesh = SmallMesh(std::string(c.nameLength, 'n'));
        const testing::Bundle bundle = ExpectSoundAndLinear("name of " + std::to_string(c.nameLength), Scene({mesh}));
        ASSERT_EQ(bundle.objects.size(), 1u);
        EXPECT_EQ(bundle.objects[0].name, std::string(c.written, 'N'));
    }
    std::string high;
    for (int c = 0x80; c <= 0xFF; ++c)
        high += static_cast<char>(c);
    const testing::Bundle bundle = ExpectSoundAndLinear("high bytes", Scene({SmallMesh(high)}));
    ASSERT_EQ(bundle.objects.size(), 1u);
    EXPECT_EQ(bundle.objects[0].name.size(), high.size());
}

// Layouts that make the searches of both reads run far: each must stay linear.
struct AdverseCase {
    const char* label;
    std::string ase;
};

std::string Repeated(const std::vector<std::string>& block, int times)
{
    std::vector<std::string> lines;
    for (int i = 0; i < times; ++i)
        lines.insert(lines.end(), block.begin(), block.end());
    return testing::Lines(lines);
}

std::string LongFaceListScene()
{
    MeshSpec mesh;
    mesh.name = "Long";
    for (int i = 0; i < 3; ++i)
        mesh.vertices.push_back({static_cast<float>(i), 0, 0});
    mesh.faces.assign(100000, {0, 1, 2});
    mesh.vertexNormals.assign(300000, {0, 0, 1});
    return Scene({mesh});
}

std::vector<AdverseCase> AdverseLayouts()
{
    const MeshSpec bare = testing::WithoutNormalsBlock(testing::WithoutTextureLists(BoxMesh("Bare")));
    const MeshSpec untextured = testing::WithoutTextureLists(BoxMesh("Untextured"));
    const MeshSpec withoutNormals = testing::WithoutNormalsBlock(BoxMesh("NoNormals"));
    MeshSpec vertexOnly = testing::WithoutNormalsBlock(testing::WithoutTextureLists(BoxMesh("Points")));
    vertexOnly.faces.clear();  // vertices, then nothing the searches stop at

    const std::string filler = Repeated({"\t\t*MESH_VERTEX_LIST {", "\t\t}"}, 100000);
    std::vector<std::string> backToBack;  // lists with no closing line between them
    for (int i = 0; i < 4; ++i)
        backToBack.push_back("\t\t\t*MESH_VERTEX    " + std::to_string(i) + "\t0.0\t1.0\t2.0");
    for (int i = 0; i < 2; ++i)
        backToBack.push_back("\t\t\t*MESH_FACE    " + std::to_string(i) + ":    A:0 B:1 C:2 AB:");
    for (int i = 0; i < 4; ++i)
        backToBack.push_back("\t\t\t*MESH_TVERT " + std::to_string(i) + "\t0.5\t0.5\t0.0");

    std::vector<std::string> headerThenMesh = {"\t*NODE_NAME \"Obj\""};
    headerThenMesh.insert(headerThenMesh.end(), backToBack.begin(), backToBack.end());

    std::vector<std::string> shortestFaces = {"\t*NODE_NAME \"F\"", "\t\t\t*MESH_VERTEX    0\t", "\t\t}"};
    for (int i = 0; i < 200000; ++i) {
        char line[32];
        std::snprintf(line, sizeof line, "\t\t\t*MESH_FACE %4d:", i);
        shortestFaces.push_back(line);
    }
    std::vector<std::string> textured = {"\t*NODE_NAME \"T\"", "\t\t\t*MESH_VERTEX    0\t1.0\t2.0\t3.0", "\t\t}",
                                         "\t\t\t*MESH_FACE    0:    A:0 B:0 C:0 AB:", "\t\t}"};
    for (int i = 0; i < 50; ++i)
        textured.push_back("\t\t\t*MESH_TVERT " + std::to_string(i) + "\t0.1\t0.2\t0.0");
    textured.push_back("\t\t}");

    return {
        {"3000 objects without normals or texture lists", Scene(std::vector<MeshSpec>(3000, bare))},
        {"3000 objects without texture lists", Scene(std::vector<MeshSpec>(3000, untextured))},
        {"3000 objects without normals blocks", Scene(std::vector<MeshSpec>(3000, withoutNormals))},
        {"3000 objects with vertices only", Scene(std::vector<MeshSpec>(3000, vertexOnly))},
        {"node header, then no vertex list to the end", "\t*NODE_NAME \"Lost\"\n" + filler},
        {"vertices, then no face list to the end", Scene({vertexOnly}) + filler},
        {"faces, then no texture list or normals to the end", Scene({bare}) + filler},
        {"texture vertices, then no texture faces or normals to the end", Scene({withoutNormals}) + filler},
        {"100000 node headers before one mesh", Repeated({"\t*NODE_NAME \"Head\""}, 100000) + Scene({BoxMesh()})},
        {"100000 node headers each with a vertex list only",
         Repeated({"\t*NODE_NAME \"V\"", "\t\t\t*MESH_VERTEX    0\t1.0\t2.0\t3.0", "\t\t}"}, 100000)},
        {"4000 meshes with lists back to back", Repeated(headerThenMesh, 4000)},
        {"lists back to back without node headers", Repeated(backToBack, 20000)},
        {"one face list of 100000 lines", LongFaceListScene()},
        {"200000 face lines of the shortest form", testing::Lines(shortestFaces)},
        {"4000 texture-vertex lists and no normals", Repeated(textured, 4000)},
    };
}

TEST(AdverseLayout, ReadsAndMemoryStayLinearInTheInput)
{
    for (const AdverseCase& c : AdverseLayouts()) {
        ExpectSoundAndLinear(c.label, c.ase);
        const Cost cost = MeasureConversion(c.ase);
        const auto lines = static_cast<double>(testing::CountLines(c.ase));
        std::printf("[ figures  ] %-60s %7.0f lines %4.2f reads/line; %9zu bytes, peak %9zu (%5.2f/byte)\n", c.label,
                    lines, static_cast<double>(cost.steps.linesRead) / lines, c.ase.size(), cost.peakBytes,
                    static_cast<double>(cost.peakBytes) / static_cast<double>(c.ase.size()));
    }
}

TEST(AdverseLayout, FaceListOf100000LinesIsReadWhole)
{
    const testing::Bundle bundle = ParseBundle(ConvertBytes(LongFaceListScene()));
    ASSERT_EQ(bundle.problem, "");
    ASSERT_EQ(bundle.objects.size(), 1u);
    EXPECT_EQ(bundle.objects[0].VertexCount(), 300000);  // face 10000 on carry their number unpadded
}

TEST(ObjectLimits, MoreThan5000ObjectsAreRefused)
{
    const MeshSpec mesh = SmallMesh("Obj");
    const testing::Bundle full = ParseBundle(ConvertBytes(Scene(std::vector<MeshSpec>(5000, mesh))));
    ASSERT_EQ(full.problem, "");
    EXPECT_EQ(full.objects.size(), 5000u);
    EXPECT_THROW(ConvertBytes(Scene(std::vector<MeshSpec>(5001, mesh))), InputRefused);
}

TEST(ObjectLimits, ObjectOf21846FacesIsWrittenExactly)
{
    // 65538 corners: more than a 16-bit corner index counts. Every corner has its own
    // vertex, texture vertex and normal, so any lost or shifted corner shows.
    constexpr int kFaces = 21846;
    constexpr int kCorners = 3 * kFaces;
    MeshSpec mesh;
    mesh.name = "Big";
    for (int i = 0; i < kCorners; ++i) {
        const float x = static_cast<float>(i);
        mesh.vertices.push_back({x, x + 0.25f, -x});
        mesh.texVertices.push_back({x / 65536.0f, 1.0f - x / 65536.0f});
        mesh.vertexNormals.push_back({-x, 0.5f, x + 0.5f});
    }
    for (int f = 0; f < kFaces; ++f) {
        mesh.faces.push_back({3 * f, 3 * f + 1, 3 * f + 2});
        mesh.texFaces.push_back({3 * f, 3 * f + 1, 3 * f + 2});
    }
    const testing::Bundle bundle = ParseBundle(ConvertBytes(Scene({mesh})));
    ASSERT_EQ(bundle.problem, "");
    ASSERT_EQ(bundle.objects.size(), 1u);
    const testing::BundleObject& big = bundle.objects[0];
    ASSERT_EQ(big.VertexCount(), kCorners);
    int wrong = 0;
    for (std::size_t i = 0; i < static_cast<std::size_t>(kCorners); ++i) {
        // Values as the exporter layout writes them ("%.4f"), read back as floats;
        // second and third components exchanged, texture V as written.
        const auto& v = mesh.vertices[i];
        const auto& n = mesh.vertexNormals[i];
        const auto& t = mesh.texVertices[i];
        auto written = [](float value) {
            char text[32];
            std::snprintf(text, sizeof text, "%.4f", static_cast<double>(value));
            return std::strtof(text, nullptr);
        };
        const float expected[8] = {written(v[0]), written(v[2]), written(v[1]), written(n[0]),
                                   written(n[2]), written(n[1]), written(t[0]), written(t[1])};
        const float actual[8] = {big.positions[3 * i], big.positions[3 * i + 1], big.positions[3 * i + 2],
                                 big.normals[3 * i],   big.normals[3 * i + 1],   big.normals[3 * i + 2],
                                 big.texcoords[2 * i], big.texcoords[2 * i + 1]};
        for (int k = 0; k < 8; ++k)
            wrong += testing::Bits(expected[k]) != testing::Bits(actual[k]);
    }
    EXPECT_EQ(wrong, 0);
}

// Found by the fuzzer: an object without faces made the writer copy zero bytes from
// an empty stream's null pointer, which UndefinedBehaviorSanitizer stops on.
TEST(FuzzRegression, ObjectWithoutFacesWritesAnEmptyRecord)
{
    MeshSpec points = SmallMesh("Points");
    points.faces.clear();
    points.texFaces.clear();
    points.vertexNormals.clear();
    // Last in the file: a face search that finds no face list runs on into the
    // following objects.
    const testing::Bundle bundle = ParseBundle(ConvertBytes(Scene({SmallMesh("Before"), points})));
    ASSERT_EQ(bundle.problem, "");
    ASSERT_EQ(bundle.objects.size(), 2u);
    EXPECT_EQ(bundle.objects[0].VertexCount(), 6);
    EXPECT_EQ(bundle.objects[1].VertexCount(), 0);
    EXPECT_EQ(bundle.objects[1].name, "POINTS");
}

}  // namespace
}  // namespace ase2sgl
