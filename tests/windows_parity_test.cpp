// The Windows executables, run under Wine, against this build's: every corpus file
// and every console case gives the same bundle bytes, console bytes and exit
// status, and every sgltool subcommand the same text, JSON, bundles, glTF, OBJ and
// PNG bytes; and the Windows converter keeps the file-failure guarantees when a
// write fails midway (a file-size limit, a full file system), which no Windows test
// program can arrange. Skips, saying why, without a Windows build or without Wine.
#include "common/format_limits.h"
#include "conversion/convert.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <iostream>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
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

// The same program built for both hosts.
struct Programs {
    std::string onLinux;
    fs::path onWindows;
};
const Programs kConverter{ASE2SGL_EXE, WindowsExecutable()};
#ifdef SGLTOOL_EXE
fs::path WindowsSgltool()
{
    const char* given = std::getenv("ASE2SGL_WINDOWS_SGLTOOL");
    return given != nullptr ? fs::path(given)
                            : fs::path(ASE2SGL_SOURCE_DIR) / "build" / "windows" / "tools" / "sgltool.exe";
}
const Programs kSgltool{SGLTOOL_EXE, WindowsSgltool()};
#endif

std::set<std::string> FilesUnder(const fs::path& folder)
{
    std::set<std::string> names;
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(folder))
        names.insert(fs::relative(entry.path(), folder).string());
    return names;
}

// The same files in both folders, with the same bytes.
void ExpectSameFiles(const fs::path& linuxDir, const fs::path& windowsDir)
{
    const std::set<std::string> names = FilesUnder(linuxDir);
    EXPECT_EQ(FilesUnder(windowsDir), names);
    for (const std::string& name : names) {
        if (fs::is_regular_file(linuxDir / name) && fs::is_regular_file(windowsDir / name)) {
            EXPECT_TRUE(ReadFile(windowsDir / name) == ReadFile(linuxDir / name)) << name << " differs";
        }
    }
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
        wine_ = std::system("wine cmd /c exit </dev/null >/dev/null 2>&1") == 0;
        available_ = wine_ && fs::exists(WindowsExecutable());
    }
    void SetUp() override
    {
        if (!available_)
            GTEST_SKIP() << "no Windows build at " << WindowsExecutable()
                         << " or no working wine (build it with: cmake --workflow --preset test-windows)";
    }

    // Runs both builds of `programs` with `args`, each in its own copy of what
    // `arrange` made, and expects the same status, console bytes and files.
    void ExpectSameRun(const std::vector<std::string>& args, const std::function<void(const fs::path&)>& arrange,
                       const Programs& programs = kConverter)
    {
        ScratchDir dir;
        const fs::path linuxDir = dir / "linux", windowsDir = dir / "windows";
        fs::create_directory(linuxDir);
        fs::create_directory(windowsDir);
        arrange(linuxDir);
        arrange(windowsDir);
        std::vector<std::string> linuxCommand = {programs.onLinux};
        std::vector<std::string> windowsCommand = {"wine", programs.onWindows.string()};
        linuxCommand.insert(linuxCommand.end(), args.begin(), args.end());
        windowsCommand.insert(windowsCommand.end(), args.begin(), args.end());
        const RunResult onLinux = RunWithFiles(linuxCommand, linuxDir);
        RunResult onWindows = RunWithFiles(windowsCommand, windowsDir);
        // Both programs say something on every run; a failure with nothing said is a
        // start Wine did not make (seen now and then on a busy machine): tried again,
        // twice at most, in a fresh copy of the files.
        for (int retry = 0; retry < 2 && onWindows.exitStatus != 0 && onWindows.out.empty() &&
                            onWindows.err.empty() && !(onLinux.out.empty() && onLinux.err.empty());
             ++retry) {
            std::printf("[ wine     ] nothing said, status %d: started again\n", onWindows.exitStatus);
            fs::remove_all(windowsDir);
            fs::create_directory(windowsDir);
            arrange(windowsDir);
            onWindows = RunWithFiles(windowsCommand, windowsDir);
        }
        EXPECT_EQ(onWindows.exitStatus, onLinux.exitStatus);
        EXPECT_EQ(onWindows.out, onLinux.out);
        EXPECT_EQ(onWindows.err, onLinux.err);
        ExpectSameFiles(linuxDir, windowsDir);
    }

    static bool available_, wine_;
};

bool WindowsParity::available_ = false;
bool WindowsParity::wine_ = false;

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

#ifdef SGLTOOL_EXE
class SgltoolParity : public WindowsParity {
  protected:
    void SetUp() override
    {
        if (!wine_ || !fs::exists(WindowsSgltool()))
            GTEST_SKIP() << "no Windows build at " << WindowsSgltool()
                         << " or no working wine (build it with: cmake --workflow --preset test-windows)";
    }
};

// Every subcommand on every corpus file: lint, convert and normalize (with their
// reports) on the ASE files, then info, check, export (glTF, GLB, OBJ) and render on
// the bundles the converts made; on the first few, another view of render and diff.
std::vector<std::vector<std::string>> CorpusCommands(const std::vector<std::string>& stems)
{
    std::vector<std::vector<std::string>> commands, perFile;
    std::vector<std::string> lint = {"lint"}, lintJson = {"lint", "--json"};
    std::vector<std::string> info = {"info"}, infoJson = {"info", "--json"}, check = {"check"};
    for (const std::string& stem : stems) {
        const std::string ase = stem + ".ase", bundle = stem + ".sgl";
        lint.push_back(ase);
        lintJson.push_back(ase);
        info.push_back(bundle);
        infoJson.push_back(bundle);
        check.push_back(bundle);
        commands.push_back({"convert", "--report", ase});
        commands.push_back({"normalize", "--report", ase, stem + ".normalized.ase"});
        perFile.push_back({"export", bundle, stem + ".gltf"});
        perFile.push_back({"export", bundle, stem + ".glb"});
        perFile.push_back({"export", bundle, stem + ".obj"});
        perFile.push_back({"render", bundle, stem + ".png"});
    }
    for (std::size_t i = 0; i + 1 < stems.size() && i < 4; ++i) {
        perFile.push_back(
            {"render", stems[i] + ".sgl", stems[i] + ".top.png", "--view", "top", "--size", "64", "--checker"});
        perFile.push_back({"diff", stems[i] + ".sgl", stems[i + 1] + ".sgl"});
    }
    commands.insert(commands.end(), {lint, lintJson, info, infoJson, check});
    commands.insert(commands.end(), perFile.begin(), perFile.end());
    return commands;
}

std::string WindowsPath(const fs::path& path)
{
    std::string text = "Z:" + path.string();
    std::replace(text.begin(), text.end(), '/', '\\');
    return text;
}

// Runs `commands` of `exe` in `folder` under Wine through one batch file: one start
// of Wine's command interpreter rather than one of Wine per command. Each command's
// streams and exit status go to files in `results`. The arguments must need no
// quoting in a batch file.
std::vector<RunResult> RunUnderWineInOneBatch(const fs::path& exe,
                                              const std::vector<std::vector<std::string>>& commands,
                                              const fs::path& folder, const fs::path& results)
{
    std::string batch = "@echo off\r\n";
    for (std::size_t i = 0; i < commands.size(); ++i) {
        const std::string run = WindowsPath(results / std::to_string(i));
        batch += "\"" + WindowsPath(exe) + "\"";
        for (const std::string& argument : commands[i])
            batch += " " + argument;
        batch += " >" + run + ".out 2>" + run + ".err\r\necho %ERRORLEVEL% >" + run + ".status\r\n";
    }
    batch += "exit /b 0\r\n";  // else the batch ends with the last command's status
    WriteFile(results / "run.bat", batch);
    const RunResult batchRun = RunWithFiles({"wine", "cmd", "/c", WindowsPath(results / "run.bat")}, folder);
    EXPECT_EQ(batchRun.exitStatus, 0) << batchRun.err;
    std::vector<RunResult> runs(commands.size());
    for (std::size_t i = 0; i < commands.size(); ++i) {
        const fs::path run = results / std::to_string(i);
        const std::string status = fs::exists(run.string() + ".status") ? ReadFile(run.string() + ".status") : "";
        runs[i].exitStatus = status.empty() ? -1 : std::stoi(status);
        runs[i].out = fs::exists(run.string() + ".out") ? ReadFile(run.string() + ".out") : "";
        runs[i].err = fs::exists(run.string() + ".err") ? ReadFile(run.string() + ".err") : "";
    }
    return runs;
}

TEST_F(SgltoolParity, EverySubcommandGivesTheSameBytesOnTheCorpus)
{
    const std::vector<fs::path> files = testing::CorpusFiles();
    if (files.empty())
        GTEST_SKIP() << "no corpus of real ASE files at " << ASE2SGL_CORPUS_DIR << " (set ASE2SGL_CORPUS)";
    ScratchDir dir;
    const fs::path linuxDir = dir / "linux", windowsDir = dir / "windows", results = dir / "results";
    std::vector<std::string> stems;
    const auto arrange = [&](const fs::path& folder) {
        fs::remove_all(folder);
        fs::create_directory(folder);
        for (const fs::path& file : files)
            fs::copy_file(file, folder / file.filename());
    };
    for (const fs::path& file : files) {
        const std::string stem = file.stem().string();
        ASSERT_EQ(stem.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_-."),
                  std::string::npos)
            << stem << ": a name the batch file would have to quote";
        stems.push_back(stem);
    }
    arrange(linuxDir);
    const std::vector<std::vector<std::string>> commands = CorpusCommands(stems);
    // Wine's command interpreter now and then fails to start a program of a batch
    // ("Can't recognize ... as an internal or external command", status 9009) while
    // other programs start and stop under the same Wine server: that is the emulator,
    // not sgltool, so the batch runs once more, from fresh copies, when it happens.
    const auto startFailed = [](const RunResult& run) {
        return run.exitStatus == 9009 && run.err.find("Can't recognize") != std::string::npos;
    };
    std::vector<RunResult> onWindows;
    for (int attempt = 0; attempt < 2; ++attempt) {
        arrange(windowsDir);
        fs::remove_all(results);
        fs::create_directory(results);
        onWindows = RunUnderWineInOneBatch(kSgltool.onWindows, commands, windowsDir, results);
        if (std::none_of(onWindows.begin(), onWindows.end(), startFailed))
            break;
        std::cerr << "Wine could not start sgltool.exe for a command of the batch; running the batch again\n";
    }
    int succeeded = 0;
    for (std::size_t i = 0; i < commands.size(); ++i) {
        std::vector<std::string> command = {kSgltool.onLinux};
        command.insert(command.end(), commands[i].begin(), commands[i].end());
        const RunResult onLinux = RunWithFiles(command, linuxDir);
        SCOPED_TRACE(testing::Lines(commands[i], " "));
        EXPECT_EQ(onWindows[i].exitStatus, onLinux.exitStatus);
        EXPECT_EQ(onWindows[i].out, onLinux.out);
        EXPECT_EQ(onWindows[i].err, onLinux.err);
        succeeded += onLinux.exitStatus == 0;
    }
    ExpectSameFiles(linuxDir, windowsDir);
    // Most runs succeed: a sweep of error messages alone would compare little.
    EXPECT_GE(succeeded, static_cast<int>(commands.size()) * 3 / 4);
}

// The names the converter's parity test uses, and non-ASCII ones (UTF-8 from the
// wide command line on Windows), through a reading and a writing subcommand each.
TEST_F(SgltoolParity, AwkwardAndNonAsciiNamesGiveTheSameBytes)
{
    const std::string box = testing::Scene({testing::BoxMesh()});
    const std::string bundle = ConvertBytes(box);
    const std::vector<std::string> stems = {"in", "100%", "\xC3\xA9t\xC3\xA9", "\xCE\xA9", "-x", "a b"};
    const auto arrange = [&](const fs::path& folder) {
        for (const std::string& stem : stems) {
            WriteFile(folder / (stem + ".ase"), box);
            WriteFile(folder / (stem + ".sgl"), bundle);
        }
    };
    for (const std::string& stem : stems) {
        const std::vector<std::vector<std::string>> cases = {
            {"convert", stem + ".ase", stem + ".out.sgl"},
            {"lint", stem + ".ase"},
            {"info", stem + ".sgl"},
            {"export", stem + ".sgl", stem + ".obj"},
            {"render", stem + ".sgl", stem + ".png", "--size", "32"},
        };
        for (const std::vector<std::string>& args : cases) {
            SCOPED_TRACE(testing::Lines(args, " "));
            ExpectSameRun(args, arrange, kSgltool);
        }
    }
}
#endif

}  // namespace
}  // namespace ase2sgl
