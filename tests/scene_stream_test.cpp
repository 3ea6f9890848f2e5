// The tolerant reader fed a piece at a time must read exactly what it reads from
// the whole text: the same nodes with the same lists, notes, line numbers and
// facts, wherever the pieces end (one byte at a time included), and it must hand
// each node out once it has been read rather than at the end.
#include "normalize/normalize.h"
#include "support/test_support.h"
#include "tolerant/scene.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <mutex>
#include <sstream>
#include <utility>

namespace ase2sgl {
namespace {

using testing::Replace;
using testing::Utf16;
using tolerant::SceneNode;

// Everything the reader keeps of a node, as text, so that two readings compare
// field by field with a readable difference.
std::string Describe(const SceneNode& node)
{
    std::ostringstream out;
    out << static_cast<int>(node.kind) << " " << node.keyword << " \"" << node.name << "\" named " << node.named
        << " line " << node.line << " group " << node.groupLine << " mesh " << node.hasMesh << "@" << node.meshLine
        << " tm " << node.hasTransform;
    for (const auto& row : node.transform)
        out << " [" << row[0] << "," << row[1] << "," << row[2] << "]";
    const tolerant::MeshLists& m = node.mesh;
    for (const auto* list : {&m.vertices, &m.texVertices})
        for (const auto& v : *list)
            out << "\nv " << v.number << " " << v.value[0] << "," << v.value[1] << "," << v.value[2];
    for (const auto& f : m.faces)
        out << "\nf " << f.number << " " << f.corner[0] << "," << f.corner[1] << "," << f.corner[2] << " " << f.edge[0]
            << f.edge[1] << f.edge[2] << " s " << f.smoothing << " m " << f.materialId << " @" << f.line;
    for (const auto& t : m.texFaces)
        out << "\nt " << t.number << " " << t.corner[0] << "," << t.corner[1] << "," << t.corner[2];
    for (const auto& n : m.faceNormals)
        out << "\nn " << n.number << " " << n.value[0] << "," << n.value[1] << "," << n.value[2] << " "
            << n.firstVertexNormal << "+" << n.vertexNormalCount;
    for (const auto& n : m.vertexNormals)
        out << "\nvn " << n.number << " " << n.value[0] << "," << n.value[1] << "," << n.value[2];
    return out.str();
}

std::string DescribeFacts(const tolerant::Scene& scene)
{
    std::string text = std::string(tolerant::DialectName(scene.dialect)) + ", " +
                       tolerant::EncodingName(scene.encoding) + ", " + tolerant::LineEndsName(scene.lineEnds) +
                       (scene.stoppedAtCtrlZ ? ", stopped at 0x1A" : "");
    for (const tolerant::Note& note : scene.notes)
        text += "\n" + std::to_string(note.line) + ": " + note.text;
    return text;
}

// A node whose name holds U+1F600 (a surrogate pair in UTF-16), then a triangle.
const std::string kTriangle = testing::Lines({
    "*GEOMOBJECT {",
    "\t*NODE_NAME \"Tri\"",
    "\t*NODE_TM {",
    "\t\t*TM_ROW0 1.0 0.0 0.0",
    "\t\t*TM_ROW3 4.0 5.0 6.0",
    "\t}",
    "\t*MESH {",
    "\t\t*MESH_VERTEX_LIST {",
    "\t\t\t*MESH_VERTEX 0 0.0 0.0 0.0",
    "\t\t\t*MESH_VERTEX 1 1.0 0.0 0.0",
    "\t\t\t*MESH_VERTEX 2 0.0 1.0 0.0",
    "\t\t}",
    "\t\t*MESH_FACE_LIST {",
    "\t\t\t*MESH_FACE 0: A: 0 B: 1 C: 2 AB: 1 BC: 1 CA: 0 *MESH_SMOOTHING 1 *MESH_MTLID 0",
    "\t\t}",
    "\t\t*MESH_TVERTLIST {",
    "\t\t\t*MESH_TVERT 0 0.0 0.0 0.0",
    "\t\t}",
    "\t\t*MESH_NORMALS {",
    "\t\t\t*MESH_FACENORMAL 0 0.0 0.0 1.0",
    "\t\t\t\t*MESH_VERTEXNORMAL 0 0.0 0.0 1.0",
    "\t\t}",
    "\t}",
    "}",
});

struct Input {
    std::string label, bytes;
};

std::vector<Input> Inputs()
{
    const std::string header = "*3DSMAX_ASCIIEXPORT 200\n*COMMENT \"AsciiExport Version 2,00\"\n";
    const std::string two = header + kTriangle + Replace(kTriangle, "Tri", "Second");
    std::vector<Input> inputs = {
        {"empty", ""},
        {"two meshes", two},
        {"CR LF", Replace(two, "\n", "\r\n")},
        {"CR alone", Replace(two, "\n", "\r")},
        {"mixed line ends", Replace(header, "\n", "\r\n") + kTriangle + Replace(kTriangle, "\n", "\r")},
        {"no line end at all", Replace(two, "\n", " ")},
        {"UTF-8 with BOM", "\xEF\xBB\xBF" + two},
        {"UTF-16 LE", Utf16(two, true, true)},
        {"UTF-16 BE", Utf16(two, false, true)},
        {"UTF-16 LE without a mark", Utf16(two, true, false)},
        {"UTF-16 BE, odd last byte", Utf16(two, false, false) + "x"},
        {"UTF-16 LE, surrogate pair in a name",
         Utf16(header, true, true) +
             Replace(Utf16(kTriangle, true, false), std::string("T\0r\0i\0", 6), std::string("\x3D\xD8\x00\xDE", 4))},
        {"UTF-16 LE, lone high surrogate at the end", Utf16(two, true, true) + std::string("\x3D\xD8", 2)},
        {"8-bit name", Replace(two, "Second", "Sec\xE9nd")},
        {"8-bit byte after a 0x1A", two + "\x1A" + "\xE9\n"},
        {"0x1A inside a node", Replace(two, "*MESH_VERTEX 1", "\x1A")},
        {"left open", header + kTriangle.substr(0, kTriangle.size() / 2) + kTriangle},
        {"unclosed at the end", header + kTriangle.substr(0, kTriangle.size() / 2)},
        {"groups", header + "*GROUP \"g\" {\n" + kTriangle + "*HELPEROBJECT {\n*NODE_NAME \"h\"\n}\n}\n" + kTriangle},
        {"stray closing braces", "}\n}\n" + two + "}\n"},
        {"statement across lines", Replace(two, "A: 0 B: 1", "A: 0\n B: 1")},
        {"a statement's last word on a line of its own", Replace(two, "2 0.0 1.0 0.0", "2 0.0 1.0\n0.0")},
        {"more words than a statement keeps, across lines",
         Replace(two, "CA: 0 *MESH_SMOOTHING", "CA:\n0 9 9 9 9 9 9 9 9 9 9 9 9 9 9 9 9 9 9 9 9 *MESH_SMOOTHING")},
        // A malformed face line (no C corner) and one with a quoted word among its numbers.
        {"a face line without its C corner", header + Replace(kTriangle, "C: 2 AB:", "AB:") + kTriangle},
        {"a face line with a quoted word", Replace(two, "AB: 1", "\"x y\" AB: 1")},
        {"comment after the first node", kTriangle + "*COMMENT \"Blender 2.7\"\n" + kTriangle},
        {"comment as the last statement", "*3DSMAX_ASCIIEXPORT\t200\n*COMMENT \"Ascii Scene Exporter v2.52\""},
        {"q3map2 spacing, no comment", Replace(kTriangle, "*NODE_NAME ", "*NODE_NAME\t")},
        {"q3map2 spacing after a 0x1A", Replace(two, "*COMMENT \"AsciiExport Version 2,00\"", "\x1A\xE9") +
                                             Replace(kTriangle, "*NODE_NAME ", "*NODE_NAME\t")},
        {"deep nesting", std::string(5000, '{') + kTriangle + std::string(5000, '}')},
    };
    for (const std::filesystem::path& file : testing::CorpusFiles())
        inputs.push_back({file.filename().string(), testing::ReadFile(file)});
    return inputs;
}

// Under Wine, where the reading thread's every hand-over of a piece costs a round trip
// to Wine's server, the inputs over 4 KiB (the corpus files, the deep nesting) are read
// on two threads in pieces of 1000 bytes and more only; the others keep every size.
bool ThinUnderWine(const Input& input, std::size_t readBytes, tolerant::ReadThreads threads)
{
    return threads == tolerant::ReadThreads::kTwo && readBytes < 1000 && input.bytes.size() > 4096 &&
           testing::UnderWine();
}

// Bytes offered in place, as a mapped file's are. Each stretch handed back is
// overwritten at once, so that a node or statement still pointing into it would
// read other text; the stretches are kept, to check that each byte is handed back
// once, and all of them by the end.
class OverwritingSource : public tolerant::ByteSource {
  public:
    explicit OverwritingSource(const std::string& bytes) : bytes_(bytes) {}
    std::size_t Read(char* buffer, std::size_t size) override
    {
        const std::size_t n = std::min(size, bytes_.size() - read_);
        bytes_.copy(buffer, n, read_);
        read_ += n;
        return n;
    }
    std::string_view InPlace() const override { return bytes_; }
    void PassedInPlace(std::size_t offset, std::size_t length) const noexcept override
    {
        const std::lock_guard lock(mutex_);
        std::fill_n(bytes_.begin() + static_cast<std::ptrdiff_t>(offset), length, '}');
        passed_.emplace_back(offset, length);
    }
    // "" when the stretches handed back are one after the other, without a gap or
    // an overlap, up to `end`; else what is wrong.
    std::string PassedUpTo(std::size_t end) const
    {
        const std::lock_guard lock(mutex_);
        std::vector<std::pair<std::size_t, std::size_t>> passed = passed_;
        std::sort(passed.begin(), passed.end());
        for (std::size_t i = 1; i < passed.size(); ++i)
            if (passed[i].first != passed[i - 1].first + passed[i - 1].second)
                return "a gap or an overlap at byte " + std::to_string(passed[i].first);
        if (!passed.empty() && passed.back().first + passed.back().second != end)
            return "handed back up to byte " + std::to_string(passed.back().first + passed.back().second) +
                   " of " + std::to_string(end);
        return "";
    }

    bool AnyPassed() const
    {
        const std::lock_guard lock(mutex_);
        return !passed_.empty();
    }

  private:
    mutable std::mutex mutex_;
    mutable std::string bytes_;
    std::size_t read_ = 0;
    mutable std::vector<std::pair<std::size_t, std::size_t>> passed_;
};

TEST(SceneStream, ReadsWhatTheWholeTextReadsWhereverThePiecesEnd)
{
    for (const Input& input : Inputs()) {
        const tolerant::AseRead whole = tolerant::ReadAse(input.bytes);
        std::vector<std::string> expected;
        for (const SceneNode& node : whole.scene.nodes)
            expected.push_back(Describe(node));
        for (const std::size_t readBytes : {1u, 2u, 3u, 7u, 64u, 1000u, 1u << 20}) {
            // Copied a read at a time on one thread and on two; taken in place (after
            // the first read) on one thread for small reads, on two for large ones.
            for (const int mode : {0, 1, 2}) {
                const tolerant::ReadThreads threads = mode == 1 || (mode == 2 && readBytes >= 1000)
                                                          ? tolerant::ReadThreads::kTwo
                                                          : tolerant::ReadThreads::kOne;
                if (ThinUnderWine(input, readBytes, threads))
                    continue;
                const std::string label = input.label + ", read " + std::to_string(readBytes) + " bytes at a time" +
                                          (threads == tolerant::ReadThreads::kTwo ? " on a thread of its own" : "") +
                                          (mode == 2 ? ", in place" : "");
                std::vector<std::string> streamed;
                tolerant::MemorySource copied(input.bytes);
                OverwritingSource inPlace(input.bytes);
                tolerant::ByteSource& source = mode == 2 ? static_cast<tolerant::ByteSource&>(inPlace) : copied;
                const tolerant::Scene scene = tolerant::StreamAse(
                    source, [&](SceneNode& node) { streamed.push_back(Describe(node)); }, readBytes, threads);
                EXPECT_EQ(streamed, expected) << label;
                EXPECT_EQ(DescribeFacts(scene), DescribeFacts(whole.scene)) << label;
                EXPECT_TRUE(scene.nodes.empty()) << label;
                // Past a 0x1A byte the reading may stop early: nothing more to tell.
                if (mode == 2 && input.bytes.find('\x1A') == std::string::npos) {
                    EXPECT_EQ(inPlace.PassedUpTo(input.bytes.size()), "") << label;
                    if (input.bytes.size() > readBytes && scene.encoding != tolerant::Encoding::kUtf16Le &&
                        scene.encoding != tolerant::Encoding::kUtf16Be) {
                        EXPECT_TRUE(inPlace.AnyPassed()) << label << ": the text was not taken in place";
                    }
                }
            }
        }
    }
}

// Gives the bytes of `count` meshes one after the other, made as they are read
// (on the reading thread, when the reader has one: what it has read so far is
// asked for under a lock).
class GeneratedScene : public tolerant::ByteSource {
  public:
    explicit GeneratedScene(int count) : count_(count) {}
    std::size_t Read(char* buffer, std::size_t size) override
    {
        const std::lock_guard lock(mutex_);
        std::size_t n = 0;
        while (n < size) {
            if (at_ == pending_.size()) {
                if (made_ == count_)
                    break;
                pending_ = Replace(kTriangle, "Tri", "M" + std::to_string(made_++));
                at_ = 0;
                ends_.push_back((ends_.empty() ? 0 : ends_.back()) + pending_.size());
            }
            const std::size_t take = std::min(size - n, pending_.size() - at_);
            pending_.copy(buffer + n, take, at_);
            at_ += take;
            n += take;
        }
        read_ += n;
        return n;
    }
    // Bytes given past the end of mesh `mesh`.
    std::size_t ReadPastEndOf(std::size_t mesh)
    {
        const std::lock_guard lock(mutex_);
        return read_ > ends_.at(mesh) ? read_ - ends_.at(mesh) : 0;
    }

  private:
    std::mutex mutex_;
    int count_, made_ = 0;
    std::string pending_;
    std::size_t at_ = 0;
    std::size_t read_ = 0;           // bytes given so far
    std::vector<std::size_t> ends_;  // where each mesh made so far ends
};

TEST(SceneStream, HandsEachNodeOutOnceItIsRead)
{
    constexpr int kMeshes = 3000;  // about 1.5 MB
    constexpr std::size_t kRead = 4096;
    // Bytes read past a node's end when it is handed out: no more than the piece
    // its end is in; with a reading thread, five pieces more (four waiting, one
    // being cut), and no more, or memory would follow the input rather than its nodes.
    const struct {
        tolerant::ReadThreads threads;
        std::size_t mostAhead;
    } cases[] = {{tolerant::ReadThreads::kOne, kRead}, {tolerant::ReadThreads::kTwo, 6 * kRead}};
    for (const auto& [threads, mostAhead] : cases) {
        GeneratedScene source(kMeshes);
        int handedOut = 0;
        std::size_t furthestAhead = 0;
        tolerant::StreamAse(
            source,
            [&](SceneNode& node) {
                EXPECT_EQ(node.name, "M" + std::to_string(handedOut));
                EXPECT_EQ(node.mesh.vertices.size(), 3u);
                furthestAhead =
                    std::max(furthestAhead, source.ReadPastEndOf(static_cast<std::size_t>(handedOut++)));
            },
            kRead, threads);
        EXPECT_EQ(handedOut, kMeshes);
        EXPECT_LE(furthestAhead, mostAhead) << "nodes are kept back, not handed out as they close";
    }
}

struct ReadFailed {};
struct SinkFailed {};

// Fails once `failAt` bytes have been given.
class FailingSource : public GeneratedScene {
  public:
    FailingSource(int meshes, std::size_t failAt) : GeneratedScene(meshes), left_(failAt) {}
    std::size_t Read(char* buffer, std::size_t size) override
    {
        if (left_ == 0)
            throw ReadFailed{};
        const std::size_t n = GeneratedScene::Read(buffer, std::min(size, left_));
        left_ -= n;
        return n;
    }

  private:
    std::size_t left_;
};

// What the source or the sink throws comes out of the reading as it is, with or
// without a reading thread (which must then stop, not hang), and a failed read
// comes out only after the nodes read before it have been handed out, as without
// the thread.
TEST(SceneStream, AFailedReadOrSinkLeavesTheReading)
{
    constexpr std::size_t kFailAt = 100000;  // within mesh 190 or so, of 2000
    std::vector<int> handedOutBeforeTheFailedRead;
    for (const tolerant::ReadThreads threads : {tolerant::ReadThreads::kOne, tolerant::ReadThreads::kTwo}) {
        const std::string label = threads == tolerant::ReadThreads::kTwo ? "two threads" : "one thread";
        FailingSource failing(2000, kFailAt);
        int handedOut = 0;
        EXPECT_THROW(tolerant::StreamAse(failing, [&](SceneNode&) { ++handedOut; }, 4096, threads), ReadFailed)
            << label;
        handedOutBeforeTheFailedRead.push_back(handedOut);

        GeneratedScene source(2000);
        handedOut = 0;
        EXPECT_THROW(tolerant::StreamAse(
                         source,
                         [&](SceneNode&) {
                             if (++handedOut == 10)
                                 throw SinkFailed{};
                         },
                         4096, threads),
                     SinkFailed)
            << label;
        EXPECT_EQ(handedOut, 10) << label;
    }
    EXPECT_GT(handedOutBeforeTheFailedRead[0], 100);
    EXPECT_EQ(handedOutBeforeTheFailedRead[0], handedOutBeforeTheFailedRead[1]);
}

// Normalized a piece at a time, the text and the report are those of the whole
// text read at once.
TEST(SceneStream, NormalizedTextDoesNotDependOnThePieces)
{
    for (const Input& input : Inputs()) {
        for (const bool keep : {false, true}) {
            normalize::NormalizeOptions options;
            options.keepOtherNodes = keep;
            options.threads = tolerant::ReadThreads::kOne;
            const normalize::NormalizeResult whole = normalize::Normalize(input.bytes, options);
            for (const std::size_t readBytes : {1u, 5u, 4096u}) {
                for (const tolerant::ReadThreads threads : {tolerant::ReadThreads::kOne, tolerant::ReadThreads::kTwo}) {
                    if (ThinUnderWine(input, readBytes, threads))
                        continue;
                    const std::string label = input.label + (keep ? ", others kept" : "") + ", read " +
                                              std::to_string(readBytes) +
                                              (threads == tolerant::ReadThreads::kTwo ? ", two threads" : "");
                    options.readBytes = readBytes;
                    options.threads = threads;
                    std::string text;
                    const normalize::NormalizeResult streamed = normalize::NormalizeTo(
                        input.bytes, [&](std::string_view piece) { text += piece; }, options);
                    ASSERT_EQ(streamed.ok, whole.ok) << label;
                    EXPECT_EQ(text, whole.text) << label;
                    EXPECT_EQ(normalize::DescribeReport(streamed.report), normalize::DescribeReport(whole.report))
                        << label;
                    // Taken in place, on two threads: the nodes are written on a
                    // thread of their own, holding the text they point into.
                    if (threads == tolerant::ReadThreads::kTwo) {
                        OverwritingSource inPlace(input.bytes);
                        std::string inPlaceText;
                        const normalize::NormalizeResult fromPlace = normalize::NormalizeFrom(
                            inPlace, [&](std::string_view piece) { inPlaceText += piece; }, options);
                        ASSERT_EQ(fromPlace.ok, whole.ok) << label << ", in place";
                        EXPECT_EQ(inPlaceText, whole.text) << label << ", in place";
                        EXPECT_EQ(normalize::DescribeReport(fromPlace.report), normalize::DescribeReport(whole.report))
                            << label << ", in place";
                    }
                }
            }
        }
    }
}

// Normalized with the nodes written on a thread of their own, a failed read or a
// failed write of the text still comes out of NormalizeFrom (and nothing hangs).
TEST(SceneStream, NormalizingStopsAtAFailedReadOrWrite)
{
    for (const tolerant::ReadThreads threads : {tolerant::ReadThreads::kOne, tolerant::ReadThreads::kTwo}) {
        const std::string label = threads == tolerant::ReadThreads::kTwo ? "two threads" : "one thread";
        normalize::NormalizeOptions options;
        options.readBytes = 4096;
        options.threads = threads;
        FailingSource failing(3000, 100000);
        std::size_t written = 0;
        EXPECT_THROW(normalize::NormalizeFrom(
                         failing, [&](std::string_view piece) { written += piece.size(); }, options),
                     ReadFailed)
            << label;
        EXPECT_EQ(written, 0u) << label << ": less than the first megabyte of text was written";

        GeneratedScene source(3000);  // more than a megabyte of text
        int pieces = 0;
        EXPECT_THROW(normalize::NormalizeFrom(
                         source,
                         [&](std::string_view) {
                             ++pieces;
                             throw SinkFailed{};
                         },
                         options),
                     SinkFailed)
            << label;
        EXPECT_EQ(pieces, 1) << label;
    }
}

}  // namespace
}  // namespace ase2sgl
