// Geometry pass, seen through the bundle it produces: which values reach which
// corner, including on layouts that break the exporter's conventions.
#include "ase/pass_observer.h"
#include "conversion/convert.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <tuple>

namespace ase2sgl {
namespace {

using testing::Bits;
using testing::BoxMesh;
using testing::Bundle;
using testing::BundleObject;
using testing::Concat;
using testing::MeshLines;
using testing::MeshSpec;
using testing::Scene;

Bundle Convert(const std::string& ase)
{
    Bundle bundle = testing::ParseBundle(ConvertBytes(ase));
    EXPECT_EQ(bundle.problem, "");
    return bundle;
}

std::array<float, 3> Position(const BundleObject& object, int vertex)
{
    const auto i = static_cast<std::size_t>(3 * vertex);
    return {object.positions[i], object.positions[i + 1], object.positions[i + 2]};
}

std::array<float, 3> Normal(const BundleObject& object, int vertex)
{
    const auto i = static_cast<std::size_t>(3 * vertex);
    return {object.normals[i], object.normals[i + 1], object.normals[i + 2]};
}

std::array<std::uint32_t, 2> TexcoordBits(const BundleObject& object, int vertex)
{
    const auto i = static_cast<std::size_t>(2 * vertex);
    return {Bits(object.texcoords[i]), Bits(object.texcoords[i + 1])};
}

std::vector<std::string> Replace(std::vector<std::string> lines, std::string_view from, std::string_view to)
{
    const auto at = std::find(lines.begin(), lines.end(), from);
    EXPECT_NE(at, lines.end()) << "no line " << from;
    if (at != lines.end())
        *at = to;
    return lines;
}

MeshSpec Triangle(std::string name = "Tri")
{
    MeshSpec mesh;
    mesh.name = std::move(name);
    mesh.vertices = {{1.5f, 2.5f, 3.5f}, {4, 5, 6}, {7, 8, 9}};
    mesh.faces = {{2, 0, 1}};
    mesh.texVertices = {{0.25f, 0.75f}, {0.5f, -0.5f}, {1, 1}};
    mesh.texFaces = {{0, 1, 2}};
    mesh.vertexNormals = {{1.5f, 2.5f, 3.5f}, {0, 0, 1}, {0, 1, 0}};
    return mesh;
}

TEST(GeometryPass, SwapsSecondAndThirdComponentsAndKeepsTextureV)
{
    const Bundle bundle = Convert(Scene({Triangle()}));
    ASSERT_EQ(bundle.objects.size(), 1u);
    const BundleObject& tri = bundle.objects[0];
    ASSERT_EQ(tri.VertexCount(), 3);
    // Face A:2 B:0 C:1 takes vertices 2, 0, 1 in that order.
    EXPECT_EQ(Position(tri, 0), (std::array<float, 3>{7, 9, 8}));
    EXPECT_EQ(Position(tri, 1), (std::array<float, 3>{1.5f, 3.5f, 2.5f}));
    EXPECT_EQ(Position(tri, 2), (std::array<float, 3>{4, 6, 5}));
    // Vertex normals in their order within the face, the number on the line unused.
    EXPECT_EQ(Normal(tri, 0), (std::array<float, 3>{1.5f, 3.5f, 2.5f}));
    EXPECT_EQ(Normal(tri, 1), (std::array<float, 3>{0, 1, 0}));
    EXPECT_EQ(Normal(tri, 2), (std::array<float, 3>{0, 0, 1}));
    EXPECT_EQ(TexcoordBits(tri, 0), (std::array<std::uint32_t, 2>{Bits(0.25f), Bits(0.75f)}));
    EXPECT_EQ(TexcoordBits(tri, 1), (std::array<std::uint32_t, 2>{Bits(0.5f), Bits(-0.5f)}));
}

TEST(GeometryPass, FieldsNoLineWritesAreZeroWithNegativeZeroV)
{
    MeshSpec untextured = Triangle("Bare");
    untextured.texVertices.clear();
    untextured.texFaces.clear();
    MeshSpec noNormals = Triangle("NoNormals");
    noNormals.normalsBlock = false;
    noNormals.vertexNormals.clear();
    std::vector<std::string> cutInNormals = MeshLines(Triangle("Cut"));
    const auto firstNormal =
        std::find(cutInNormals.begin(), cutInNormals.end(), "\t\t\t\t*MESH_VERTEXNORMAL 2\t1.5000\t2.5000\t3.5000");
    ASSERT_NE(firstNormal, cutInNormals.end());
    cutInNormals.erase(firstNormal + 1, cutInNormals.end());
    struct Case {
        const char* label;
        std::string ase;
        bool texcoordsWritten;
        int normalsWritten;
    };
    const Case cases[] = {
        {"no texture list", Scene({untextured}), false, 3},
        {"last object without normals", Scene({noNormals}), true, 0},
        {"input ends inside the normals block", testing::Lines(cutInNormals), true, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        const Bundle bundle = Convert(c.ase);
        ASSERT_EQ(bundle.objects.size(), 1u);
        const BundleObject& object = bundle.objects[0];
        ASSERT_EQ(object.VertexCount(), 3);
        EXPECT_EQ(Position(object, 1), (std::array<float, 3>{1.5f, 3.5f, 2.5f}));
        for (int v = 0; v < 3; ++v) {
            if (!c.texcoordsWritten) {
                EXPECT_EQ(TexcoordBits(object, v), (std::array<std::uint32_t, 2>{0u, 0x80000000u}));
            }
            if (v >= c.normalsWritten)
                EXPECT_EQ(Normal(object, v), (std::array<float, 3>{0, 0, 0}));
            else
                EXPECT_NE(Normal(object, v), (std::array<float, 3>{0, 0, 0}));
        }
    }
}

TEST(GeometryPass, NormalsBlockBeforeAnyTextureVertexLeavesTexturesUnread)
{
    // The texture-face list is there, but the texture-vertex search met the normals
    // block first: the object is untextured.
    std::vector<std::string> reordered = MeshLines(Triangle());
    // Move the texture-vertex list behind the normals block.
    const auto tvStart = std::find(reordered.begin(), reordered.end(), "\t\t*MESH_NUMTVERTEX 3");
    std::vector<std::string> tv(tvStart, tvStart + 6);
    reordered.erase(tvStart, tvStart + 6);
    const auto propLine = std::find(reordered.begin(), reordered.end(), "\t*PROP_MOTIONBLUR 0");
    reordered.insert(propLine, tv.begin(), tv.end());
    const Bundle bundle = Convert(testing::Lines(reordered));
    ASSERT_EQ(bundle.objects.size(), 1u);
    for (int v = 0; v < 3; ++v)
        EXPECT_EQ(TexcoordBits(bundle.objects[0], v), (std::array<std::uint32_t, 2>{0u, 0x80000000u}));
}

TEST(GeometryPass, ReadsExactlyOneTextureFaceLinePerFace)
{
    MeshSpec twoFaces = Triangle();
    twoFaces.faces = {{0, 1, 2}, {2, 1, 0}};
    twoFaces.texFaces = {{0, 0, 0}, {1, 1, 1}, {2, 2, 2}};  // one line too many: never read
    twoFaces.vertexNormals.resize(6, {0, 0, 1});
    Bundle bundle = Convert(Scene({twoFaces}));
    ASSERT_EQ(bundle.objects[0].VertexCount(), 6);
    EXPECT_EQ(TexcoordBits(bundle.objects[0], 3)[0], Bits(0.5f));
    // The normals follow the extra line: the four-lines-per-face reading is unaffected.
    EXPECT_EQ(Normal(bundle.objects[0], 5), (std::array<float, 3>{0, 1, 0}));

    // One line too few: the closing brace is taken as the second face's line and does
    // not scan, so it reuses the first line's texture-vertex numbers.
    twoFaces.texFaces = {{1, 2, 0}};
    bundle = Convert(Scene({twoFaces}));
    ASSERT_EQ(bundle.objects[0].VertexCount(), 6);
    for (int c = 0; c < 3; ++c)
        EXPECT_EQ(TexcoordBits(bundle.objects[0], 3 + c), TexcoordBits(bundle.objects[0], c));
}

TEST(GeometryPass, UnscannableNumbersKeepTheirLastValues)
{
    // Face numbers that do not scan reuse the previous face's; before any face they
    // are 0. A float that does not scan stays 0.
    std::vector<std::string> lines = MeshLines(Triangle());
    lines = Replace(lines,
                    "\t\t\t*MESH_FACE    0:    A:    2 B:    0 C:    1 AB:    1 BC:    1 CA:    0\t "
                    "*MESH_SMOOTHING 2 \t*MESH_MTLID 1",
                    "\t\t\t*MESH_FACE    0:    A:    x B:    0 C:    1");
    lines =
        Replace(lines, "\t\t\t*MESH_VERTEX    0\t1.5000\t2.5000\t3.5000", "\t\t\t*MESH_VERTEX    0\t1.5000\t?\t3.5000");
    const Bundle bundle = Convert(testing::Lines(lines));
    ASSERT_EQ(bundle.objects[0].VertexCount(), 3);
    for (int v = 0; v < 3; ++v)  // A, B and C all stayed 0: vertex 0, whose second value failed
        EXPECT_EQ(Position(bundle.objects[0], v), (std::array<float, 3>{1.5f, 0, 0}));

    // Across objects: the second object's unscannable face reuses the first one's numbers.
    std::vector<std::string> second = MeshLines(Triangle("Second"));
    second = Replace(second,
                     "\t\t\t*MESH_FACE    0:    A:    2 B:    0 C:    1 AB:    1 BC:    1 CA:    0\t "
                     "*MESH_SMOOTHING 2 \t*MESH_MTLID 1",
                     "\t\t\t*MESH_FACE    0:");
    MeshSpec first = Triangle("First");
    first.faces = {{1, 1, 2}};
    const Bundle both = Convert(testing::Lines(Concat({MeshLines(first), second})));
    ASSERT_EQ(both.objects.size(), 2u);
    EXPECT_EQ(Position(both.objects[1], 0), (std::array<float, 3>{4, 6, 5}));
    EXPECT_EQ(Position(both.objects[1], 2), (std::array<float, 3>{7, 9, 8}));
}

TEST(GeometryPass, NumbersOutsideTheVertexPoolCopyNothing)
{
    MeshSpec mesh = Triangle();
    mesh.faces = {{-1, 3, 2147483647}};
    mesh.texFaces = {{7, -8, 9}};
    const Bundle bundle = Convert(Scene({mesh}));
    ASSERT_EQ(bundle.objects[0].VertexCount(), 3);
    for (int v = 0; v < 3; ++v) {
        EXPECT_EQ(Position(bundle.objects[0], v), (std::array<float, 3>{0, 0, 0}));
        EXPECT_EQ(TexcoordBits(bundle.objects[0], v), (std::array<std::uint32_t, 2>{0u, 0x80000000u}));
    }
}

// Each corner gets the entries its own line names, whatever the length of the lists
// against the batch of lines whose copies a large pool defers (a number outside the
// pool leaves its corner's fields zero): a pool of 11 entries, copied as each line is
// read, and one of 33,000 (past 1 MiB), copied a few lines later.
TEST(GeometryPass, EveryCornerGetsTheEntriesItsLineNames)
{
    for (const int vertices : {11, 33000}) {
        for (const int faces : {1, 7, 8, 9, 16, 17, 25}) {
            SCOPED_TRACE("pool " + std::to_string(vertices) + ", faces " + std::to_string(faces));
            MeshSpec mesh;
            mesh.name = "Batch";
            for (int v = 0; v < vertices; ++v) {
                mesh.vertices.push_back({static_cast<float>(v), static_cast<float>(v % 7), static_cast<float>(-v)});
                mesh.texVertices.push_back({static_cast<float>(v % 64) / 8, static_cast<float>(v % 16) / 4});
            }
            const auto spread = [&](int f, int k) { return (7919 * f + k) % vertices; };
            for (int f = 0; f < faces; ++f) {
                // Every fifth line names a vertex past the pool, every fifth from the
                // fourth a texture vertex past it.
                mesh.faces.push_back({spread(f, 1), f % 5 == 4 ? vertices + 3 : spread(f, 5), spread(f, 2)});
                mesh.texFaces.push_back({spread(f, 3), f % 5 == 3 ? vertices : spread(f, 4), spread(f, 6)});
            }
            mesh.vertexNormals.resize(static_cast<std::size_t>(3 * faces), {0, 0, 1});
            const Bundle bundle = Convert(Scene({mesh}));
            ASSERT_EQ(bundle.objects.size(), 1u);
            ASSERT_EQ(bundle.objects[0].VertexCount(), 3 * faces);
            const auto pool = static_cast<std::size_t>(vertices);
            for (std::size_t f = 0; f < mesh.faces.size(); ++f) {
                for (std::size_t c = 0; c < 3; ++c) {
                    const auto corner = static_cast<int>(3 * f + c);
                    const auto vertex = static_cast<std::size_t>(mesh.faces[f][c]);
                    const auto tex = static_cast<std::size_t>(mesh.texFaces[f][c]);
                    const std::array<float, 3> position =
                        vertex < pool ? std::array<float, 3>{mesh.vertices[vertex][0], mesh.vertices[vertex][2],
                                                             mesh.vertices[vertex][1]}
                                      : std::array<float, 3>{0, 0, 0};
                    const std::array<std::uint32_t, 2> texcoord =
                        tex < pool ? std::array<std::uint32_t, 2>{Bits(mesh.texVertices[tex][0]),
                                                                  Bits(mesh.texVertices[tex][1])}
                                   : std::array<std::uint32_t, 2>{0u, 0x80000000u};
                    ASSERT_EQ(Position(bundle.objects[0], corner), position) << "corner " << corner;
                    ASSERT_EQ(TexcoordBits(bundle.objects[0], corner), texcoord) << "corner " << corner;
                }
            }
        }
    }
}

TEST(GeometryPass, LongListsUseUnpaddedNumbersFrom10000)
{
    MeshSpec big;
    big.name = "Big";
    for (int i = 0; i < 10002; ++i)
        big.vertices.push_back({static_cast<float>(i), 0, 1});
    for (int f = 0; f < 10001; ++f)
        big.faces.push_back({f, f + 1, 10001});
    const Bundle bundle = Convert(Scene({big}));
    ASSERT_EQ(bundle.objects[0].VertexCount(), 30003);
    EXPECT_EQ(Position(bundle.objects[0], 30000), (std::array<float, 3>{10000, 1, 0}));
    EXPECT_EQ(Position(bundle.objects[0], 30001), (std::array<float, 3>{10001, 1, 0}));
}

TEST(GeometryPass, ObjectsOver65535CornersAreStoredExactly)
{
    MeshSpec big;
    big.name = "Huge";
    for (int i = 0; i < 3; ++i)
        big.vertices.push_back({static_cast<float>(i), 1, 2});
    for (int f = 0; f < 21846; ++f)
        big.faces.push_back({f % 3, (f + 1) % 3, (f + 2) % 3});
    big.normalsBlock = false;
    const Bundle bundle = Convert(Scene({big}));
    ASSERT_EQ(bundle.objects[0].VertexCount(), 65538);
    for (int v : {0, 65534, 65535, 65536, 65537}) {
        const int face = v / 3, corner = v % 3;
        const float x = static_cast<float>((face + corner) % 3);
        EXPECT_EQ(Position(bundle.objects[0], v), (std::array<float, 3>{x, 2, 1})) << "vertex " << v;
    }
}

TEST(GeometryPass, CountsDisagreeingWithTheFirstReadAreCapped)
{
    // The first mesh's face list follows its last vertex line directly. The first
    // read passes over that face list (the line that ends a list is never tested)
    // and sizes the object by the next mesh's faces, which swallows the next node
    // header; the second read finds the face list after seeking back. The object
    // keeps the corners it has room for, and the second mesh, met by the second
    // read beyond the object count, fills nothing.
    std::vector<std::string> first = MeshLines(testing::BoxMesh("First"));
    first.erase(first.begin() + 19, first.begin() + 21);
    MeshSpec next = Triangle("Next");
    const Bundle bundle = Convert(testing::Lines(Concat({first, MeshLines(next)})));
    ASSERT_EQ(bundle.objects.size(), 1u);
    EXPECT_EQ(bundle.objects[0].name, "FIRST");
    ASSERT_EQ(bundle.objects[0].VertexCount(), 3);  // 12 faces read, room for 1
    EXPECT_EQ(Position(bundle.objects[0], 0), (std::array<float, 3>{-1, 0, -1}));
}

// Meshes exported without normals, and lists cut short: each object is read within
// its own lines, so every mesh converts as it would alone.

// The box with its vertices moved and its texture vertices scaled by `k`, so that
// an object that takes another's lines shows it.
MeshSpec DistinctBox(std::string name, float k, bool normals)
{
    MeshSpec mesh = BoxMesh(std::move(name));
    for (auto& v : mesh.vertices)
        v = {v[0] + k, v[1] * k, v[2] - k};
    for (auto& t : mesh.texVertices)
        t = {t[0] * k, t[1] * k};
    return normals ? mesh : testing::WithoutNormalsBlock(mesh);
}

std::vector<std::string> OtherNode(std::string_view block, std::string_view name)
{
    return {std::string("*") + std::string(block) + " {",
            "\t*NODE_NAME \"" + std::string(name) + "\"",
            "\t*NODE_TM {",
            "\t\t*NODE_NAME \"" + std::string(name) + "\"",
            "\t}",
            "}"};
}

void ExpectSameArrays(const BundleObject& got, const BundleObject& alone, const std::string& label)
{
    const auto bits = [](const std::vector<float>& values) {
        std::vector<std::uint32_t> out;
        for (const float v : values)
            out.push_back(Bits(v));
        return out;
    };
    EXPECT_EQ(bits(got.positions), bits(alone.positions)) << label;
    EXPECT_EQ(bits(got.normals), bits(alone.normals)) << label;
    EXPECT_EQ(bits(got.texcoords), bits(alone.texcoords)) << label;
}

TEST(GeometryPass, EachObjectIsReadWithinItsOwnLines)
{
    MeshSpec noTexFaces = DistinctBox("NoTexFaces", 2, false);
    noTexFaces.texFaces.clear();
    MeshSpec shortTexFaces = DistinctBox("ShortTexFaces", 3, false);
    shortTexFaces.texFaces.resize(5);
    MeshSpec shortNormals = DistinctBox("ShortNormals", 4, true);
    shortNormals.vertexNormals.resize(10);  // three faces and one corner of the fourth

    struct Expected {
        std::string name;
        MeshSpec alone;
    };
    struct Case {
        const char* label;
        std::vector<std::vector<std::string>> parts;
        std::vector<Expected> objects;
    };
    const MeshSpec a = DistinctBox("A", 2, false), b = DistinctBox("B", 3, false), c = DistinctBox("C", 5, false);
    const MeshSpec withNormals = DistinctBox("Full", 6, true);
    const std::vector<Case> cases = {
        {"meshes with texture lists and no normals block",
         {MeshLines(a), MeshLines(b), MeshLines(c)},
         {{"A", a}, {"B", b}, {"C", c}}},
        {"a mesh without normals before one with them",
         {MeshLines(a), MeshLines(withNormals), MeshLines(b)},
         {{"A", a}, {"FULL", withNormals}, {"B", b}}},
        // The node header before a mesh names it: the camera's or helper's name goes
        // to the next mesh, whose geometry is its own all the same.
        {"a camera between two such meshes",
         {MeshLines(a), OtherNode("CAMERAOBJECT", "Camera01"), MeshLines(b)},
         {{"A", a}, {"CAMERA01", b}}},
        {"a helper between two such meshes",
         {MeshLines(a), OtherNode("HELPEROBJECT", "Dummy01"), MeshLines(b), MeshLines(c)},
         {{"A", a}, {"DUMMY01", b}, {"C", c}}},
        {"no texture-face list, no normals",
         {MeshLines(noTexFaces), MeshLines(withNormals)},
         {{"NOTEXFACES", noTexFaces}, {"FULL", withNormals}}},
        {"a texture-face list shorter than the face list",
         {MeshLines(shortTexFaces), MeshLines(withNormals), MeshLines(b)},
         {{"SHORTTEXFACES", shortTexFaces}, {"FULL", withNormals}, {"B", b}}},
        {"a normals block cut short",
         {MeshLines(shortNormals), MeshLines(a), MeshLines(withNormals)},
         {{"SHORTNORMALS", shortNormals}, {"A", a}, {"FULL", withNormals}}},
        {"the last object without normals reads to the end of the input",
         {MeshLines(withNormals), MeshLines(a)},
         {{"FULL", withNormals}, {"A", a}}},
    };
    for (const Case& test : cases) {
        const Bundle bundle = Convert(testing::Lines(Concat(test.parts)));
        ASSERT_EQ(bundle.objects.size(), test.objects.size()) << test.label;
        for (std::size_t i = 0; i < test.objects.size(); ++i) {
            const std::string label = std::string(test.label) + ", object " + std::to_string(i);
            const Bundle alone = Convert(Scene({test.objects[i].alone}));
            ASSERT_EQ(alone.objects.size(), 1u) << label;
            EXPECT_EQ(bundle.objects[i].name, test.objects[i].name) << label;
            ASSERT_EQ(bundle.objects[i].VertexCount(), 36) << label;
            ExpectSameArrays(bundle.objects[i], alone.objects[0], label);
        }
    }
    // Without a normals block the normals stay zero; the texture coordinates are the
    // mesh's own.
    const Bundle plain = Convert(Scene({a, b}));
    ASSERT_EQ(plain.objects.size(), 2u);
    EXPECT_EQ(Normal(plain.objects[1], 0), (std::array<float, 3>{0, 0, 0}));
    EXPECT_EQ(plain.objects[1].texcoords[0], b.texVertices[9][0]);  // face 0, corner A: texture vertex 9
    EXPECT_EQ(plain.objects[1].texcoords[1], b.texVertices[9][1]);
}

// Objects with working arrays of 4 MiB and more (allocated afresh at their size,
// before the zero fill, where they grow) read as they read alone: a larger object
// after a large one, and one as large again after that, start from zero, not from
// what the object before left in its arrays (its normals, here).
TEST(GeometryPass, LargeObjectsOneAfterAnotherReadAsAlone)
{
    const auto large = [](std::string name, int faces, bool normals, float u) {
        MeshSpec mesh;
        mesh.name = std::move(name);
        mesh.vertices = {{1, 2, 3}, {4, 5, 6}, {7, 8, 9}};
        for (int f = 0; f < faces; ++f)
            mesh.faces.push_back({f % 3, (f + 1) % 3, (f + 2) % 3});
        mesh.texVertices = {{u, 0.5f}, {0.75f, u}, {0.125f, 0.375f}};
        mesh.texFaces = mesh.faces;
        if (!normals)
            return testing::WithoutNormalsBlock(mesh);
        for (int c = 0; c < 3 * faces; ++c)
            mesh.vertexNormals.push_back({0, c % 2 == 0 ? 1.0f : -1.0f, 0});
        return mesh;
    };
    // 44,000 faces: 132,000 corner records of 32 bytes, past 4 MiB.
    const MeshSpec full = large("Full", 44000, true, 0.25f), bare = large("Bare", 46000, false, 0.5f),
                   again = large("Again", 46000, true, 0.625f);
    const std::vector<MeshSpec> objects = {full, bare, again, bare};
    std::vector<Bundle> alone;
    for (const MeshSpec& object : objects)
        alone.push_back(Convert(Scene({object})));
    // One thread reads every object with the same arrays; more take objects in turn.
    for (const GeometryThreads threads : {GeometryThreads::kOne, GeometryThreads::kChosen}) {
        const Bundle bundle = testing::ParseBundle(ConvertBytes(Scene(objects), threads));
        ASSERT_EQ(bundle.objects.size(), objects.size());
        for (std::size_t i = 0; i < objects.size(); ++i) {
            const std::string label = objects[i].name + ", object " + std::to_string(i) +
                                      (threads == GeometryThreads::kOne ? ", one thread" : ", threads chosen");
            ASSERT_EQ(alone[i].objects.size(), 1u) << label;
            ASSERT_EQ(bundle.objects[i].VertexCount(), 3 * static_cast<int>(objects[i].faces.size())) << label;
            ExpectSameArrays(bundle.objects[i], alone[i].objects[0], label);
        }
        const int last = bundle.objects[3].VertexCount() - 1;
        EXPECT_EQ(Normal(bundle.objects[3], last), (std::array<float, 3>{0, 0, 0}));
        EXPECT_EQ(Normal(bundle.objects[2], last), (std::array<float, 3>{0, 0, -1}));  // corner 137,999: y, z swapped
    }
}

// The second read's account of each object, as lint receives it.
class ReadRecorder : public PassObserver {
  public:
    std::vector<ReadObject> read;
    void HeaderPassedOver(std::int64_t, std::int32_t) override {}
    void HeaderWithoutMesh(std::int64_t) override {}
    void ObjectCounted(const CountedObject&) override {}
    void ObjectRead(const ReadObject& seen) override { read.push_back(seen); }
};

auto Fields(const PassObserver::ReadObject& r)
{
    return std::tuple(r.texVertexSearch, r.texVertexStart, r.faceStart, r.faces, r.texFaceSearch, r.texFaceStart,
                      r.normalsSearch, r.faceNormalStart, r.texFaceLinesNotScanned, r.texFaceLinesMissing,
                      r.vertexNormalLinesNotScanned, r.vertexNormalLinesMissing, r.faceLinesNotScanned,
                      r.vertexNumbersOutside, r.texVertexNumbersOutside, r.cornersRead);
}

// An object's lines end where the next object's first vertex line begins, exactly
// as if the input ended there: a list cut short reads the same lines either way.
TEST(GeometryPass, TheNextObjectsFirstVertexLineEndsTheReadingAsTheInputsEndDoes)
{
    std::vector<MeshSpec> cutShort;
    for (const std::size_t normals : {std::size_t{9}, std::size_t{10}, std::size_t{11}}) {  // the last lines fall on each slot of a face's four
        cutShort.push_back(DistinctBox("Short", 4, true));
        cutShort.back().vertexNormals.resize(normals);
    }
    const std::vector<std::string> next = MeshLines(DistinctBox("Next", 3, true));
    const auto vertexStart = std::find_if(next.begin(), next.end(),
                                          [](const std::string& line) { return line.starts_with("\t\t\t*MESH_VERTEX "); });
    for (std::size_t i = 0; i < cutShort.size(); ++i) {
        const std::vector<std::string> alone = Concat({MeshLines(cutShort[i]), {next.begin(), vertexStart}});
        ReadRecorder followed, ending;
        ConvertBytes(testing::Lines(Concat({alone, {vertexStart, next.end()}})), &followed);
        ConvertBytes(testing::Lines(alone), &ending);
        ASSERT_EQ(followed.read.size(), 2u) << "case " << i;
        ASSERT_EQ(ending.read.size(), 1u) << "case " << i;
        EXPECT_EQ(Fields(followed.read[0]), Fields(ending.read[0])) << "case " << i;
    }
}

}  // namespace
}  // namespace ase2sgl
