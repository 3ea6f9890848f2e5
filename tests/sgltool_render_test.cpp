// sgltool render: every corpus bundle drawn, and each picture shows something
// wherever a triangle large enough to cover a pixel centre lies, and nothing in
// the margin around the bounding box.
#include "tool_fixtures.h"
#include "tools/render.h"

#include <gtest/gtest.h>

#include <cmath>

namespace ase2sgl {
namespace {

using testing::ScratchDir;

struct Coverage {
    int checked = 0;  // triangles big enough to test
    int shown = 0;    // of those, drawn at their centroid
};

// A triangle whose inscribed circle has a radius r of 2.5 pixels or more has its
// centroid at least r / 3 from every edge, so the centre of the pixel holding
// the centroid (at most 0.71 pixels away) lies inside it.
Coverage CheckCoverage(const tools::Rendering& rendering, const tools::LoadedBundle& loaded, const tools::Image& png)
{
    Coverage coverage;
    for (const std::size_t index : rendering.drawnObjects) {
        const bundle::Object& object = loaded.objects[index];
        for (std::size_t t = 0; t < static_cast<std::size_t>(object.TriangleCount()); ++t) {
            std::array<double, 3> p[3];
            for (std::size_t k = 0; k < 3; ++k)
                p[k] = rendering.camera.Project(tools::Vec3At(object.positions, 3 * t + k));
            const double area =
                std::abs((p[1][0] - p[0][0]) * (p[2][1] - p[0][1]) - (p[2][0] - p[0][0]) * (p[1][1] - p[0][1])) / 2;
            double perimeter = 0;
            for (std::size_t k = 0; k < 3; ++k)
                perimeter += std::hypot(p[(k + 1) % 3][0] - p[k][0], p[(k + 1) % 3][1] - p[k][1]);
            if (!std::isfinite(area) || !(2 * area / perimeter >= 2.5))
                continue;
            const int x = static_cast<int>(std::floor((p[0][0] + p[1][0] + p[2][0]) / 3));
            const int y = static_cast<int>(std::floor((p[0][1] + p[1][1] + p[2][1]) / 3));
            ++coverage.checked;
            coverage.shown += png.At(x, y) != tools::kBackground;
        }
    }
    return coverage;
}

// The picture's border: the framing leaves 5% of each side empty.
int BorderPixelsDrawn(const tools::Image& png)
{
    int drawn = 0;
    const int margin = png.width / 25;
    for (int y = 0; y < png.height; ++y)
        for (int x = 0; x < png.width; ++x)
            if ((x < margin || y < margin || x >= png.width - margin || y >= png.height - margin) &&
                png.At(x, y) != tools::kBackground)
                ++drawn;
    return drawn;
}

TEST(SgltoolRender, EveryCorpusPictureShowsItsTriangles)
{
    ScratchDir dir;
    const auto bundles = testing::CorpusBundles(dir);
    if (bundles.empty())
        GTEST_SKIP() << "no corpus of real ASE files at " << ASE2SGL_CORPUS_DIR << " (set ASE2SGL_CORPUS)";
    for (const auto& bundle : bundles) {
        tools::LoadedBundle loaded;
        tools::LoadBundle(bundle.string(), loaded);
        tools::RenderOptions options;
        options.size = 256;
        const tools::Rendering rendering = tools::Render(loaded, options);
        const std::string png = (dir / (bundle.stem().string() + ".png")).string();
        tools::WritePng(rendering.image, png);
        tools::Image read;
        ASSERT_TRUE(tools::ReadPng(png, read)) << png;
        ASSERT_EQ(read.width, 256);
        ASSERT_EQ(read.rgb, rendering.image.rgb) << png;
        const Coverage coverage = CheckCoverage(rendering, loaded, read);
        EXPECT_EQ(coverage.shown, coverage.checked) << bundle;
        EXPECT_EQ(BorderPixelsDrawn(read), 0) << bundle;
        std::int64_t triangles = 0;
        for (const bundle::Object& object : loaded.objects)
            triangles += object.TriangleCount();
        if (triangles > 0) {
            EXPECT_GT(coverage.checked, 0) << bundle << ": no triangle big enough to check";
        }
    }
}

// --object finds a name as the converter stored it (upper-cased as Windows-1252), typed
// in any case: as UTF-8 (what info and lint show), or in the name's own 8-bit bytes.
TEST(SgltoolRender, ObjectNamesMatchInAnyCase)
{
    ScratchDir dir;
    testing::WriteFile(dir / "names.sgl", ConvertBytes(testing::Scene({
                                              testing::BoxMesh("Box01"),
                                              testing::BoxMesh("Ch\xE2teau"),       // 1252: "Chateau" with a circumflex
                                              testing::BoxMesh("Caf\xC3\xA9"),       // UTF-8 "Cafe" with an acute
                                              testing::BoxMesh("\x9Cuvre \xFF"),     // 1252 oe, y with diaeresis
                                          })));
    tools::LoadedBundle loaded;
    tools::LoadBundle((dir / "names.sgl").string(), loaded);
    struct Case {
        const char* asked;
        int object;  // -1: no match
    };
    const Case cases[] = {
        {"box01", 0},
        {"BOX01", 0},
        {"box0", -1},
        {"ch\xC3\xA2teau", 1},      // UTF-8, lower case
        {"CH\xC3\x82TEAU", 1},      // UTF-8, upper case
        {"ch\xE2teau", 1},          // the file's own bytes
        {"chateau", -1},            // the accent matters
        {"caf\xC3\xA9", 2},
        {"CAF\xC3\x89", 2},
        {"\xC5\x93uvre \xC3\xBF", 3},  // UTF-8 oe, y with diaeresis, lower case
        {"\xC5\x92UVRE \xC5\xB8", 3},  // and their capitals
        {"\xC3\xA2", -1},
    };
    for (const Case& c : cases) {
        tools::RenderOptions options;
        options.size = 16;
        options.object = c.asked;
        if (c.object < 0) {
            EXPECT_THROW(tools::Render(loaded, options), tools::ToolError) << c.asked;
            continue;
        }
        const std::vector<std::size_t> expected{static_cast<std::size_t>(c.object)};
        try {
            EXPECT_EQ(tools::Render(loaded, options).drawnObjects, expected) << c.asked;
        } catch (const tools::ToolError& error) {
            ADD_FAILURE() << c.asked << ": " << error.what();
        }
    }
}

TEST(SgltoolRender, ViewsObjectsAndChecker)
{
    ScratchDir dir;
    testing::WriteFile(dir / "two.sgl",
                       ConvertBytes(testing::Scene({testing::BoxMesh("Box01"), testing::BoxMesh("Lid")})));
    tools::LoadedBundle loaded;
    tools::LoadBundle((dir / "two.sgl").string(), loaded);
    for (const tools::View view : {tools::View::kFront, tools::View::kTop, tools::View::kSide, tools::View::kIso}) {
        for (const bool checker : {false, true}) {
            tools::RenderOptions options;
            options.size = 64;
            options.view = view;
            options.checker = checker;
            options.object = "LID";
            const tools::Rendering rendering = tools::Render(loaded, options);
            EXPECT_EQ(rendering.drawnObjects, std::vector<std::size_t>{1});
            const Coverage coverage = CheckCoverage(rendering, loaded, rendering.image);
            EXPECT_GT(coverage.checked, 0);
            EXPECT_EQ(coverage.shown, coverage.checked);
        }
    }
    // Seen from the front the box fills a square (20 x 20 units, framed to 90%).
    tools::RenderOptions front;
    front.size = 100;
    front.view = tools::View::kFront;
    const tools::Image image = tools::Render(loaded, front).image;
    int drawn = 0;
    for (int y = 0; y < 100; ++y)
        for (int x = 0; x < 100; ++x)
            drawn += image.At(x, y) != tools::kBackground;
    EXPECT_NEAR(drawn, 90 * 90, 2 * 90);
    // The checker darkens half of the cells.
    front.checker = true;
    const tools::Image checkered = tools::Render(loaded, front).image;
    int darker = 0;
    for (std::size_t i = 0; i < image.rgb.size(); i += 3)
        darker += checkered.rgb[i] < image.rgb[i];
    EXPECT_NEAR(darker, 90 * 90 / 2, 90 * 8);
}

// Triangles in the bundle's x-y plane, seen in the front view. Counter-clockwise
// (10, 0), (0, 10) from the origin faces the viewer; its normal in the bundle's
// left-handed frame is (0, 0, -1). `far` is the third corner's x.
testing::RecordSpec Triangle(const char* name, bool facingViewer, float far = 0)
{
    testing::RecordSpec record{name, 3, {0, 0, 0, 10, 0, 0, far, 10, 0}, {}, std::vector<float>(6)};
    if (!facingViewer)
        std::swap_ranges(record.positions.begin() + 3, record.positions.begin() + 6, record.positions.begin() + 6);
    for (int k = 0; k < 3; ++k)
        record.normals.insert(record.normals.end(), {0, 0, facingViewer ? -1.0f : 1.0f});
    return record;
}

tools::Image RenderFront(const std::vector<testing::RecordSpec>& records)
{
    ScratchDir dir;
    testing::WriteFile(dir / "t.sgl", testing::EncodeBundle(records));
    tools::LoadedBundle loaded;
    tools::LoadBundle((dir / "t.sgl").string(), loaded);
    tools::RenderOptions options;
    options.size = 100;
    options.view = tools::View::kFront;
    return tools::Render(loaded, options).image;
}

int DrawnPixels(const tools::Image& image)
{
    int drawn = 0;
    for (int y = 0; y < image.height; ++y)
        for (int x = 0; x < image.width; ++x)
            drawn += image.At(x, y) != tools::kBackground;
    return drawn;
}

TEST(SgltoolRender, DoubleSidedSurfacesShowTheirFront)
{
    const tools::Image front = RenderFront({Triangle("T", true)});
    const tools::Image back = RenderFront({Triangle("T", false)});
    // Half of the 90 x 90 pixel frame, drawn either way round; from behind darker.
    EXPECT_NEAR(DrawnPixels(front), 90 * 90 / 2, 2 * 90);
    EXPECT_EQ(DrawnPixels(back), DrawnPixels(front));
    EXPECT_LT(back.At(30, 60)[0], front.At(30, 60)[0]);
    // Both windings at the same place, in either order: the front face everywhere.
    for (const bool frontFirst : {true, false}) {
        // One object (objects differ in colour) holding both triangles.
        testing::RecordSpec twice = Triangle("T", frontFirst);
        const testing::RecordSpec other = Triangle("T", !frontFirst);
        twice.vertexCount = 6;
        twice.positions.insert(twice.positions.end(), other.positions.begin(), other.positions.end());
        twice.normals.insert(twice.normals.end(), other.normals.begin(), other.normals.end());
        twice.texcoords.resize(12);
        EXPECT_EQ(RenderFront({twice}).rgb, front.rgb) << "front face first: " << frontFirst;
    }
}

TEST(SgltoolRender, FramingPassesOverPositionsThatAreNotNumbers)
{
    const tools::Image finite = RenderFront({Triangle("T", true)});
    for (const float far : {INFINITY, -INFINITY, std::nanf("")}) {
        // Another triangle with a corner off at infinity: framed on the finite triangle alone.
        const tools::Image image = RenderFront({Triangle("T", true), Triangle("FAR", true, far)});
        EXPECT_NEAR(DrawnPixels(image), DrawnPixels(finite), 90) << far;
        EXPECT_NE(image.At(30, 60), tools::kBackground) << far;
    }
}

TEST(SgltoolRender, CommandLineWritesAPng)
{
    ScratchDir dir;
    testing::WriteFile(dir / "box.sgl", ConvertBytes(testing::Scene({testing::BoxMesh("Box01")})));
    const std::string png = (dir / "box.png").string();
    const testing::RunResult run =
        testing::RunSgltool({"render", (dir / "box.sgl").string(), png, "--size", "40", "--view", "top", "--checker"});
    ASSERT_EQ(run.exitStatus, 0) << run.err;
    EXPECT_EQ(run.out, "");
    tools::Image read;
    ASSERT_TRUE(tools::ReadPng(png, read));
    EXPECT_EQ(read.width, 40);
    EXPECT_EQ(read.height, 40);
    EXPECT_NE(read.At(20, 20), tools::kBackground);
    EXPECT_EQ(read.At(0, 0), tools::kBackground);
}

}  // namespace
}  // namespace ase2sgl
