// The real executable: arguments, console bytes, exit statuses, the output file.
#include "common/format_limits.h"
#include "conversion/convert.h"
#include "conversion/output_path.h"
#include "support/test_support.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <thread>

namespace ase2sgl {
namespace {

using namespace std::string_literals;

using testing::ReadFile;
using testing::RunTool;
using testing::ScratchDir;
using testing::WriteFile;

const std::string kDone = "\nConversion termine\n";

std::vector<std::string> FolderEntries(const std::filesystem::path& folder)
{
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

TEST(DefaultOutputPath, ReplacesTheLastThreeBytes)
{
    const std::pair<std::string, std::string> cases[] = {
        {"scene.ase", "scene.sgl"},
        {"SCENE.ASE", "SCENE.sgl"},
        {"mesh.txt", "mesh.sgl"},
        {"data.gz", "datasgl"},
        {"model", "mosgl"},
        {"abc", "sgl"},
        {"ab", "sgl"},
        {"a", "sgl"},
        {"dir/x.ase", "dir/x.sgl"},
        {"a.sgl", "a.sgl"},
    };
    for (const auto& [input, output] : cases)
        EXPECT_EQ(DefaultOutputPath(input), output) << input;
}

TEST(CommandLine, ConvertsNextToTheInputAndReports)
{
    ScratchDir dir;
    const std::string ase = testing::Scene({testing::BoxMesh()});
    WriteFile(dir / "scene.ase", ase);
    const auto run = RunTool({"scene.ase"}, dir.path());
    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_EQ(run.err, "Conversion de scene.ase -> scene.sgl\n");
    EXPECT_EQ(run.out, kDone);
    EXPECT_EQ(ReadFile(dir / "scene.sgl"), ConvertBytes(ase));
    EXPECT_EQ(FolderEntries(dir.path()), (std::vector<std::string>{"scene.ase", "scene.sgl"}));

#ifndef _WIN32  // Windows files have no mode bits
    // The new file gets the mode a plain create gives.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    struct stat status {};
    ASSERT_EQ(::stat((dir / "scene.sgl").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0666 & ~mask);
#endif
}

// Paths as the tool takes them: bytes on POSIX; UTF-8 on Windows, where the tool
// reads the wide command line and prints paths in the ANSI code page.
#ifdef _WIN32
const std::string kAccented = "\xC3\xA9t\xC3\xA9";  // "ete" with acute accents, UTF-8
std::filesystem::path ArgumentPath(const std::string& argument)
{
    return std::filesystem::path(std::u8string(argument.begin(), argument.end()));
}
#else
const std::string kAccented = "\xE9t\xE9";  // Latin-1 bytes, no valid UTF-8
std::filesystem::path ArgumentPath(const std::string& argument)
{
    return argument;
}
#endif

TEST(CommandLine, ArgumentsAndPaths)
{
    ScratchDir dir;
    const std::string ase = testing::Scene({testing::BoxMesh("p")});
    const std::string bundle = ConvertBytes(ase);
    for (const std::string& name : std::vector<std::string>{"in.ase", "100%.ase", kAccented + ".ase", "-x.ase", "a"})
        WriteFile(dir.path() / ArgumentPath(name), ase);
    struct Case {
        std::vector<std::string> args;
        std::string err;
        std::string output;
    };
    const Case cases[] = {
        {{"in.ase", "out.sgl"}, "Conversion de in.ase -> out.sgl\n", "out.sgl"},
        {{"in.ase", ""}, "Conversion de in.ase -> in.sgl\n", "in.sgl"},  // empty means absent
        {{"in.ase", "third.sgl", "ignored", "--help"}, "Conversion de in.ase -> third.sgl\n", "third.sgl"},
        {{"100%.ase"}, "Conversion de 100%.ase -> 100%.sgl\n", "100%.sgl"},
        {{"%s%d.ase"}, "", ""},  // no such file
        // Printed as E9 74 E9: the bytes themselves, or Windows-1252 (Wine's and western Windows' code page).
        {{kAccented + ".ase"}, "Conversion de \xE9t\xE9.ase -> \xE9t\xE9.sgl\n", kAccented + ".sgl"},
        {{"-x.ase"}, "Conversion de -x.ase -> -x.sgl\n", "-x.sgl"},
        {{"a"}, "Conversion de a -> sgl\n", "sgl"},  // too short to keep anything
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args[0]);
        const auto run = RunTool(c.args, dir.path());
        EXPECT_EQ(run.err, c.err);
        if (c.output.empty()) {
            EXPECT_EQ(run.exitStatus, 1);
            EXPECT_EQ(run.out, "");
            continue;
        }
        EXPECT_EQ(run.exitStatus, 0);
        EXPECT_EQ(run.out, kDone);
        EXPECT_EQ(ReadFile(dir.path() / ArgumentPath(c.output)), bundle);
    }
}

#ifdef _WIN32
// A name outside the ANSI code page (Greek capital omega): the file calls take it
// whole, and the console shows "?" for it, as the system's own conversion does.
TEST(CommandLine, PathsOutsideTheCodePageConvert)
{
    if (::GetACP() != 1252)
        GTEST_SKIP() << "the expected console bytes assume code page 1252, this system has " << ::GetACP();
    ScratchDir dir;
    const std::string omega = "\xCE\xA9";
    const std::string ase = testing::Scene({testing::BoxMesh()});
    WriteFile(dir.path() / ArgumentPath(omega + ".ase"), ase);
    const auto run = RunTool({omega + ".ase"}, dir.path());
    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_EQ(run.err, "Conversion de ?.ase -> ?.sgl\n");
    EXPECT_EQ(run.out, kDone);
    EXPECT_EQ(ReadFile(dir.path() / ArgumentPath(omega + ".sgl")), ConvertBytes(ase));
}
#endif

TEST(CommandLine, MissingInputExitsSilentlyWithStatus1)
{
    ScratchDir dir;
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{}, {"missing.ase"}, {""}, {"missing.ase", "o.sgl"}}) {
        const auto run = RunTool(args, dir.path());
        EXPECT_EQ(run.exitStatus, 1);
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err, "");
    }
    EXPECT_TRUE(FolderEntries(dir.path()).empty());
}

// An output that is the input itself, or a scene's ASE source, is refused before
// anything is read: one "Erreur:" line, status 3, and every file keeps its bytes.
// `ase2sgl *.ase` in a folder of two scenes names the second as the output.
TEST(CommandLine, OutputThatWouldLoseDataIsRefused)
{
    ScratchDir dir;
    const std::string ase = testing::Scene({testing::BoxMesh()});
    const std::string utf16 = "\xFF\xFE*\0003\0D\0S\0M\0A\0X\0_\0A\0S\0C\0I\0I\0E\0X\0P\0O\0R\0T\0\t\0002\0"s;
    WriteFile(dir / "in.ase", ase);
    WriteFile(dir / "second.ase", ase);
    WriteFile(dir / "bom.ase", "\xEF\xBB\xBF\r\n  " + ase);
    WriteFile(dir / "utf16.ase", utf16);
    WriteFile(dir / "other.txt", "*SCENE {\n\t*SCENE_FILENAME \"x\"\n}\n");
    WriteFile(dir / "box.sgl", ase);  // a scene saved under the bundle's name
    struct Case {
        std::vector<std::string> args;
        std::string refused;  // the output path the line names
        std::string reason;
    };
    const Case cases[] = {
        {{"in.ase", "second.ase"}, "second.ase", "fichier ASE existant"},
        {{"in.ase", "bom.ase"}, "bom.ase", "fichier ASE existant"},
        {{"in.ase", "utf16.ase"}, "utf16.ase", "fichier ASE existant"},
        {{"in.ase", "other.txt"}, "other.txt", "fichier ASE existant"},
        {{"box.sgl"}, "box.sgl", "meme fichier que l'entree"},
        {{"in.ase", "./sub/../in.ase"}, "./sub/../in.ase", "meme fichier que l'entree"},
    };
    std::filesystem::create_directory(dir / "sub");
    std::map<std::string, std::string> before;
    for (const std::string& name : FolderEntries(dir.path()))
        if (name != "sub")
            before[name] = ReadFile(dir / name);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.back());
        const auto run = RunTool(c.args, dir.path());
        EXPECT_EQ(run.exitStatus, 3);
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err, "Conversion de " + c.args[0] + " -> " + c.refused + "\nErreur: " + c.refused + ": " +
                               c.reason + ", sortie refusee\n");
    }
    for (const auto& [name, bytes] : before)
        EXPECT_EQ(ReadFile(dir / name), bytes) << name;
    EXPECT_EQ(FolderEntries(dir.path()).size(), before.size() + 1);
}

#ifndef _WIN32  // links need a privilege on Windows
// The same file through links: a hard link and a symbolic link to the input.
TEST(CommandLine, OutputLinkedToTheInputIsRefused)
{
    ScratchDir dir;
    const std::string bundle = ConvertBytes(testing::Scene({testing::BoxMesh()}));
    WriteFile(dir / "box.sgl", bundle);
    std::filesystem::create_hard_link(dir / "box.sgl", dir / "hard.sgl");
    std::filesystem::create_symlink("box.sgl", dir / "soft.sgl");
    for (const char* output : {"hard.sgl", "soft.sgl"}) {
        const auto run = RunTool({"box.sgl", output}, dir.path());
        EXPECT_EQ(run.exitStatus, 3) << output;
        EXPECT_NE(run.err.find("meme fichier que l'entree, sortie refusee"), std::string::npos) << run.err;
    }
    EXPECT_TRUE(ReadFile(dir / "box.sgl") == bundle);
}
#endif

// What is not refused: an output bundle, text that is not ASE, an empty file.
TEST(CommandLine, OtherExistingOutputsAreReplaced)
{
    ScratchDir dir;
    const std::string ase = testing::Scene({testing::BoxMesh()});
    const std::string bundle = ConvertBytes(ase);
    WriteFile(dir / "in.ase", ase);
    const std::pair<const char*, std::string> outputs[] = {
        {"old.sgl", ConvertBytes(testing::Scene(std::vector<testing::MeshSpec>(42, testing::BoxMesh())))},
        {"notes.txt", "*not a key\n"},
        {"empty.sgl", ""},
        {"star.sgl", "*"},
    };
    for (const auto& [name, bytes] : outputs) {
        WriteFile(dir / name, bytes);
        const auto run = RunTool({"in.ase", name}, dir.path());
        EXPECT_EQ(run.exitStatus, 0) << name << ": " << run.err;
        EXPECT_TRUE(ReadFile(dir / name) == bundle) << name;
    }
}

// The head of a file told as ASE text or not, in each encoding an exporter writes.
TEST(LooksLikeAseText, EncodingsAndNearMisses)
{
    const std::pair<std::string, bool> cases[] = {
        {"*3DSMAX_ASCIIEXPORT\t200\n", true},
        {"\xEF\xBB\xBF*3DSMAX_ASCIIEXPORT 200", true},
        {" \r\n\t*SCENE {", true},
        {"*3DSMAX_ASCIIEXPORT", true},  // the whole head
        {"\xFF\xFE*\0A\0S\0E\0 \0"s, true},
        {"\xFE\xFF\0*\0A\0S\0E\0\n"s, true},
        {"*\0A\0S\0E\0\t\0"s, true},  // UTF-16 without a mark, either order
        {"\0*\0A\0S\0E\0\t"s, true},
        {"", false},
        {"*", false},
        {"*lower case", false},
        {"**KEY ", false},
        {"# *KEY\n", false},
        {"*KEY{", false},
        {"\xFF\xFE*\0K\x01Y\0 \0"s, false},  // a unit past 255 is no key character
        {ConvertBytes(testing::Scene(std::vector<testing::MeshSpec>(42, testing::BoxMesh()))), false},  // 0x2A
    };
    for (const auto& [head, isAse] : cases)
        EXPECT_EQ(LooksLikeAseText(head), isAse) << ::testing::PrintToString(head.substr(0, 24));
}

TEST(CommandLine, ExistingOutputIsReplacedNotAppended)
{
    ScratchDir dir;
    const std::string ase = testing::Scene({testing::BoxMesh()});
    WriteFile(dir / "in.ase", ase);
    WriteFile(dir / "in.sgl", std::string(100000, 'x'));
    EXPECT_EQ(RunTool({"in.ase"}, dir.path()).exitStatus, 0);
    EXPECT_EQ(ReadFile(dir / "in.sgl").size(), 1415u);
}

TEST(CommandLine, FailuresExitWith3AndKeepTheOldOutput)
{
    ScratchDir dir;
    const std::string ase = testing::Scene({testing::BoxMesh()});
    WriteFile(dir / "in.ase", ase);
    std::filesystem::create_directory(dir / "folder.ase");
    std::filesystem::create_directory(dir / "out.sgl");
    std::string tooMany;
    for (int i = 0; i <= kMaxObjects; ++i)
        tooMany +=
            "\t*NODE_NAME \"T\"\n\t\t\t*MESH_VERTEX    0\t0\t0\t0\n}\n\t\t\t*MESH_FACE    0:\n}\n\t\t*MESH_NORMALS\n";
    WriteFile(dir / "many.ase", tooMany);
    WriteFile(dir / "many.sgl", "old bytes");
    struct Case {
        std::vector<std::string> args;
        std::string err;
    };
    const Case cases[] = {
        {{"folder.ase", "x.sgl"},
         "Conversion de folder.ase -> x.sgl\nErreur: impossible d'ouvrir folder.ase: Is a directory\n"},
        {{"in.ase", "missing/out.sgl"},
         "Conversion de in.ase -> missing/out.sgl\nErreur: impossible de creer missing/out.sgl: No such file or "
         "directory\n"},
        {{"in.ase", "out.sgl"},
         "Conversion de in.ase -> out.sgl\nErreur: impossible de creer out.sgl: Is a directory\n"},
        {{"many.ase"},
         "Conversion de many.ase -> many.sgl\nErreur: many.ase: plus de 5000 objets (limite du format: 5000), fichier "
         "refuse\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args[0]);
        const auto run = RunTool(c.args, dir.path());
        EXPECT_EQ(run.exitStatus, 3);
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err, c.err);
    }
    EXPECT_EQ(ReadFile(dir / "many.sgl"), "old bytes");
    EXPECT_EQ(FolderEntries(dir.path()),
              (std::vector<std::string>{"folder.ase", "in.ase", "many.ase", "many.sgl", "out.sgl"}));
}

// A relative link target is read from the link's own folder, not the working one.
TEST(CommandLine, SymbolicLinksAtTheOutputAreWrittenThrough)
{
#ifdef _WIN32
    GTEST_SKIP() << "Windows: making a symbolic link needs a privilege, and a link at the output is replaced, "
                    "not written through";
#endif
    struct Case {
        const char* link;     // the output argument, relative to the working folder
        const char* target;   // what the link holds
        const char* written;  // the file that must receive the bundle
    };
    const Case cases[] = {
        {"existing.sgl", "old.sgl", "old.sgl"},
        {"dangling.sgl", "assets/new.sgl", "assets/new.sgl"},
        {"links/out.sgl", "target.sgl", "links/target.sgl"},
        {"links/up.sgl", "../assets/up.sgl", "assets/up.sgl"},
        // Through a chain, each link read from its own folder: links/hop.sgl -> ../assets/end.sgl
        {"chain.sgl", "links/hop.sgl", "assets/end.sgl"},
    };
    ScratchDir dir;
    const std::string ase = testing::Scene({testing::BoxMesh()});
    WriteFile(dir / "in.ase", ase);
    WriteFile(dir / "old.sgl", "old bytes");
    WriteFile(dir / "target.sgl", "a file the link does not name");
    std::filesystem::create_directory(dir / "assets");
    std::filesystem::create_directory(dir / "links");
    std::filesystem::create_symlink("../assets/end.sgl", dir / "links/hop.sgl");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.link);
        std::filesystem::create_symlink(c.target, dir / c.link);
        EXPECT_EQ(RunTool({"in.ase", c.link}, dir.path()).exitStatus, 0);
        EXPECT_TRUE(std::filesystem::is_symlink(dir / c.link));
        EXPECT_EQ(ReadFile(dir / c.written), ConvertBytes(ase));
    }
    EXPECT_EQ(ReadFile(dir / "target.sgl"), "a file the link does not name");
    EXPECT_TRUE(std::filesystem::is_symlink(dir / "links/hop.sgl"));
    EXPECT_EQ(FolderEntries(dir / "links"), (std::vector<std::string>{"hop.sgl", "out.sgl", "target.sgl", "up.sgl"}));
}

#ifdef _WIN32
// A device at the output (NUL) is written in place: no temporary file is made.
TEST(CommandLine, DeviceAtTheOutputIsWrittenInPlace)
{
    ScratchDir dir;
    WriteFile(dir / "in.ase", testing::Scene({testing::BoxMesh()}));
    const testing::RunResult run = RunTool({"in.ase", "NUL"}, dir.path());
    EXPECT_EQ(run.exitStatus, 0) << run.err;
    EXPECT_EQ(run.err, "Conversion de in.ase -> NUL\n");
    EXPECT_EQ(FolderEntries(dir.path()), (std::vector<std::string>{"in.ase"}));
}
#else
// An output that is no regular file (a pipe, a device) is written in place: no
// temporary file can be renamed over it. The FIFO is kept open for reading and
// writing by the test, so that the tool's open never waits and the test never
// waits on a tool that does not open it; it is drained while the tool writes.
TEST(CommandLine, PipeAtTheOutputIsWrittenInPlace)
{
    ScratchDir dir;
    const std::string ase = testing::Scene(std::vector<testing::MeshSpec>(100, testing::BoxMesh()));
    WriteFile(dir / "in.ase", ase);
    ASSERT_EQ(::mkfifo((dir / "out.sgl").c_str(), 0600), 0);
    const int fifo = ::open((dir / "out.sgl").c_str(), O_RDWR | O_NONBLOCK);
    ASSERT_GE(fifo, 0);
    std::string received;
    std::atomic<bool> toolEnded = false;
    std::thread reader([&] {
        for (bool last = false; !last;) {
            last = toolEnded;  // one more pass after the tool ended takes what it left
            pollfd ready{fifo, POLLIN, 0};
            ::poll(&ready, 1, last ? 0 : 50);
            char chunk[65536];
            for (ssize_t n; (n = ::read(fifo, chunk, sizeof chunk)) > 0;)
                received.append(chunk, static_cast<std::size_t>(n));
        }
    });
    const testing::RunResult run = RunTool({"in.ase", "out.sgl"}, dir.path());
    toolEnded = true;
    reader.join();
    ::close(fifo);
    EXPECT_EQ(run.exitStatus, 0) << run.err;
    EXPECT_TRUE(received == ConvertBytes(ase)) << received.size() << " bytes received";
    EXPECT_TRUE(std::filesystem::is_fifo(dir / "out.sgl"));
    EXPECT_EQ(FolderEntries(dir.path()), (std::vector<std::string>{"in.ase", "out.sgl"}));
}
#endif

TEST(CommandLine, BundledSampleConverts)
{
    ScratchDir dir;
    const std::filesystem::path sample = std::filesystem::path(ASE2SGL_SOURCE_DIR) / "examples" / "box.ase";
    const auto run = RunTool({sample.string(), (dir / "box.sgl").string()});
    EXPECT_EQ(run.exitStatus, 0);
    const testing::Bundle bundle = testing::ParseBundle(ReadFile(dir / "box.sgl"));
    ASSERT_EQ(bundle.problem, "");
    ASSERT_EQ(bundle.objects.size(), 1u);
    EXPECT_EQ(bundle.objects[0].name, "BOX01");
    EXPECT_EQ(bundle.objects[0].VertexCount(), 36);
}

}  // namespace
}  // namespace ase2sgl
