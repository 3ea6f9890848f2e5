// The tolerant reader's words. Cutting a whole text into tokens at once (64 bytes
// at a time where the processor allows) gives the tokens, lines and stop that
// asking for them one at a time (a byte at a time) gives, wherever the blocks of
// 64 bytes fall. Keywords and face labels are told apart in any case, and a
// keyword that differs from a known one by a single byte (past the eighth letter
// too, or by a byte of 0x80 and up) is no known keyword.
#include "tolerant/ase_text.h"
#include "tolerant/scene.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <random>
#include <string>
#include <vector>

namespace ase2sgl {
namespace {

using tolerant::MeshLists;
using tolerant::Token;
using tolerant::Tokenizer;
using tolerant::TokenKind;

// A token as where it lies in the text, so that two cuttings compare exactly.
std::string Describe(const Token& token, std::string_view text)
{
    const auto offset = token.text.data() == nullptr ? -1 : token.text.data() - text.data();
    return std::to_string(static_cast<int>(token.kind)) + "@" + std::to_string(offset) + "+" +
           std::to_string(token.text.size()) + " line " + std::to_string(token.line);
}

// Every token of `text`, and the end, cut at once and one at a time.
void ExpectSameTokens(std::string_view text, std::int32_t firstLine, const std::string& what)
{
    Tokenizer whole(text, firstLine);
    std::vector<Token> cut;
    const Token cutEnd = whole.CutAll(cut);
    Tokenizer single(text, firstLine);
    std::vector<Token> one;
    Token end;
    while ((end = single.Next()).kind != TokenKind::kEnd)
        one.push_back(end);
    ASSERT_EQ(cut.size(), one.size()) << what;
    for (std::size_t i = 0; i < cut.size(); ++i)
        ASSERT_EQ(Describe(cut[i], text), Describe(one[i], text)) << what << ", token " << i;
    EXPECT_EQ(cutEnd.kind, TokenKind::kEnd) << what;
    EXPECT_EQ(cutEnd.line, end.line) << what;
    EXPECT_EQ(whole.StoppedAtCtrlZ(), single.StoppedAtCtrlZ()) << what;
}

// Texts made of runs of one kind of byte, long and short, so that words, blank
// runs, line ends and strings start and end on every side of a 64-byte boundary.
std::string RandomText(std::mt19937& random)
{
    static const std::string kKinds[] = {
        "AbZ09.-_",         // word bytes
        " \t",              // blanks
        "\n\r",             // line ends, CR LF among them
        std::string("\0\v\f", 3),
        ":",
        "*",
        "{}",
        "\"",
        "\x80\xC3\xFF\x01\x1F",  // bytes of 0x80 and up, and control bytes that are no separators
    };
    std::string text;
    const std::size_t size = std::uniform_int_distribution<std::size_t>(0, 400)(random);
    while (text.size() < size) {
        const std::string& kind = kKinds[std::uniform_int_distribution<std::size_t>(0, std::size(kKinds) - 1)(random)];
        const bool longRun = std::uniform_int_distribution<int>(0, 9)(random) == 0;
        const std::size_t run = std::uniform_int_distribution<std::size_t>(1, longRun ? 90 : 6)(random);
        for (std::size_t i = 0; i < run; ++i)
            text += kind[std::uniform_int_distribution<std::size_t>(0, kind.size() - 1)(random)];
    }
    if (std::uniform_int_distribution<int>(0, 19)(random) == 0)
        text.insert(std::uniform_int_distribution<std::size_t>(0, text.size())(random), 1, '\x1a');
    return text;
}

// These tests run twice: with the instructions the processor is best served by,
// and again with ASE2SGL_TOKENIZER=sse2 (see CMakeLists.txt), which on a processor
// with AVX2 is the only run of the SSE2 path.
TEST(TolerantTokens, InstructionsAsTheEnvironmentAsks)
{
    const std::string used = tolerant::TokenizerInstructions();
    const char* const asked = std::getenv("ASE2SGL_TOKENIZER");
#if defined(__x86_64__) || defined(_M_X64)
    if (asked != nullptr && std::string_view(asked) == "sse2")
        EXPECT_EQ(used, "SSE2");
    else
        EXPECT_TRUE(used == "AVX2" || used == "SSE2") << used;
#else
    EXPECT_EQ(used, "bytes") << (asked != nullptr ? asked : "");
#endif
}

TEST(TolerantTokens, CutAtOnceAsOneAtATimeOnRandomTexts)
{
    std::mt19937 random(20);
    for (int i = 0; i < 4000; ++i) {
        const std::string text = RandomText(random);
        ExpectSameTokens(text, 1, "random text " + std::to_string(i));
        // Line numbers stop at the largest there is.
        ExpectSameTokens(text, std::numeric_limits<std::int32_t>::max() - 2, "late random text " + std::to_string(i));
    }
}

TEST(TolerantTokens, CutAtOnceAsOneAtATimeAtBlockEdges)
{
    // `at` bytes of blanks, then `tail`: what `tail` starts with falls at byte `at`.
    const std::string tails[] = {
        "\r\nA",  "\r\n",  "\r",  "\rA",  "\n\r\r\n",  "A:0 B:1",  "*K:W:X y",  ":::",  "*",  "A{B}C",
        "\"name \" q\" *NEXT x\n", "\"open", "\x1a A", "A\x1a", std::string(130, 'W') + " x", std::string(130, ' ') + "\n",
        std::string("\0\v\fA", 4), "A:*B:C D", "*A:*B:C x", "x::*K:W y", "a*b:c *d:e\n*f", "A:B:C:D:E:F:G:H:I:J:K:L",
        "*" + std::string(70, 'K') + ":W x:y",
    };
    for (const std::string& tail : tails) {
        for (std::size_t at = 0; at < 140; ++at) {
            const std::string text = std::string(at, ' ') + tail;
            ExpectSameTokens(text, 1, "tail \"" + tail + "\" at " + std::to_string(at));
            ExpectSameTokens(text + std::string(70, 'z'), 1, "tail \"" + tail + "\" at " + std::to_string(at) + ", more");
        }
    }
    // A mesh's lines in each line-end style, cut wherever the blocks fall.
    for (const char* lineEnd : {"\n", "\r\n", "\r"}) {
        std::string text;
        for (int line = 0; line < 40; ++line)
            text += "\t\t\t*MESH_FACE " + std::to_string(line) + ":    A:    0 B:    1 C:    2 AB:    1 BC:    1 CA:    0\t " +
                    "*MESH_SMOOTHING 1 \t*MESH_MTLID 0" + lineEnd;
        for (std::size_t skip = 0; skip < 64; ++skip)
            ExpectSameTokens(std::string_view(text).substr(skip), 1, std::string("face lines from ") + std::to_string(skip));
    }
}

// Whether bytes are UTF-8 does not depend on where a sequence falls among the
// ASCII bytes that are passed over many at a time: each sequence, well formed or
// not, is put at every offset of a text longer than two blocks of 64 bytes.
TEST(TolerantTokens, Utf8ToldWhereverItsSequencesFall)
{
    const struct {
        std::string bytes;
        bool utf8;
    } cases[] = {
        {"\xC3\xA9", true},       {"\xE2\x82\xAC", true}, {"\xF0\x9F\x98\x80", true}, {"\xC3", false},
        {"\xC3\x41", false},      {"\x80", false},         {"\xC0\xAF", false},        {"\xF5\x80\x80\x80", false},
        {"\xE2\x82", false},      {"\xFF", false},         {"\x7F", true},
    };
    for (const auto& [bytes, utf8] : cases) {
        for (std::size_t at = 0; at <= 140; ++at) {
            const std::string text = std::string(at, 'a') + bytes + std::string(150 - at, 'b');
            EXPECT_EQ(tolerant::IsUtf8(text), utf8) << "sequence at " << at << " of " << text.size();
            // Cut short just after it: a sequence cut by the end is no UTF-8.
            const std::string_view cut = std::string_view(text).substr(0, at + bytes.size() - 1);
            if (bytes.size() > 1) {
                EXPECT_FALSE(tolerant::IsUtf8(cut)) << "sequence cut at " << at;
            }
        }
    }
}

using tolerant::ReadScene;
using tolerant::Scene;

// One mesh node whose vertex list holds `line` (and whose text stays alive for the
// views the scene keeps).
struct OneLine {
    std::string text;
    Scene scene;
    explicit OneLine(const std::string& line)
        : text("*GEOMOBJECT {\n*NODE_NAME \"n\"\n*MESH {\n*MESH_VERTEX_LIST {\n" + line + "\n}\n}\n}\n"),
          scene(ReadScene(text))
    {
    }
    const MeshLists& Mesh() const { return scene.nodes.at(0).mesh; }
};

// Which list a line went to: "v", "tv", "f", "tf", "fn", "vn", or "" for none.
std::string ListOf(const MeshLists& mesh)
{
    std::string lists;
    if (!mesh.vertices.empty())
        lists += "v";
    if (!mesh.texVertices.empty())
        lists += "tv";
    if (!mesh.faces.empty())
        lists += "f";
    if (!mesh.texFaces.empty())
        lists += "tf";
    if (!mesh.faceNormals.empty())
        lists += "fn";
    if (!mesh.vertexNormals.empty())
        lists += "vn";
    return lists;
}

TEST(TolerantWords, KeywordsAreKnownInAnyCaseAndOnlyExactly)
{
    const struct {
        const char* line;
        const char* list;
    } cases[] = {
        {"*MESH_VERTEX 0 1 2 3", "v"},
        {"*mesh_vertex 0 1 2 3", "v"},
        {"*Mesh_VerteX 0 1 2 3", "v"},
        {"*MESH_VERTEY 0 1 2 3", ""},  // the last letter, in the second eight bytes
        {"*MESH_WERTEX 0 1 2 3", ""},  // a letter of the first eight
        {"*MESH_VERTE 0 1 2 3", ""},
        {"*MESH_VERTEXX 0 1 2 3", ""},
        {"*MESH_VERTE\xD8 0 1 2 3", ""},  // 'X' with the high bit set
        {"*MESH_VERTE\xF8 0 1 2 3", ""},  // 'x' with the high bit set
        {"*MESH_VERTE` 0 1 2 3", ""},     // the bytes either side of the letters
        {"*MESH_VERTE| 0 1 2 3", ""},
        {"*MESH_VERTE@ 0 1 2 3", ""},
        {"MESH_VERTEX 0 1 2 3", ""},      // no star: a word, not a keyword
        {"*MESH_TVERT 0 0.5 0.5 0", "tv"},
        {"*mesh_tvert 0 0.5 0.5 0", "tv"},
        {"*MESH_TVERX 0 0.5 0.5 0", ""},
        {"*MESH_TFACE 0 0 1 2", "tf"},
        {"*Mesh_TFace 0 0 1 2", "tf"},
        {"*MESH_FACE 0: A: 0 B: 1 C: 2", "f"},
        {"*mesh_face 0: A: 0 B: 1 C: 2", "f"},
        {"*MESH_FACENORMAL 0 0 0 1", "fn"},
        {"*mesh_facenormal 0 0 0 1", "fn"},
        {"*MESH_FACENORMAl 0 0 0 1", "fn"},
        {"*MESH_FACENORMAM 0 0 0 1", ""},
        {"*MESH_VERTEXNORMAL 0 0 0 1", "vn"},
        {"*mesh_vertexNormal 0 0 0 1", "vn"},
        {"*MESH_VERTEXNORMALS 0 0 0 1", ""},
        {"*MESH_VERTEXNORMAK 0 0 0 1", ""},
        {"*MESH_MTLID 0 1 2 3", ""},  // a face's column, not a list
    };
    for (const auto& c : cases) {
        const OneLine read(c.line);
        EXPECT_EQ(ListOf(read.Mesh()), c.list) << c.line;
    }
}

TEST(TolerantWords, FaceColumnsAndLabelsInAnyCase)
{
    const struct {
        const char* line;
        bool read;
        std::array<std::int64_t, 3> corners;
        const char* edges;  // AB, BC, CA as written, "-" for none
        const char* smoothing;
        const char* materialId;
    } cases[] = {
        {"*MESH_FACE 0: A: 4 B: 5 C: 6 AB: 1 BC: 0 CA: 1 *MESH_SMOOTHING 2 *MESH_MTLID 3", true, {4, 5, 6}, "101", "2",
         "3"},
        {"*MESH_FACE 0: a: 4 b: 5 c: 6 ab: 1 Bc: 0 cA: 1 *mesh_smoothing 2 *Mesh_MtlId 3", true, {4, 5, 6}, "101", "2",
         "3"},
        {"*MESH_FACE 0: C: 6 A: 4 B: 5", true, {4, 5, 6}, "---", "", ""},
        {"*MESH_FACE 0: A: 4 B: 5 D: 6", false, {}, "", "", ""},
        {"*MESH_FACE 0: A: 4 B: 5 C: 6 AC: 1 CB: 0 BA: 1 ABC: 1", true, {4, 5, 6}, "---", "", ""},
        {"*MESH_FACE 0: A: 4 B: 5 C: 6 *MESH_SMOOTHINGS 2 *MESH_MTLIF 3", true, {4, 5, 6}, "---", "", ""},
        // A word with a colon is a label only when it starts with an ASCII letter:
        // with one, the face has labels but no corners; without, "n a b c" is read.
        {"*MESH_FACE 0 4 5 6 @: 1", true, {4, 5, 6}, "---", "", ""},
        {"*MESH_FACE 0 4 5 6 [: 1", true, {4, 5, 6}, "---", "", ""},
        {"*MESH_FACE 0 4 5 6 `: 1", true, {4, 5, 6}, "---", "", ""},
        {"*MESH_FACE 0 4 5 6 \xE9: 1", true, {4, 5, 6}, "---", "", ""},
        {"*MESH_FACE 0 4 5 6 z: 1", false, {}, "", "", ""},
        {"*MESH_FACE 0 4 5 6 Z: 1", false, {}, "", "", ""},
    };
    for (const auto& c : cases) {
        const OneLine read(c.line);
        const MeshLists& mesh = read.Mesh();
        ASSERT_EQ(mesh.faces.size(), c.read ? 1u : 0u) << c.line;
        if (!c.read)
            continue;
        const tolerant::FaceLine& face = mesh.faces[0];
        EXPECT_EQ(face.corner, c.corners) << c.line;
        std::string edges;
        for (std::string_view edge : face.edge)
            edges += edge.empty() ? "-" : std::string(edge);
        EXPECT_EQ(edges, c.edges) << c.line;
        EXPECT_EQ(face.smoothing, c.smoothing) << c.line;
        EXPECT_EQ(face.materialId, c.materialId) << c.line;
    }
}

TEST(TolerantWords, NodeNamesAndTheCommentInAnyCase)
{
    for (const char* keyword : {"*NODE_NAME", "*node_name", "*Node_Name"}) {
        const std::string text = std::string("*comment \"c\"\n*GEOMOBJECT {\n") + keyword + " \"Box\"\n}\n";
        const Scene scene = ReadScene(text);
        ASSERT_EQ(scene.nodes.size(), 1u) << keyword;
        EXPECT_EQ(scene.nodes[0].name, "Box") << keyword;
        EXPECT_EQ(scene.comment, "c") << keyword;
    }
    const std::string misspelt = "*GEOMOBJECT {\n*NODE_NAMF \"Box\"\n}\n";
    EXPECT_FALSE(ReadScene(misspelt).nodes.at(0).named);
}

}  // namespace
}  // namespace ase2sgl
