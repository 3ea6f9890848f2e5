// sgltool lint through the executable: exit statuses a build can gate on, the text
// report, and the JSON report against its schema.
#include "tool_fixtures.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

namespace ase2sgl {
namespace {

using testing::BoxMesh;
using testing::RunSgltool;
using testing::ScratchDir;

struct LintFiles {
    ScratchDir dir;
    std::string clean, cameraNamed, warned, empty, missing;
    LintFiles()
    {
        clean = Write("clean.ase", testing::Scene({BoxMesh("Box01"), BoxMesh("Lid")}));
        std::vector<std::string> lines = testing::SplitLines(testing::Scene({BoxMesh("Box01")}));
        for (const char* line : {"*CAMERAOBJECT {", "\t*NODE_NAME \"Camera01\"", "}"})
            lines.emplace_back(line);
        const std::vector<std::string> lid = testing::MeshLines(BoxMesh("Lid"));
        lines.insert(lines.end(), lid.begin(), lid.end());
        cameraNamed = Write("camera.ase", testing::Lines(lines));
        warned = Write("warned.ase", testing::Scene({testing::WithoutNormalsBlock(BoxMesh("Box"))}));
        empty = Write("empty.ase", "");
        missing = (dir / "missing.ase").string();
    }
    std::string Write(const char* name, const std::string& bytes)
    {
        testing::WriteFile(dir / name, bytes);
        return (dir / name).string();
    }
};

TEST(SgltoolLint, ExitStatusesGateABuild)
{
    LintFiles f;
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string out;  // a part of standard output
        std::string err;  // the whole of standard error
    };
    const Case cases[] = {
        {{"lint", f.clean}, 0, "every mesh becomes an object of its own under its own name", ""},
        {{"lint", f.cameraNamed},
         1,
         "mesh \"Lid\" (line 127) becomes object 1 under the name \"CAMERA01\" of the camera at line 124",
         ""},
        {{"lint", f.clean, f.cameraNamed}, 1, "1 of 2 meshes does not become an object of its own", ""},
        // An unreadable file is 3, as for every subcommand, and outranks 1.
        {{"lint", f.missing}, 3, "", "sgltool: " + f.missing + ": cannot be read\n"},
        {{"lint", f.missing, f.cameraNamed}, 3, "CAMERA01", "sgltool: " + f.missing + ": cannot be read\n"},
        {{"lint"}, 2, "", "sgltool: files is required (see sgltool --help)\n"},
        // An empty file is read (no meshes), not unreadable; so for normalize and convert.
        {{"lint", f.empty}, 0, "0 meshes", ""},
        {{"normalize", f.empty, f.empty + ".out.ase"}, 0, "0 meshes", ""},
        {{"convert", f.empty, f.empty + ".sgl"}, 0, "wrote " + f.empty + ".sgl", ""},
        {{"lint", f.warned}, 0, "no normals block in its lines", ""},
        {{"lint", "--strict", f.warned}, 1, "no normals block in its lines", ""},
        {{"lint", "--strict", f.clean}, 0, "every mesh becomes", ""},
        {{"lint", f.clean, f.warned, "--strict"},
         1,
         "2 files: 3 of 3 meshes become objects of their own under their own names; 0 losses, 1 warning; 1 file "
         "fails\n",
         ""},
    };
    for (const Case& c : cases) {
        const testing::RunResult run = RunSgltool(c.args);
        const std::string label = c.args.size() > 1 ? c.args.back() : "no files";
        EXPECT_EQ(run.exitStatus, c.status) << label << "\n" << run.out << run.err;
        EXPECT_NE(run.out.find(c.out), std::string::npos) << label << "\n" << run.out;
        EXPECT_EQ(run.err, c.err) << label;
    }
}

// Quiet: a clean file, or one with warnings only, prints nothing; a lossy one its
// heading, its losses and its verdict.
TEST(SgltoolLint, QuietPrintsTheLossesAlone)
{
    LintFiles f;
    const testing::RunResult quiet = RunSgltool({"lint", "--quiet", f.clean, f.warned});
    EXPECT_EQ(quiet.exitStatus, 0);
    EXPECT_EQ(quiet.out, "2 files: 3 of 3 meshes become objects of their own under their own names; 0 losses, "
                         "1 warning; 0 files fail\n");
    const testing::RunResult lossy = RunSgltool({"lint", "--quiet", f.cameraNamed});
    EXPECT_EQ(lossy.exitStatus, 1);
    EXPECT_EQ(lossy.out.find("ase2sgl writes"), std::string::npos) << lossy.out;
    EXPECT_NE(lossy.out.find("loss: mesh \"Lid\""), std::string::npos) << lossy.out;
}

TEST(SgltoolLint, JsonReportFollowsItsSchema)
{
    if (testing::NodeModules().empty())
        GTEST_SKIP() << "node or the test tools are missing (.ci/run installs them into build/node)";
    LintFiles f;
    std::vector<std::string> args = {"lint", "--json", f.clean, f.cameraNamed};
    const testing::RunResult run = RunSgltool(args);
    ASSERT_EQ(run.exitStatus, 1) << run.err;
    const auto report = nlohmann::json::parse(run.out);
    ASSERT_EQ(report["files"].size(), 2u);
    EXPECT_EQ(report["files"][0]["clean"], true);
    EXPECT_EQ(report["files"][1]["findings"][0]["kind"], "name-taken");

    const std::string schema = std::string(ASE2SGL_SOURCE_DIR) + "/tools/sgltool-lint.schema.json";
    testing::WriteFile(f.dir / "report.json", run.out);
    const testing::RunResult valid =
        testing::RunNodeScript("validate_json.js", {schema, (f.dir / "report.json").string()});
    EXPECT_EQ(valid.exitStatus, 0) << valid.out << valid.err;

    // The check can fail: an unknown finding kind, a missing object list.
    auto broken = report;
    broken["files"][1]["findings"][0]["kind"] = "something-else";
    testing::WriteFile(f.dir / "kind.json", broken.dump());
    broken = report;
    broken["files"][0].erase("objects");
    testing::WriteFile(f.dir / "objects.json", broken.dump());
    for (const char* name : {"kind.json", "objects.json"}) {
        const testing::RunResult invalid =
            testing::RunNodeScript("validate_json.js", {schema, (f.dir / name).string()});
        EXPECT_EQ(invalid.exitStatus, 1) << name << ": " << invalid.out << invalid.err;
    }
}

}  // namespace
}  // namespace ase2sgl
