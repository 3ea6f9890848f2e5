// The parallel geometry read against the sequential one (two threads and more): the same objects, in the
// same order, with the same arrays, on real files, on generated-like scenes and on
// layouts that make objects run into each other (where it must fall back).
#include "ase/line_source.h"
#include "ase/mesh_tables.h"
#include "ase/split_object.h"
#include "common/conversion_error.h"
#include "common/format_limits.h"
#include "conversion/convert.h"
#include "platform/cores.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <fcntl.h>
#include <sched.h>
#include <unistd.h>
#endif

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <thread>

namespace ase2sgl {
namespace {

using testing::MeshSpec;

#ifdef _WIN32
// Windows shows a program no thread's run state. Asked once the calling thread has
// opened its input, this gives it half a second first, in which it reads its one
// small object and waits (a few microseconds of work, milliseconds under Wine), and
// then says it sleeps.
using ThreadNumber = int;
ThreadNumber CurrentThreadNumber()
{
    return 0;
}
char ThreadState(ThreadNumber)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    return 'S';
}
#else
using ThreadNumber = pid_t;
ThreadNumber CurrentThreadNumber()
{
    return ::gettid();
}
// The state of a thread of this process from /proc: 'R' running, 'S' sleeping...
// It allocates nothing, so that the thread asking cannot make the other one wait
// for the allocator's lock.
char ThreadState(ThreadNumber thread)
{
    char path[64];
    std::snprintf(path, sizeof path, "/proc/self/task/%d/stat", static_cast<int>(thread));
    const int fd = ::open(path, O_RDONLY);
    if (fd < 0)
        return '?';
    char text[512];
    const ssize_t length = ::read(fd, text, sizeof text);
    ::close(fd);
    const std::string_view stat(text, length > 0 ? static_cast<std::size_t>(length) : 0);
    const std::size_t nameEnd = stat.rfind(')');
    return nameEnd != std::string_view::npos && nameEnd + 2 < stat.size() ? stat[nameEnd + 2] : '?';
}
#endif

// Arranges which thread of the two-thread read takes objects 0 and 1: the helper
// thread object 0, the calling thread object 1, each as the first object it reads.
// The calling thread's input opens only once the helper hands object 0 to the sink;
// the helper returns from the sink only once the calling thread sleeps, that is
// after it took object 1 and read it (and then waits for its turn, or sets the
// object aside for the helper to hand on): once it has opened its input, nothing
// else it does before can put it to sleep, since the helper holds no lock and
// allocates nothing while it waits. Every wait is bounded.
class SplitFirstTwoObjects {
  public:
    explicit SplitFirstTwoObjects(std::string_view ase) : ase_(ase) {}

    InputOpener Opener()
    {
        return [this] {
            if (std::this_thread::get_id() == caller_ && !callerOpened_) {
                std::unique_lock lock(mutex_);
                changed_.wait_for(lock, kPatience, [&] { return helperInSink_; });
                callerOpened_ = true;
            }
            return LineSource::FromMemory(ase_);
        };
    }
    // Called by the sink before it takes object `object`.
    void BeforeSink(std::int32_t object)
    {
        if (object < 2)
            sinkThread_[object] = std::this_thread::get_id();
        if (object != 0 || std::this_thread::get_id() == caller_)
            return;
        {
            const std::lock_guard lock(mutex_);
            helperInSink_ = true;
        }
        changed_.notify_all();
        const auto giveUp = std::chrono::steady_clock::now() + kPatience;
        while ((!CallerOpened() || ThreadState(callerTid_) != 'S') && std::chrono::steady_clock::now() < giveUp)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }

    // True when objects 0 and 1 went as arranged: object 0 handed on by the helper
    // before the calling thread opened its input, so that object 1 was its first.
    bool Arranged() { return sinkThread_[0] != caller_ && CallerOpened(); }

  private:
    bool CallerOpened()
    {
        const std::lock_guard lock(mutex_);
        return callerOpened_;
    }

    static constexpr std::chrono::seconds kPatience{10};
    std::string_view ase_;
    const std::thread::id caller_ = std::this_thread::get_id();
    const ThreadNumber callerTid_ = CurrentThreadNumber();
    std::mutex mutex_;
    std::condition_variable changed_;
    bool helperInSink_ = false;
    bool callerOpened_ = false;
    std::thread::id sinkThread_[2];
};

// Beside the count: as the conversion runs it, and with the count kept right behind
// the readers (it reads objects itself after every object it adds).
enum class Read { kSequential, kParallel, kParallelFirstTwoSplit, kBesideTheCount, kBesideTheCountNear };

// Every object the sink received, flattened to bytes: number, count, corners.
std::string Collect(std::string_view ase, Read read, int threads = 2)
{
    LineSource input = LineSource::FromMemory(ase);
    const MeshTables tables = CountObjects(input, "test");
    SplitFirstTwoObjects split(ase);
    std::string out;
    std::int32_t expected = 0;
    const ObjectSink sink = [&](std::int32_t object, const ObjectArrays& arrays) {
        if (read == Read::kParallelFirstTwoSplit)
            split.BeforeSink(object);
        EXPECT_EQ(object, expected++);  // in order, each once
        out.append(reinterpret_cast<const char*>(&object), sizeof object);
        out.append(reinterpret_cast<const char*>(&arrays.cornersRead), sizeof arrays.cornersRead);
        out.append(reinterpret_cast<const char*>(arrays.corners.data()),
                   sizeof(CornerRecord) * static_cast<std::size_t>(arrays.cornersRead));
    };
    if (read == Read::kSequential)
        ReadGeometry(input, tables, sink);
    else if (read == Read::kBesideTheCount || read == Read::kBesideTheCountNear) {
        // The count again, on this thread, with the readers behind it: the same
        // tables come back, and each object reaches the sink with its name.
        LineSource counted = LineSource::FromMemory(ase);
        const NamedObjectSink named = [&](std::int32_t object, const std::string& name, const ObjectArrays& arrays) {
            EXPECT_EQ(name, tables.nameText.at(static_cast<std::size_t>(object)));
            sink(object, arrays);
        };
        const InputOpener open = [&] { return LineSource::FromMemory(ase); };
        const MeshTables again =
            read == Read::kBesideTheCount
                ? CountAndReadGeometry(counted, open, "test", named, threads)
                : CountAndReadGeometry([&](const ObjectCounted& tell) { return CountObjects(counted, "test", tell); },
                                       open, named, threads, 0);
        EXPECT_EQ(again.objectCount, tables.objectCount);
        EXPECT_EQ(again.objectStart, tables.objectStart);
        EXPECT_EQ(again.inputBytes, tables.inputBytes);
    } else if (read == Read::kParallel)
        ReadGeometryInParallel([&] { return LineSource::FromMemory(ase); }, tables, sink, threads);
    else {
        ReadGeometryInParallel(split.Opener(), tables, sink);
        EXPECT_TRUE(split.Arranged()) << "objects 0 and 1 were not read by different threads";
    }
    EXPECT_EQ(expected, tables.objectCount);
    return out;
}

void ExpectSameAsSequential(std::string_view ase, const std::string& label)
{
    const std::string sequential = Collect(ase, Read::kSequential);
    // More threads than cores too: threads then wait for their turn while others
    // still read, the case a many-core machine makes common.
    for (const int threads : {1, 2, 3, 8}) {
        for (int run = 0; run < 5; ++run) {  // thread timing differs from run to run
            ASSERT_EQ(Collect(ase, Read::kParallel, threads), sequential)
                << label << ", " << threads << " threads, run " << run;
            ASSERT_EQ(Collect(ase, Read::kBesideTheCount, threads), sequential)
                << label << ", " << threads << " threads beside the count, run " << run;
            ASSERT_EQ(Collect(ase, Read::kBesideTheCountNear, threads), sequential)
                << label << ", " << threads << " threads beside the count kept near, run " << run;
        }
    }
}

MeshSpec Mesh(std::string name, int faces, bool texture, bool normals)
{
    MeshSpec mesh = testing::BoxMesh(std::move(name));
    mesh.faces.clear();
    mesh.texFaces.clear();
    mesh.vertexNormals.clear();
    for (int f = 0; f < faces; ++f) {
        mesh.faces.push_back({f % 8, (f + 3) % 8, (f + 5) % 8});
        mesh.texFaces.push_back({f % 12, (f + 1) % 12, (f + 7) % 12});
        for (int i = 0; i < 3; ++i)
            mesh.vertexNormals.push_back({0.25f * static_cast<float>(i), -0.5f, static_cast<float>(f) * 0.001f});
    }
    if (!texture) {
        mesh.texVertices.clear();
        mesh.texFaces.clear();
    }
    if (!normals) {
        mesh.vertexNormals.clear();
        mesh.normalsBlock = false;
    }
    return mesh;
}

TEST(ParallelGeometry, MatchesTheSequentialReadOnWellFormedScenes)
{
    std::vector<MeshSpec> meshes;
    for (int i = 0; i < 40; ++i)
        meshes.push_back(Mesh("Mesh" + std::to_string(i), 1 + (i * 37) % 300, true, true));
    const std::string scene = testing::Scene(meshes);
    ExpectSameAsSequential(scene, "LF");
    std::string crlf;
    for (const char c : scene)
        crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    ExpectSameAsSequential(crlf, "CR LF");
}

// Meshes without normals or texture lists run into the next object; a face line
// that does not scan takes its numbers from the object before.
TEST(ParallelGeometry, FallsBackWhereObjectsRunIntoEachOther)
{
    struct Case {
        const char* label;
        std::vector<MeshSpec> meshes;
    };
    std::vector<Case> cases = {
        {"no normals in the middle",
         {Mesh("A", 5, true, true), Mesh("B", 7, true, false), Mesh("C", 9, true, true), Mesh("D", 4, true, true)}},
        {"no texture lists", {Mesh("A", 5, false, true), Mesh("B", 7, false, true), Mesh("C", 9, true, true)}},
        {"neither",
         {Mesh("A", 5, true, true), Mesh("B", 7, false, false), Mesh("C", 9, false, false), Mesh("D", 3, true, true),
          Mesh("E", 3, true, true)}},
        {"last without normals", {Mesh("A", 5, true, true), Mesh("B", 7, true, false)}},
    };
    for (const Case& c : cases)
        ExpectSameAsSequential(testing::Scene(c.meshes), c.label);

    // First face lines whose numbers do not scan: each such object takes the numbers
    // the object before it left, whichever thread read that one.
    std::vector<MeshSpec> meshes;
    for (int i = 0; i < 30; ++i)
        meshes.push_back(Mesh("M" + std::to_string(i), 300 + 40 * i, true, true));
    std::string scene = testing::Scene(meshes);
    const std::string firstFace = "\t\t\t*MESH_FACE    0:    A:";
    int broken = 0;
    for (std::size_t at = scene.find(firstFace); at != std::string::npos; at = scene.find(firstFace, at + 1)) {
        if (broken++ % 2 == 1)
            scene.replace(at + firstFace.size(), 5, "    x");
    }
    ExpectSameAsSequential(scene, "unscannable first face lines");

    // A vertex-start line with no node header before it, and a node header with no mesh.
    const std::string stray = testing::Lines({"\t\t\t*MESH_VERTEX    0\t1.0\t2.0\t3.0", "\t*NODE_NAME \"Empty\""});
    ExpectSameAsSequential(testing::Scene({Mesh("A", 5, true, true)}) + stray +
                               testing::Scene({Mesh("B", 6, true, true), Mesh("C", 2, true, true)}),
                           "stray vertex-start line");
}

// The check that makes the two-thread read give what the sequential read gives
// where an object takes face numbers from the one before it (the carry), on a
// scene of two objects. The first object is read by one thread and the second by
// the other, each as the first object it reads, so no state a thread kept can
// stand in for the check.
TEST(ParallelGeometry, CarryCheckDecidesAFixedCase)
{
    const MeshSpec first = Mesh("A", 5, true, true);
    const std::string firstFace = "\t\t\t*MESH_FACE    0:    A:";
    const std::string firstTexFace = "\t\t\t*MESH_TFACE 0\t";
    struct Case {
        const char* label;
        std::string scene;
    };
    const Case cases[] = {
        // The second object's first face line does not scan: it keeps the face numbers
        // the first object left.
        {"the first face scan stored less than all",
         [&] {
             std::string scene = testing::Scene({first, Mesh("B", 7, true, true)});
             scene.replace(scene.rfind(firstFace) + firstFace.size(), 5, "    x");
             return scene;
         }()},
        // Likewise for the first texture-face line, which stores one number of four.
        {"the first texture-face scan stored less than all",
         [&] {
             std::string scene = testing::Scene({first, Mesh("B", 7, true, true)});
             scene.replace(scene.rfind(firstTexFace) + firstTexFace.size(), 1, "x");
             return scene;
         }()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        EXPECT_EQ(Collect(c.scene, Read::kParallelFirstTwoSplit), Collect(c.scene, Read::kSequential));
    }
}

TEST(ParallelGeometry, MatchesTheSequentialReadOnTheCorpus)
{
    const std::vector<std::filesystem::path> files = testing::CorpusFiles();
    if (files.empty())
        GTEST_SKIP() << "no corpus (../shared/corpus beside the checkout)";
    for (const std::filesystem::path& file : files)
        ExpectSameAsSequential(testing::ReadFile(file), file.filename().string());
}

// Every object split over line ranges (the threshold lowered for the test): the
// parallel reads, after the count and beside it, give the sequential objects, with
// the carry between objects, where the split read is refused, and on a scene that is
// one large object, the case the split is for; the whole conversion gives the same
// bundle.
TEST(ParallelGeometry, SplitObjectsGiveTheSequentialRead)
{
    struct LowThreshold {
        LowThreshold() { SetSplitFromBytesForTests(0); }
        ~LowThreshold() { SetSplitFromBytesForTests(kSplitFrom); }
    } lowThreshold;
    std::vector<std::pair<std::string, std::string>> scenes = {
        {"one object", testing::Scene({Mesh("A", 3000, true, true)})},
        {"one object without normals", testing::Scene({Mesh("A", 700, true, false)})},
        {"objects running into each other",
         testing::Scene({Mesh("A", 5, false, false), Mesh("B", 40, true, true), Mesh("C", 9, true, false)})},
        {"a face line that does not scan first",
         testing::Replace(testing::Scene({Mesh("A", 30, true, true), Mesh("B", 30, true, true)}), "*MESH_FACE    0:    A:",
                 "*MESH_FACE    0:    A:x")},
    };
    for (const std::filesystem::path& file : testing::CorpusFiles())
        scenes.emplace_back(file.filename().string(), testing::ReadFile(file));
    for (const auto& [label, ase] : scenes) {
        const std::string sequential = Collect(ase, Read::kSequential);
        for (const int threads : {2, 3}) {
            ASSERT_EQ(Collect(ase, Read::kParallel, threads), sequential) << label << ", " << threads << " threads";
            ASSERT_EQ(Collect(ase, Read::kBesideTheCount, threads), sequential)
                << label << ", " << threads << " threads beside the count";
        }
        SetSplitFromBytesForTests(kSplitFrom);
        const std::string bundle = ConvertBytes(ase, GeometryThreads::kOne);
        SetSplitFromBytesForTests(0);
        EXPECT_EQ(ConvertBytes(ase, GeometryThreads::kTwo), bundle) << label;
        EXPECT_EQ(ConvertBytes(ase, GeometryThreads::kTwoBesideTheCount), bundle) << label;
    }
}

// Every cut of a scene: inputs that end inside an object.
TEST(ParallelGeometry, MatchesTheSequentialReadOnEveryCut)
{
    const std::string scene =
        testing::Scene({Mesh("A", 2, true, true), Mesh("B", 2, false, true), Mesh("C", 2, true, true)});
    for (std::size_t cut = 0; cut <= scene.size(); cut += 7) {
        const std::string_view part(scene.data(), cut);
        const std::string sequential = Collect(part, Read::kSequential);
        ASSERT_EQ(Collect(part, Read::kParallel), sequential) << "cut at " << cut;
        ASSERT_EQ(Collect(part, Read::kBesideTheCount), sequential) << "cut at " << cut << ", beside the count";
        ASSERT_EQ(Collect(part, Read::kBesideTheCountNear), sequential) << "cut at " << cut << ", count kept near";
    }
}

// The first read in parallel parts against the sequential one: the same tables (names,
// counts, starts, length read) or the same refusal, for every number of parts, on
// scenes whose objects run into each other, with node headers inside lists, headers
// with no mesh, an end-of-file byte, and on lines dropped and repeated at random.
std::string Tables(std::string_view ase, int threads)
{
    LineSource input = LineSource::FromMemory(ase);
    std::string out;
    try {
        const MeshTables tables =
            threads == 1 ? CountObjects(input, "test")
                         : CountObjectsInParallel(input, [&] { return LineSource::FromMemory(ase); }, "test", threads);
        out = std::to_string(tables.objectCount) + " objects, " + std::to_string(tables.inputBytes) + " bytes\n";
        for (std::size_t i = 0; i < tables.nameText.size(); ++i)
            out += tables.nameText[i] + " " + std::to_string(tables.vertexCount[i]) + " " +
                   std::to_string(tables.cornerCount[i]) + " " + std::to_string(tables.objectStart[i]) + "\n";
        std::string_view line;
        EXPECT_TRUE(input.Tell() == 0 && (input.ReadLine(line) || ase.empty())) << "not rewound";
    } catch (const std::exception& e) {
        out = std::string("refused: ") + e.what();
    }
    return out;
}

// `thin`: under Wine, where every thread start costs a millisecond or more, the
// sweeps of hundreds of inputs below count in 2 and 7 parts only.
void ExpectSameCount(std::string_view ase, const std::string& label, bool thin = false)
{
    const std::string sequential = Tables(ase, 1);
    const bool fewer = thin && testing::UnderWine();
    for (const int threads : {2, 3, 4, 7, 16}) {
        if (fewer && threads != 2 && threads != 7)
            continue;
        ASSERT_EQ(Tables(ase, threads), sequential) << label << ", " << threads << " parts";
    }
}

TEST(ParallelCount, MatchesTheSequentialCount)
{
    const std::string stray = testing::Lines({"\t\t\t*MESH_VERTEX    0\t1.0\t2.0\t3.0", "\t*NODE_NAME \"Empty\""});
    const std::string a = testing::Scene({Mesh("A", 5, true, true), Mesh("B", 7, true, false), Mesh("C", 9, false, true)});
    const std::string b = testing::Scene({Mesh("D", 3, false, false), Mesh("E", 4, true, true)});
    struct Case {
        const char* label;
        std::string scene;
    };
    const Case cases[] = {
        {"objects that run into each other", a + b},
        {"a stray vertex-start line and a header with no mesh between", a + stray + b},
        {"a header with no mesh at the end", a + b + stray},
        {"an end-of-file byte in the middle", a + "\x1A" + b},
        {"CR LF", [&] {
             std::string crlf;
             for (const char c : a + b)
                 crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
             return crlf;
         }()},
        {"one long line", std::string(5000, 'x') + "\n" + a},
        {"empty", ""},
    };
    for (const Case& c : cases)
        ExpectSameCount(c.scene, c.label);

    // Every cut, and lines dropped or repeated at random.
    const std::string scene = a + stray + b;
    for (std::size_t cut = 0; cut <= scene.size(); cut += 11)
        ExpectSameCount(std::string_view(scene.data(), cut), "cut at " + std::to_string(cut), true);
    std::vector<std::string> lines;
    for (std::size_t at = 0; at < scene.size();) {
        const std::size_t end = std::min(scene.find('\n', at), scene.size());
        lines.push_back(scene.substr(at, end - at + 1));
        at = end + 1;
    }
    std::uint32_t seed = 99;
    for (int variant = 0; variant < 150; ++variant) {
        std::string mutated;
        for (const std::string& line : lines) {
            seed = seed * 1664525 + 1013904223;
            const std::uint32_t roll = (seed >> 16) % 100;
            if (roll >= 6)
                mutated += line;
            if (roll < 3)
                mutated += line + line;  // repeated: a list line twice, a header twice
        }
        ExpectSameCount(mutated, "variant " + std::to_string(variant), true);
    }
}

TEST(ParallelCount, RefusesWhatTheSequentialCountRefuses)
{
    std::vector<MeshSpec> many;
    for (std::int32_t i = 0; i <= kMaxObjects; ++i)
        many.push_back(Mesh("M", 1, true, true));
    const std::string scene = testing::Scene(many);
    const std::string sequential = Tables(scene, 1);
    ASSERT_EQ(sequential.rfind("refused: ", 0), 0u) << sequential.substr(0, 200);
    for (const int threads : {2, 5})
        EXPECT_EQ(Tables(scene, threads), sequential);
}

// Reading beside the count, the count's failure is the one reported, whatever the
// readers met before it (here a sink that fails at object 3, as a full disk would);
// the readers' failure is reported where the count succeeds.
TEST(CountAndReadGeometry, TheCountsFailureComesFirst)
{
    std::vector<MeshSpec> many;
    for (std::int32_t i = 0; i <= kMaxObjects; ++i)
        many.push_back(Mesh("M", 1, true, true));
    const std::string refused = testing::Scene(many);
    const std::string accepted = testing::Scene({Mesh("A", 3, true, true), Mesh("B", 3, true, true),
                                                 Mesh("C", 3, true, true), Mesh("D", 3, true, true),
                                                 Mesh("E", 3, true, true)});
    const std::string refusal = Tables(refused, 1);
    ASSERT_EQ(refusal.rfind("refused: ", 0), 0u);
    struct Case {
        const char* label;
        const std::string* scene;
        bool sinkFails;
        std::string expected;
    };
    const Case cases[] = {
        {"refused", &refused, false, refusal},
        {"refused, and the sink fails first", &refused, true, refusal},
        {"accepted, and the sink fails", &accepted, true, "failed: the sink"},
    };
    for (const Case& c : cases) {
        for (const int threads : {2, 3}) {
            SCOPED_TRACE(std::string(c.label) + ", " + std::to_string(threads) + " threads");
            std::string what;
            LineSource input = LineSource::FromMemory(*c.scene);
            const NamedObjectSink sink = [&](std::int32_t object, const std::string&, const ObjectArrays&) {
                if (c.sinkFails && object == 3)
                    throw std::runtime_error("the sink");
            };
            try {
                CountAndReadGeometry(input, [&] { return LineSource::FromMemory(*c.scene); }, "test", sink, threads);
                what = "no failure";
            } catch (const InputRefused& e) {
                what = std::string("refused: ") + e.what();
            } catch (const std::runtime_error& e) {
                what = std::string("failed: ") + e.what();
            }
            EXPECT_EQ(what, c.expected);
        }
    }
}

// An object is read only once the count has found where the next one starts (or is
// done): an object without normals must not take the next one's. The count here
// waits after each object it adds, long enough for a reader to take that object if
// it were allowed to; none may reach the sink before the next object is added.
TEST(CountAndReadGeometry, AnObjectWaitsForTheNextOnesStart)
{
    const std::string scene = testing::Scene({Mesh("A", 5, true, true), Mesh("B", 7, true, false),
                                              Mesh("C", 9, false, false), Mesh("D", 4, true, true),
                                              Mesh("E", 6, true, false), Mesh("F", 3, true, true)});
    const std::string sequential = Collect(scene, Read::kSequential);
    std::mutex mutex;
    std::condition_variable handedOn;
    std::int32_t lastHanded = -1;
    std::vector<std::int32_t> early;  // objects handed on before the next one was added
    std::string out;
    const NamedObjectSink sink = [&](std::int32_t object, const std::string&, const ObjectArrays& arrays) {
        out.append(reinterpret_cast<const char*>(&object), sizeof object);
        out.append(reinterpret_cast<const char*>(&arrays.cornersRead), sizeof arrays.cornersRead);
        out.append(reinterpret_cast<const char*>(arrays.corners.data()),
                   sizeof(CornerRecord) * static_cast<std::size_t>(arrays.cornersRead));
        {
            const std::lock_guard lock(mutex);
            lastHanded = object;
        }
        handedOn.notify_all();
    };
    LineSource input = LineSource::FromMemory(scene);
    const CountTelling slowCount = [&](const ObjectCounted& counted) {
        return CountObjects(input, "test", ObjectCounted([&](const MeshTables& tables) {
                                counted(tables);
                                const std::int32_t added = tables.objectCount - 1;
                                std::unique_lock lock(mutex);
                                if (handedOn.wait_for(lock, std::chrono::milliseconds(50),
                                                      [&] { return lastHanded >= added; }))
                                    early.push_back(added);
                            }));
    };
    CountAndReadGeometry(slowCount, [&] { return LineSource::FromMemory(scene); }, sink, 2);
    EXPECT_TRUE(early.empty()) << "object " << early.front() << " was read before the next one's start was known";
    EXPECT_EQ(out, sequential);
}

// With slow readers (a sink that takes its time) and the count kept right behind them,
// the counting thread reads most objects itself: only ones whose end is known, never
// the one it has just added. Every other object has no normals, so one read without
// its end would take the next one's.
TEST(CountAndReadGeometry, TheCountingThreadReadsOnlyObjectsThatMayBeRead)
{
    std::vector<MeshSpec> meshes;
    for (int i = 0; i < 12; ++i)
        meshes.push_back(Mesh("M" + std::to_string(i), 3 + i, true, i % 2 == 0));
    const std::string scene = testing::Scene(meshes);
    const std::string sequential = Collect(scene, Read::kSequential);
    std::string out;
    const NamedObjectSink slowSink = [&](std::int32_t object, const std::string&, const ObjectArrays& arrays) {
        std::this_thread::sleep_for(std::chrono::milliseconds(3));
        out.append(reinterpret_cast<const char*>(&object), sizeof object);
        out.append(reinterpret_cast<const char*>(&arrays.cornersRead), sizeof arrays.cornersRead);
        out.append(reinterpret_cast<const char*>(arrays.corners.data()),
                   sizeof(CornerRecord) * static_cast<std::size_t>(arrays.cornersRead));
    };
    for (const int threads : {1, 2, 3}) {
        out.clear();
        LineSource input = LineSource::FromMemory(scene);
        CountAndReadGeometry([&](const ObjectCounted& tell) { return CountObjects(input, "test", tell); },
                             [&] { return LineSource::FromMemory(scene); }, slowSink, threads, 0);
        EXPECT_EQ(out, sequential) << threads << " threads";
    }
}

// The file route beside the count gives the in-memory bytes, on a file large enough
// to be mapped (on POSIX hosts; Windows reads it, and writes the object count over
// through a handle moved there and back): the readers read the pages the count took in
// through the one mapping they share, which are given back behind them; the count
// is kept 1 MiB ahead, so it reads objects itself on one thread and waits on two.
TEST(CountAndReadGeometry, TheFileRouteGivesTheInMemoryBytes)
{
    testing::ScratchDir dir;
    std::vector<MeshSpec> meshes;
    for (int i = 0; i < 60; ++i)
        meshes.push_back(Mesh("M" + std::to_string(i), 400 + 7 * i, i % 5 != 2, i % 7 != 3));
    const std::string scene = testing::Scene(meshes);
    ASSERT_GT(scene.size(), std::size_t{4} << 20);  // past the count's lead, several times over
    testing::WriteFile(dir / "scene.ase", scene);
    const std::string expected = ConvertBytes(scene, GeometryThreads::kOne);
    for (const GeometryThreads threads : {GeometryThreads::kChosen, GeometryThreads::kTwoBesideTheCount}) {
        for (const bool over : {false, true}) {
            if (over)
                testing::WriteFile(dir / "scene.sgl", std::string(100000, 'z'));
            Convert((dir / "scene.ase").string(), (dir / "scene.sgl").string(), threads);
            EXPECT_TRUE(testing::ReadFile(dir / "scene.sgl") == expected)
                << "threads " << static_cast<int>(threads) << (over ? ", over an old file" : "");
        }
    }
}

TEST(ParallelCount, MatchesTheSequentialCountOnTheCorpus)
{
    const std::vector<std::filesystem::path> files = testing::CorpusFiles();
    if (files.empty())
        GTEST_SKIP() << "no corpus (../shared/corpus beside the checkout)";
    for (const std::filesystem::path& file : files)
        ExpectSameCount(testing::ReadFile(file), file.filename().string());
}

// How many threads a large conversion may start: what the affinity mask and a CPU
// quota allow, never what a one-minute load average suggests.
TEST(UsableCores, FollowTheAffinityMask)
{
    EXPECT_GE(platform::UsableCores(), 1);
#if defined(__linux__)
    cpu_set_t all;
    ASSERT_EQ(::sched_getaffinity(0, sizeof all, &all), 0);
    std::size_t first = 0;
    while (!CPU_ISSET(first, &all))
        ++first;
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(first, &one);
    ASSERT_EQ(::sched_setaffinity(0, sizeof one, &one), 0);
    const int pinned = platform::UsableCores();
    ASSERT_EQ(::sched_setaffinity(0, sizeof all, &all), 0);
    EXPECT_EQ(pinned, 1);
    EXPECT_LE(platform::UsableCores(), CPU_COUNT(&all));
#endif
}

#if !defined(_WIN32)
TEST(UsableCores, ReadCgroupQuotas)
{
    struct Case {
        const char* text;
        int cores;
    };
    constexpr Case kCases[] = {
        {"max 100000\n", 0},        // v2, no quota
        {"200000 100000\n", 2},     // docker --cpus=2
        {"150000 100000", 2},       // 1.5 cores: a second thread still gets half a core
        {"50000 100000\n", 1},      // half a core
        {"100000 100000", 1},
        {"1600000 100000", 16},
        {"-1 100000", 0},           // v1, no quota
        {"-1\n 100000\n", 0},       // v1's two files joined as read
        {"400000\n 100000\n", 4},
        {"", 0},                    // no such file
        {"100000", 0},              // half a pair
        {"x 100000", 0},
        {"100000 0", 0},
        {"100000 abc", 0},
    };
    for (const Case& c : kCases)
        EXPECT_EQ(platform::CoresOfQuota(c.text), c.cores) << '"' << c.text << '"';
}
#endif

}  // namespace
}  // namespace ase2sgl
