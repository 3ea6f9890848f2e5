// The bundle file format, byte for byte, and stream assembly.
#include "bundle/mesh_bundle.h"
#include "bundle/atomic_output.h"
#include "common/conversion_error.h"
#include "conversion/convert.h"
#include "support/test_support.h"

#include <gtest/gtest.h>


#include <cstring>
#include <functional>
#include <set>

namespace ase2sgl {
namespace {

using testing::Bits;
using testing::BoxMesh;
using testing::MeshLines;
using testing::MeshSpec;
using testing::Scene;

std::string Int32Bytes(std::int32_t value)
{
    std::string bytes(4, '\0');
    for (int i = 0; i < 4; ++i)
        bytes[static_cast<std::size_t>(i)] = static_cast<char>((static_cast<std::uint32_t>(value) >> (8 * i)) & 0xFF);
    return bytes;
}

std::string FloatBytes(std::initializer_list<float> values)
{
    std::string bytes;
    for (float value : values)
        bytes += Int32Bytes(static_cast<std::int32_t>(Bits(value)));
    return bytes;
}

std::string NameField(std::string_view name)
{
    std::string field(name);
    field.resize(255, '\0');
    return field;
}

TEST(MeshBundle, OneFaceBoxIsExactly359Bytes)
{
    MeshSpec box;
    box.name = "Box";
    box.vertices = {{1, 2, 3}, {-1, 0, 0.5f}, {0, -2, 4}};
    box.faces = {{0, 1, 2}};
    box.texVertices = {{0, 1}, {1, 0}, {0.5f, 0.25f}};
    box.texFaces = {{2, 1, 0}};
    box.vertexNormals = {{0, 0, 1}, {0, 1, 0}, {1, 0, 0}};
    const std::string bytes = ConvertBytes(Scene({box}));

    const std::string expected = Int32Bytes(1) + NameField("BOX") + Int32Bytes(3) +
                                 FloatBytes({1, 3, 2, -1, 0.5f, 0, 0, 4, -2}) +  // positions x, z, y
                                 FloatBytes({0, 1, 0, 0, 0, 1, 1, 0, 0}) +       // normals likewise
                                 FloatBytes({0.5f, 0.25f, 1, 0, 0, 1});          // u, v as written
    ASSERT_EQ(bytes.size(), 359u);
    EXPECT_EQ(bytes, expected);
    EXPECT_EQ(bytes.substr(4, 4), std::string("BOX\0", 4));
    EXPECT_EQ(bytes.substr(259, 4), std::string("\x03\0\0\0", 4));
    EXPECT_EQ(bytes.substr(263, 4), std::string("\0\0\x80\x3F", 4));       // 1.0
    EXPECT_EQ(bytes.substr(263 + 12, 4), std::string("\0\0\x80\xBF", 4));  // -1.0
}

TEST(MeshBundle, Box01SceneIs1415Bytes)
{
    const std::string bytes = ConvertBytes(Scene({BoxMesh("Box01")}));
    ASSERT_EQ(bytes.size(), 1415u);
    const testing::Bundle bundle = testing::ParseBundle(bytes);
    ASSERT_EQ(bundle.problem, "");
    ASSERT_EQ(bundle.objects.size(), 1u);
    EXPECT_EQ(bundle.objects[0].name, "BOX01");
    EXPECT_EQ(bundle.objects[0].VertexCount(), 36);
    // Face 6 is A:1 B:3 C:7 with texture vertices 0 1 3 and normal (1, 0, 0).
    const auto& box = bundle.objects[0];
    EXPECT_EQ(std::vector<float>(box.positions.begin() + 18 * 3, box.positions.begin() + 18 * 3 + 3),
              (std::vector<float>{1, 0, -1}));
    EXPECT_EQ(std::vector<float>(box.normals.begin() + 18 * 3, box.normals.begin() + 18 * 3 + 3),
              (std::vector<float>{1, 0, 0}));
    EXPECT_EQ(std::vector<float>(box.texcoords.begin() + 20 * 2, box.texcoords.begin() + 20 * 2 + 2),
              (std::vector<float>{0.75f, 0}));
}

TEST(MeshBundle, RecordsForEmptyScenesObjectsAndNames)
{
    std::vector<std::string> noFaces = {"\t*NODE_NAME \"Empty\"", "\t\t\t*MESH_VERTEX    0\t1\t2\t3", "}"};
    std::vector<std::string> emptyName = MeshLines(BoxMesh());
    emptyName[1] = "\t*NODE_NAME \"\"";
    struct Case {
        const char* label;
        std::string ase;
        std::string expected;
    };
    const Case cases[] = {
        {"no object", "*3DSMAX_ASCIIEXPORT\t200\n", Int32Bytes(0)},
        {"empty input", "", Int32Bytes(0)},
        {"an object without faces", testing::Lines(noFaces), Int32Bytes(1) + NameField("EMPTY") + Int32Bytes(0)},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ConvertBytes(c.ase), c.expected) << c.label;

    const std::string named = ConvertBytes(testing::Lines(emptyName));
    EXPECT_EQ(named.substr(4, 255), std::string(255, '\0'));
}

TEST(MeshBundle, NameFieldsHoldAtMost254BytesAndAZero)
{
    for (const std::size_t length : {0u, 1u, 2u, 253u, 254u, 255u, 10000u}) {
        std::vector<std::string> lines = MeshLines(BoxMesh());
        lines[1] = "\t*NODE_NAME \"" + std::string(length, 'q') + "\"";
        const std::string bytes = ConvertBytes(testing::Lines(lines));
        ASSERT_EQ(bytes.size(), 1415u) << length;
        EXPECT_EQ(bytes.substr(4, 255), NameField(std::string(std::min<std::size_t>(length, 254), 'Q'))) << length;
    }
}

TEST(MeshBundle, ObjectsAreWrittenInInputOrder)
{
    MeshSpec second = BoxMesh("second");
    second.vertices[0] = {9, 8, 7};
    const testing::Bundle bundle = testing::ParseBundle(ConvertBytes(Scene({BoxMesh("first"), second, BoxMesh("3")})));
    ASSERT_EQ(bundle.problem, "");
    ASSERT_EQ(bundle.objects.size(), 3u);
    EXPECT_EQ(bundle.objects[0].name, "FIRST");
    EXPECT_EQ(bundle.objects[1].name, "SECOND");
    EXPECT_EQ(bundle.objects[2].name, "3");
    EXPECT_EQ(bundle.objects[1].positions[0], 9);  // face 0 corner A is vertex 0
    EXPECT_EQ(bundle.objects[0].positions[0], -1);
}

// The three streams of two corners, as the file stores them.
std::string StreamBytes(std::span<const CornerRecord> corners)
{
    std::string bytes(kBytesPerVertex * corners.size(), '\0');
    char* out = bytes.data();
    for (const Stream stream : {Stream::kPositions, Stream::kNormals, Stream::kTexcoords})
        out = AssembleStream(corners, stream, out);
    EXPECT_EQ(out, bytes.data() + bytes.size());
    return bytes;
}

TEST(StreamAssembly, LaysOutPositionsNormalsTexcoordsNegatingVBack)
{
    const CornerRecord corners[2] = {
        {{1, 2, 3}, {0.5f, 0.25f, 2}, {0.25f, -0.75f}},
        {{4, 5, 6}, {7, 8, 9}, {0, 0}},  // an unwritten V (+0.0) leaves as -0.0
    };
    const std::string bytes = StreamBytes(corners);
    const std::vector<float> expected = {1, 2, 3, 4, 5, 6, 0.5f, 0.25f, 2, 7, 8, 9, 0.25f, 0.75f, 0, -0.0f};
    ASSERT_EQ(bytes.size(), expected.size() * 4);
    for (std::size_t i = 0; i < expected.size(); ++i) {
        std::uint32_t bits = 0;
        for (int b = 3; b >= 0; --b)  // little-endian in the file
            bits = bits << 8 | static_cast<unsigned char>(bytes[4 * i + static_cast<std::size_t>(b)]);
        EXPECT_EQ(bits, Bits(expected[i])) << "float " << i;
    }
}

TEST(BundleWriter, LargeObjectsPassTheBufferUnchanged)
{
    // Records larger than the write buffer go around it; the bytes must not change.
    std::vector<CornerRecord> corners(39999);
    for (std::size_t i = 0; i < corners.size(); ++i)
        corners[i] = {{static_cast<float>(i), 1, 2}, {3, 4, 5}, {6, -7}};
    MemorySink sink;
    BundleWriter writer(sink);
    writer.WriteObjectCount(2);
    writer.WriteObject("SMALL", std::span<const CornerRecord>(corners.data(), 3));
    writer.WriteObject("LARGE", corners);
    writer.Flush();
    const testing::Bundle bundle = testing::ParseBundle(sink.bytes);
    ASSERT_EQ(bundle.problem, "");
    ASSERT_EQ(bundle.objects.size(), 2u);
    EXPECT_EQ(bundle.objects[1].VertexCount(), 39999);
    EXPECT_EQ(bundle.objects[1].positions[3 * 39998], 39998);
    EXPECT_EQ(bundle.objects[1].texcoords[2 * 39998 + 1], 7);
}

// The streams go into the write buffer as many corners at a time as it has room for:
// whatever its size, the bytes are the object count, the name field, the vertex count
// and the three streams as AssembleStream lays them out for the whole object.
TEST(BundleWriter, StreamsCutAtAnyBufferSizeGiveTheSameBytes)
{
    std::vector<CornerRecord> corners(5003);
    for (std::size_t i = 0; i < corners.size(); ++i) {
        const auto f = static_cast<float>(i);
        corners[i] = {{f, f + 0.5f, -f}, {f * 2, 1, -1}, {0.25f * f, (i % 3 == 0) ? 0.0f : -f}};
    }
    std::string expected;
    const auto put32 = [&](std::uint32_t bits) {
        for (int b = 0; b < 4; ++b)
            expected += static_cast<char>((bits >> (8 * b)) & 0xFF);
    };
    put32(2);
    for (const std::size_t n : {std::size_t{7}, corners.size()}) {
        std::string name(kNameFieldBytes, '\0');
        name.replace(0, 1, n == 7 ? "A" : "B");
        expected += name;
        put32(static_cast<std::uint32_t>(n));
        expected += StreamBytes(std::span<const CornerRecord>(corners.data(), n));
    }
    for (const std::uint64_t buffer : {std::uint64_t{1}, std::uint64_t{64}, std::uint64_t{100}, std::uint64_t{4099},
                                       std::uint64_t{1} << 20}) {
        MemorySink sink;
        BundleWriter writer(sink, buffer);
        writer.WriteObjectCount(2);
        writer.WriteObject("A", std::span<const CornerRecord>(corners.data(), 7));
        writer.WriteObject("B", corners);
        writer.Flush();
        EXPECT_TRUE(sink.bytes == expected) << "a buffer of " << buffer << " bytes";
    }
}

TEST(AtomicOutputFile, UnfinishedOutputCanBeRemovedFromASignalHandler)
{
    testing::ScratchDir dir;
    testing::WriteFile(dir / "out.sgl", "old bytes");
    {
        AtomicOutputFile output((dir / "out.sgl").string());
        output.Write("new", 3);
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 2);  // old file + temporary
        RemoveUnfinishedOutput();  // what the driver's SIGINT/SIGTERM/SIGHUP handler does
#ifndef _WIN32  // Windows removes a file still open once its last handle closes, at the process's end
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
#endif
    }
    EXPECT_EQ(testing::ReadFile(dir / "out.sgl"), "old bytes");

    AtomicOutputFile committed((dir / "out.sgl").string());
    committed.Write("new", 3);
    committed.Commit();
    RemoveUnfinishedOutput();  // nothing pending: the finished output stays
    EXPECT_EQ(testing::ReadFile(dir / "out.sgl"), "new");
}

// The output file is reserved at the size the counts allow, where the platform
// reserves at all; the bundle written can be shorter (faces that do not scan), and
// the file is cut to it.
TEST(AtomicOutputFile, CommitLeavesTheBytesWrittenWhateverWasReserved)
{
    testing::ScratchDir dir;
    AtomicOutputFile output((dir / "out.sgl").string());
    output.Reserve(std::uint64_t{1} << 20);
    output.Write("new", 3);
    output.Commit();
    EXPECT_EQ(testing::ReadFile(dir / "out.sgl"), "new");
}

// Commit puts the new bundle in the place of whatever the output path names by
// then, and leaves nothing else behind; what cannot be replaced (a folder that
// took the path after the output was opened) fails and is left as it was.
TEST(AtomicOutputFile, CommitReplacesWhatTheOutputNamed)
{
    namespace fs = std::filesystem;
    struct Case {
        const char* label;
        std::function<void(const testing::ScratchDir&)> before;  // after the output is opened
        bool replaced;
        std::set<std::string> entries;  // in the folder once the output is gone
    };
    const std::vector<Case> cases = {
        {"no file yet", [](const testing::ScratchDir&) {}, true, {"out.sgl"}},
        {"an older bundle", [](const testing::ScratchDir& dir) { testing::WriteFile(dir / "out.sgl", "old bytes"); },
         true, {"out.sgl"}},
#ifndef _WIN32  // Windows refuses to replace a read-only file (the Windows failure tests hold that case)
        {"a read-only older bundle",
         [](const testing::ScratchDir& dir) {
             testing::WriteFile(dir / "out.sgl", "old bytes");
             fs::permissions(dir / "out.sgl", fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
         },
         true, {"out.sgl"}},
        {"an older bundle with a second link",
         [](const testing::ScratchDir& dir) {
             testing::WriteFile(dir / "out.sgl", "old bytes");
             fs::create_hard_link(dir / "out.sgl", dir / "kept.sgl");
         },
         true, {"kept.sgl", "out.sgl"}},
#endif
        {"a folder",
         [](const testing::ScratchDir& dir) {
             fs::create_directory(dir / "out.sgl");
             testing::WriteFile(dir / "out.sgl" / "inside", "x");
         },
         false, {"out.sgl"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        testing::ScratchDir dir;
        {
            AtomicOutputFile output((dir / "out.sgl").string());
            output.Write("new", 3);
            c.before(dir);
            if (c.replaced) {
                output.Commit();
            } else {
                EXPECT_THROW(output.Commit(), FileError);
            }
        }
        std::set<std::string> entries;
        for (const fs::directory_entry& entry : fs::directory_iterator(dir.path()))
            entries.insert(entry.path().filename().string());
        EXPECT_EQ(entries, c.entries);
        if (c.replaced) {
            EXPECT_EQ(testing::ReadFile(dir / "out.sgl"), "new");
        } else {
            EXPECT_TRUE(fs::is_directory(dir / "out.sgl"));
            EXPECT_EQ(testing::ReadFile(dir / "out.sgl" / "inside"), "x");
        }
        if (fs::exists(dir / "kept.sgl")) {
            EXPECT_EQ(testing::ReadFile(dir / "kept.sgl"), "old bytes");
        }
    }
}

}  // namespace
}  // namespace ase2sgl
