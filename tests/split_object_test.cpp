// One object read over line ranges against the sequential read of it: the same
// corners, the same record length and the same numbers handed to the next object,
// whenever the split read accepts the object; cut at every line, on generated meshes
// and on damaged ones (which it must refuse where its pieces could differ), and
// through the reader, where a refused object is read again sequentially.
#include "ase/geometry_reader.h"
#include "ase/line_source.h"
#include "ase/mesh_tables.h"
#include "ase/split_object.h"
#include "support/ase_damage.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace ase2sgl {
namespace {

using testing::MeshSpec;

MeshSpec Mesh(int vertices, int faces, bool texture, bool normals)
{
    MeshSpec mesh;
    mesh.name = "Split";
    for (int v = 0; v < vertices; ++v)
        mesh.vertices.push_back({0.5f * static_cast<float>(v), -1.25f, 0.001f * static_cast<float>(v % 97)});
    for (int f = 0; f < faces; ++f) {
        mesh.faces.push_back({f % vertices, (f * 7 + 3) % vertices, (f * 13 + 5) % vertices});
        for (int i = 0; i < 3; ++i)
            mesh.vertexNormals.push_back({0.25f * static_cast<float>(i), -0.5f, 0.001f * static_cast<float>(f)});
    }
    if (texture) {
        for (int t = 0; t < vertices; ++t)
            mesh.texVertices.push_back({0.125f * static_cast<float>(t % 9), 0.75f});
        for (int f = 0; f < faces; ++f)
            mesh.texFaces.push_back({(f + 1) % vertices, (f * 5) % vertices, (f * 3 + 2) % vertices});
    }
    if (!normals) {
        mesh.vertexNormals.clear();
        mesh.normalsBlock = false;
    }
    return mesh;
}

std::string CornerBytes(const ObjectArrays& arrays)
{
    if (arrays.corners.empty())
        return {};
    return std::string(reinterpret_cast<const char*>(arrays.corners.data()),
                       arrays.corners.size() * sizeof(CornerRecord));
}

// The objects of `ase` read one by one as the sequential reader reads them, each
// also read split at `cuts(extent)`; returns how many the split read accepted. An
// accepted one must match in every corner (the ones past the record too), in its
// record length and in what it hands to the next object.
template <typename Cuts>
int CompareObjects(const std::string& ase, const Cuts& cuts, int threads, const std::string& label)
{
    LineSource input = LineSource::FromMemory(ase);
    const MeshTables tables = CountObjects(input, "test");
    GeometryReader sequential(input, tables);
    int accepted = 0;
    for (std::int32_t object = 0; object < tables.objectCount; ++object) {
        sequential.ReadObject(object);
        const ObjectExtent extent = ExtentOf(tables, object);
        ObjectArrays arrays;
        arrays.vertexPool.assign(static_cast<std::size_t>(extent.vertexCount), CornerRecord{});
        arrays.corners.assign(static_cast<std::size_t>(extent.cornerCount), CornerRecord{});
        SplitRead read;
        if (!ReadObjectSplitAt(input, extent, arrays, threads, cuts(extent), read))
            continue;
        ++accepted;
        const ObjectArrays& expected = sequential.Arrays();
        const GeometryReader::CarryUpdate update = sequential.Update();
        EXPECT_EQ(CornerBytes(arrays), CornerBytes(expected)) << label << ", object " << object;
        EXPECT_EQ(arrays.cornersRead, expected.cornersRead) << label << ", object " << object;
        EXPECT_FALSE(sequential.NeedsCarry()) << label << ", object " << object;
        EXPECT_EQ(read.faces > 0, update.face) << label << ", object " << object;
        EXPECT_EQ(read.texFaces, update.texFace) << label << ", object " << object;
        for (int i = 0; i < 3; ++i) {
            if (update.face) {
                EXPECT_EQ(read.face[i], update.own.face[i]) << label << ", object " << object;
            }
            if (update.texFace) {
                EXPECT_EQ(read.texFace[i], update.own.texFace[i]) << label << ", object " << object;
            }
        }
    }
    return accepted;
}

// The line starts of `ase` inside the object at `extent`, after its first line.
std::vector<std::int64_t> LineStarts(const std::string& ase, const ObjectExtent& extent)
{
    std::vector<std::int64_t> starts;
    const auto end = std::min<std::int64_t>(extent.end, static_cast<std::int64_t>(ase.size()));
    for (std::int64_t at = extent.start; at + 1 < end; ++at) {
        if (ase[static_cast<std::size_t>(at)] == '\n')
            starts.push_back(at + 1);
    }
    return starts;
}

// Two pieces cut at each line start in turn, then every line a piece of its own.
// Gives the number of cuttings accepted and how many were tried.
std::pair<int, int> CompareAtEveryCut(const std::string& ase, int threads, const std::string& label)
{
    int accepted = 0, tried = 0;
    LineSource input = LineSource::FromMemory(ase);
    const MeshTables tables = CountObjects(input, "test");
    if (tables.objectCount == 0)
        return {0, 0};
    const std::vector<std::int64_t> starts = LineStarts(ase, ExtentOf(tables, 0));
    for (const std::int64_t cut : starts) {
        // The first object cut there, the others read in one piece.
        const std::int64_t first = ExtentOf(tables, 0).start;
        accepted += CompareObjects(
            ase,
            [&](const ObjectExtent& extent) {
                return extent.start == first ? std::vector<std::int64_t>{cut} : std::vector<std::int64_t>{};
            },
            threads, label + ", cut at " + std::to_string(cut));
        tried += tables.objectCount;
        if (::testing::Test::HasFailure())
            return {accepted, tried};
    }
    accepted += CompareObjects(ase, [&](const ObjectExtent& extent) { return LineStarts(ase, extent); }, threads,
                               label + ", every line a piece");
    tried += tables.objectCount;
    return {accepted, tried};
}

std::string Crlf(const std::string& text)
{
    std::string out;
    for (const char c : text)
        out += c == '\n' ? std::string("\r\n") : std::string(1, c);
    return out;
}

// Well-formed objects: every cutting is accepted and gives the sequential bytes.
TEST(SplitObject, GivesTheSequentialReadAtEveryCut)
{
    struct Case {
        std::string label;
        std::string ase;
    };
    const std::vector<Case> cases = {
        {"every list", testing::Scene({Mesh(9, 12, true, true)})},
        {"no texture lists", testing::Scene({Mesh(9, 12, false, true)})},
        {"no normals block", testing::Scene({Mesh(9, 12, true, false)})},
        {"neither", testing::Scene({Mesh(9, 12, false, false)})},
        {"CR LF", Crlf(testing::Scene({Mesh(9, 12, true, true)}))},
        {"two objects", testing::Scene({Mesh(5, 4, true, true), Mesh(6, 7, true, true)})},
        {"one face", testing::Scene({Mesh(3, 1, true, true)})},
    };
    for (const Case& c : cases) {
        const auto [accepted, tried] = CompareAtEveryCut(c.ase, 1, c.label);
        ASSERT_FALSE(HasFailure()) << c.label;
        EXPECT_GT(tried, 20) << c.label;
        EXPECT_EQ(accepted, tried) << c.label << ": a well-formed object was refused";
    }
}

// Numbers past 9999 are written without padding: the keys change width there.
TEST(SplitObject, ReadsPastTheFourColumnNumbers)
{
    const std::string ase = testing::Scene({Mesh(10040, 10020, true, true)});
    for (const int pieces : {2, 3, 7, 16}) {
        const int accepted = CompareObjects(
            ase,
            [&](const ObjectExtent& extent) {
                std::vector<std::int64_t> cuts;
                const std::int64_t end = static_cast<std::int64_t>(ase.size());
                for (int i = 1; i < pieces; ++i)
                    cuts.push_back(extent.start + (end - extent.start) * i / pieces);
                return cuts;
            },
            3, std::to_string(pieces) + " pieces");
        EXPECT_EQ(accepted, 1) << pieces << " pieces";
    }
}

std::string ReplaceLine(const std::string& ase, const std::string& from, const std::string& to)
{
    const std::size_t at = ase.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    return at == std::string::npos ? ase : ase.substr(0, at) + to + ase.substr(at + from.size());
}

// Layouts the pieces cannot read alone: the split read must refuse them at the cuts
// where it would differ and give the sequential bytes wherever it accepts.
TEST(SplitObject, RefusesOrMatchesOnIrregularLayouts)
{
    const std::string scene = testing::Scene({Mesh(9, 12, true, true)});
    const std::vector<std::string> lines = testing::SplitLines(scene);
    const auto lineIndex = [&](std::string_view prefix) {
        for (std::size_t i = 0; i < lines.size(); ++i) {
            if (lines[i].starts_with(prefix))
                return i;
        }
        ADD_FAILURE() << "no line " << prefix;
        return std::size_t{0};
    };
    const auto without = [&](std::size_t index) {
        std::vector<std::string> copy = lines;
        copy.erase(copy.begin() + static_cast<std::ptrdiff_t>(index));
        return testing::Lines(copy);
    };
    const auto firstLines = [&](std::size_t count) {
        return testing::Lines(std::vector<std::string>(lines.begin(), lines.begin() + static_cast<std::ptrdiff_t>(count)));
    };
    const auto with = [&](std::size_t index, const std::string& line) {
        std::vector<std::string> copy = lines;
        copy.insert(copy.begin() + static_cast<std::ptrdiff_t>(index), line);
        return testing::Lines(copy);
    };
    const std::size_t face5 = lineIndex("\t\t\t*MESH_FACE    5:");
    const std::size_t tface5 = lineIndex("\t\t\t*MESH_TFACE 5\t");
    const std::size_t tvert0 = lineIndex("\t\t\t*MESH_TVERT 0\t");
    const std::size_t normal11 = lineIndex("\t\t\t*MESH_FACENORMAL 11\t");
    // Accepted at every cutting, at some (the damage matters only to a piece that
    // starts there), or at none.
    enum class Accepted { kAll, kSome, kNone };
    struct Case {
        std::string label;
        std::string ase;
        Accepted accepted;
    };
    std::vector<Case> cases = {
        {"face line that does not scan", ReplaceLine(scene, "*MESH_FACE    5:    A:", "*MESH_FACE    5:    A:x"), Accepted::kSome},
        {"face line that scans one number",
         ReplaceLine(scene, "*MESH_FACE    5:    A:", "*MESH_FACE    5:    A:1 B:x"), Accepted::kSome},
        {"texture face that does not scan", ReplaceLine(scene, "*MESH_TFACE 5\t", "*MESH_TFACE 5\tx"), Accepted::kSome},
        {"first face line that does not scan", ReplaceLine(scene, "*MESH_FACE    0:    A:", "*MESH_FACE    0:    A:x"),
         Accepted::kNone},
        {"face line missing", without(face5), Accepted::kNone},
        {"face line twice", with(face5, lines[face5]), Accepted::kNone},
        {"texture face missing", without(tface5), Accepted::kNone},
        {"texture face twice", with(tface5, lines[tface5]), Accepted::kNone},
        {"texture vertex renumbered", ReplaceLine(scene, "*MESH_TVERT 4\t", "*MESH_TVERT 40\t"), Accepted::kNone},
        {"vertex renumbered", ReplaceLine(scene, "*MESH_VERTEX    4\t", "*MESH_VERTEX    7\t"), Accepted::kNone},
        {"vertex number unpadded", ReplaceLine(scene, "*MESH_VERTEX    4\t", "*MESH_VERTEX 4\t"), Accepted::kNone},
        {"face number with a leading zero", ReplaceLine(scene, "*MESH_FACE    5:", "*MESH_FACE   05:"), Accepted::kNone},
        {"texture vertices before the faces", with(face5 - 5, lines[tvert0]), Accepted::kNone},
        {"face normal without its vertex normals", without(normal11 + 1), Accepted::kNone},
        {"a vertex normal too many", with(normal11 + 1, lines[normal11 + 1]), Accepted::kNone},
        {"stray vertex normal", with(tvert0, lines[normal11 + 1]), Accepted::kNone},
        {"cut inside the normals", firstLines(normal11 + 2), Accepted::kNone},
        {"cut inside the texture faces", firstLines(tface5), Accepted::kNone},
        {"face normal right after the texture faces", with(tface5 + 7, lines[normal11 - 44]), Accepted::kNone},
        {"a face more than texture faces and normals", with(face5 + 7, "\t\t\t*MESH_FACE   12:    A:1 B:2 C:3 AB:"),
         Accepted::kNone},
        {"end-of-file byte", ReplaceLine(scene, "*MESH_FACE    5:", "*MESH_FACE  \x1a  5:"), Accepted::kNone},
        {"last line without a line feed", scene.substr(0, scene.size() - 1), Accepted::kAll},
    };
    for (const Case& c : cases) {
        const auto [accepted, tried] = CompareAtEveryCut(c.ase, 1, c.label);
        ASSERT_FALSE(HasFailure()) << c.label;
        EXPECT_GT(tried, 20) << c.label;
        switch (c.accepted) {
        case Accepted::kAll:
            EXPECT_EQ(accepted, tried) << c.label;
            break;
        case Accepted::kSome:
            EXPECT_GT(accepted, 0) << c.label;
            EXPECT_LT(accepted, tried) << c.label;
            break;
        case Accepted::kNone:
            EXPECT_EQ(accepted, 0) << c.label;
            break;
        }
    }
}

// Through the reader, on two and three threads, with every object split: refused
// objects are read again sequentially, and the carry reaches the next object, so
// every object is the sequential reader's whatever the damage.
class SplitReader : public ::testing::Test {
  protected:
    void SetUp() override { SetSplitFromBytesForTests(0); }
    void TearDown() override { SetSplitFromBytesForTests(kSplitFrom); }

    static void ExpectSameObjects(const std::string& ase, int threads, const std::string& label)
    {
        LineSource input = LineSource::FromMemory(ase);
        const MeshTables tables = CountObjects(input, "test");
        LineSource again = LineSource::FromMemory(ase);
        GeometryReader sequential(input, tables);
        GeometryReader split(again, tables);
        split.SplitLargeObjects(threads);
        for (std::int32_t object = 0; object < tables.objectCount; ++object) {
            sequential.ReadObject(object);
            split.ReadObject(object);
            ASSERT_EQ(CornerBytes(split.Arrays()), CornerBytes(sequential.Arrays())) << label << ", object " << object;
            ASSERT_EQ(split.Arrays().cornersRead, sequential.Arrays().cornersRead) << label << ", object " << object;
            ASSERT_EQ(split.NeedsCarry(), sequential.NeedsCarry()) << label << ", object " << object;
            const GeometryReader::Carry before{{1, 2, 3}, {4, 5, 6}};
            const GeometryReader::Carry a = split.CarryAfter(before), b = sequential.CarryAfter(before);
            ASSERT_EQ(std::memcmp(&a, &b, sizeof a), 0) << label << ", object " << object;
        }
    }
};

TEST_F(SplitReader, GivesTheSequentialObjectsOnEveryDamage)
{
    const std::string scene = testing::Scene({Mesh(5, 4, true, true), Mesh(4, 3, true, true)});
    // Two and three threads in turn. Each split starts threads, which Wine makes slow
    // (5 ms a thread): there, one variant in five (the reading is the same code on
    // every host).
    const int every = testing::UnderWine() ? 5 : 1;
    int variants = 0, checked = 0;
    const auto check = [&](const damage::Variant& variant) {
        if (variants++ % every == 0)
            ExpectSameObjects(variant.bytes, 2 + checked++ % 2, variant.label);
    };
    damage::ForEachDamage(scene, check);
    damage::ForEachStackedDamage(scene, 17, 150, check);
    EXPECT_GT(checked, 200);
}

TEST_F(SplitReader, GivesTheSequentialObjectsOnTheCorpus)
{
    const std::vector<std::filesystem::path> files = testing::CorpusFiles();
    if (files.empty())
        GTEST_SKIP() << "no corpus (../shared/corpus beside the checkout)";
    for (const std::filesystem::path& file : files) {
        const std::string ase = testing::ReadFile(file);
        for (const int threads : {2, 3})
            ExpectSameObjects(ase, threads, file.filename().string());
    }
}

}  // namespace
}  // namespace ase2sgl
