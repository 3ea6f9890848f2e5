// The bundle reader built as C++17, as engines that copy it build it: a bundle
// made here byte by byte reads back, a damaged one is refused at the right byte.
#include "bundle/bundle_reader.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#if __cplusplus >= 202002L
#error "this test must be compiled as C++17"
#endif

namespace {

using ase2sgl::bundle::Bundle;
using ase2sgl::bundle::ReadError;
using ase2sgl::bundle::ReadStatus;
using ase2sgl::bundle::Span;

void PutInt32(std::vector<std::byte>& out, std::int32_t value)
{
    for (int shift = 0; shift < 32; shift += 8)
        out.push_back(static_cast<std::byte>((static_cast<std::uint32_t>(value) >> shift) & 0xFFu));
}

void PutFloat(std::vector<std::byte>& out, float value)
{
    std::int32_t bits;
    std::memcpy(&bits, &value, 4);
    PutInt32(out, bits);
}

// One object "TRI": one triangle whose value i of each array is i + base.
std::vector<std::byte> OneTriangle()
{
    std::vector<std::byte> bytes;
    PutInt32(bytes, 1);
    const std::string name = "TRI";
    for (std::size_t i = 0; i < 255; ++i)
        bytes.push_back(i < name.size() ? static_cast<std::byte>(name[i]) : std::byte{0});
    PutInt32(bytes, 3);
    for (const float base : {0.0f, 100.0f, 200.0f})
        for (int i = 0; i < (base == 200.0f ? 6 : 9); ++i)
            PutFloat(bytes, base + static_cast<float>(i));
    return bytes;
}

TEST(BundleReaderCxx17, ReadsEveryArrayOfARecord)
{
    const std::vector<std::byte> bytes = OneTriangle();
    Bundle bundle;
    ASSERT_TRUE(bundle.Open(Span<const std::byte>(bytes.data(), bytes.size())));
    ASSERT_EQ(bundle.ObjectCount(), 1);
    int seen = 0;
    for (const ase2sgl::bundle::Object& object : bundle) {
        EXPECT_EQ(object.name, "TRI");
        EXPECT_EQ(object.TriangleCount(), 1);
        EXPECT_EQ(object.positions[8], 8.0f);
        EXPECT_EQ(object.normals[0], 100.0f);
        std::vector<float> uv(6);
        object.texcoords.CopyTo(Span<float>(uv.data(), uv.size()));
        EXPECT_EQ(uv[5], 205.0f);
        EXPECT_EQ(object.positions.Bytes().size(), 36u);
        ++seen;
    }
    EXPECT_EQ(seen, 1);
}

TEST(BundleReaderCxx17, RefusesDamageAtItsByte)
{
    struct Case {
        const char* what;
        std::size_t keep;  // bytes kept of the sound bundle
        ReadError error;
        std::uint64_t offset;
    };
    const std::vector<std::byte> bytes = OneTriangle();
    for (const Case& c : {Case{"empty", 0, ReadError::kEmptyFile, 0}, Case{"cut count", 2, ReadError::kObjectCountCut, 0},
                          Case{"cut name", 100, ReadError::kNameFieldCut, 4},
                          Case{"cut arrays", bytes.size() - 1, ReadError::kVertexDataPastEnd, 259}}) {
        const ReadStatus status = ase2sgl::bundle::Validate(Span<const std::byte>(bytes.data(), c.keep));
        EXPECT_EQ(status.error, c.error) << c.what;
        EXPECT_EQ(status.offset, c.offset) << c.what;
    }
}

}  // namespace
