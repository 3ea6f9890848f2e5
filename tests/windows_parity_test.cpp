// The Windows executable, run under Wine, against this build's: every corpus file
// and every console case gives the same bundle bytes, console bytes and exit
// status; and the Windows executable keeps the file-failure guarantees when a write
// fails midway (a file-size limit, a full file system), which no Windows test
// program can arrange. Skips, saying why, without a Windows build or without Wine.
#include "common/format_limits.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <set>

namespace ase2sgl {
namespace {

namespace fs = std::filesystem;
using testing::ReadFile;
using testing::RunResult;
using testing::ScratchDir;
using testing::WriteFile;

fs::path WindowsExecutable()
{
    const char* given = std::getenv("ASE2SGL_WINDOWS_EXE");
    return given != nullptr ? fs::path(given) : fs::path(ASE2SGL_SOURCE_DIR) / "build" / "windows" / "ase2sgl.exe";
}

// Runs `command` in `folder` with its output streams in files: Wine's own helper
// processes may outlive the program and would hold pipes open. A `fileSizeLimit`
// other than 0 makes writes past it fail (SIGXFSZ ignored, as the tool does).
RunResult RunWithFiles(const std::vector<std::string>& command, const fs::path& folder, rlim_t fileSizeLimit = 0)
{
    const fs::path out = folder / ".." / (folder.filename().string() + ".out");
    const fs::path err = folder / ".." / (folder.filename().string() + ".err");
    const pid_t child = ::fork();
    if (child == 0) {
        const int outFd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int errFd = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int nothing = ::open("/dev/null", O_RDONLY);
        if (outFd < 0 || errFd < 0 || nothing < 0 || ::chdir(folder.c_str()) != 0)
            ::_exit(126);
        ::dup2(nothing, 0);
        ::dup2(outFd, 1);
        ::dup2(errFd, 2);
        if (fileSizeLimit != 0) {
            std::signal(SIGXFSZ, SIG_IGN);
            const rlimit limit{fileSizeLimit, fileSizeLimit};
            ::setrlimit(RLIMIT_FSIZE, &limit);
        }
        std::vector<std::string> copies(command);
        std::vector<char*> argv;
        for (std::string& argument : copies)
            argv.push_back(argument.data());
        argv.push_back(nullptr);
        ::execvp(argv[0], argv.data());
        ::_exit(127);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    RunResult result;
    result.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    result.out = ReadFile(out);
    result.err = ReadFile(err);
    fs::remove(out);
    fs::remove(err);
    return result;
}

class WindowsParity : public ::testing::Test {
  protected:
    // One Wine server for the whole suite: starting one costs seconds.
    static void SetUpTestSuite()
    {
        ::setenv("WINEPREFIX", (fs::path(ASE2SGL_SOURCE_DIR) / "build" / "windows" / "wineprefix").c_str(), 0);
        ::setenv("WINEDEBUG", "-all", 0);
        ::setenv("WINEDLLOVERRIDES", "mscoree,mshtml=", 0);
        // A server kept for a minute after the last program (not stopped here: the tests
        // of this suite run as parallel processes that share it), started before the
        // runs so that its helper processes hold none of their output files.
        [[maybe_unused]] const int started = std::system("wineserver -p 60 </dev/null >/dev/null 2>&1");
        available_ = fs::exists(WindowsExecutable()) && std::system("wine cmd /c exit </dev/null >/dev/null 2>&1") == 0;
    }
    void SetUp() override
    {
        if (!available_)
            GTEST_SKIP() << "no Windows build at " << WindowsExecutable()
                         << " or no working wine (build it with: cmake --workflow --preset test-windows)";
    }

    // Runs both executables with `args`, each in its own copy of what `arrange`
    // made, and expects the same status, console bytes and files.
    void ExpectSameRun(const std::vector<std::string>& args, const std::function<void(const fs::path&)>& arrange)
    {
        ScratchDir dir;
        const fs::path linuxDir = dir / "linux", windowsDir = dir / "windows";
        fs::create_directory(linuxDir);
        fs::create_directory(windowsDir);
        arrange(linuxDir);
        arrange(windowsDir);
        std::vector<std::string> linuxCommand = {ASE2SGL_EXE}, windowsCommand = {"wine", WindowsExecutable().string()};
        linuxCommand.insert(linuxCommand.end(), args.begin(), args.end());
        windowsCommand.insert(windowsCommand.end(), args.begin(), args.end());
        const RunResult onLinux = RunWithFiles(linuxCommand, linuxDir);
        const RunResult onWindows = RunWithFiles(windowsCommand, windowsDir);
        EXPECT_EQ(onWindows.exitStatus, onLinux.exitStatus);
        EXPECT_EQ(onWindows.out, onLinux.out);
        EXPECT_EQ(onWindows.err, onLinux.err);
        std::set<std::string> names;
        for (const fs::directory_entry& entry : fs::recursive_directory_iterator(linuxDir))
            names.insert(fs::relative(entry.path(), linuxDir).string());
        std::set<std::string> windowsNames;
        for (const fs::directory_entry& entry : fs::recursive_directory_iterator(windowsDir))
            windowsNames.insert(fs::relative(entry.path(), windowsDir).string());
        EXPECT_EQ(windowsNames, names);
        for (const std::string& name : names) {
            if (fs::is_regular_file(linuxDir / name) && fs::is_regular_file(windowsDir / name)) {
                EXPECT_TRUE(ReadFile(windowsDir / name) == ReadFile(linuxDir / name)) << name << " differs";
            }
        }
    }

    static bool available_;
};

bool WindowsParity::available_ = false;

TEST_F(WindowsParity, EveryCorpusFileGivesTheSameBytes)
{
    const fs::path corpus = testing::CorpusDir();
    if (corpus.empty())
        GTEST_SKIP() << "no corpus of real ASE files at " << ASE2SGL_CORPUS_DIR << " (set ASE2SGL_CORPUS)";
    int files = 0;
    for (const fs::directory_entry& entry : fs::directory_iterator(corpus)) {
        if (entry.path().extension() != ".ase")
            continue;
        SCOPED_TRACE(entry.path().string());
        const std::string name = entry.path().filename().string();
        ExpectSameRun({name}, [&](const fs::path& folder) { fs::copy_file(entry.path(), folder / name); });
        ++files;
    }
    EXPECT_GE(files, 30);
}

TEST_F(WindowsParity, ConsoleCasesGiveTheSameBytes)
{
    const std::string box = testing::Scene({testing::BoxMesh()});
    std::string tooMany;
    for (int i = 0; i <= kMaxObjects; ++i)
        tooMany +=
            "\t*NODE_NAME \"T\"\n\t\t\t*MESH_VERTEX    0\t0\t0\t0\n}\n\t\t\t*MESH_FACE    0:\n}\n\t\t*MESH_NORMALS\n";
    const auto arrange = [&](const fs::path& folder) {
        for (const char* name : {"in.ase", "100%.ase", "a", "-x.ase"})
            WriteFile(folder / name, box);
        WriteFile(folder / "many.ase", tooMany);
        WriteFile(folder / "many.sgl", "old bytes");
        WriteFile(folder / "empty.ase", "");
        fs::create_directory(folder / "folder.ase");
        fs::create_directory(folder / "out.sgl");
    };
    const std::vector<std::vector<std::string>> cases = {
        {},
        {""},
        {"missing.ase"},
        {"in.ase"},
        {"in.ase", ""},
        {"in.ase", "other.sgl", "ignored"},
        {"100%.ase"},
        {"a"},
        {"-x.ase"},
        {"empty.ase"},
        {"folder.ase", "x.sgl"},
        {"in.ase", "missing/out.sgl"},
        {"in.ase", "out.sgl"},
        {"many.ase"},
    };
    for (const std::vector<std::string>& args : cases) {
        std::string label;
        for (const std::string& arg : args)
            label += "[" + arg + "]";
        SCOPED_TRACE(label);
        ExpectSameRun(args, arrange);
    }
}

// A write that fails midway on Windows: exit 3, one line, no temporary file, the old
// output unchanged.
TEST_F(WindowsParity, WindowsWriteFailingMidwayKeepsTheOldOutput)
{
    ScratchDir dir;
    const fs::path folder = dir / "run";
    fs::create_directory(folder);
    WriteFile(folder / "scene.ase", testing::Scene(std::vector<testing::MeshSpec>(1000, testing::BoxMesh())));
    WriteFile(folder / "out.sgl", "old bytes");
    const RunResult run =
        RunWithFiles({"wine", WindowsExecutable().string(), "scene.ase", "out.sgl"}, folder, 256 * 1024);
    EXPECT_EQ(run.exitStatus, 3);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err.substr(0, run.err.find('\n') + 1), "Conversion de scene.ase -> out.sgl\n");
    EXPECT_TRUE(run.err.find("\nErreur: impossible d'ecrire out.sgl: ") != std::string::npos) << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 2) << run.err;
    EXPECT_EQ(ReadFile(folder / "out.sgl"), "old bytes");
    std::set<std::string> names;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder))
        names.insert(entry.path().filename().string());
    EXPECT_EQ(names, (std::set<std::string>{"scene.ase", "out.sgl"}));
}

TEST_F(WindowsParity, WindowsFullFileSystemKeepsTheOldOutput)
{
    ScratchDir dir;
    const fs::path small = dir / "small";
    fs::create_directory(small);
    if (::mount("tmpfs", small.c_str(), "tmpfs", 0, "size=128k") != 0)
        GTEST_SKIP() << "cannot mount a small tmpfs here (needs root with CAP_SYS_ADMIN)";
    WriteFile(dir / "scene.ase", testing::Scene(std::vector<testing::MeshSpec>(1000, testing::BoxMesh())));
    WriteFile(small / "out.sgl", "old bytes");
    const RunResult run =
        RunWithFiles({"wine", WindowsExecutable().string(), "scene.ase", "small/out.sgl"}, dir.path());
    const std::string kept = ReadFile(small / "out.sgl");
    std::set<std::string> names;
    for (const fs::directory_entry& entry : fs::directory_iterator(small))
        names.insert(entry.path().filename().string());
    ::umount2(small.c_str(), MNT_DETACH);
    EXPECT_EQ(run.exitStatus, 3);
    EXPECT_EQ(run.err,
              "Conversion de scene.ase -> small/out.sgl\nErreur: impossible d'ecrire small/out.sgl: No space "
              "left on device\n");
    EXPECT_EQ(kept, "old bytes");
    EXPECT_EQ(names, std::set<std::string>{"out.sgl"});
}

}  // namespace
}  // namespace ase2sgl
