// sgltool's command line (exit statuses, one-line errors naming the file), info's
// statistics and its JSON report against the schema, and diff.
#include "tool_fixtures.h"
#include "tools/bundle_diff.h"
#include "tools/info_report.h"

#include <gtest/gtest.h>

#include <cmath>

namespace ase2sgl {
namespace {

using testing::RecordSpec;
using testing::RunSgltool;
using testing::ScratchDir;

// One box, and the same box with one normal nudged, one corner moved, and a renamed
// copy: the files the exit-status table runs on.
struct Files {
    ScratchDir dir;
    std::string box, nudged, moved, twoBoxes, renamed, truncated, folder;
    std::string ase, empty, kept, shifted, reordered;
    Files()
    {
        const std::string bytes = ConvertBytes(testing::Scene({testing::BoxMesh("Box01")}));
        box = Write("box.sgl", bytes);
        std::string changed = bytes;
        changed[4 + 259 + 36 * 12] ^= 0x01;  // lowest mantissa bit of the first normal's x
        nudged = Write("nudged.sgl", changed);
        changed = bytes;
        changed[4 + 259 + 3] ^= 0x40;  // sign and exponent of the first position's x
        moved = Write("moved.sgl", changed);
        twoBoxes = Write("two.sgl", ConvertBytes(testing::Scene({testing::BoxMesh("Box01"), testing::BoxMesh("Lid")})));
        renamed =
            Write("renamed.sgl", ConvertBytes(testing::Scene({testing::BoxMesh("Box01"), testing::BoxMesh("Cover")})));
        truncated = Write("truncated.sgl", bytes.substr(0, 300));
        folder = dir.path().string();
        ase = Write("box.ase", testing::Scene({testing::BoxMesh("Box01")}));
        empty = Write("empty.sgl", testing::EncodeBundle({}));
        // KEEP and OTHER; KEEP's first x moved by exactly 0.5; the two swapped.
        kept = Write("kept.sgl", testing::EncodeBundle({Triangle("KEEP", 0), Triangle("OTHER", 0)}));
        shifted = Write("shifted.sgl", testing::EncodeBundle({Triangle("KEEP", 0.5f), Triangle("OTHER", 0)}));
        reordered = Write("reordered.sgl", testing::EncodeBundle({Triangle("OTHER", 0), Triangle("KEEP", 0)}));
    }
    static RecordSpec Triangle(std::string name, float x)
    {
        return {std::move(name), 3, {x, 0, 0, 1, 0, 0, 0, 1, 0}, {0, 0, 1, 0, 0, 1, 0, 0, 1}, {0, 0, 1, 0, 0, 1}};
    }
    std::string Folder(const char* name)
    {
        std::filesystem::create_directories(dir / name);
        return (dir / name).string();
    }
    std::string Write(const char* name, const std::string& bytes)
    {
        testing::WriteFile(dir / name, bytes);
        return (dir / name).string();
    }
};

// Opening a folder for writing: POSIX says EISDIR, Windows refuses access.
#ifdef _WIN32
const std::string kFolderNotWritable = "Permission denied";
#else
const std::string kFolderNotWritable = "Is a directory";
#endif

TEST(Sgltool, ExitStatusesAndMessages)
{
    Files f;
    const std::string missing = (f.dir / "missing.sgl").string();
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string out;  // a part of standard output
        std::string err;  // the whole of standard error, or "" for none
    };
    const Case cases[] = {
        {{"--version"}, 0, "sgltool 1.0", ""},
        {{}, 2, "", "sgltool: A subcommand is required (see sgltool --help)\n"},
        {{"frobnicate"}, 2, "", ""},  // CLI11 words it; one line, checked below
        {{"check", f.box}, 0, f.box + ": sound bundle, 1 object, 1415 bytes", ""},
        {{"check", f.box, f.twoBoxes}, 0, "2 objects", ""},
        {{"check", f.truncated},
         1,
         "",
         "sgltool: " + f.truncated + ": vertex count runs past the end of the file at byte 259 (object 0)\n"},
        {{"check", f.box, f.truncated, f.box},
         1,
         "1415 bytes",
         "sgltool: " + f.truncated + ": vertex count runs past the end of the file at byte 259 (object 0)\n"},
        {{"check", missing}, 3, "", "sgltool: " + missing + ": cannot open the file: No such file or directory\n"},
        // An unreadable file outranks an unsound one, in either order.
        {{"check", missing, f.truncated}, 3, "", "sgltool: " + missing + ": cannot open the file: No such file or directory\n"
                                                 "sgltool: " + f.truncated + ": vertex count runs past the end of the file at byte 259 (object 0)\n"},
        {{"check", f.truncated, missing}, 3, "", "sgltool: " + f.truncated + ": vertex count runs past the end of the file at byte 259 (object 0)\n"
                                                 "sgltool: " + missing + ": cannot open the file: No such file or directory\n"},
        {{"check", f.folder}, 3, "", "sgltool: " + f.folder + ": not a regular file\n"},
        {{"check"}, 2, "", ""},
        {{"info", f.box}, 0, "BOX01", ""},
        {{"info", f.truncated}, 3, "", ""},
        {{"info", f.ase}, 3, "", "sgltool: " + f.ase + ": ASE text, not a bundle: `sgltool lint` tells what ase2sgl makes of it\n"},
        {{"diff", f.box, f.box}, 0, "are identical", ""},
        {{"diff", f.box, f.nudged}, 1, "normals by up to", ""},
        {{"diff", "--tolerance", "0.001", f.box, f.nudged}, 0, "are equal within 0.001", ""},
        {{"diff", "--tolerance", "0.001", f.box, f.moved}, 1, "positions by up to", ""},
        {{"diff", f.box, f.twoBoxes}, 1, "added    LID (object 1, 36 vertices)", ""},
        {{"diff", f.twoBoxes, f.renamed}, 1, "renamed  LID -> COVER (object 1)", ""},
        {{"diff", f.box, f.truncated}, 3, "", ""},
        // A difference as large as the tolerance is still equal; a reordered bundle is not.
        {{"diff", "--tolerance", "0.5", f.kept, f.shifted}, 0, "are equal within 0.5 (largest difference 0.5)", ""},
        {{"diff", "--tolerance", "0.4999", f.kept, f.shifted}, 1, "changed  KEEP: positions by up to 0.5", ""},
        {{"diff", "--tolerance", "1", f.kept, f.reordered}, 1, "moved    KEEP from object 0 to object 1", ""},
        {{"diff", "--tolerance", "-1", f.box, f.box}, 2, "", ""},
        {{"export", f.box, (f.dir / "box.fbx").string()}, 2, "", ""},
        {{"export", f.box, (f.dir / "no" / "box.obj").string()}, 3, "", ""},
        {{"export", f.truncated, (f.dir / "box.obj").string()}, 3, "", ""},
        {{"export", f.box, (f.dir / "no" / "box.glb").string()}, 3, "", ""},
        {{"export", f.box, (f.dir / "no" / "box.gltf").string()}, 3, "", ""},
        {{"export", f.box, f.Folder("out.glb")}, 3, "", "sgltool: " + f.Folder("out.glb") + ": cannot write: " + kFolderNotWritable + "\n"},
        {{"render", f.box, (f.dir / "box.png").string(), "--object", "NOPE"},
         2,
         "",
         "sgltool: " + f.box + ": no object named NOPE (objects: BOX01)\n"},
        {{"render", f.twoBoxes, (f.dir / "box.png").string(), "--object", "lid"}, 0, "", ""},
        {{"render", f.box, (f.dir / "box.jpg").string()}, 2, "", ""},
        {{"render", f.box, (f.dir / "box.PNG").string()}, 0, "", ""},
        {{"render", f.empty, (f.dir / "empty.png").string()}, 3, "", ""},
        {{"render", f.empty, (f.dir / "empty.png").string(), "--object", "X"},
         2,
         "",
         "sgltool: " + f.empty + ": no object named X (objects: none)\n"},
        // A folder where a file is read is unreadable, for the ASE subcommands too.
        {{"lint", f.folder}, 3, "", "sgltool: " + f.folder + ": cannot be read: it is a folder\n"},
        {{"lint", missing}, 3, "", ""},
        {{"convert", f.folder}, 3, "", ""},
        {{"normalize", f.folder, (f.dir / "out.ase").string()}, 3, "", ""},
        {{"render", f.box, (f.dir / "box.png").string(), "--size", "8"}, 2, "", ""},
        {{"render", f.box, (f.dir / "box.png").string(), "--view", "back"}, 2, "", ""},
        {{"render", f.box, (f.dir / "no" / "box.png").string()}, 3, "", ""},
    };
    for (const Case& c : cases) {
        std::string command = "sgltool";
        for (const std::string& arg : c.args)
            command += " " + arg;
        const testing::RunResult run = RunSgltool(c.args);
        EXPECT_EQ(run.exitStatus, c.status) << command << "\n" << run.out << run.err;
        EXPECT_NE(run.out.find(c.out), std::string::npos) << command << "\n" << run.out;
        if (!c.err.empty())
            EXPECT_EQ(run.err, c.err) << command;
        else if (c.status != 0 && c.status != 1)
            EXPECT_TRUE(run.err.starts_with("sgltool: ") && std::count(run.err.begin(), run.err.end(), '\n') == 1)
                << command << ": " << run.err;
        else
            EXPECT_EQ(run.err, "") << command;
    }
}

TEST(Sgltool, HelpOnEverySubcommandListsTheExitStatuses)
{
    for (const char* subcommand : {"info", "check", "diff", "export", "render", "normalize", "convert"}) {
        const testing::RunResult run = RunSgltool({subcommand, "--help"});
        EXPECT_EQ(run.exitStatus, 0) << subcommand;
        EXPECT_NE(run.out.find("Usage: sgltool " + std::string(subcommand)), std::string::npos) << run.out;
        EXPECT_NE(run.out.find("3 a file cannot be read or written"), std::string::npos) << subcommand;
    }
    const testing::RunResult run = RunSgltool({"--help"});
    EXPECT_EQ(run.exitStatus, 0);
    for (const char* subcommand : {"info", "check", "diff", "export", "render", "normalize", "convert"})
        EXPECT_NE(run.out.find(subcommand), std::string::npos);
}

// A bundle whose every statistic is known: one triangle, one degenerate triangle
// (a repeated corner), one normal of length 2, a NaN and an infinity.
std::string StatisticsBundle()
{
    const float nan = std::nanf(""), inf = INFINITY;
    RecordSpec odd{"ODD", 6, {}, {}, {}};
    odd.positions = {0, 0, 0, 4, 0, 0, 0, 2, -1,  // right triangle
                     1, 1, 1, 1, 1, 1, 3, 5, 7};  // a corner repeated: zero area
    odd.normals = {0, 0, 1, 0, 0, 2, 0, 1, 0, 1, 0, 0, 0, 0.6f, 0.8f, nan, 0, 0};
    odd.texcoords = {0.5f, -1, 2, 0.25f, inf, 0, 0, 0, 1, 1, 0, 3};
    RecordSpec empty{"EMPTY", 0, {}, {}, {}};
    return testing::EncodeBundle({odd, empty});
}

TEST(SgltoolInfo, CountsWhatALoaderWouldTripOver)
{
    ScratchDir dir;
    testing::WriteFile(dir / "odd.sgl", StatisticsBundle());
    tools::LoadedBundle loaded;
    tools::LoadBundle((dir / "odd.sgl").string(), loaded);
    const tools::BundleInfo info = tools::DescribeBundle(loaded);
    ASSERT_EQ(info.objects.size(), 2u);
    const tools::MeshStats& odd = info.objects[0];
    EXPECT_EQ(odd.vertices, 6);
    EXPECT_EQ(odd.triangles, 2);
    EXPECT_EQ(odd.degenerateTriangles, 1);
    EXPECT_EQ(odd.normalsOffUnit, 1);   // (0, 0, 2); the NaN one counts as non-finite
    EXPECT_EQ(odd.nonFiniteValues, 2);  // the NaN normal, the infinite u
    EXPECT_EQ(odd.bounds[0].min, 0);
    EXPECT_EQ(odd.bounds[0].max, 4);
    EXPECT_EQ(odd.bounds[1].max, 5);
    EXPECT_EQ(odd.bounds[2].min, -1);
    EXPECT_EQ(odd.bounds[2].max, 7);
    EXPECT_EQ(odd.texcoords[0].min, 0);
    EXPECT_EQ(odd.texcoords[0].max, 2);
    EXPECT_EQ(odd.texcoords[1].min, -1);
    EXPECT_EQ(odd.texcoords[1].max, 3);
    EXPECT_TRUE(info.objects[1].bounds[0].Empty());
    EXPECT_EQ(info.totals.vertices, 6);
    EXPECT_EQ(info.totals.nonFiniteValues, 2);

    const testing::RunResult run = RunSgltool({"info", (dir / "odd.sgl").string()});
    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_NE(run.out.find("2 objects, 6 vertices, 2 triangles, "), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("(0, 0, -1) .. (4, 5, 7)"), std::string::npos) << run.out;
}

TEST(SgltoolInfo, JsonReportFollowsItsSchema)
{
    if (testing::NodeModules().empty())
        GTEST_SKIP() << "node or the test tools are missing (.ci/run installs them into build/node)";
    ScratchDir dir;
    std::vector<std::string> args = {"info", "--json"};
    for (const auto& bundle : testing::CorpusBundles(dir))
        args.push_back(bundle.string());
    testing::WriteFile(dir / "odd.sgl", StatisticsBundle());
    testing::WriteFile(dir / "latin1.sgl", testing::EncodeBundle({{"CAF\xC9\x01", 3, std::vector<float>(9),
                                                                   std::vector<float>(9), std::vector<float>(6)}}));
    args.push_back((dir / "odd.sgl").string());
    args.push_back((dir / "latin1.sgl").string());
    const testing::RunResult run = RunSgltool(args);
    ASSERT_EQ(run.exitStatus, 0) << run.err;
    const auto report = nlohmann::json::parse(run.out);
    ASSERT_EQ(report["files"].size(), args.size() - 2);
    EXPECT_EQ(report["files"].back()["objects"][0]["name"], "CAF\xC3\x89?");  // Latin-1, control character
    const auto& odd = report["files"][args.size() - 4]["objects"][0];
    EXPECT_EQ(odd["texcoordRange"]["v"], nlohmann::json::array({-1.0, 3.0}));
    EXPECT_EQ(report["files"][args.size() - 4]["objects"][1]["bounds"], nullptr);

    const std::string schema = std::string(ASE2SGL_SOURCE_DIR) + "/tools/sgltool-info.schema.json";
    testing::WriteFile(dir / "report.json", run.out);
    const testing::RunResult valid =
        testing::RunNodeScript("validate_json.js", {schema, (dir / "report.json").string()});
    EXPECT_EQ(valid.exitStatus, 0) << valid.out << valid.err;

    // The check can fail: a report without totals, and one with a count gone negative.
    auto broken = report;
    broken["files"][0].erase("totals");
    testing::WriteFile(dir / "no-totals.json", broken.dump());
    broken = report;
    broken["files"][0]["objects"][0]["vertices"] = -3;
    testing::WriteFile(dir / "negative.json", broken.dump());
    for (const char* name : {"no-totals.json", "negative.json"}) {
        const testing::RunResult invalid = testing::RunNodeScript("validate_json.js", {schema, (dir / name).string()});
        EXPECT_EQ(invalid.exitStatus, 1) << name << ": " << invalid.out << invalid.err;
    }
}

TEST(SgltoolDiff, PairsObjectsByNameThenByPlace)
{
    ScratchDir dir;
    auto record = [](std::string name, float x) {
        return RecordSpec{
            std::move(name), 3, {x, 0, 0, 1, 0, 0, 0, 1, 0}, {0, 0, 1, 0, 0, 1, 0, 0, 1}, {0, 0, 1, 0, 0, 1}};
    };
    // A: KEEP, OLD, GONE; B: KEEP (x moved by 0.5), NEW (OLD renamed), ADDED (6 vertices).
    RecordSpec added = record("ADDED", 0);
    added.vertexCount = 6;
    for (auto* array : {&added.positions, &added.normals, &added.texcoords})
        array->insert(array->end(), array->begin(), array->end());
    testing::WriteFile(dir / "a.sgl", testing::EncodeBundle({record("KEEP", 0), record("OLD", 0), record("GONE", 0)}));
    testing::WriteFile(dir / "b.sgl", testing::EncodeBundle({record("KEEP", 0.5f), record("NEW", 0), added}));
    tools::LoadedBundle a, b;
    tools::LoadBundle((dir / "a.sgl").string(), a);
    tools::LoadBundle((dir / "b.sgl").string(), b);
    const tools::BundleDiff diff = tools::DiffBundles(a, b);
    ASSERT_EQ(diff.pairs.size(), 4u);
    EXPECT_EQ(diff.pairs[0].indexB, 0);
    EXPECT_EQ(diff.pairs[0].positions.amount, 0.5);
    EXPECT_EQ(diff.pairs[0].positions.vertex, 0);
    EXPECT_EQ(diff.pairs[0].positions.component, 0);
    EXPECT_EQ(diff.pairs[0].normals.vertex, -1);
    EXPECT_TRUE(diff.pairs[1].renamed);
    EXPECT_EQ(diff.pairs[2].indexB, -1);  // GONE: ADDED at its place has another vertex count
    EXPECT_EQ(diff.pairs[3].indexA, -1);
    EXPECT_EQ(diff.pairs[3].indexB, 2);
    EXPECT_FALSE(diff.Equal(1.0));  // a rename is a difference whatever the tolerance

    std::ostringstream out;
    tools::PrintDiff(diff, a, b, 0.1, out);
    EXPECT_EQ(out.str(), a.path + " and " + b.path +
                             " differ:\n"
                             "  changed  KEEP: positions by up to 0.5 at vertex 0 (x)\n"
                             "  renamed  OLD -> NEW (object 1)\n"
                             "  removed  GONE (object 2, 3 vertices)\n"
                             "  added    ADDED (object 2, 6 vertices)\n");
}

TEST(SgltoolDiff, NanEqualsNanButNoNumber)
{
    ScratchDir dir;
    const float nan = std::nanf("");
    const RecordSpec withNan{"N", 3, {nan, 0, 0, 1, 0, 0, 0, 1, 0}, std::vector<float>(9), std::vector<float>(6)};
    RecordSpec otherNan = withNan;
    otherNan.positions[0] = -std::nanf("7");  // another NaN payload: not bit-identical
    RecordSpec number = withNan;
    number.positions[0] = 0;
    testing::WriteFile(dir / "a.sgl", testing::EncodeBundle({withNan}));
    testing::WriteFile(dir / "b.sgl", testing::EncodeBundle({otherNan}));
    testing::WriteFile(dir / "c.sgl", testing::EncodeBundle({number}));
    tools::LoadedBundle a, b, c;
    tools::LoadBundle((dir / "a.sgl").string(), a);
    tools::LoadBundle((dir / "b.sgl").string(), b);
    tools::LoadBundle((dir / "c.sgl").string(), c);
    EXPECT_FALSE(tools::DiffBundles(a, b).identicalBytes);
    EXPECT_TRUE(tools::DiffBundles(a, b).Equal(0));
    EXPECT_FALSE(tools::DiffBundles(a, c).Equal(1e30));
}

}  // namespace
}  // namespace ase2sgl
