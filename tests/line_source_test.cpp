// LineSource (text-mode lines, positions, end of input) and the key operations.
#include "ase/line_source.h"
#include "ase/keys.h"
#include "common/conversion_error.h"
#include "support/key_format.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/stat.h>

#include <csignal>
#endif

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <cmath>
#include <limits>
#include <thread>

namespace ase2sgl {
namespace {

using testing::Bits;
using testing::FormatKey;

struct ReadCase {
    const char* label;
    std::string input;
    std::vector<std::string> lines;  // every line handed out, then the reads give false
};

// Every case runs with several buffer sizes, so lines cross the buffer's end at
// every possible byte.
const std::size_t kChunkSizes[] = {1, 2, 3, 5, 16, LineSource::kDefaultChunk};

std::vector<ReadCase> TextModeCases()
{
    return {
        {"empty input", "", {}},
        {"CR LF and a last line without LF", "A\r\nB", {"A", "B"}},
        {"empty line between two", "A\n\nB\n", {"A", "", "B"}},
        {"line of 300 bytes", std::string(300, 'x') + "\n", {std::string(300, 'x')}},
        {"CR CR LF keeps one CR", "A\r\r\nB\n", {"A\r", "B"}},
        {"lone CR is an ordinary byte", "A\rB\rC\n", {"A\rB\rC"}},
        {"CR at the very end stays", "A\nB\r", {"A", "B\r"}},
        {"CR LF alone is an empty line", "\r\n", {""}},
        {"0x1A ends the input",
         std::string("A\n\x1A"
                     "B\n"),
         {"A"}},
        {"0x1A in a line",
         std::string("AB\x1A"
                     "CD\nEF\n"),
         {"AB"}},
        {"0x1A first gives nothing",
         std::string("\x1A"
                     "A\n"),
         {}},
        {"CR before 0x1A stays", std::string("A\r\x1A"), {"A\r"}},
        {"NUL bytes are ordinary", std::string("A\0B\n\0\n", 6), {std::string("A\0B", 3), std::string("\0", 1)}},
        {"high bytes pass through", "\xE9t\xE9\n", {"\xE9t\xE9"}},
    };
}

// Reads every line of `source` as `c` expects, then the end, twice.
void ExpectLines(LineSource& source, const ReadCase& c)
{
    std::string_view line;
    for (const std::string& expected : c.lines) {
        ASSERT_TRUE(source.ReadLine(line));
        EXPECT_EQ(line, expected);
    }
    EXPECT_FALSE(source.ReadLine(line));
    EXPECT_TRUE(line.empty());
    EXPECT_FALSE(source.ReadLine(line));  // and again, every later read
    EXPECT_EQ(source.LinesRead(), c.lines.size());
}

TEST(LineSource, ReadsLinesAsTextMode)
{
    for (const ReadCase& c : TextModeCases()) {
        for (const std::size_t chunk : kChunkSizes) {
            SCOPED_TRACE(std::string(c.label) + ", chunk " + std::to_string(chunk));
            LineSource source = LineSource::FromMemory(c.input, chunk);
            ExpectLines(source, c);
        }
    }
}

// The same cases from a file: mapped, the window moving along the mapping, where the
// file holds a chunk or more; read into the buffer otherwise, and when asked to.
TEST(LineSource, ReadsFilesAsTextModeMappedOrRead)
{
    testing::ScratchDir dir;
    const auto path = (dir / "case.ase").string();
    for (const ReadCase& c : TextModeCases()) {
        testing::WriteFile(path, c.input);
        for (const std::size_t chunk : kChunkSizes) {
            for (const auto access : {LineSource::Access::kMapWherePossible, LineSource::Access::kReadIntoBuffer}) {
                const bool mapped = access == LineSource::Access::kMapWherePossible;
                SCOPED_TRACE(std::string(c.label) + ", chunk " + std::to_string(chunk) + (mapped ? ", mapped" : ", read"));
                LineSource source(path, chunk, {}, access);
#ifndef _WIN32
                EXPECT_EQ(source.ReadsInPlace(), mapped && !c.input.empty() && c.input.size() >= chunk);
#endif
                ExpectLines(source, c);
            }
        }
    }
}

TEST(LineSource, TellAndSeekToResumeAtTheNextLine)
{
    struct Case {
        std::string input;
        std::int64_t afterFirst;
    };
    for (const Case& c : {Case{"AB\r\nCD\r\n", 4}, Case{"AB\nCD\n", 3}}) {
        for (const std::size_t chunk : kChunkSizes) {
            LineSource source = LineSource::FromMemory(c.input, chunk);
            std::string_view line;
            ASSERT_TRUE(source.ReadLine(line));
            EXPECT_EQ(source.Tell(), c.afterFirst);
            ASSERT_TRUE(source.ReadLine(line));
            EXPECT_FALSE(source.ReadLine(line));
            source.SeekTo(c.afterFirst);
            ASSERT_TRUE(source.ReadLine(line));
            EXPECT_EQ(line, "CD");
            source.Rewind();
            ASSERT_TRUE(source.ReadLine(line));
            EXPECT_EQ(line, "AB");
        }
    }
}

TEST(LineSource, EndOfInputByteStaysUntilSeek)
{
    const std::string input = std::string(
        "A\n\x1A"
        "B\n");
    for (const std::size_t chunk : kChunkSizes) {
        LineSource source = LineSource::FromMemory(input, chunk);
        std::string_view line;
        ASSERT_TRUE(source.ReadLine(line));
        EXPECT_FALSE(source.ReadLine(line));
        EXPECT_EQ(source.Tell(), 2);  // on the 0x1A byte
        source.SeekTo(2);
        EXPECT_FALSE(source.ReadLine(line));
        source.Rewind();
        ASSERT_TRUE(source.ReadLine(line));
        EXPECT_EQ(line, "A");
        EXPECT_FALSE(source.ReadLine(line));
    }
}

// Every line of `source` from where it stands.
std::vector<std::string> AllLines(LineSource& source)
{
    std::vector<std::string> lines;
    for (std::string_view line; source.ReadLine(line);)
        lines.emplace_back(line);
    return lines;
}

// Sources made by Reopen share what any of them found of the 0x1A bytes: whatever
// order they read in, each stops at the first 0x1A on its way and never misses one
// because another source searched the bytes around it. The input has a 0x1A between
// "B" and "C" and lines after it; "seek" sources start past it, which they may read
// since they started there.
TEST(LineSource, SourcesSharingTheInputEachStopAtTheEndByte)
{
    const std::string input = std::string(
                                  "A\n"
                                  "B\x1A"
                                  "C\n") +
                              std::string(40, 'x') + "\nD\n";
    const std::int64_t pastTheMark = 6;  // the start of the 40 x
    struct Order {
        const char* label;
        int firstReadsBefore;  // lines the first source reads before the other starts
        bool otherSeeksPast;
    };
    const Order orders[] = {{"first reads all, then a second", 3, false},
                            {"second reads all before the first", 0, false},
                            {"first one line, second past the mark", 1, false},
                            {"a source past the mark reads first", 0, true},
                            {"one line, then a source past the mark", 1, true}};
    for (const Order& order : orders) {
        for (const std::size_t chunk : kChunkSizes) {
            SCOPED_TRACE(std::string(order.label) + ", chunk " + std::to_string(chunk));
            LineSource first = LineSource::FromMemory(input, chunk);
            std::vector<std::string> firstLines;
            std::string_view line;
            for (int i = 0; i < order.firstReadsBefore && first.ReadLine(line); ++i)
                firstLines.emplace_back(line);
            LineSource other = first.Reopen();
            if (order.otherSeeksPast) {
                other.SeekTo(pastTheMark);
                EXPECT_EQ(AllLines(other), (std::vector<std::string>{std::string(40, 'x'), "D"}));
            } else {
                EXPECT_EQ(AllLines(other), (std::vector<std::string>{"A", "B"}));
            }
            for (std::string_view rest; first.ReadLine(rest);)
                firstLines.emplace_back(rest);
            EXPECT_EQ(firstLines, (std::vector<std::string>{"A", "B"}));
        }
    }
}

TEST(LineSource, BufferGrowsToTheLongestLineOnly)
{
    const std::string longLine(10000, 'q');
    const std::string input = "short\n" + longLine + "\nshort\n";
    LineSource source = LineSource::FromMemory(input, 64);
    std::string_view line;
    ASSERT_TRUE(source.ReadLine(line));
    ASSERT_TRUE(source.ReadLine(line));
    EXPECT_EQ(line, longLine);
    ASSERT_TRUE(source.ReadLine(line));
    EXPECT_GE(source.BufferCapacity(), longLine.size());
    EXPECT_LT(source.BufferCapacity(), 2 * (longLine.size() + 64));
}

TEST(LineSource, ReadsFilesAndReportsFileErrors)
{
    testing::ScratchDir dir;
    testing::WriteFile(dir / "a.ase", "one\r\ntwo\n");
    LineSource source((dir / "a.ase").string());
    std::string_view line;
    ASSERT_TRUE(source.ReadLine(line));
    EXPECT_EQ(line, "one");
    ASSERT_TRUE(source.ReadLine(line));
    EXPECT_EQ(line, "two");
    EXPECT_FALSE(source.ReadLine(line));

    const std::string missing = (dir / "missing.ase").string();
    try {
        LineSource never(missing);
        FAIL() << "opened a missing file";
    } catch (const FileError& error) {
        EXPECT_EQ(std::string(error.what()), "impossible d'ouvrir " + missing + ": No such file or directory");
        EXPECT_EQ(error.errorNumber, ENOENT);
    }
    EXPECT_THROW(LineSource(dir.path().string()), FileError);  // a folder is no text file
}

#ifndef _WIN32
// An input that cannot seek (here a FIFO) is copied into an unnamed file: in the
// folder given, or the temporary folder when that is empty or cannot take it. The
// copy reads as the bytes would, seeks, and outlives the source for Reopen, and no
// file is left in either folder.
TEST(LineSource, CopiesAnInputThatCannotSeek)
{
    testing::ScratchDir dir;
    const std::string bytes = "first\r\n" + std::string(5000, 'x') + "\nlast";
    const std::vector<std::string> expected = {"first", std::string(5000, 'x'), "last"};
    const auto fifo = dir / "input.fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    for (const std::string& folder : {dir.path().string(), std::string(), (dir / "missing").string()}) {
        SCOPED_TRACE("spool folder '" + folder + "'");
        std::jthread feeder([&] { testing::WriteFile(fifo, bytes); });  // waits for the reader
        LineSource source(fifo.string(), 16, folder);
        feeder.join();
        EXPECT_EQ(AllLines(source), expected);
        source.SeekTo(7);
        EXPECT_EQ(AllLines(source), std::vector<std::string>(expected.begin() + 1, expected.end()));
        source.Close();
        LineSource again = source.Reopen();
        source = LineSource::FromMemory("");  // the first source goes; its copy stays for the second
        EXPECT_EQ(AllLines(again), expected);
        std::vector<std::string> entries;
        for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
            entries.push_back(entry.path().filename().string());
        EXPECT_EQ(entries, std::vector<std::string>{"input.fifo"});
    }
}
#endif

// A file of several megabytes, read mapped with small windows and through the
// buffer: the same lines at the same positions, also after seeking back and forth
// (a mapped file gives back the pages it passed, and reads them again when sought).
TEST(LineSource, MappedAndReadFilesGiveTheSameLinesAndPositions)
{
    testing::ScratchDir dir;
    const auto path = (dir / "large.ase").string();
    std::string text;
    std::uint32_t seed = 11;
    const auto next = [&] { return seed = seed * 1664525 + 1013904223, seed >> 8; };
    while (text.size() < (std::size_t{5} << 20)) {
        text += "\t\t\t*MESH_VERTEX " + std::to_string(next() % 100000) + std::string(next() % 200, 'x');
        text += next() % 3 == 0 ? "\r\n" : "\n";
    }
    testing::WriteFile(path, text);
    for (const std::size_t chunk : {std::size_t{4096}, std::size_t{65536}, LineSource::kDefaultChunk}) {
        SCOPED_TRACE("chunk " + std::to_string(chunk));
        LineSource mapped(path, chunk, {}, LineSource::Access::kMapWherePossible);
        LineSource read(path, chunk, {}, LineSource::Access::kReadIntoBuffer);
        std::vector<std::int64_t> starts;
        std::string_view a, b;
        for (;;) {
            const bool more = mapped.ReadLine(a);
            ASSERT_EQ(more, read.ReadLine(b));
            if (!more)
                break;
            ASSERT_EQ(a, b);
            ASSERT_EQ(mapped.LineStart(), read.LineStart());
            starts.push_back(mapped.LineStart());
        }
        ASSERT_EQ(mapped.LinesRead(), read.LinesRead());
        for (int jump = 0; jump < 200; ++jump) {
            const std::int64_t to = starts[next() % starts.size()];
            mapped.SeekTo(to);
            read.SeekTo(to);
            for (int i = 0; i < 3; ++i) {
                const bool more = mapped.ReadLine(a);
                ASSERT_EQ(more, read.ReadLine(b));
                if (!more)
                    break;
                ASSERT_EQ(a, b) << "after seeking to " << to;
            }
        }
    }
}

#ifdef __linux__
// The resident size of the mapping that holds `address`, from /proc/self/smaps.
std::size_t ResidentBytesOfMappingAt(const void* address)
{
    std::ifstream smaps("/proc/self/smaps");
    const auto at = reinterpret_cast<std::uintptr_t>(address);
    bool inside = false;
    for (std::string line; std::getline(smaps, line);) {
        std::uintptr_t from = 0, to = 0;
        char dash = 0;
        std::istringstream head(line);
        if (head >> std::hex >> from >> dash >> to && dash == '-') {
            inside = from <= at && at < to;
        } else if (inside && line.rfind("Rss:", 0) == 0) {
            return std::stoul(line.substr(4)) * 1024;
        }
    }
    return 0;
}

// A 32 MiB file of vertex-normal lines in `dir`; gives its path.
std::string WriteLargeFile(const testing::ScratchDir& dir)
{
    const auto path = (dir / "large.ase").string();
    std::string text;
    for (int i = 0; text.size() < (std::size_t{32} << 20); ++i)
        text += "\t\t\t*MESH_VERTEXNORMAL " + std::to_string(i) + "\t0.0000\t0.0000\t1.0000\n";
    testing::WriteFile(path, text);
    return path;
}

// A file read from start to end keeps only the pages about the window mapped, also
// where the system caches the file in large blocks and maps each block whole (a
// block that is given back only in part stays mapped whole): 32 MiB read through,
// in the file's order, seeking ahead as the geometry read does between objects.
TEST(LineSource, PagesPassedAreGivenBackWhileReading)
{
    testing::ScratchDir dir;
    const std::string path = WriteLargeFile(dir);
    for (const bool seeking : {false, true}) {
        SCOPED_TRACE(seeking ? "seeking ahead" : "line after line");
        LineSource source(path);
        ASSERT_TRUE(source.ReadsInPlace());
        std::size_t mostResident = 0;
        std::string_view line;
        for (std::int64_t lines = 0; source.ReadLine(line); ++lines) {
            if (seeking && lines % 20000 == 0)
                source.SeekTo(source.Tell() + 300000);
            if (lines % 50000 == 0)
                mostResident = std::max(mostResident, ResidentBytesOfMappingAt(source.Mapping()->Data()));
        }
        EXPECT_LE(mostResident, std::size_t{6} << 20);
    }
}

// A source that keeps the pages it passes for others sharing its mapping (the count,
// for the readers behind it) keeps those within its window only: 32 MiB read through
// with 8 MiB kept, while another source on the same mapping waits at the start (as the
// readers of an object wait for its end).
TEST(LineSource, PagesKeptForOthersStayWithinTheirWindow)
{
    testing::ScratchDir dir;
    const std::string path = WriteLargeFile(dir);
    constexpr std::int64_t kWindow = std::int64_t{8} << 20;
    LineSource source(path);
    ASSERT_TRUE(source.ReadsInPlace());
    source.KeepPassedPages(kWindow);
    LineSource waiting = source.Reopen();
    std::size_t mostResident = 0;
    std::string_view line;
    for (std::int64_t lines = 0; source.ReadLine(line); ++lines) {
        if (lines % 50000 == 0)
            mostResident = std::max(mostResident, ResidentBytesOfMappingAt(source.Mapping()->Data()));
    }
    EXPECT_GE(mostResident, static_cast<std::size_t>(kWindow) / 2) << "the pages behind were not kept";
    EXPECT_LE(mostResident, static_cast<std::size_t>(kWindow) + (std::size_t{6} << 20));
    // The source behind reads the same lines, taking in again what was given back.
    std::int64_t lines = 0;
    while (waiting.ReadLine(line))
        ++lines;
    EXPECT_EQ(static_cast<std::uint64_t>(lines), source.LinesRead());
}
#endif

#ifndef _WIN32
// Another program cuts a mapped file shorter while it is read: the bytes that are gone
// are never handed out as lines; the reading fails as a failed read does. A file read
// into the buffer just ends sooner.
TEST(LineSource, AFileCutShorterWhileMappedFailsAsARead)
{
    testing::ScratchDir dir;
    const auto path = dir / "cut.ase";
    std::string text;
    for (int i = 0; i < 4000; ++i)
        text += "\t\t\t*MESH_VERTEX " + std::to_string(i) + "\t1.0\t2.0\t3.0\n";
    for (const auto access : {LineSource::Access::kMapWherePossible, LineSource::Access::kReadIntoBuffer}) {
        const bool mapped = access == LineSource::Access::kMapWherePossible;
        SCOPED_TRACE(mapped ? "mapped" : "read");
        testing::WriteFile(path, text);
        LineSource source(path.string(), 4096, {}, access);
        std::string_view line;
        ASSERT_TRUE(source.ReadLine(line));
        std::filesystem::resize_file(path, 10000);
        std::uint64_t lines = 1;
        try {
            while (source.ReadLine(line)) {
                ASSERT_EQ(line.find('\0'), std::string_view::npos) << "a line of bytes that are gone";
                ++lines;
            }
            EXPECT_FALSE(mapped) << "a mapped file cut shorter read to its end";
        } catch (const FileError& error) {
            EXPECT_TRUE(mapped);
            EXPECT_EQ(error.errorNumber, EIO);
            EXPECT_EQ(std::string(error.what()).rfind("impossible de lire " + path.string(), 0), 0u) << error.what();
        }
        EXPECT_LT(lines, 4000u);
    }
}

// A bus error that is not a touch of a mapped input still ends the process: the
// handler that catches the touches hands every other one on.
TEST(LineSourceDeathTest, OtherBusErrorsStillEndTheProcess)
{
    testing::ScratchDir dir;
    testing::WriteFile(dir / "a.ase", std::string(8192, '\n'));
    LineSource source((dir / "a.ase").string(), 4096);
    ASSERT_TRUE(source.ReadsInPlace());  // the handler is in place
    EXPECT_DEATH(::raise(SIGBUS), "");
}
#endif

TEST(StartsWith, ComparesWholeKeyByteForByte)
{
    const std::string_view key = keys::kFaceStart;
    EXPECT_TRUE(StartsWith("\t\t\t*MESH_FACE    0:    A:    0 B:    1", key));
    EXPECT_TRUE(StartsWith(key, key));
    EXPECT_FALSE(StartsWith("\t\t\t*MESH_FACE    0", key));  // one byte short
    EXPECT_FALSE(StartsWith("\t\t\t*MESH_FACENORMAL 0\t0.0\t0.0\t1.0", key));
    EXPECT_FALSE(StartsWith("\t\t *MESH_FACE    0:", key));  // a blank is not a tab
    EXPECT_TRUE(StartsWith("\t\t*MESH_NORMALS {", keys::kNormalsBlock));
    EXPECT_FALSE(StartsWith("\t\t*NODE_NAME \"Box01\"", keys::kNodeHeader));
    EXPECT_EQ(keys::kNodeHeader.size(), 13u);
    EXPECT_EQ(keys::kNormalsBlock.size(), 15u);
}

// Keys of every length up to 40 (the word compare's whole words, its overlapping
// last word, and the short keys it leaves to memcmp): a line that holds the key
// matches, one that differs in any single byte of it or ends one byte early does not.
TEST(StartsWith, FindsEveryDifferenceAtEveryKeyLength)
{
    const std::string text = "\t\t\t\t*MESH_VERTEXNORMAL 12\t-0.5773\t0.5773\t0.5773 and more";
    for (std::size_t n = 0; n <= 40; ++n) {
        const std::string key = text.substr(0, n);
        EXPECT_TRUE(StartsWith(text, key)) << n;
        EXPECT_TRUE(StartsWith(key, key)) << n;
        if (n > 0) {
            EXPECT_FALSE(StartsWith(std::string_view(key).substr(0, n - 1), key)) << n;
        }
        for (std::size_t i = 0; i < n; ++i) {
            std::string line = text;
            line[i] = static_cast<char>(line[i] ^ 0x20);
            EXPECT_FALSE(StartsWith(line, key)) << n << " " << i;
        }
    }
}

TEST(FormatKey, WritesPaddedAndPlainNumbers)
{
    struct Case {
        std::string_view format;
        std::int64_t n;
        std::string expected;
    };
    const Case cases[] = {
        {keys::kVertex, 5, "\t\t\t*MESH_VERTEX    5\t"},
        {keys::kVertex, 1234, "\t\t\t*MESH_VERTEX 1234\t"},
        {keys::kVertex, 10000, "\t\t\t*MESH_VERTEX 10000\t"},
        {keys::kFace, 12, "\t\t\t*MESH_FACE   12:"},
        {keys::kTexVertex, 1, "\t\t\t*MESH_TVERT 1"},
        {keys::kTexVertex, 12345, "\t\t\t*MESH_TVERT 12345"},
        {keys::kVertexScan, 7, "\t\t\t*MESH_VERTEX    7\t%f\t%f\t%f"},
        {keys::kFaceScan, 12, "\t\t\t*MESH_FACE   12:    A:%d B:%d C:%d AB:"},
    };
    std::string out;
    for (const Case& c : cases) {
        FormatKey(out, c.format, c.n);
        EXPECT_EQ(out, c.expected) << c.format << " with " << c.n;
    }
}

TEST(ScanLine, ReadsIntegersAndFloats)
{
    std::int32_t number = -1;
    float u = -1, v = -1;
    EXPECT_EQ(ScanLine("\t\t\t*MESH_TVERT 3\t0.2500\t-1.5e-1\t0.0000", keys::kTexVertexScan, {number, u, v}), 3);
    EXPECT_EQ(number, 3);
    EXPECT_EQ(u, 0.25f);
    EXPECT_EQ(v, -0.15f);

    // Whitespace in the format matches any run of it, none included.
    std::int32_t a = 0, b = 0, c = 0;
    EXPECT_EQ(ScanLine("\t\t\t*MESH_FACE    1:    A:    2 B:\v3 C:-4 AB:",
                       "\t\t\t*MESH_FACE    1:    A:%d B:%d C:%d AB:", {a, b, c}),
              3);
    EXPECT_EQ(std::make_tuple(a, b, c), std::make_tuple(2, 3, -4));
    EXPECT_EQ(ScanLine("*MESH_FACE 1:A:7 B:8 C:9", "\t\t\t*MESH_FACE    1:    A:%d B:%d C:%d", {a, b, c}), 3);
    EXPECT_EQ(std::make_tuple(a, b, c), std::make_tuple(7, 8, 9));
}

TEST(ScanLine, StopsAtTheFirstMismatchKeepingLaterTargets)
{
    struct Case {
        const char* label;
        std::string_view line;
        int stored;
    };
    const Case cases[] = {
        {"differs before the first value", "\t\t\t*MESH_TVERX 3\t1\t2", 0},
        {"line ends before the first value", "\t\t\t*MESH_TVERT", 0},
        {"no number where one is due", "\t\t\t*MESH_TVERT x\t1\t2", 0},
        {"sign without digits", "\t\t\t*MESH_TVERT -\t1\t2", 0},
        {"two signs", "\t\t\t*MESH_TVERT 3\t+-1\t2", 1},
        {"a sign at the line's end", "\t\t\t*MESH_TVERT 3\t1\t-", 2},
        {"second value not a number", "\t\t\t*MESH_TVERT 3\t1.0\tabc", 2},
        {"a lone dot is no number", "\t\t\t*MESH_TVERT 3\t.\t2", 1},
        {"inf is not read", "\t\t\t*MESH_TVERT 3\tinf\t2", 1},
        {"NUL is no whitespace",
         std::string_view("\t\t\t*MESH_TVERT 3\t\0"
                          "1\t2",
                          19),
         1},
    };
    for (const Case& c : cases) {
        std::int32_t number = -7;
        float u = -7, v = -7;
        EXPECT_EQ(ScanLine(c.line, keys::kTexVertexScan, {number, u, v}), c.stored) << c.label;
        EXPECT_EQ(number == -7, c.stored < 1) << c.label;
        EXPECT_EQ(u == -7, c.stored < 2) << c.label;
        EXPECT_EQ(v, -7) << c.label;
    }
}

TEST(ScanLine, FloatsRoundOnceLikeStrtof)
{
    struct Case {
        const char* text;
        std::uint32_t bits;
        std::string_view rest;  // what the number leaves of "<text> rest"
    };
    const float inf = std::numeric_limits<float>::infinity();
    const Case cases[] = {
        {"0.1", Bits(0.1f), ""},
        {"-0.0000", 0x80000000u, ""},
        {"+2.5", Bits(2.5f), ""},
        {"-0.8028", Bits(-0.8028f), ""},
        {"-1234.5678", Bits(-1234.5678f), ""},
        {".5", Bits(0.5f), ""},
        {"5.", Bits(5.0f), ""},
        {"1e3", Bits(1000.0f), ""},
        {"1E+3", Bits(1000.0f), ""},
        {"1e", Bits(1.0f), "e"},
        {"1e+", Bits(1.0f), "e+"},
        {"2.5ex", Bits(2.5f), "ex"},
        {"16777217", Bits(16777216.0f), ""},  // ties to even
        {"3.4028235e38", Bits(std::numeric_limits<float>::max()), ""},
        {"3.5e38", Bits(inf), ""},
        {"-1e400", Bits(-inf), ""},
        {"1e-40", Bits(1e-40f), ""},  // subnormal
        {"1.4e-45", 1u, ""},
        {"7e-46", 0u, ""},
        {"1e-400", 0u, ""},
        {"0.000000000000000000000000000000000000000000000000000001e56", Bits(100.0f), ""},
        {"123456789012345678901234567890", Bits(1.23456789012345678901234567890e29f), ""},
        {"0x10", 0u, "x10"},
        // 16 or more significant digits just above a halfway point between two
        // floats: one rounding goes up, a rounding to double first lands on the
        // halfway point and then goes to even, the value below.
        {"16777217.00000000001", 0x4B800001u, ""},
        {"-16777217.00000000001", 0xCB800001u, ""},
        {"16777221.00000000001", 0x4B800003u, ""},
        {"1.677721700000000001e7", 0x4B800001u, ""},
        {"1.0000000596046447753906251", 0x3F800001u, ""},
        {"0.500000029802322387695312501", 0x3F000001u, ""},
        {"-1.0000000596046447753906251E0", 0xBF800001u, ""},
    };
    for (const Case& c : cases) {
        float value = -7;
        const std::string line = std::string("v ") + c.text + "|";
        EXPECT_EQ(ScanLine(line, "v %f", {value}), 1) << c.text;
        EXPECT_EQ(Bits(value), c.bits) << c.text;
        // What stays in the line: scan it as a literal.
        const std::string restFormat = std::string("v %f") + std::string(c.rest) + "|%f";
        float probe = -7;
        EXPECT_EQ(ScanLine(line + "9", restFormat, {value, probe}), 2) << c.text;
    }
}

TEST(ScanLine, IntegersSaturateAtTheInt32Range)
{
    struct Case {
        const char* text;
        std::int32_t value;
    };
    const Case cases[] = {{"2147483647", 2147483647},
                          {"2147483648", 2147483647},
                          {"99999999999999999999", 2147483647},
                          {"-2147483648", -2147483648},
                          {"-2147483649", -2147483648},
                          {"+12", 12},
                          {"007", 7}};
    for (const Case& c : cases) {
        std::int32_t value = 0;
        EXPECT_EQ(ScanLine(std::string("n ") + c.text, "n %d", {value}), 1) << c.text;
        EXPECT_EQ(value, c.value) << c.text;
    }
}

// ReadLineStartingWith against ReadLine and StartsWith in a loop: the same lines found,
// at the same offsets, with the same count of lines read and the same position after,
// on random texts of lines that begin with the prefix's bytes or some of them, with
// CR LF, lone CRs, empty lines, an end-of-file byte and long lines, through buffers
// from 1 byte (every line crosses a buffer's end) to the default.
TEST(LineSource, ReadLineStartingWithFindsWhatALoopFinds)
{
    const std::string_view starts[] = {"\t*NODE_NAME \"A\"", "\t*NODE_TM {", "\t\t*NODE_NAME \"B\"", "\t*",
                                       "\t",  "*NODE_NAME", "", "\r", "\t*NODE_NAME \"C\"\r",
                                       "\t\t\t*MESH_VERTEX    0\t1.0\t2.0\t3.0 and some more bytes to pass",
                                       "\t*NODE_NAME", "\x1A", std::string_view("\t\0*", 3)};
    const std::string_view prefix = keys::kNodeHeader;
    std::uint32_t seed = 7;
    const auto next = [&] { return seed = seed * 1664525 + 1013904223, seed >> 8; };
    for (int round = 0; round < 400; ++round) {
        std::string text;
        const std::uint32_t lines = next() % 60;
        for (std::uint32_t i = 0; i < lines; ++i) {
            text += starts[next() % std::size(starts)];
            text += std::string(next() % 40, 'x');
            if (next() % 8 != 0 || i + 1 < lines)
                text += next() % 4 == 0 ? "\r\n" : "\n";
        }
        for (const std::size_t chunk : {std::size_t{1}, std::size_t{7}, std::size_t{64}, LineSource::kDefaultChunk}) {
            LineSource slow = LineSource::FromMemory(text, chunk), fast = LineSource::FromMemory(text, chunk);
            std::string_view slowLine, fastLine;
            for (;;) {
                bool slowFound = false;
                while (slow.ReadLine(slowLine)) {
                    if (StartsWith(slowLine, prefix)) {
                        slowFound = true;
                        break;
                    }
                }
                const bool fastFound = fast.ReadLineStartingWith(prefix, fastLine);
                ASSERT_EQ(fastFound, slowFound) << "round " << round << ", buffer " << chunk;
                ASSERT_EQ(fast.Tell(), slow.Tell()) << "round " << round << ", buffer " << chunk;
                ASSERT_EQ(fast.LinesRead(), slow.LinesRead()) << "round " << round << ", buffer " << chunk;
                if (!fastFound)
                    break;
                ASSERT_EQ(fastLine, slowLine) << "round " << round << ", buffer " << chunk;
                ASSERT_EQ(fast.LineStart(), slow.LineStart()) << "round " << round << ", buffer " << chunk;
            }
        }
    }
}

}  // namespace
}  // namespace ase2sgl
