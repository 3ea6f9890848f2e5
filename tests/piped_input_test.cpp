// Input that cannot seek: a pipe on standard input, a FIFO, a process substitution;
// and standard output as the output. The tool copies such an input into an unnamed
// temporary file before converting it, so every file converts to the same bytes and
// the same console lines as when it is named directly, in the memory of the file
// route; the progress and error lines name the path the user gave.
#include "common/conversion_error.h"
#include "common/format_limits.h"
#include "conversion/convert.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <functional>
#include <stdexcept>
#include <thread>

namespace ase2sgl {
namespace {

namespace fs = std::filesystem;
using testing::BoxMesh;
using testing::CorpusFiles;
using testing::MeshSpec;
using testing::ReadFile;
using testing::RunResult;
using testing::RunTool;
using testing::Scene;
using testing::ScratchDir;
using testing::WriteFile;

// Writes `bytes` to a descriptor and closes it: the reader sees them arrive through
// a pipe in pieces, then the end of the input. A reader that stops early ends the
// writes with EPIPE.
void WriteAndClose(int fd, const std::string& bytes)
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, std::min<std::size_t>(bytes.size() - done, 65536));
        if (n <= 0)
            break;
        done += static_cast<std::size_t>(n);
    }
    ::close(fd);
}

// Feeds `bytes` into a FIFO from a thread of its own, once a reader has opened it.
std::jthread FeedFifo(const fs::path& fifo, const std::string& bytes)
{
    if (::mkfifo(fifo.c_str(), 0600) != 0)
        throw std::runtime_error("mkfifo failed");
    return std::jthread([fifo, &bytes] {
        const int fd = ::open(fifo.c_str(), O_WRONLY | O_CLOEXEC);  // waits for the reader
        if (fd >= 0)
            WriteAndClose(fd, bytes);
    });
}

// The tool converting `bytes` read from its standard input, a pipe.
RunResult RunOnStandardInput(const std::string& bytes, const fs::path& output)
{
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe failed");
    std::jthread writer([&] { WriteAndClose(ends[1], bytes); });
    const RunResult run = RunTool({"/dev/stdin", output.string()}, ".", ends[0]);
    ::close(ends[0]);
    return run;
}

// The tool started on `args` with `bytes` arriving through a pipe on its standard
// input, under an address-space limit (0: none).
RunResult RunPiped(const std::vector<std::string>& args, const std::string& bytes, const fs::path& workingDir,
                   std::uint64_t addressSpaceLimit = 0)
{
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe failed");
    std::jthread writer([&] { WriteAndClose(ends[1], bytes); });
    testing::ToolProcess tool(args, workingDir, addressSpaceLimit, "", ends[0]);
    ::close(ends[0]);
    return tool.Wait();
}

// The tool converting `bytes` that it reads from a FIFO named on its command line.
RunResult RunOnFifo(const std::string& bytes, const fs::path& fifo, const fs::path& output)
{
    RunResult run;
    {
        const std::jthread feeder = FeedFifo(fifo, bytes);
        run = RunTool({fifo.string(), output.string()});
    }
    fs::remove(fifo);
    return run;
}

class PipedInput : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { std::signal(SIGPIPE, SIG_IGN); }
};

struct Route {
    const char* name;
    std::function<RunResult(const std::string& bytes, const ScratchDir& dir, const fs::path& output)> run;
    const char* inputPath;  // as the progress line shows it; empty: the FIFO's path
};

const std::vector<Route>& Routes()
{
    static const std::vector<Route> routes = {
        {"standard input",
         [](const std::string& bytes, const ScratchDir&, const fs::path& output) {
             return RunOnStandardInput(bytes, output);
         },
         "/dev/stdin"},
        {"FIFO",
         [](const std::string& bytes, const ScratchDir& dir, const fs::path& output) {
             return RunOnFifo(bytes, dir / "scene.fifo", output);
         },
         ""},
    };
    return routes;
}

TEST_F(PipedInput, EveryCorpusFileGivesTheBytesAndLinesOfItsFileConversion)
{
    const auto files = CorpusFiles();
    if (files.empty())
        GTEST_SKIP() << "no corpus of real ASE files at " << ASE2SGL_CORPUS_DIR << " (set ASE2SGL_CORPUS)";
    ScratchDir dir;
    for (const fs::path& file : files) {
        const fs::path fromFile = dir / "from_file.sgl";
        const RunResult direct = RunTool({file.string(), fromFile.string()});
        for (const Route& route : Routes()) {
            SCOPED_TRACE(file.filename().string() + " through " + route.name);
            const fs::path piped = dir / "piped.sgl";
            const RunResult run = route.run(ReadFile(file), dir, piped);
            const std::string inputPath = *route.inputPath != 0 ? route.inputPath : (dir / "scene.fifo").string();
            EXPECT_EQ(run.exitStatus, direct.exitStatus) << run.err;
            EXPECT_EQ(run.out, direct.out);
            EXPECT_EQ(run.err, "Conversion de " + inputPath + " -> " + piped.string() + "\n");
            EXPECT_TRUE(ReadFile(piped) == ReadFile(fromFile)) << "bundle bytes differ";
            fs::remove(piped);
        }
    }
}

// Line ends, a CR LF file and a 0x1A end of input read the same from a pipe.
TEST_F(PipedInput, TextModeRulesHoldForPipedBytes)
{
    ScratchDir dir;
    std::string crlf;
    for (const char c : Scene({BoxMesh("A"), BoxMesh("B")})) {
        if (c == '\n')
            crlf += '\r';
        crlf += c;
    }
    const std::string cutAtCtrlZ = Scene({BoxMesh("A")}) + '\x1a' + Scene({BoxMesh("B")});
    for (const std::string& bytes : {crlf, cutAtCtrlZ, std::string()}) {
        const RunResult run = RunOnStandardInput(bytes, dir / "out.sgl");
        EXPECT_EQ(run.exitStatus, 0) << run.err;
        EXPECT_TRUE(ReadFile(dir / "out.sgl") == ConvertBytes(bytes));
    }
}

// A refused input read from a pipe is reported under the path given, and nothing
// is written.
TEST_F(PipedInput, RefusedInputIsReportedUnderTheGivenPath)
{
    ScratchDir dir;
    MeshSpec tiny;
    tiny.name = "T";
    tiny.vertices = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}};
    tiny.faces = {{0, 1, 2}};
    tiny.vertexNormals.assign(3, {0, 0, 1});
    const RunResult run = RunOnStandardInput(
        Scene(std::vector<MeshSpec>(static_cast<std::size_t>(kMaxObjects) + 1, tiny)), dir / "out.sgl");
    EXPECT_EQ(run.exitStatus, 3);
    EXPECT_NE(run.err.find("\nErreur: /dev/stdin: plus de 5000 objets"), std::string::npos) << run.err;
    EXPECT_FALSE(fs::exists(dir / "out.sgl"));
}

// A large piped input read by two threads: both read the bytes held in memory, and
// the result is that of one thread.
TEST_F(PipedInput, TwoThreadsReadTheHeldBytes)
{
    ScratchDir dir;
    std::vector<MeshSpec> meshes;
    for (int i = 0; i < 200; ++i)
        meshes.push_back(BoxMesh("Box" + std::to_string(i)));
    const std::string scene = Scene(meshes);
    {
        const std::jthread feeder = FeedFifo(dir / "scene.fifo", scene);
        Convert((dir / "scene.fifo").string(), (dir / "out.sgl").string(), GeometryThreads::kTwo);
    }
    EXPECT_TRUE(ReadFile(dir / "out.sgl") == ConvertBytes(scene, GeometryThreads::kOne));
}

// The copy of a piped input costs no memory: 96 MiB arriving through a pipe convert
// under a 64 MiB address-space limit, which holding them would exceed. The copy has
// no name and is gone afterwards: the output's folder holds the bundle alone.
TEST_F(PipedInput, MemoryStaysFlatAndTheCopyLeavesNoFile)
{
    if (testing::kAddressSanitizer)
        GTEST_SKIP() << "built with AddressSanitizer, whose shadow memory cannot fit under an address-space limit";
    constexpr std::uint64_t kLimit = std::uint64_t{64} << 20;
    ScratchDir dir;
    const std::string box = Scene({BoxMesh("Box")});
    std::string bytes = box;
    const std::string skipped = "*COMMENT \"" + std::string(1000, 'c') + "\"\n";  // passed over by both reads
    while (bytes.size() < (std::size_t{96} << 20))
        bytes += skipped;
    const RunResult run = RunPiped({"/dev/stdin", "out.sgl"}, bytes, dir.path(), kLimit);
    EXPECT_EQ(run.exitStatus, 0) << run.err;
    EXPECT_TRUE(ReadFile(dir / "out.sgl") == ConvertBytes(box));
    std::vector<std::string> entries;
    for (const auto& entry : fs::directory_iterator(dir.path()))
        entries.push_back(entry.path().filename().string());
    EXPECT_EQ(entries, std::vector<std::string>{"out.sgl"});
}

// Standard output as the output (through any of its names) is written in place,
// and the completion lines move to standard error, so that standard output carries
// the bundle alone. A piped input is then copied into the temporary folder, and a
// temporary folder that cannot take the copy fails the run with one line.
TEST_F(PipedInput, StandardOutputCarriesTheBundleAlone)
{
    ScratchDir dir;
    const std::string ase = Scene({BoxMesh("A"), BoxMesh("B")});
    WriteFile(dir / "in.ase", ase);
    for (const char* output : {"/dev/stdout", "/proc/self/fd/1", "/dev/fd/1"}) {
        SCOPED_TRACE(output);
        for (const bool piped : {false, true}) {
            const char* input = piped ? "/dev/stdin" : "in.ase";
            const RunResult run = piped ? RunPiped({input, output}, ase, dir.path()) : RunTool({input, output}, dir.path());
            EXPECT_EQ(run.exitStatus, 0) << run.err;
            EXPECT_TRUE(run.out == ConvertBytes(ase)) << run.out.size() << " bytes on standard output";
            EXPECT_EQ(run.err, std::string("Conversion de ") + input + " -> " + output + "\n\nConversion termine\n");
        }
    }
    ::setenv("TMPDIR", (dir / "missing").c_str(), 1);
    const RunResult run = RunPiped({"/dev/stdin", "/dev/stdout"}, ase, dir.path());
    ::unsetenv("TMPDIR");
    EXPECT_EQ(run.exitStatus, 3);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "Conversion de /dev/stdin -> /dev/stdout\nErreur: impossible de creer un fichier temporaire dans " +
                           (dir / "missing").string() + ": No such file or directory\n");
}

// Without an output path, an input named in /dev or /proc derives an output path
// there (/dev/stdin gives /dev/stsgl): refused with one line, nothing written.
TEST_F(PipedInput, DefaultOutputAmongDevicesIsRefused)
{
    const std::string ase = Scene({BoxMesh()});
    struct Case {
        const char* input;
        const char* workingDir;
        const char* output;  // as derived and printed
        const char* written;  // where it would land
    };
    const Case cases[] = {
        {"/dev/stdin", ".", "/dev/stsgl", "/dev/stsgl"},
        {"/dev/fd/0", ".", "/dev/fsgl", "/dev/fsgl"},
        {"/proc/self/fd/0", ".", "/proc/self/fsgl", "/proc/self/fsgl"},
        {"stdin", "/dev", "stsgl", "/dev/stsgl"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.input);
        const RunResult run = RunPiped({c.input}, ase, c.workingDir);
        EXPECT_EQ(run.exitStatus, 3);
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err, std::string("Conversion de ") + c.input + " -> " + c.output + "\nErreur: " + c.output +
                               ": chemin derive de l'entree dans un dossier du systeme (donner la sortie), sortie "
                               "refusee\n");
        EXPECT_FALSE(fs::exists(c.written));
    }
}

}  // namespace
}  // namespace ase2sgl
