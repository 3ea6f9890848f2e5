// sgltool normalize and sgltool convert through the executable: the files they
// write are what the libraries give, the console line says what was changed, and
// a failure leaves no output behind.
#include "normalize/normalize.h"
#include "tool_fixtures.h"
#include "tools/ase_input.h"
#include "tools/exit_status.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

namespace ase2sgl {
namespace {

using testing::RunSgltool;

// Two meshes without texture lists or normals (the converter merges them) after a
// camera whose name the converter gives to the first mesh.
std::string CameraAndBareMeshes()
{
    testing::MeshSpec first = testing::WithoutNormalsBlock(testing::WithoutTextureLists(testing::BoxMesh("First")));
    testing::MeshSpec second = first;
    second.name = "Second";
    const std::string meshes = testing::Scene({first, second});
    return "*CAMERAOBJECT {\n\t*NODE_NAME \"Camera01\"\n}\n" + meshes;
}

TEST(SgltoolNormalize, WritesTheLibrarysTextAndSaysWhatChanged)
{
    testing::ScratchDir dir;
    const std::string bare = CameraAndBareMeshes();
    // Room for about the input's length is allocated ahead of the writes: the file
    // must come out exactly as long as its text whether the text is longer than the
    // input (normals added), much shorter (a long run of blank lines dropped), or
    // replaces a longer file.
    const std::string padded = bare + std::string(std::size_t{3} << 20, '\n');
    struct Case {
        const std::string* ase;
        std::vector<std::string> flags;
        bool keep;
        std::string line;
        std::size_t oldOutputBytes;  // of a file already at the output path
    };
    const std::string dropped = "2 meshes, dialect: unknown, normals computed for 2, other nodes dropped: 1\n";
    const std::vector<Case> cases = {
        {&bare, {}, false, dropped, 0},
        {&bare, {"--keep-other-nodes"}, true, "2 meshes, dialect: unknown, normals computed for 2, other nodes kept: 1\n", 0},
        {&padded, {}, false, dropped, 0},
        {&bare, {}, false, dropped, std::size_t{4} << 20},
        {&padded, {}, false, dropped, std::size_t{4} << 20},
    };
    for (const Case& c : cases) {
        testing::WriteFile(dir / "in.ase", *c.ase);
        if (c.oldOutputBytes > 0)
            testing::WriteFile(dir / "out.ase", std::string(c.oldOutputBytes, 'x'));
        std::vector<std::string> args = {"normalize", (dir / "in.ase").string(), (dir / "out.ase").string()};
        args.insert(args.end(), c.flags.begin(), c.flags.end());
        const testing::RunResult run = RunSgltool(args);
        EXPECT_EQ(run.exitStatus, 0) << run.err;
        EXPECT_EQ(run.out, c.line);
        const std::string expected = normalize::Normalize(*c.ase, {c.keep}).text;
        EXPECT_LT(expected.size(), padded.size() / 2);
        EXPECT_EQ(testing::ReadFile(dir / "out.ase"), expected);
    }
}

TEST(SgltoolConvert, WritesBesideTheInputAsAse2sglDoes)
{
    testing::ScratchDir dir;
    const std::string ase = CameraAndBareMeshes();
    testing::WriteFile(dir / "scene.ase", ase);
    ASSERT_EQ(testing::ParseBundle(ConvertBytes(ase)).objects.size(), 1u) << "ase2sgl alone merges the meshes";

    const testing::RunResult run = RunSgltool({"convert", (dir / "scene.ase").string()});
    EXPECT_EQ(run.exitStatus, 0) << run.err;
    EXPECT_EQ(run.out, "2 meshes, dialect: unknown, normals computed for 2, other nodes dropped: 1\nwrote " +
                           (dir / "scene.sgl").string() + "\n");
    const std::string bundle = testing::ReadFile(dir / "scene.sgl");
    EXPECT_TRUE(bundle == ConvertBytes(normalize::Normalize(ase).text));
    const testing::Bundle parsed = testing::ParseBundle(bundle);
    ASSERT_EQ(parsed.objects.size(), 2u);
    EXPECT_EQ(parsed.objects[0].name, "FIRST");
    EXPECT_EQ(parsed.objects[1].name, "SECOND");

    const testing::RunResult named = RunSgltool({"convert", (dir / "scene.ase").string(), (dir / "b.sgl").string()});
    EXPECT_EQ(named.exitStatus, 0) << named.err;
    EXPECT_TRUE(testing::ReadFile(dir / "b.sgl") == bundle);
}

TEST(SgltoolConvert, FailuresLeaveNoOutput)
{
    testing::ScratchDir dir;
    std::string many;
    const std::string one = testing::Scene({testing::BoxMesh("Box")});
    for (int i = 0; i < 5001; ++i)
        many += one;
    testing::WriteFile(dir / "many.ase", many);
    struct Case {
        std::vector<std::string> args;
        int exitStatus;
        std::string message;
        std::string output;  // must not exist afterwards
    };
    const std::vector<Case> cases = {
        {{"convert", (dir / "missing.ase").string()}, 3, "cannot be read", "missing.sgl"},
        {{"convert", (dir / "many.ase").string()}, 3, "at most 5000", "many.sgl"},
        {{"normalize", (dir / "many.ase").string(), (dir / "n.ase").string()}, 3, "at most 5000", "n.ase"},
        {{"normalize", (dir / "many.ase").string()}, 2, "output is required", "many.sgl"},
        {{"convert", (dir / "many.ase").string(), "-o", (dir / "nowhere").string()}, 3, "nowhere: no such folder",
         "nowhere"},
        {{"convert", (dir / "many.ase").string(), "-o", (dir / "many.ase").string()}, 3, "many.ase: is not a folder",
         "many.sgl"},
    };
    for (const Case& c : cases) {
        const testing::RunResult run = RunSgltool(c.args);
        EXPECT_EQ(run.exitStatus, c.exitStatus) << c.args[1] << ": " << run.err;
        EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
        EXPECT_FALSE(std::filesystem::exists(dir / c.output)) << c.output;
    }
    // A bundle already there keeps its bytes, and no temporary file is left beside it.
    testing::WriteFile(dir / "kept.sgl", "old bytes");
    const testing::RunResult refused = RunSgltool({"convert", (dir / "many.ase").string(), (dir / "kept.sgl").string()});
    EXPECT_EQ(refused.exitStatus, 3) << refused.err;
    EXPECT_EQ(testing::ReadFile(dir / "kept.sgl"), "old bytes");
    std::vector<std::string> left;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
        left.push_back(entry.path().filename().string());
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::string>{"kept.sgl", "many.ase"}));
}

// Whether the bundle is made straight from the meshes or, for a name that holds a
// zero byte, through the normalized text, it is the converter's bundle of that text.
TEST(SgltoolConvert, EitherRouteGivesTheConvertersBundleOfTheNormalizedText)
{
    testing::ScratchDir dir;
    const std::string plain = CameraAndBareMeshes();
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"plain", plain},
        {"zero byte in a name", testing::Replace(plain, "\"First\"", std::string("\"Fi\0rst\"", 9))},
    };
    for (const auto& [label, ase] : cases) {
        testing::WriteFile(dir / "in.ase", ase);
        const testing::RunResult run = RunSgltool({"convert", (dir / "in.ase").string(), (dir / "out.sgl").string()});
        EXPECT_EQ(run.exitStatus, 0) << label << ": " << run.err;
        const normalize::NormalizeResult normalized = normalize::Normalize(ase);
        ASSERT_TRUE(normalized.ok) << label;
        EXPECT_TRUE(testing::ReadFile(dir / "out.sgl") == ConvertBytes(normalized.text)) << label;
        EXPECT_EQ(run.out, normalize::Summary(normalized.report) + "\nwrote " + (dir / "out.sgl").string() + "\n")
            << label;
    }
}

// Many inputs into a folder, in one of the export formats, and the two-path form:
// each output is what converting and exporting step by step gives.
TEST(SgltoolConvert, ManyInputsIntoAFolderAndStraightToGltfOrObj)
{
    testing::ScratchDir dir;
    const std::string ase = CameraAndBareMeshes();
    testing::WriteFile(dir / "a.ase", ase);
    testing::WriteFile(dir / "b.ase", testing::Scene({testing::BoxMesh("Box")}));
    std::filesystem::create_directory(dir / "out");
    struct Case {
        std::vector<std::string> args;
        std::vector<std::string> written;  // relative to the scratch folder
    };
    const std::string a = (dir / "a.ase").string(), b = (dir / "b.ase").string(), out = (dir / "out").string();
    const std::vector<Case> cases = {
        {{"convert", a, b, "-o", out}, {"out/a.sgl", "out/b.sgl"}},
        {{"convert", a, b, "-o", out, "--to", "obj"}, {"out/a.obj", "out/b.obj"}},
        {{"convert", a, b, "--to", "glb"}, {"a.glb", "b.glb"}},
        {{"convert", a, b}, {"a.sgl", "b.sgl"}},
        {{"convert", a, (dir / "a.gltf").string(), "--to", "gltf"}, {"a.gltf"}},
    };
    for (const Case& c : cases) {
        const testing::RunResult run = RunSgltool(c.args);
        EXPECT_EQ(run.exitStatus, 0) << c.args.back() << ": " << run.err;
        for (const std::string& name : c.written) {
            // The host's separator, as sgltool prints the path it was given joined to the name.
            const std::filesystem::path path = (dir / name).make_preferred();
            EXPECT_NE(run.out.find("wrote " + path.string() + "\n"), std::string::npos) << run.out;
            ASSERT_TRUE(std::filesystem::exists(path)) << name;
            const std::string extension = path.extension().string();
            if (extension == ".sgl") {
                const std::string input = testing::ReadFile(dir / (path.stem().string() + ".ase"));
                EXPECT_TRUE(testing::ReadFile(path) == ConvertBytes(normalize::Normalize(input).text)) << name;
                continue;
            }
            // The export of the bundle sgltool convert writes, made by sgltool export.
            const std::string bundle = (dir / (path.stem().string() + ".ase")).string() + ".sgl";
            ASSERT_EQ(RunSgltool({"convert", (dir / (path.stem().string() + ".ase")).string(), bundle}).exitStatus, 0);
            const std::string exported = (dir / ("exported" + extension)).string();
            ASSERT_EQ(RunSgltool({"export", bundle, exported}).exitStatus, 0) << name;
            std::string expected = testing::ReadFile(exported);
            // An OBJ names its source: the ASE file here, the bundle there.
            if (const std::size_t at = expected.find(bundle); at != std::string::npos)
                expected.replace(at, bundle.size(), (dir / (path.stem().string() + ".ase")).string());
            EXPECT_TRUE(testing::ReadFile(path) == expected) << name;
        }
    }
    // A bundle given as input would be its own default output: refused, left as it was.
    const std::string bundle = testing::ReadFile(dir / "a.sgl");
    const testing::RunResult itself = RunSgltool({"convert", (dir / "a.sgl").string()});
    EXPECT_EQ(itself.exitStatus, 3);
    EXPECT_NE(itself.err.find("is the input itself"), std::string::npos) << itself.err;
    EXPECT_TRUE(testing::ReadFile(dir / "a.sgl") == bundle);
    // An output path that holds a scene's ASE text, whatever its name: refused, the
    // scene left as it was. (A second `.ase` path is a second input, not an output.)
    const std::string scene = testing::ReadFile(dir / "a.ase");
    const std::string other = (dir / "scene_saved_as.sgl").string();
    testing::WriteFile(other, scene);
    const testing::RunResult overScene = RunSgltool({"convert", (dir / "a.ase").string(), other});
    EXPECT_EQ(overScene.exitStatus, 3);
    EXPECT_NE(overScene.err.find("holds ASE text"), std::string::npos) << overScene.err;
    EXPECT_TRUE(testing::ReadFile(other) == scene);
}

// A regular file is read where it lies (mapped): the first read copied, the rest in
// place, each byte once, with the file's own bytes; a file cut shorter while it is
// read fails instead of reading as zeros.
TEST(SgltoolInputFile, MappedFileReadInPlaceAndCutShorterFails)
{
#ifdef _WIN32
    GTEST_SKIP() << "input files are read, not mapped, on Windows";
#endif
    testing::ScratchDir dir;
    std::string bytes;
    for (int i = 0; bytes.size() < (std::size_t{3} << 20); ++i)
        bytes += "*MESH_VERTEX " + std::to_string(i) + "\t1.0\t2.0\t3.0\n";
    testing::WriteFile(dir / "a.ase", bytes);
    {
        tools::InputFile input((dir / "a.ase").string(), "test");
        ASSERT_TRUE(input.InPlace() == bytes) << "a regular file is offered in place";
        char first[100];
        ASSERT_EQ(input.Read(first, sizeof first), sizeof first);
        EXPECT_EQ(std::string_view(first, sizeof first), std::string_view(bytes).substr(0, sizeof first));
        input.PassedInPlace(0, bytes.size() / 2);  // given back: still readable, from the file
        EXPECT_EQ(input.InPlace().substr(0, 1000), std::string_view(bytes).substr(0, 1000));
        EXPECT_NO_THROW(input.Done());
    }
    tools::InputFile input((dir / "a.ase").string(), "test");
    std::filesystem::resize_file(dir / "a.ase", 4096);
    std::size_t nonZero = 0;
    for (const char c : input.InPlace())  // the pages past the cut read as zeros
        nonZero += c != 0 ? 1 : 0;
    EXPECT_EQ(nonZero, 4096u);
    EXPECT_THROW(input.Done(), tools::ToolError);
}

#ifdef __linux__
// The resident kilobytes of the mapping that holds `address` (/proc/self/smaps).
long ResidentKilobytes(const void* address)
{
    std::ifstream smaps("/proc/self/smaps");
    const auto at = reinterpret_cast<std::uintptr_t>(address);
    bool inside = false;
    for (std::string line; std::getline(smaps, line);) {
        unsigned long from = 0, to = 0;
        if (std::sscanf(line.c_str(), "%lx-%lx ", &from, &to) == 2) {
            inside = at >= from && at < to;
        } else if (inside && line.rfind("Rss:", 0) == 0) {
            return std::stol(line.substr(4));
        }
    }
    return -1;
}

// The stretches a reading passes back, in order or not, give back the mapped pages
// once all the bytes before them are back: none stays resident at the end, and
// none is given back while a stretch before it is still out.
TEST(SgltoolInputFile, PassedStretchesGiveBackTheirPages)
{
    testing::ScratchDir dir;
    const std::string bytes(std::size_t{4} << 20, 'x');
    testing::WriteFile(dir / "a.ase", bytes);
    tools::InputFile input((dir / "a.ase").string(), "test");
    const std::string_view mapped = input.InPlace();
    ASSERT_EQ(mapped.size(), bytes.size());
    const auto touchAll = [&] {
        std::size_t sum = 0;
        for (std::size_t i = 0; i < mapped.size(); i += 4096)
            sum += static_cast<unsigned char>(mapped[i]);
        return sum;
    };
    ASSERT_GT(touchAll(), 0u);
    EXPECT_GE(ResidentKilobytes(mapped.data()), 4000);
    const std::size_t piece = 1000003;  // stretches that do not end on page edges
    input.PassedInPlace(piece, piece);        // early: the first stretch is still out
    input.PassedInPlace(3 * piece, bytes.size() - 3 * piece);
    EXPECT_GE(ResidentKilobytes(mapped.data()), 4000) << "pages given back before the bytes ahead of them";
    input.PassedInPlace(0, piece);
    input.PassedInPlace(2 * piece, piece);
    EXPECT_LE(ResidentKilobytes(mapped.data()), 64) << "pages left behind";
    EXPECT_NO_THROW(input.Done());
}
#endif

}  // namespace
}  // namespace ase2sgl
