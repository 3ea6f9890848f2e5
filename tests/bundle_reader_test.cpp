// The bundle reader on every way a file can break (each with its own error and the
// offset of the field at fault), and on what the writer writes: corpus files and
// generated scenes read back value for value.
#include "bundle/bundle_reader.h"
#include "common/format_limits.h"
#include "conversion/convert.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>

namespace ase2sgl {
namespace {

using bundle::ReadError;
using bundle::ReadStatus;

std::span<const std::byte> AsBytes(std::string_view text)
{
    return std::as_bytes(std::span<const char>(text.data(), text.size()));
}

void PutInt32(std::string& bytes, std::size_t offset, std::int32_t value)
{
    bytes.replace(offset, 4, testing::Int32Bytes(value));
}

// Records of these names and vertex counts whose 8n floats count up from 1000
// times the record's number, so that every value shows where it was read from.
struct RecordShape {
    std::string name;
    std::int32_t vertexCount;
};

std::string BuildBundle(const std::vector<RecordShape>& shapes)
{
    std::vector<testing::RecordSpec> records;
    for (std::size_t r = 0; r < shapes.size(); ++r) {
        testing::RecordSpec record{shapes[r].name, shapes[r].vertexCount, {}, {}, {}};
        const auto n = static_cast<std::size_t>(shapes[r].vertexCount);
        float value = 1000.0f * static_cast<float>(r);
        for (auto [array, size] :
             {std::pair{&record.positions, 3 * n}, {&record.normals, 3 * n}, {&record.texcoords, 2 * n}})
            for (std::size_t i = 0; i < size; ++i)
                array->push_back(value++);
        records.push_back(std::move(record));
    }
    return testing::EncodeBundle(records);
}

const std::vector<RecordShape> kThreeRecords = {{"FIRST", 3}, {"", 0}, {"THIRD", 6}};

struct Expected {
    ReadError error;
    std::uint64_t offset;
    std::int32_t object;
};

void ExpectStatus(const ReadStatus& status, const Expected& expected, const std::string& context)
{
    EXPECT_EQ(status.error, expected.error) << context << ": " << bundle::Describe(status.error);
    EXPECT_EQ(status.offset, expected.offset) << context;
    EXPECT_EQ(status.object, expected.object) << context;
}

// Where a bundle cut after `length` bytes stops making sense, from the layout:
// the field the cut falls in.
Expected CutExpectation(const std::vector<RecordShape>& records, std::size_t length)
{
    if (length == 0)
        return {ReadError::kEmptyFile, 0, -1};
    if (length < 4)
        return {ReadError::kObjectCountCut, 0, -1};
    std::size_t record = 4;
    for (std::size_t r = 0; r < records.size(); ++r) {
        const auto object = static_cast<std::int32_t>(r);
        const std::size_t count = record + 255;
        const std::size_t end = count + 4 + 32 * static_cast<std::size_t>(records[r].vertexCount);
        if (length < count)
            return {ReadError::kNameFieldCut, record, object};
        if (length < count + 4)
            return {ReadError::kVertexCountCut, count, object};
        if (length < end)
            return {ReadError::kVertexDataPastEnd, count, object};
        record = end;
    }
    return {ReadError::kNone, 0, -1};
}

TEST(BundleReader, EveryCutLengthNamesTheFieldItFallsIn)
{
    const std::string whole = BuildBundle(kThreeRecords);
    ASSERT_EQ(whole.size(), 4u + 259 + 96 + 259 + 259 + 192);
    ASSERT_TRUE(bundle::Validate(AsBytes(whole)));
    for (std::size_t length = 0; length < whole.size(); ++length) {
        const Expected expected = CutExpectation(kThreeRecords, length);
        ASSERT_NE(expected.error, ReadError::kNone);
        // A copy of exactly `length` bytes, so that the sanitizers see any read past it.
        const std::string cut = whole.substr(0, length);
        ExpectStatus(bundle::Validate(AsBytes(cut)), expected, "cut at " + std::to_string(length));
    }
}

TEST(BundleReader, TrailingBytesAreRefusedAtTheEndOfTheLastRecord)
{
    for (const std::string& base : {BuildBundle({}), BuildBundle(kThreeRecords)}) {
        for (std::size_t extra : {1u, 3u, 4u, 259u, 1000u}) {
            const std::string bytes = base + std::string(extra, '\0');
            ExpectStatus(bundle::Validate(AsBytes(bytes)), {ReadError::kTrailingBytes, base.size(), -1},
                         std::to_string(extra) + " bytes after " + std::to_string(base.size()));
        }
    }
}

TEST(BundleReader, DamagedCountsEachGiveTheirOwnError)
{
    const std::string whole = BuildBundle(kThreeRecords);
    const std::size_t thirdCount = 4 + 259 + 96 + 259 + 255;
    struct Case {
        std::size_t at;
        std::int32_t value;
        Expected expected;
    };
    const Case cases[] = {
        {0, -1, {ReadError::kNegativeObjectCount, 0, -1}},
        {0, INT_MIN, {ReadError::kNegativeObjectCount, 0, -1}},
        {0, 5001, {ReadError::kTooManyObjects, 0, -1}},
        {0, INT_MAX, {ReadError::kTooManyObjects, 0, -1}},
        {0, 4, {ReadError::kNameFieldCut, whole.size(), 3}},  // a record more than the file holds
        {0, 2, {ReadError::kTrailingBytes, 4 + 259 + 96 + 259, -1}},
        {259, -3, {ReadError::kNegativeVertexCount, 259, 0}},
        {259, INT_MIN, {ReadError::kNegativeVertexCount, 259, 0}},
        {259, 1, {ReadError::kVertexCountNotTriangles, 259, 0}},
        {259, 4, {ReadError::kVertexCountNotTriangles, 259, 0}},
        {259, INT_MAX, {ReadError::kVertexCountNotTriangles, 259, 0}},
        {259, 2147483646, {ReadError::kVertexDataPastEnd, 259, 0}},  // 3 * 715827882: 64 GiB of floats
        {259, 3000, {ReadError::kVertexDataPastEnd, 259, 0}},
        {thirdCount, 9, {ReadError::kVertexDataPastEnd, thirdCount, 2}},
        {thirdCount, 3, {ReadError::kTrailingBytes, whole.size() - 96, -1}},
        {thirdCount, -6, {ReadError::kNegativeVertexCount, thirdCount, 2}},
    };
    for (const Case& c : cases) {
        std::string bytes = whole;
        PutInt32(bytes, c.at, c.value);
        ExpectStatus(bundle::Validate(AsBytes(bytes)), c.expected,
                     std::to_string(c.value) + " at " + std::to_string(c.at));
    }
}

TEST(BundleReader, NameFieldMustHoldAZeroByte)
{
    std::string bytes = BuildBundle(kThreeRecords);
    std::memset(bytes.data() + 4 + 259 + 96, 'N', 255);
    ExpectStatus(bundle::Validate(AsBytes(bytes)), {ReadError::kNameNotTerminated, 4 + 259 + 96, 1}, "second name");

    // 254 name bytes and the zero byte in the field's last place is sound.
    bytes = BuildBundle({{std::string(254, 'N'), 3}});
    bundle::Bundle reader;
    ASSERT_TRUE(reader.Open(AsBytes(bytes)));
    EXPECT_EQ(reader.begin()->name, std::string(254, 'N'));
    bytes[4 + 254] = 'N';
    ExpectStatus(bundle::Validate(AsBytes(bytes)), {ReadError::kNameNotTerminated, 4, 0}, "255 name bytes");
}

TEST(BundleReader, AtMost5000Objects)
{
    std::string bytes = BuildBundle(std::vector<RecordShape>(5000, {"EMPTY", 0}));
    bundle::Bundle reader;
    ASSERT_TRUE(reader.Open(AsBytes(bytes)));
    EXPECT_EQ(reader.ObjectCount(), 5000);
    EXPECT_EQ(std::distance(reader.begin(), reader.end()), 5000);

    bytes = BuildBundle(std::vector<RecordShape>(5001, {"EMPTY", 0}));
    ExpectStatus(reader.Open(AsBytes(bytes)), {ReadError::kTooManyObjects, 0, -1}, "5001 records");
    EXPECT_EQ(reader.ObjectCount(), 0);
    EXPECT_EQ(reader.begin(), reader.end());
}

TEST(BundleReader, EmptySceneIsSound)
{
    const std::string bytes(4, '\0');
    bundle::Bundle reader;
    ASSERT_TRUE(reader.Open(AsBytes(bytes)));
    EXPECT_EQ(reader.ObjectCount(), 0);
    EXPECT_EQ(reader.begin(), reader.end());
}

TEST(BundleReader, ReadsUnalignedArraysInPlace)
{
    const std::string whole = BuildBundle(kThreeRecords);
    // Every start alignment of the buffer: the arrays move with it.
    for (std::size_t shift = 0; shift < 4; ++shift) {
        const std::string buffer = std::string(shift, 'x') + whole;
        const auto bytes = AsBytes(buffer).subspan(shift);
        bundle::Bundle reader;
        ASSERT_TRUE(reader.Open(bytes));
        std::size_t r = 0;
        for (const bundle::Object& object : reader) {
            ASSERT_LT(r, kThreeRecords.size());
            EXPECT_EQ(object.name, kThreeRecords[r].name);
            EXPECT_EQ(object.vertexCount, kThreeRecords[r].vertexCount);
            const std::size_t n = static_cast<std::size_t>(object.vertexCount);
            ASSERT_EQ(object.positions.size(), 3 * n);
            ASSERT_EQ(object.normals.size(), 3 * n);
            ASSERT_EQ(object.texcoords.size(), 2 * n);
            const float base = 1000.0f * static_cast<float>(r);
            for (std::size_t i = 0; i < 3 * n; ++i) {
                EXPECT_EQ(object.positions[i], base + static_cast<float>(i));
                EXPECT_EQ(object.normals[i], base + static_cast<float>(3 * n + i));
            }
            for (std::size_t i = 0; i < 2 * n; ++i)
                EXPECT_EQ(object.texcoords[i], base + static_cast<float>(6 * n + i));
            EXPECT_EQ(object.positions.Bytes().data(), bytes.data() + object.offset + 259);  // no copy
            std::vector<float> copied(n);
            object.texcoords.CopyTo(copied, n);
            for (std::size_t i = 0; i < n; ++i)
                EXPECT_EQ(copied[i], object.texcoords[n + i]);
            ++r;
        }
        EXPECT_EQ(r, kThreeRecords.size());
    }
}

TEST(BundleReader, MappedFileErrorsCarryErrno)
{
    testing::ScratchDir dir;
    bundle::MappedFile file;
    ReadStatus status = file.Open((dir / "missing.sgl").string().c_str());
    EXPECT_EQ(status.error, ReadError::kCannotOpen);
    EXPECT_EQ(status.systemError, ENOENT);
    EXPECT_EQ(file.Open(dir.path().string().c_str()).error, ReadError::kNotRegularFile);

    testing::WriteFile(dir / "empty.sgl", "");
    ASSERT_TRUE(file.Open((dir / "empty.sgl").string().c_str()));
    EXPECT_TRUE(file.Bytes().empty());
    EXPECT_EQ(bundle::Validate(file.Bytes()).error, ReadError::kEmptyFile);

    const std::string whole = BuildBundle(kThreeRecords);
    testing::WriteFile(dir / "three.sgl", whole);
    ASSERT_TRUE(file.Open((dir / "three.sgl").string().c_str()));
    ASSERT_EQ(file.Bytes().size(), whole.size());
    EXPECT_EQ(std::memcmp(file.Bytes().data(), whole.data(), whole.size()), 0);
    bundle::MappedFile moved = std::move(file);
    EXPECT_TRUE(file.Bytes().empty());
    EXPECT_TRUE(bundle::Validate(moved.Bytes()));
}

// Writes the reader's view of a bundle back out, field by field: equal bytes show
// that the reader hands out every field the writer wrote, unchanged.
std::string Reencode(const bundle::Bundle& reader)
{
    std::vector<testing::RecordSpec> records;
    for (const bundle::Object& object : reader) {
        testing::RecordSpec record{std::string(object.name), object.vertexCount, {}, {}, {}};
        for (auto [from, to] : {std::pair{&object.positions, &record.positions},
                                {&object.normals, &record.normals},
                                {&object.texcoords, &record.texcoords}})
            for (std::size_t i = 0; i < from->size(); ++i)
                to->push_back((*from)[i]);
        records.push_back(std::move(record));
    }
    return testing::EncodeBundle(records);
}

TEST(BundleReader, ReadsBackEveryCorpusBundle)
{
    const std::filesystem::path dir = testing::CorpusDir();
    if (dir.empty())
        GTEST_SKIP() << "no corpus of real ASE files at " << ASE2SGL_CORPUS_DIR << " (set ASE2SGL_CORPUS)";
    int files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        if (entry.path().extension() != ".ase")
            continue;
        const std::string written = ConvertBytes(testing::ReadFile(entry.path()));
        bundle::Bundle reader;
        const ReadStatus status = reader.Open(AsBytes(written));
        ASSERT_TRUE(status) << entry.path() << ": " << bundle::Describe(status.error) << " at " << status.offset;
        EXPECT_EQ(Reencode(reader), written) << entry.path();
        ++files;
    }
    EXPECT_GE(files, 30);
}

// The writer from generated scenes: each corner's values where the layout puts
// them, positions and normals as x, z, y of the ASE, texture coordinates as u, v.
TEST(BundleReader, ReadsWhatTheWriterWroteFromGeneratedScenes)
{
    testing::MeshSpec box = testing::BoxMesh("Crate");
    // A box whose twelve faces repeat 100 times: 3600 vertices.
    testing::MeshSpec big = testing::BoxMesh("Big");
    const testing::MeshSpec one = big;
    for (int copy = 1; copy < 100; ++copy) {
        big.faces.insert(big.faces.end(), one.faces.begin(), one.faces.end());
        big.texFaces.insert(big.texFaces.end(), one.texFaces.begin(), one.texFaces.end());
        big.vertexNormals.insert(big.vertexNormals.end(), one.vertexNormals.begin(), one.vertexNormals.end());
    }
    const std::vector<testing::MeshSpec> meshes = {box, big, testing::BoxMesh("Third")};
    const std::string written = ConvertBytes(testing::Scene(meshes));
    bundle::Bundle reader;
    ASSERT_TRUE(reader.Open(AsBytes(written)));
    ASSERT_EQ(reader.ObjectCount(), 3);
    auto object = reader.begin();
    for (const testing::MeshSpec& mesh : meshes) {
        EXPECT_EQ(object->vertexCount, static_cast<std::int32_t>(3 * mesh.faces.size()));
        for (std::size_t f = 0; f < mesh.faces.size(); ++f)
            for (std::size_t k = 0; k < 3; ++k) {
                const std::size_t j = 3 * f + k;
                const auto& v = mesh.vertices[static_cast<std::size_t>(mesh.faces[f][k])];
                const auto& n = mesh.vertexNormals[j];
                const auto& t = mesh.texVertices[static_cast<std::size_t>(mesh.texFaces[f][k])];
                ASSERT_EQ(object->positions[3 * j], v[0]);
                ASSERT_EQ(object->positions[3 * j + 1], v[2]);
                ASSERT_EQ(object->positions[3 * j + 2], v[1]);
                ASSERT_EQ(object->normals[3 * j], n[0]);
                ASSERT_EQ(object->normals[3 * j + 1], n[2]);
                ASSERT_EQ(object->normals[3 * j + 2], n[1]);
                ASSERT_EQ(object->texcoords[2 * j], t[0]);
                ASSERT_EQ(object->texcoords[2 * j + 1], t[1]);
            }
        ++object;
    }
    EXPECT_EQ(object, reader.end());
}

}  // namespace
}  // namespace ase2sgl
