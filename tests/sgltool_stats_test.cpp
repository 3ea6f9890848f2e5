// sgltool's statistics and names through its library: an object larger than the
// block of triangles the statistics copy at a time counts in every block, and a
// name prints as UTF-8 whether the bundle holds it as UTF-8 or as Latin-1.
#include "tools/mesh_stats.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <span>

namespace ase2sgl {
namespace {

using tools::MeshStats;

// Triangle t lies at x = t .. t + 1; the last is degenerate (one corner three
// times), the last normal has length 2, the first is NaN, and v runs down to -t.
TEST(SgltoolStats, EveryBlockOfALargeObjectCounts)
{
    constexpr int kTriangles = 1100;  // more than one block of 1024
    testing::RecordSpec record{"Big", 3 * kTriangles, {}, {}, {}};
    for (int t = 0; t < kTriangles; ++t) {
        const auto x = static_cast<float>(t);
        const bool last = t == kTriangles - 1;
        const float far = last ? x : x + 1, up = last ? 0.0f : 1.0f;
        record.positions.insert(record.positions.end(), {x, 0, 0, far, 0, 0, x, 0, up});
        for (int corner = 0; corner < 3; ++corner) {
            record.normals.insert(record.normals.end(), {0, last ? 2.0f : 1.0f, 0});
            record.texcoords.insert(record.texcoords.end(), {0.5f, -x});
        }
    }
    record.normals[0] = std::numeric_limits<float>::quiet_NaN();
    const std::string bytes = testing::EncodeBundle({record});
    bundle::Bundle reader;
    ASSERT_TRUE(reader.Open(std::as_bytes(std::span<const char>(bytes.data(), bytes.size()))));
    const MeshStats stats = tools::ComputeStats(*reader.begin());
    EXPECT_EQ(stats.triangles, kTriangles);
    EXPECT_EQ(stats.bounds[0].min, 0.0f);
    EXPECT_EQ(stats.bounds[0].max, static_cast<float>(kTriangles - 1));
    EXPECT_EQ(stats.bounds[2].max, 1.0f);
    EXPECT_EQ(stats.texcoords[1].min, -static_cast<float>(kTriangles - 1));
    EXPECT_EQ(stats.degenerateTriangles, 1);
    EXPECT_EQ(stats.normalsOffUnit, 3);  // the three corners of the last triangle; NaN is no length
    EXPECT_EQ(stats.nonFiniteValues, 1);
}

TEST(SgltoolStats, NamesPrintAsUtf8)
{
    const std::pair<std::string_view, std::string_view> cases[] = {
        {"Box01", "Box01"},
        {"caf\xC3\xA9", "caf\xC3\xA9"},                        // UTF-8, ending in a two-byte sequence
        {"\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80"},              // a four-byte sequence alone
        {"caf\xE9", "caf\xC3\xA9"},                            // Latin-1
        {"\xED\xA0\x80", "\xC3\xAD\xC2\xA0\xC2\x80"},          // a UTF-16 surrogate is no UTF-8: Latin-1
        {"a\tb\x7F" "c", "a?b?c"},                             // control bytes
    };
    for (const auto& [name, shown] : cases)
        EXPECT_EQ(tools::DisplayName(name), shown) << name;
}

}  // namespace
}  // namespace ase2sgl
