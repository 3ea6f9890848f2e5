// Tolerant reader of the ASE structure. An ASE file is a tree of braced blocks
// whose statements are a keyword ("*MESH_VERTEX") and the words, numbers and quoted
// strings after it. Exporters differ in spacing (blank, tabs, padded numbers), in
// case, in the order of the lists and in the blocks they add; this reader depends
// on none of it. It keeps the open blocks on a stack of its own (never recursion),
// so a deeply nested input costs memory in proportion to its size and no more.
#include "tolerant/scene.h"

#include "tolerant/ase_text.h"

#include "platform/cores.h"

#include <algorithm>
#include <condition_variable>
#include <cstddef>
#include <cstring>
#include <deque>
#include <exception>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <utility>

namespace ase2sgl::tolerant {
namespace {

constexpr std::size_t kMaxArguments = 16;  // a face line has 13 before *MESH_SMOOTHING
constexpr std::size_t kMaxDepth = 4096;    // deeper blocks are counted, not kept
constexpr std::size_t kMaxNotes = 1000;

// The keywords of the statements read inside a node, told once per statement.
enum class Keyword : unsigned char {
    kOther,
    kComment,
    kNodeName,
    kVertex,
    kTexVertex,
    kFace,
    kSmoothing,
    kMaterialId,
    kTexFace,
    kFaceNormal,
    kVertexNormal,
};

struct Statement {
    Token keyword;
    Keyword word = Keyword::kOther;  // the keyword, told
    // The words and strings after the keyword: the tokens of a piece where they lie
    // (Point), or copies of them in `own` (Add; Detach).
    const Token* args = nullptr;
    std::size_t argCount = 0;
    bool active = false;
    std::size_t chunk = 0;  // of the text read in pieces, the piece its keyword is in
    std::array<Token, kMaxArguments> own{};

    void Start(const Token& token, Keyword told, std::size_t inChunk)
    {
        keyword = token;
        word = told;
        args = own.data();
        argCount = 0;
        active = true;
        chunk = inChunk;
    }
    // The `count` tokens at `tokens`, all words or strings, as the arguments.
    void Point(const Token* tokens, std::size_t count)
    {
        args = tokens;
        argCount = std::min(count, kMaxArguments);
    }
    // Copies the arguments pointed to, before the tokens they lie in are reused.
    void Detach()
    {
        if (args != own.data()) {
            std::copy_n(args, argCount, own.begin());
            args = own.data();
        }
    }
    // Adds a word or a string (after Start or Detach).
    void Add(const Token& token)
    {
        if (active && argCount < kMaxArguments)
            own[argCount++] = token;
    }
    std::string_view Arg(std::size_t i) const { return i < argCount ? args[i].text : std::string_view(); }
};

// Upper case of ASCII letters only, as std::toupper gives it in the "C" locale
// (without its call per byte).
char AsciiUpper(char c)
{
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

// Eight bytes of text as one number, in memory order.
std::uint64_t Load8(const char* p)
{
    std::uint64_t bytes = 0;
    std::memcpy(&bytes, p, 8);
    return bytes;
}

// AsciiUpper on eight bytes at once: each byte from 'a' to 'z' loses 0x20; bytes
// of 0x80 and up stay as they are.
std::uint64_t AsciiUpper8(std::uint64_t bytes)
{
    constexpr std::uint64_t kOnes = 0x0101010101010101ull, kHigh = kOnes * 0x80;
    const std::uint64_t low = bytes & ~kHigh;
    const std::uint64_t fromA = low + kOnes * (0x80 - 'a');     // high bit set from 'a' up
    const std::uint64_t pastZ = low + kOnes * (0x80 - 'z' - 1); // high bit set past 'z'
    const std::uint64_t lower = fromA & ~pastZ & ~bytes & kHigh;
    return bytes - (lower >> 2);
}

// Keywords compare without their star and without regard to case. Names of eight
// letters or more are compared eight bytes at a time, the last eight perhaps
// overlapping the ones before. Inlined where it is called (telling a statement's
// keyword calls it once or twice per statement, with a constant name).
[[gnu::always_inline]] inline bool Is(std::string_view keyword, std::string_view name)
{
    if (keyword.size() != name.size() + 1 || keyword[0] != '*')
        return false;
    const char* text = keyword.data() + 1;
    const std::size_t size = name.size();
    if (size < 8) {
        for (std::size_t i = 0; i < size; ++i)
            if (AsciiUpper(text[i]) != name[i])
                return false;
        return true;
    }
    for (std::size_t i = 0; i + 8 < size; i += 8)
        if (AsciiUpper8(Load8(text + i)) != Load8(name.data() + i))
            return false;
    return AsciiUpper8(Load8(text + size - 8)) == Load8(name.data() + size - 8);
}

// The length of a keyword with its star.
constexpr std::size_t Stars(std::string_view name)
{
    return name.size() + 1;
}

Keyword Classify(std::string_view keyword)
{
    switch (keyword.size()) {
    case Stars("COMMENT"): return Is(keyword, "COMMENT") ? Keyword::kComment : Keyword::kOther;
    case Stars("NODE_NAME"):  // and MESH_FACE
        return Is(keyword, "MESH_FACE") ? Keyword::kFace
               : Is(keyword, "NODE_NAME") ? Keyword::kNodeName
                                          : Keyword::kOther;
    case Stars("MESH_TVERT"):  // and MESH_TFACE, MESH_MTLID
        return Is(keyword, "MESH_TVERT")   ? Keyword::kTexVertex
               : Is(keyword, "MESH_TFACE") ? Keyword::kTexFace
               : Is(keyword, "MESH_MTLID") ? Keyword::kMaterialId
                                           : Keyword::kOther;
    case Stars("MESH_VERTEX"): return Is(keyword, "MESH_VERTEX") ? Keyword::kVertex : Keyword::kOther;
    case Stars("MESH_SMOOTHING"): return Is(keyword, "MESH_SMOOTHING") ? Keyword::kSmoothing : Keyword::kOther;
    case Stars("MESH_FACENORMAL"): return Is(keyword, "MESH_FACENORMAL") ? Keyword::kFaceNormal : Keyword::kOther;
    case Stars("MESH_VERTEXNORMAL"):
        return Is(keyword, "MESH_VERTEXNORMAL") ? Keyword::kVertexNormal : Keyword::kOther;
    default: return Keyword::kOther;
    }
}

bool StartsWithKeyword(std::string_view keyword, std::string_view prefix)
{
    return keyword.size() > prefix.size() && Is(keyword.substr(0, prefix.size() + 1), prefix);
}

// What the filing does with a piece's tokens, found beforehand (on the reading's
// thread, where there are two) so that the filing goes a statement at a time rather
// than a token at a time: a statement (its keyword and the words and strings after
// it in the piece), a brace, or the words that carry on the statement the piece
// before left open. Words after a brace belong to no statement and are left out.
struct TokenSpan {
    std::size_t first = 0;    // the keyword, the brace, or the first word carried on
    std::uint32_t words = 0;  // the words and strings after the keyword, or carried on
                              // (counted up to the most a statement keeps)
    TokenKind kind = TokenKind::kKeyword;  // kKeyword, kOpen, kClose, or kWord (carried on)
    Keyword word = Keyword::kOther;        // a statement's keyword, told
};

bool IsWordOrString(TokenKind kind)
{
    return kind == TokenKind::kWord || kind == TokenKind::kString;
}

// The spans of a piece's tokens. A span ends at the next keyword or brace; the
// words after a brace are passed over.
void CutSpans(const std::vector<Token>& tokens, std::vector<TokenSpan>& spans)
{
    spans.clear();
    const Token* const at = tokens.data();
    const std::size_t count = tokens.size();
    std::size_t i = 0;
    while (i < count && IsWordOrString(at[i].kind))
        ++i;
    if (i > 0)
        spans.push_back({0, static_cast<std::uint32_t>(std::min(i, kMaxArguments)), TokenKind::kWord, Keyword::kOther});
    while (i < count) {
        const std::size_t first = i++;
        while (i < count && IsWordOrString(at[i].kind))
            ++i;
        const Token& token = at[first];
        if (token.kind == TokenKind::kKeyword)
            spans.push_back({first, static_cast<std::uint32_t>(std::min(i - first - 1, kMaxArguments)),
                             TokenKind::kKeyword, Classify(token.text)});
        else
            spans.push_back({first, 0, token.kind, Keyword::kOther});
    }
}

// A decimal integer, optionally signed, optionally followed by a colon ("12:").
bool ParseInteger(std::string_view text, std::int64_t& value)
{
    if (!text.empty() && text.back() == ':')
        text.remove_suffix(1);
    bool negative = false;
    if (!text.empty() && (text[0] == '-' || text[0] == '+')) {
        negative = text[0] == '-';
        text.remove_prefix(1);
    }
    if (text.empty() || text.size() > 18)
        return false;
    std::int64_t result = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        result = result * 10 + (c - '0');
    }
    value = negative ? -result : result;
    return true;
}

// "A:", "ab:": a word of a face line that names the number after it. Its first
// byte is an ASCII letter, as isalpha tells it in the "C" locale (whatever locale a
// program embedding the reader has set, and without a call per word).
bool IsLabel(std::string_view text)
{
    if (text.size() < 2 || text.back() != ':')
        return false;
    const char first = AsciiUpper(text[0]);
    return first >= 'A' && first <= 'Z';
}

enum class Block { kNode, kGroup, kMesh, kTransform, kSkipped, kOther };

// Where a node goes, with the number of the piece of text its first view points into.
using HandOutTo = std::function<void(SceneNode&, std::size_t firstChunk)>;

struct Frame {
    Block block;
    std::int64_t node;  // the innermost node this block belongs to, or -1
    std::int32_t line;  // where the block opens
};

// Nodes are handed to `handOut` as soon as no open block belongs to them any more
// (in file order), so that a caller reading the text in pieces can let go of the
// text before the oldest node still open.
class SceneReader {
  public:
    SceneReader(Scene& scene, const HandOutTo& handOut) : scene_(scene), handOut_(handOut) {}

    void Dispatch(const Statement& statement);
    void Open(const Statement& statement, std::int32_t line);
    void Close(std::int32_t line);
    void Finish(std::int32_t line);

    // The piece of text being read, and the oldest one a node not yet handed out
    // may point into.
    void SetChunk(std::size_t chunk) { chunk_ = chunk; }
    std::size_t OldestChunkHeld() const
    {
        return pending_.empty() ? std::numeric_limits<std::size_t>::max() : pending_.front().chunk;
    }

  private:
    struct Pending {
        SceneNode node;
        std::size_t frames = 0;  // open blocks that belong to it
        std::size_t chunk = 0;   // the piece of text its first view points into
    };

    void AddNote(std::int32_t line, std::string text);
    SceneNode* CurrentNode();
    Block CurrentBlock() const { return stack_.empty() ? Block::kOther : stack_.back().block; }
    void Push(Block block, std::int64_t node, std::int32_t line = 0);
    std::int32_t GroupLine() const;
    static bool IsTopLevel(std::string_view keyword);
    void CloseLeftOpen(std::int32_t line);
    bool OpenNode(std::string_view keyword, std::int32_t line, std::size_t chunk);
    void Pop();
    void HandOut(Pending& pending);
    void HandOutClosed();
    void ReadMeshStatement(MeshLists& mesh, const Statement& statement, Keyword word);
    void ReadFace(MeshLists& mesh, const Statement& statement);
    void Malformed(const Statement& statement);

    Scene& scene_;
    const HandOutTo& handOut_;
    std::deque<Pending> pending_;  // nodes not yet handed out, in file order
    MeshLists spareLists_;          // emptied lists of a node handed out, for the next
    std::int64_t firstPending_ = 0;  // the number of pending_.front() among all nodes
    std::int64_t nodeCount_ = 0;
    std::size_t chunk_ = 0;
    std::vector<Frame> stack_;
    std::size_t skipDepth_ = 0;    // open blocks whose contents are passed over
    std::size_t excessDepth_ = 0;  // open blocks beyond kMaxDepth
    std::size_t droppedNotes_ = 0;
    std::int64_t malformedLines_ = 0;
    std::int32_t firstMalformedLine_ = 0;
    bool notedDepth_ = false;
};

void SceneReader::AddNote(std::int32_t line, std::string text)
{
    if (scene_.notes.size() < kMaxNotes)
        scene_.notes.push_back({line, std::move(text)});
    else
        ++droppedNotes_;
}

SceneNode* SceneReader::CurrentNode()
{
    if (stack_.empty() || stack_.back().node < 0)
        return nullptr;
    return &pending_[static_cast<std::size_t>(stack_.back().node - firstPending_)].node;
}

void SceneReader::Push(Block block, std::int64_t node, std::int32_t line)
{
    stack_.push_back({block, node, line});
    if (block == Block::kSkipped)
        ++skipDepth_;
    if (node >= 0)
        ++pending_[static_cast<std::size_t>(node - firstPending_)].frames;
}

void SceneReader::Pop()
{
    const Frame& frame = stack_.back();
    if (frame.block == Block::kSkipped)
        --skipDepth_;
    if (frame.node >= 0)
        --pending_[static_cast<std::size_t>(frame.node - firstPending_)].frames;
    stack_.pop_back();
}

void SceneReader::HandOut(Pending& pending)
{
    SceneNode& node = pending.node;
    handOut_(node, pending.chunk);
    // The lists' memory goes on to the next node rather than back to the system
    // (what the sink took away is not there to keep).
    node.mesh.Clear();
    spareLists_ = std::move(node.mesh);
}

void SceneReader::HandOutClosed()
{
    while (!pending_.empty() && pending_.front().frames == 0) {
        HandOut(pending_.front());
        pending_.pop_front();
        ++firstPending_;
    }
}

std::int32_t SceneReader::GroupLine() const
{
    for (auto frame = stack_.rbegin(); frame != stack_.rend(); ++frame)
        if (frame->block == Block::kGroup)
            return frame->line;
    return 0;
}

bool SceneReader::OpenNode(std::string_view keyword, std::int32_t line, std::size_t chunk)
{
    static constexpr std::pair<std::string_view, NodeKind> kNodes[] = {{"GEOMOBJECT", NodeKind::kGeometry},
                                                                       {"CAMERAOBJECT", NodeKind::kCamera},
                                                                       {"LIGHTOBJECT", NodeKind::kLight},
                                                                       {"HELPEROBJECT", NodeKind::kHelper},
                                                                       {"SHAPEOBJECT", NodeKind::kShape}};
    for (const auto& [name, kind] : kNodes) {
        if (Is(keyword, name)) {
            SceneNode node;
            node.mesh = std::move(spareLists_);
            spareLists_ = {};
            node.kind = kind;
            node.keyword = keyword;
            node.line = line;
            node.groupLine = GroupLine();
            pending_.push_back({std::move(node), 0, chunk});
            Push(Block::kNode, nodeCount_++);
            return true;
        }
    }
    return false;
}

void SceneReader::Open(const Statement& statement, std::int32_t line)
{
    Dispatch(statement);  // "*GROUP "name" {" and the like: the words before the brace
    if (stack_.size() >= kMaxDepth) {
        ++excessDepth_;
        if (!notedDepth_)
            AddNote(line, "blocks nested deeper than " + std::to_string(kMaxDepth) + " levels passed over");
        notedDepth_ = true;
        return;
    }
    const std::string_view keyword = statement.active ? statement.keyword.text : std::string_view();
    if (IsTopLevel(keyword)) {
        CloseLeftOpen(line);
        HandOutClosed();
    }
    const std::int64_t node = stack_.empty() ? -1 : stack_.back().node;
    if (skipDepth_ > 0) {
        Push(Block::kOther, node);
        return;
    }
    if (OpenNode(keyword, line, statement.active ? statement.chunk : chunk_))
        return;
    SceneNode* current = CurrentNode();
    if (Is(keyword, "GROUP")) {
        Push(Block::kGroup, -1, line);
    } else if (Is(keyword, "MESH") && current && current->kind == NodeKind::kGeometry && !current->hasMesh) {
        current->hasMesh = true;
        current->meshLine = line;
        Push(Block::kMesh, node);
    } else if (Is(keyword, "MESH")) {
        AddNote(line, "a further *MESH block of the same node passed over");
        Push(Block::kSkipped, node);
    } else if (Is(keyword, "NODE_TM") && CurrentBlock() == Block::kNode) {
        Push(Block::kTransform, node);
    } else if (Is(keyword, "MESH_MAPPINGCHANNEL")) {
        AddNote(line, "extra texture channel (*MESH_MAPPINGCHANNEL " + std::string(statement.Arg(0)) + ") passed over");
        Push(Block::kSkipped, node);
    } else if (Is(keyword, "MESH_CVERTLIST") || Is(keyword, "MESH_CFACELIST")) {
        AddNote(line, "vertex colours (" + std::string(keyword) + ") passed over");
        Push(Block::kSkipped, node);
    } else if (Is(keyword, "TM_ANIMATION") || Is(keyword, "MESH_ANIMATION")) {
        AddNote(line, "animation (" + std::string(keyword) + ") passed over");
        Push(Block::kSkipped, node);
    } else if (Is(keyword, "MATERIAL_LIST")) {
        AddNote(line, "materials (*MATERIAL_LIST) passed over");
        Push(Block::kSkipped, node);
    } else {
        Push(Block::kOther, node);
    }
}

// Nodes, groups, the scene and the material list stand at the top level (nodes also
// inside a group). A block some exporter left unclosed before one of them is closed
// there, so that the rest of the file is not read as part of it.
bool SceneReader::IsTopLevel(std::string_view keyword)
{
    for (std::string_view name : {"GEOMOBJECT", "CAMERAOBJECT", "LIGHTOBJECT", "HELPEROBJECT", "SHAPEOBJECT", "GROUP",
                                  "SCENE", "MATERIAL_LIST"})
        if (Is(keyword, name))
            return true;
    return false;
}

void SceneReader::CloseLeftOpen(std::int32_t line)
{
    std::size_t closed = excessDepth_;
    excessDepth_ = 0;
    while (!stack_.empty() && stack_.back().block != Block::kGroup) {
        Pop();
        ++closed;
    }
    if (closed > 0)
        AddNote(line, std::to_string(closed) + " block(s) left open before this node closed here");
}

void SceneReader::Close(std::int32_t line)
{
    if (excessDepth_ > 0) {
        --excessDepth_;
    } else if (stack_.empty()) {
        AddNote(line, "a closing brace with no block open passed over");
    } else {
        Pop();
        HandOutClosed();
    }
}

void SceneReader::Finish(std::int32_t line)
{
    if (!stack_.empty())
        AddNote(line, "the text ends inside " + std::to_string(stack_.size()) + " open block(s)");
    if (malformedLines_ > 0)
        AddNote(firstMalformedLine_, std::to_string(malformedLines_) +
                                         " list line(s) without the numbers they need passed over (first here)");
    if (droppedNotes_ > 0)
        scene_.notes.push_back({line, std::to_string(droppedNotes_) + " further notes left out"});
    // The text has ended: every node still open is as complete as it gets.
    for (Pending& pending : pending_)
        HandOut(pending);
    pending_.clear();
}

void SceneReader::Malformed(const Statement& statement)
{
    if (malformedLines_++ == 0)
        firstMalformedLine_ = statement.keyword.line;
}

void SceneReader::Dispatch(const Statement& statement)
{
    if (!statement.active || skipDepth_ > 0 || excessDepth_ > 0)
        return;
    const std::string_view keyword = statement.keyword.text;
    const Keyword word = statement.word;
    SceneNode* node = CurrentNode();
    if (word == Keyword::kComment && stack_.empty() && scene_.comment.empty()) {
        scene_.comment = statement.Arg(0);
    } else if (word == Keyword::kNodeName && node && !node->named) {
        node->name = statement.Arg(0);
        node->named = true;
    } else if (keyword.size() == 8 && StartsWithKeyword(keyword, "TM_ROW") && node &&
               CurrentBlock() == Block::kTransform) {
        const char row = keyword[7];
        if (row >= '0' && row <= '3' && statement.argCount >= 3) {
            for (std::size_t i = 0; i < 3; ++i)
                node->transform[static_cast<std::size_t>(row - '0')][i] = statement.Arg(i);
            node->hasTransform = true;
        }
    } else if (node && node->kind == NodeKind::kGeometry && word >= Keyword::kVertex) {
        ReadMeshStatement(node->mesh, statement, word);
    }
}

// The lists' statements (word is one of them); others inside *MESH are passed over.
void SceneReader::ReadMeshStatement(MeshLists& mesh, const Statement& statement, Keyword word)
{
    const std::size_t n = statement.argCount;
    std::int64_t number = kNoNumber;
    if (word == Keyword::kVertex || word == Keyword::kTexVertex) {
        // "n x y z"; a texture vertex may also be "n u v", "u v w" or "u v".
        const bool texture = word == Keyword::kTexVertex;
        const bool numbered = n >= 4 || (texture && n == 3 && ParseInteger(statement.Arg(0), number));
        const std::size_t values = n - (numbered ? 1 : 0);
        if ((numbered && !ParseInteger(statement.Arg(0), number)) || values < (texture ? 2u : 3u))
            return Malformed(statement);
        VertexLine vertex;
        vertex.number = numbered ? number : kNoNumber;
        for (std::size_t i = 0; i < 3; ++i)
            vertex.value[i] = statement.Arg(i + (numbered ? 1 : 0));
        if (!numbered && values == 2)
            vertex.value[2] = {};
        (texture ? mesh.texVertices : mesh.vertices).push_back(vertex);
    } else if (word == Keyword::kFace) {
        ReadFace(mesh, statement);
    } else if ((word == Keyword::kSmoothing || word == Keyword::kMaterialId) && !mesh.faces.empty() &&
               mesh.faces.back().line == statement.keyword.line) {
        (word == Keyword::kMaterialId ? mesh.faces.back().materialId : mesh.faces.back().smoothing) = statement.Arg(0);
    } else if (word == Keyword::kTexFace) {
        TexFaceLine face;
        const std::size_t first = n >= 4 ? 1 : 0;
        if (n < 3 || (first == 1 && !ParseInteger(statement.Arg(0), face.number)))
            return Malformed(statement);
        for (std::size_t i = 0; i < 3; ++i)
            if (!ParseInteger(statement.Arg(first + i), face.corner[i]))
                return Malformed(statement);
        mesh.texFaces.push_back(face);
    } else if (word == Keyword::kFaceNormal || word == Keyword::kVertexNormal) {
        const std::size_t first = n >= 4 ? 1 : 0;
        if (n < 3)
            return Malformed(statement);
        ValueText value;
        for (std::size_t i = 0; i < 3; ++i)
            value[i] = statement.Arg(first + i);
        if (word == Keyword::kVertexNormal) {
            mesh.vertexNormals.push_back({first == 1 ? statement.Arg(0) : std::string_view(), value});
            if (!mesh.faceNormals.empty())
                ++mesh.faceNormals.back().vertexNormalCount;
            return;
        }
        FaceNormal normal;
        if (first == 1 && !ParseInteger(statement.Arg(0), normal.number))
            normal.number = kNoNumber;
        normal.value = value;
        normal.firstVertexNormal = mesh.vertexNormals.size();
        mesh.faceNormals.push_back(normal);
    }
}

// "*MESH_FACE    0:    A:    0 B:    2 C:    3 AB: 1 BC: 1 CA: 0" in any spacing,
// "*MESH_FACE\t0\tA:\t0\t..." (no colon after the number), labels missing the
// edge columns, or no labels at all ("n a b c").
void SceneReader::ReadFace(MeshLists& mesh, const Statement& statement)
{
    FaceLine face;
    face.line = statement.keyword.line;
    std::size_t next = 0;
    std::int64_t number = 0;
    if (statement.argCount >= 1 && !IsLabel(statement.Arg(0)) && ParseInteger(statement.Arg(0), number) &&
        (statement.argCount >= 4 || IsLabel(statement.Arg(1)))) {
        face.number = number;
        next = 1;
    }
    int cornersFound = 0;
    bool labelled = false;
    for (std::size_t i = next; i + 1 < statement.argCount; ++i) {
        const std::string_view label = statement.Arg(i);
        if (!IsLabel(label))
            continue;
        labelled = true;
        // Corners "A:", "B:", "C:"; edges "AB:", "BC:", "CA:"; in any case.
        const char first = AsciiUpper(label[0]);
        if (label.size() == 2 && first >= 'A' && first <= 'C') {
            const auto c = static_cast<std::size_t>(first - 'A');
            if (ParseInteger(statement.Arg(i + 1), face.corner[c]))
                cornersFound |= 1 << c;
        } else if (label.size() == 3) {
            const char second = AsciiUpper(label[1]);
            static constexpr std::string_view kEdges[] = {"AB", "BC", "CA"};
            for (std::size_t c = 0; c < 3; ++c)
                if (first == kEdges[c][0] && second == kEdges[c][1])
                    face.edge[c] = statement.Arg(i + 1);
        }
    }
    if (!labelled && statement.argCount >= next + 3) {
        for (std::size_t c = 0; c < 3; ++c)
            if (ParseInteger(statement.Arg(next + c), face.corner[c]))
                cornersFound |= 1 << c;
    }
    if (cornersFound != 7)
        return Malformed(statement);
    mesh.faces.push_back(face);
}

// Statements gathered from the tokens and handed to the reader: a statement is
// complete at the next keyword or brace, which may lie in a later piece of text.
class Feeder {
  public:
    Feeder(Scene& scene, const HandOutTo& handOut) : reader_(scene, handOut) {}

    // Reads the tokens of a text (all of it, or up to a 0x1A byte) as the Tokenizer
    // gives them; returns the line its reading ended on.
    std::int32_t Feed(Tokenizer& tokens, std::size_t chunk)
    {
        reader_.SetChunk(chunk);
        for (;;) {
            const Token& token = tokens.Next();
            switch (token.kind) {
            case TokenKind::kEnd: return token.line;
            case TokenKind::kKeyword: StartStatement(token, Classify(token.text), chunk); break;
            case TokenKind::kString:
            case TokenKind::kWord: statement_.Add(token); break;
            case TokenKind::kOpen:
            case TokenKind::kClose: Brace(token); break;
            }
        }
    }

    // As Feed, from the tokens of a piece and their spans (CutSpans). The statement
    // left open points into the tokens no more.
    void FeedSpans(const std::vector<Token>& tokens, const std::vector<TokenSpan>& spans, std::size_t chunk)
    {
        reader_.SetChunk(chunk);
        const Token* const at = tokens.data();
        for (const TokenSpan& span : spans) {
            const Token& token = at[span.first];
            switch (span.kind) {
            case TokenKind::kKeyword:
                StartStatement(token, span.word, chunk);
                statement_.Point(&token + 1, span.words);
                break;
            case TokenKind::kOpen:
            case TokenKind::kClose: Brace(token); break;
            default:  // words carrying on the statement the piece before left open
                for (std::uint32_t i = 0; i < span.words; ++i)
                    statement_.Add((&token)[i]);
                break;
            }
        }
        statement_.Detach();
    }

    void Finish(std::int32_t line)
    {
        reader_.Dispatch(statement_);
        statement_.active = false;
        reader_.Finish(line);
    }

    // The oldest piece of text anything read so far still points into.
    std::size_t OldestChunkHeld(std::size_t current) const
    {
        return std::min({reader_.OldestChunkHeld(), statement_.active ? statement_.chunk : current, current});
    }

  private:
    // A keyword completes the statement before it and starts the next.
    void StartStatement(const Token& token, Keyword word, std::size_t chunk)
    {
        reader_.Dispatch(statement_);
        statement_.Start(token, word, chunk);
    }
    // A brace completes the statement before it, which an opening one belongs to.
    void Brace(const Token& token)
    {
        if (token.kind == TokenKind::kOpen) {
            reader_.Open(statement_, token.line);
        } else {
            reader_.Dispatch(statement_);
            reader_.Close(token.line);
        }
        statement_.active = false;
    }

    SceneReader reader_;
    Statement statement_;
};

}  // namespace

Scene ReadScene(std::string_view text)
{
    Scene scene;
    const HandOutTo keep = [&scene](SceneNode& node, std::size_t) { scene.nodes.push_back(std::move(node)); };
    Feeder feeder(scene, keep);
    Tokenizer tokens(text);
    feeder.Finish(feeder.Feed(tokens, 0));
    scene.stoppedAtCtrlZ = tokens.StoppedAtCtrlZ();
    return scene;
}

}  // namespace ase2sgl::tolerant

namespace ase2sgl::tolerant {
namespace {

bool Contains(std::string_view text, std::string_view part)
{
    return text.find(part) != std::string_view::npos;
}

Dialect DetectDialect(std::string_view comment, std::string_view text)
{
    if (Contains(comment, "AsciiExport"))
        return Dialect::kMax;
    if (Contains(comment, "Blender") || Contains(comment, "Ascii Scene Exporter"))
        return Dialect::kBlender;
    if (Contains(comment, "AC3D"))
        return Dialect::kAc3d;
    if (Contains(comment, "Q3Map2") || Contains(comment, "q3map2"))
        return Dialect::kQ3map2;
    // No telling comment: q3map2 puts a tab, not a blank, after every keyword.
    if (Contains(text.substr(0, 1 << 16), "*NODE_NAME\t"))
        return Dialect::kQ3map2;
    return Dialect::kUnknown;
}

}  // namespace

const char* DialectName(Dialect dialect)
{
    switch (dialect) {
    case Dialect::kMax: return "3ds Max";
    case Dialect::kBlender: return "Blender";
    case Dialect::kAc3d: return "AC3D";
    case Dialect::kQ3map2: return "q3map2";
    case Dialect::kUnknown: return "unknown";
    }
    return "unknown";
}

AseRead ReadAse(std::string_view bytes)
{
    DecodedText decoded = DecodeText(bytes);
    AseRead read;
    std::string_view text = decoded.text;
    if (decoded.encoding == Encoding::kUtf16Le || decoded.encoding == Encoding::kUtf16Be) {
        read.decoded = std::make_unique<const std::string>(std::move(decoded.owned));
        text = *read.decoded;
    }
    read.scene = ReadScene(text);
    read.scene.dialect = DetectDialect(read.scene.comment, text);
    read.scene.encoding = decoded.encoding;
    read.scene.lineEnds = DetectLineEnds(text);
    return read;
}

}  // namespace ase2sgl::tolerant

namespace ase2sgl::tolerant {

std::size_t MemorySource::Read(char* buffer, std::size_t size)
{
    const std::size_t n = std::min(size, bytes_.size());
    std::copy_n(bytes_.data(), n, buffer);
    bytes_.remove_prefix(n);
    return n;
}

namespace {

// The text not yet in a piece, cut into pieces that end after a line end: no
// token, no CR LF and no UTF-8 sequence is split between two pieces.
class LineCutter {
  public:
    // The length of the longest start of `text` that ends after a line end, or 0.
    // A CR at the very end waits: an LF may follow it in the next piece. `text` is
    // the text given last time with more after it, or after a cut, what followed
    // the cut with more after it.
    std::size_t Cut(std::string_view text)
    {
        std::size_t p = text.size();
        while (p > searched_) {
            --p;
            if (text[p] == '\n' || (text[p] == '\r' && p + 1 < text.size())) {
                searched_ = 0;
                return p + 1;
            }
        }
        searched_ = text.empty() ? 0 : text.size() - 1;  // the last byte is looked at again
        return 0;
    }

  private:
    std::size_t searched_ = 0;  // bytes before this hold no line end
};

constexpr std::size_t kDialectBytes = std::size_t{1} << 16;

// Fills `buffer` from `source` as far as it goes; returns the bytes read.
std::size_t ReadFull(ByteSource& source, std::string& buffer)
{
    std::size_t got = 0;
    while (got < buffer.size()) {
        const std::size_t n = source.Read(buffer.data() + got, buffer.size() - got);
        if (n == 0)
            break;
        got += n;
    }
    return got;
}

// A piece's tokens and their spans, kept to be reused for a later piece.
struct PieceTokens {
    std::vector<Token> tokens;
    std::vector<TokenSpan> spans;

    void Clear()
    {
        tokens.clear();
        spans.clear();
    }
};

// A piece of the decoded text, cut after a line end, and its tokens. The text lies
// in memory that `held` keeps (a string of its own, or the source's bytes where
// they lie), so that the tokens' views stay valid as the piece moves.
struct Piece {
    std::shared_ptr<const void> held;
    std::string_view text;
    PieceTokens cut;
    std::int32_t endLine = 1;  // the line the tokenizer ended on
};

// A stretch of a source's bytes taken in place: handed back to the source when the
// last piece or node that points into it lets go of it.
class PassedBytes {
  public:
    PassedBytes(const ByteSource& source, std::size_t offset, std::size_t length)
        : source_(source), offset_(offset), length_(length)
    {
    }
    PassedBytes(const PassedBytes&) = delete;
    PassedBytes& operator=(const PassedBytes&) = delete;
    ~PassedBytes() { source_.PassedInPlace(offset_, length_); }

  private:
    const ByteSource& source_;
    std::size_t offset_, length_;
};

// What the reading of the bytes tells about the whole input.
struct InputFacts {
    PieceDecoder decoder;
    LineEndsSeen lineEnds;
    std::string head;  // the text's first bytes, where the dialect shows
    bool utf8 = true, stopped = false;
};

// The input read `readBytes` at a time, decoded, cut at line ends and cut into
// tokens: each piece goes to `emit` in order, up to the one a 0x1A byte ends. The
// bytes past it are still read, as far as the encoding and the dialect need them.
// `spare` gives token lists to reuse (an empty one when there is none).
class PieceReader {
  public:
    PieceReader(ByteSource& source, std::size_t readBytes, InputFacts& facts)
        : source_(source), readBytes_(readBytes), facts_(facts), whole_(source.InPlace()),
          raw_(std::max<std::size_t>(readBytes, 16), '\0')  // the first read holds the 16 bytes that tell the encoding
    {
    }

    bool AtEnd() const { return atEnd_; }

    // One read, and the piece it completes, if any.
    template <typename Emit, typename Spare>
    void Step(const Emit& emit, const Spare& spare)
    {
        if (InPlaceFromHere()) {
            StepInPlace(emit, spare);
            return;
        }
        const std::size_t got = ReadFull(source_, raw_);
        read_ += got;
        atEnd_ = got < raw_.size();
        facts_.decoder.Decode(std::string_view(raw_).substr(0, got), atEnd_, uncut_);
        if (raw_.size() > readBytes_)
            raw_.resize(std::max<std::size_t>(readBytes_, 1));
        const std::size_t cut = atEnd_ ? uncut_.size() : cutter_.Cut(uncut_);
        if (cut == 0)
            return;
        // The piece is the text read so far, moved rather than copied; what follows
        // its cut (less than a line) goes back to be read on.
        auto chunk = std::make_shared<std::string>(std::move(uncut_));
        uncut_.assign(*chunk, cut);
        chunk->resize(cut);
        const std::string_view text = *chunk;
        Take(text, std::move(chunk), emit, spare);
    }

    template <typename Emit, typename Spare>
    void ReadToEnd(const Emit& emit, const Spare& spare)
    {
        while (!atEnd_)
            Step(emit, spare);
    }

  private:
    // Whether the text is taken from the source's bytes where they lie: after the
    // first read has told the encoding, for text that is not decoded (the decoded
    // text is then the bytes themselves, a UTF-8 byte order mark apart, which the
    // first read has passed).
    bool InPlaceFromHere()
    {
        if (whole_.empty() || read_ == 0 || whole_.size() < read_ ||
            (facts_.decoder.TextEncoding() != Encoding::kUtf8 &&
             facts_.decoder.TextEncoding() != Encoding::kUtf8WithBom))
            return false;
        if (!inPlace_) {
            // What was read and not yet cut off as a piece is the bytes just before
            // the end of the read: the reading goes on from their start.
            inPlace_ = true;
            pending_ = read_ - uncut_.size();
            std::string().swap(uncut_);
            std::string().swap(raw_);
        }
        return true;
    }

    // As Step, the bytes [pending_, end of the next read) taken where they lie and
    // cut after their last line end. The cutter goes on from the copied text's
    // leftover, which is where these bytes start.
    template <typename Emit, typename Spare>
    void StepInPlace(const Emit& emit, const Spare& spare)
    {
        const std::size_t end = std::min(whole_.size(), read_ + std::max<std::size_t>(readBytes_, 1));
        read_ = end;
        source_.TakenInPlace(end);
        atEnd_ = end == whole_.size();
        const std::string_view uncut = whole_.substr(pending_, end - pending_);
        const std::size_t cut = atEnd_ ? uncut.size() : cutter_.Cut(uncut);
        if (cut == 0)
            return;
        const std::size_t start = std::exchange(pending_, pending_ + cut);
        Take(uncut.substr(0, cut), std::make_shared<const PassedBytes>(source_, start, cut), emit, spare);
    }

    // The facts told by a piece's text; the piece, its tokens cut, to `emit`.
    template <typename Emit, typename Spare>
    void Take(std::string_view text, std::shared_ptr<const void> held, const Emit& emit, const Spare& spare)
    {
        if (facts_.head.size() < kDialectBytes)
            facts_.head.append(text.substr(0, kDialectBytes - facts_.head.size()));
        // Whether the bytes are UTF-8 is told by the whole input, and the dialect by
        // the text's first bytes: both past a 0x1A byte too.
        facts_.utf8 = facts_.utf8 && IsUtf8(text);
        if (facts_.stopped) {
            if ((!facts_.utf8 || facts_.decoder.TextEncoding() != Encoding::kUtf8) &&
                facts_.head.size() >= kDialectBytes)
                atEnd_ = true;  // nothing further to tell
            return;
        }
        facts_.lineEnds.Add(text);
        Piece piece;
        piece.held = std::move(held);
        piece.text = text;
        piece.cut = spare();
        Tokenizer tokens(piece.text, line_);
        line_ = piece.endLine = tokens.CutAll(piece.cut.tokens).line;
        CutSpans(piece.cut.tokens, piece.cut.spans);
        facts_.stopped = tokens.StoppedAtCtrlZ();
        emit(std::move(piece));
    }

    ByteSource& source_;
    std::size_t readBytes_;
    InputFacts& facts_;
    std::string_view whole_;  // the source's bytes in place, if it offers them
    std::string raw_;
    std::string uncut_;  // copied: the decoded text not yet in a piece
    LineCutter cutter_;
    std::size_t read_ = 0;      // bytes of the source read or taken in place
    std::size_t pending_ = 0;   // in place: where the text not yet in a piece starts
    bool inPlace_ = false;
    std::int32_t line_ = 1;
    bool atEnd_ = false;
};

// The pieces handed from the thread that reads them to the one that files their
// statements: at most kAhead wait, so that memory stays bounded whatever the input.
// Token lists come back to be reused rather than allocated afresh for each piece.
class PieceQueue {
  public:
    struct Cancelled {};

    void Push(Piece piece)
    {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return ready_.size() < kAhead || cancelled_; });
        if (cancelled_)
            throw Cancelled{};
        ready_.push_back(std::move(piece));
        changed_.notify_all();
    }
    // The next piece, in order; false once the reading has ended and every piece is taken.
    bool Pop(Piece& piece)
    {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return !ready_.empty() || done_; });
        if (ready_.empty())
            return false;
        piece = std::move(ready_.front());
        ready_.pop_front();
        changed_.notify_all();
        return true;
    }
    // The reading has ended, with what it threw (or nothing).
    void Finish(std::exception_ptr error)
    {
        const std::lock_guard lock(mutex_);
        done_ = true;
        error_ = std::move(error);
        changed_.notify_all();
    }
    // The filing has stopped (its sink threw): the reading stops at its next piece.
    void Cancel()
    {
        const std::lock_guard lock(mutex_);
        cancelled_ = true;
        changed_.notify_all();
    }
    std::exception_ptr Error()
    {
        const std::lock_guard lock(mutex_);
        return error_;
    }
    PieceTokens Spare()
    {
        const std::lock_guard lock(mutex_);
        if (spare_.empty())
            return {};
        PieceTokens tokens = std::move(spare_.back());
        spare_.pop_back();
        return tokens;
    }
    void GiveBack(PieceTokens tokens)
    {
        tokens.Clear();
        const std::lock_guard lock(mutex_);
        if (spare_.size() < kAhead + 2)
            spare_.push_back(std::move(tokens));
    }

  private:
    static constexpr std::size_t kAhead = 4;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Piece> ready_;
    std::vector<PieceTokens> spare_;
    bool done_ = false, cancelled_ = false;
    std::exception_ptr error_;
};

bool UseTwoThreads(ReadThreads threads)
{
    switch (threads) {
    case ReadThreads::kOne: return false;
    case ReadThreads::kTwo: return true;
    case ReadThreads::kChosen: return platform::UsableCores() > 1;
    }
    return false;
}

}  // namespace

bool ReadsOnTwoThreads(ReadThreads threads)
{
    return UseTwoThreads(threads);
}

namespace {

// StreamAse, the text each node points into held for the sink when `hold`.
Scene Stream(ByteSource& source, const HoldingNodeSink& sink, bool hold, std::size_t readBytes, ReadThreads threads)
{
    Scene scene;
    struct Chunk {
        std::shared_ptr<const void> held;
        std::size_t bytes = 0;
    };
    std::deque<Chunk> chunks;    // text the reading may still point into
    std::size_t firstChunk = 0;  // the number of chunks.front()
    std::size_t chunkCount = 0;
    const HandOutTo handOut = [&](SceneNode& node, std::size_t first) {
        NodeText text;
        if (hold) {
            auto held = std::make_shared<std::vector<std::shared_ptr<const void>>>();
            for (auto chunk = chunks.begin() + static_cast<std::ptrdiff_t>(first - firstChunk); chunk != chunks.end();
                 ++chunk) {
                held->push_back(chunk->held);
                text.bytes += chunk->bytes;
            }
            text.held = std::move(held);
        }
        sink(node, std::move(text));
    };
    Feeder feeder(scene, handOut);
    InputFacts facts;
    std::string comment;
    std::int32_t line = 1;
    // The comment, once read, copied out of the text before that is let go of.
    const auto keepComment = [&] {
        if (!scene.comment.empty() && comment.empty()) {
            comment.assign(scene.comment);
            scene.comment = comment;
        }
    };
    // The statements of a piece filed, its nodes handed out, the text no node
    // points into any more let go of.
    const auto file = [&](Piece& piece) {
        chunks.push_back({std::move(piece.held), piece.text.size()});
        const std::size_t current = chunkCount++;
        feeder.FeedSpans(piece.cut.tokens, piece.cut.spans, current);
        line = piece.endLine;
        keepComment();
        for (const std::size_t keep = feeder.OldestChunkHeld(current); firstChunk < keep && !chunks.empty();
             ++firstChunk)
            chunks.pop_front();
    };
    PieceReader pieces(source, readBytes, facts);
    PieceTokens spare;
    const auto fileHere = [&](Piece&& piece) {
        file(piece);
        spare = std::move(piece.cut);
        spare.Clear();
    };
    const auto spareHere = [&] { return std::move(spare); };
    // The first read is filed on this thread: an input that ends within it is read
    // without a second thread, which would cost more than it saves.
    pieces.Step(fileHere, spareHere);
    std::optional<std::thread> reader;
    PieceQueue queue;
    if (!pieces.AtEnd() && UseTwoThreads(threads)) {
        try {
            reader.emplace([&] {
                try {
                    pieces.ReadToEnd([&](Piece&& piece) { queue.Push(std::move(piece)); },
                                     [&] { return queue.Spare(); });
                    queue.Finish(nullptr);
                } catch (const PieceQueue::Cancelled&) {
                    queue.Finish(nullptr);
                } catch (...) {
                    queue.Finish(std::current_exception());
                }
            });
        } catch (const std::system_error&) {
            // No thread to be had: the reading runs on this one.
        }
    }
    if (reader) {
        try {
            for (Piece piece; queue.Pop(piece);) {
                file(piece);
                queue.GiveBack(std::move(piece.cut));
            }
        } catch (...) {
            queue.Cancel();
            reader->join();
            throw;
        }
        reader->join();
        if (const std::exception_ptr error = queue.Error())
            std::rethrow_exception(error);
    } else {
        pieces.ReadToEnd(fileHere, spareHere);
    }
    feeder.Finish(line);  // the last statement, the comment perhaps, is read here
    keepComment();
    scene.stoppedAtCtrlZ = facts.stopped;
    scene.dialect = DetectDialect(comment, facts.head);
    scene.encoding = facts.decoder.TextEncoding() == Encoding::kUtf8 && !facts.utf8 ? Encoding::kEightBit
                                                                                      : facts.decoder.TextEncoding();
    scene.lineEnds = facts.lineEnds.Result();
    scene.comment = {};
    return scene;
}

}  // namespace

Scene StreamAse(ByteSource& source, const NodeSink& sink, std::size_t readBytes, ReadThreads threads)
{
    return Stream(
        source, [&sink](SceneNode& node, NodeText) { sink(node); }, false, readBytes, threads);
}

Scene StreamAse(ByteSource& source, const HoldingNodeSink& sink, std::size_t readBytes, ReadThreads threads)
{
    return Stream(source, sink, true, readBytes, threads);
}

}  // namespace ase2sgl::tolerant
