// Lint: the converter's two reads watched through their observer, and the bundle
// they write, set beside the meshes and nodes the tolerant reader finds in one read
// of the file, each mesh's fate explained.
#include "lint/lint.h"

#include "ase/pass_observer.h"
#include "ase/upper_case_1252.h"
#include "bundle/mesh_bundle.h"
#include "common/conversion_error.h"
#include "common/format_limits.h"
#include "conversion/convert.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <exception>
#include <filesystem>
#include <fstream>
#include <functional>
#include <limits>
#include <new>
#include <optional>
#include <set>
#include <system_error>
#include <thread>

// SSE2 is part of every x86-64 processor: there line feeds are counted 16 bytes at
// a time; elsewhere by memchr.
#if defined(__SSE2__) || defined(_M_X64)
#define ASE2SGL_LINT_SSE2 1
#include <emmintrin.h>
#endif

namespace ase2sgl::lint {

namespace {

using tolerant::NodeKind;

// What lint needs of a node of the tolerant reading: kept for every node, while
// the node's lists are let go of as the reading goes on.
struct NodeSeen {
    NodeKind kind = NodeKind::kGeometry;
    std::string name;
    std::int32_t line = 0, meshLine = 0, groupLine = 0;
    bool hasMesh = false;
    std::size_t vertices = 0, faces = 0;
    bool texVertices = false, vertexNormals = false;  // whether the mesh has any

    explicit NodeSeen(const tolerant::SceneNode& node)
        : kind(node.kind),
          name(node.name),
          line(node.line),
          meshLine(node.meshLine),
          groupLine(node.groupLine),
          hasMesh(node.hasMesh),
          vertices(node.mesh.vertices.size()),
          faces(node.mesh.faces.size()),
          texVertices(!node.mesh.texVertices.empty()),
          vertexNormals(!node.mesh.vertexNormals.empty())
    {
    }
};
using Scene = std::vector<NodeSeen>;

// Everything the two reads tell, kept for matching once they are done.
class Recorder : public PassObserver {
  public:
    struct Counted {
        CountedObject seen;
        std::string name;  // the observer's view of the name lives only during the call
    };
    std::vector<Counted> counted;
    std::vector<ReadObject> read;
    std::vector<std::pair<std::int64_t, std::int32_t>> passedOver;
    std::vector<std::int64_t> withoutMesh;

    void HeaderPassedOver(std::int64_t line, std::int32_t object) override { passedOver.emplace_back(line, object); }
    void HeaderWithoutMesh(std::int64_t line) override { withoutMesh.push_back(line); }
    void ObjectCounted(const CountedObject& seen) override { counted.push_back({seen, std::string(seen.name)}); }
    void ObjectRead(const ReadObject& seen) override { read.push_back(seen); }
};

// Line numbers (from 1) of the byte offsets of the raw input that the converter's
// reads report, told in one pass over the bytes as they go by (so that nothing the
// size of the input is kept): the offsets are asked for first, then the bytes pass.
// The same pass finds the first 0x1A byte, and whether a node header follows it.
class LineIndex : public tolerant::ByteSource {
  public:
    void Want(std::int64_t offset)
    {
        if (offset >= 0)
            wanted_.push_back(offset);
    }

    // Reads `source` to its end through this index (as the tolerant reader's source).
    void Start(tolerant::ByteSource& source)
    {
        std::sort(wanted_.begin(), wanted_.end());
        wanted_.erase(std::unique(wanted_.begin(), wanted_.end()), wanted_.end());
        lineOfWanted_.assign(wanted_.size(), 0);
        source_ = &source;
    }

    std::size_t Read(char* buffer, std::size_t size) override
    {
        const std::size_t n = source_->Read(buffer, size);
        Pass(std::string_view(buffer, n));
        return n;
    }

    // The rest of the input, past where the reader stopped.
    void ReadToEnd()
    {
        std::string buffer(std::size_t{1} << 16, '\0');
        while (Read(buffer.data(), buffer.size()) > 0) {
        }
    }

    std::int32_t LineOf(std::int64_t offset) const
    {
        if (offset < 0)
            return 0;
        const auto at = std::lower_bound(wanted_.begin(), wanted_.end(), offset);
        if (at == wanted_.end() || *at != offset)
            return 0;  // not asked for: never the case
        return lineOfWanted_[static_cast<std::size_t>(at - wanted_.begin())];
    }
    std::int32_t Lines() const
    {
        return static_cast<std::int32_t>(lineFeeds_) + (bytes_ == 0 || lastByte_ == '\n' ? 0 : 1);
    }
    // The line of the first 0x1A byte, or 0 when there is none.
    std::int32_t CtrlZLine() const { return ctrlZ_ < 0 ? 0 : ctrlZLine_; }
    bool NodeHeaderAfterCtrlZ() const { return headerAfterCtrlZ_; }

  private:
    void Pass(std::string_view piece)
    {
        if (piece.empty())
            return;
        const std::int64_t base = bytes_;
        const std::int64_t end = base + static_cast<std::int64_t>(piece.size());
        const std::int64_t feedsBefore = lineFeeds_;
        std::int64_t at = base;  // line feeds before `at` are counted
        for (; next_ < wanted_.size() && wanted_[next_] <= end; ++next_) {
            lineFeeds_ += Count(piece, at - base, wanted_[next_] - base);
            at = wanted_[next_];
            lineOfWanted_[next_] = static_cast<std::int32_t>(lineFeeds_) + 1;
        }
        lineFeeds_ += Count(piece, at - base, end - base);
        if (ctrlZ_ < 0) {
            if (const void* stop = std::memchr(piece.data(), 0x1A, piece.size())) {
                ctrlZ_ = base + (static_cast<const char*>(stop) - piece.data());
                ctrlZLine_ = static_cast<std::int32_t>(feedsBefore + Count(piece, 0, ctrlZ_ - base)) + 1;
                tail_.clear();
                piece.remove_prefix(static_cast<std::size_t>(ctrlZ_ - base));
            }
        }
        if (ctrlZ_ >= 0 && !headerAfterCtrlZ_) {
            // The header may straddle two pieces: the end of the one before is kept.
            static constexpr std::string_view kHeader = "*GEOMOBJECT";
            tail_.append(piece);
            headerAfterCtrlZ_ = tail_.find(kHeader) != std::string::npos;
            if (tail_.size() >= kHeader.size())
                tail_.erase(0, tail_.size() - (kHeader.size() - 1));
        }
        bytes_ = end;
        lastByte_ = piece.empty() ? lastByte_ : piece.back();
    }

    // Line feeds in piece[from, to). With SSE2, 16 bytes at a time without a branch
    // per line: each byte lane adds up its line feeds for up to 255 rounds (it
    // cannot overflow), then the lanes are summed.
    static std::int64_t Count(std::string_view piece, std::int64_t from, std::int64_t to)
    {
        std::int64_t count = 0;
        const char* p = piece.data() + from;
        const char* stop = piece.data() + to;
#ifdef ASE2SGL_LINT_SSE2
        const __m128i lineFeed = _mm_set1_epi8('\n');
        while (stop - p >= 16) {
            const char* roundsEnd = p + std::min<std::ptrdiff_t>((stop - p) / 16, 255) * 16;
            __m128i lanes = _mm_setzero_si128();
            for (; p < roundsEnd; p += 16)
                lanes = _mm_sub_epi8(lanes, _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), lineFeed));
            const __m128i sums = _mm_sad_epu8(lanes, _mm_setzero_si128());  // two sums of eight lanes
            count += _mm_cvtsi128_si32(sums) + _mm_extract_epi16(sums, 4);
        }
#endif
        while (p < stop && (p = static_cast<const char*>(std::memchr(p, '\n', static_cast<std::size_t>(stop - p))))) {
            ++count;
            ++p;
        }
        return count;
    }

    tolerant::ByteSource* source_ = nullptr;
    std::vector<std::int64_t> wanted_;
    std::vector<std::int32_t> lineOfWanted_;
    std::size_t next_ = 0;
    std::int64_t bytes_ = 0, lineFeeds_ = 0, ctrlZ_ = -1;
    char lastByte_ = '\n';
    std::int32_t ctrlZLine_ = 0;
    bool headerAfterCtrlZ_ = false;
    std::string tail_;
};

// Whether each object of the bundle has only zero normals, only zero texture
// coordinates (what an engine would draw), told from the bundle's bytes as the
// converter writes them: the object count, then per object its 255-byte name, its
// vertex count and its positions (3 floats a vertex), normals (3) and texture
// coordinates (2), little-endian.
class ZeroValuesSink : public ByteSink {
  public:
    struct ZeroValues {
        bool normals = false, texcoords = false;
    };
    std::vector<ZeroValues> objects;

    void Write(const char* data, std::size_t size) override
    {
        for (std::string_view rest(data, size); !rest.empty();) {
            if (left_ == 0)
                NextPart();
            const std::size_t take = std::min<std::size_t>(rest.size(), left_);
            Take(rest.substr(0, take));
            rest.remove_prefix(take);
            left_ -= take;
        }
    }

  private:
    enum class Part { kCount, kHeader, kPositions, kNormals, kTexcoords };

    void NextPart()
    {
        switch (part_) {
        case Part::kCount:
        case Part::kTexcoords:
            part_ = Part::kHeader;
            left_ = kRecordHeaderBytes;
            header_.clear();
            return;
        case Part::kHeader: {
            std::uint32_t count = 0;
            for (std::size_t i = 0; i < 4; ++i)
                count |= static_cast<std::uint32_t>(static_cast<unsigned char>(header_[kNameFieldBytes + i]))
                         << (8 * i);
            vertices_ = count;
            objects.push_back({count > 0, count > 0});
            part_ = Part::kPositions;
            left_ = 12 * vertices_;
            break;
        }
        case Part::kPositions:
            part_ = Part::kNormals;
            left_ = 12 * vertices_;
            break;
        case Part::kNormals:
            part_ = Part::kTexcoords;
            left_ = 8 * vertices_;
            break;
        }
        if (left_ == 0)
            NextPart();
    }

    void Take(std::string_view bytes)
    {
        if (part_ == Part::kHeader) {
            header_.append(bytes);
            return;
        }
        if (part_ != Part::kNormals && part_ != Part::kTexcoords)
            return;
        bool& zero = part_ == Part::kNormals ? objects.back().normals : objects.back().texcoords;
        // A float is zero (either sign) when all its bits but the sign are: the
        // pieces may cut a float, so bytes are looked at one by one.
        for (const char c : bytes) {
            const auto byte = static_cast<unsigned char>(c);
            const std::size_t inFloat = floatByte_++ % 4;
            zero = zero && (inFloat == 3 ? (byte & 0x7F) == 0 : byte == 0);
        }
    }

    Part part_ = Part::kCount;
    std::size_t left_ = kCountBytes;
    std::uint64_t vertices_ = 0;
    std::uint64_t floatByte_ = 0;
    std::string header_;
};

// The name as the bundle stores a node's name: cut to the name field, upper-cased
// by the converter's own rule.
std::string BundleName(std::string_view name)
{
    std::string out(name.substr(0, kMaxNameBytes));
    for (char& c : out)
        c = static_cast<char>(UpperCase1252(static_cast<unsigned char>(c)));
    return out;
}

const char* KindName(NodeKind kind)
{
    switch (kind) {
    case NodeKind::kGeometry: return "node";
    case NodeKind::kCamera: return "camera";
    case NodeKind::kLight: return "light";
    case NodeKind::kHelper: return "helper";
    case NodeKind::kShape: return "shape";
    }
    return "node";
}

std::string Quoted(std::string_view text)
{
    return "\"" + std::string(text) + "\"";
}

std::string Plural(std::int64_t n, const char* one, const char* many)
{
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

bool IsMesh(const NodeSeen& node)
{
    return node.kind == NodeKind::kGeometry && node.hasMesh && node.vertices > 0;
}

// The converter's two reads, observed, their bundle handed to the sink; throws
// InputRefused when ase2sgl refuses the input.
using ObservedConversion = std::function<void(PassObserver&, ByteSink&)>;

class Linter {
  public:
    explicit Linter(ObservedConversion convert) : convert_(std::move(convert)) {}

    // `source`: the input's bytes for the tolerant reader. With `again`, the same
    // `bytes` read a second time, the converter's reads and the pass that tells
    // their lines run on a thread of their own beside the tolerant reading (when
    // the process may use more than one core and the input is large enough for a
    // thread to pay, or two threads are asked for); otherwise the tolerant reading
    // comes after them, in the same pass as the lines.
    LintReport Run(tolerant::ByteSource& source, tolerant::ByteSource* again = nullptr, std::uint64_t bytes = 0,
                   tolerant::ReadThreads threads = tolerant::ReadThreads::kChosen)
    {
        threads_ = threads;
        const bool beside = again && tolerant::ReadsOnTwoThreads(threads) &&
                            (threads == tolerant::ReadThreads::kTwo || bytes >= kBesideBytes);
        const tolerant::Scene facts = beside ? ReadBeside(source, *again) : ReadAfter(source);
        const Scene& scene = scene_;
        report_.dialect = facts.dialect;
        report_.encoding = facts.encoding;
        report_.lineEnds = facts.lineEnds;
        for (const NodeSeen& node : scene) {
            if (IsMesh(node))
                meshes_.push_back(&node);
            else
                ++report_.otherNodes;
        }
        report_.meshes = static_cast<std::int32_t>(meshes_.size());
        ListObjects();
        FileFindings();
        MatchMeshes(scene);
        NodeFindings(scene);
        ObjectFindings();
        std::stable_sort(report_.findings.begin(), report_.findings.end(),
                         [](const Finding& a, const Finding& b) { return a.line < b.line; });
        return std::move(report_);
    }

  private:
    static constexpr std::uint64_t kBesideBytes = std::uint64_t{1} << 20;

    tolerant::Scene ReadTolerant(tolerant::ByteSource& source)
    {
        return tolerant::StreamAse(
            source, [this](const tolerant::SceneNode& node) { scene_.emplace_back(node); }, tolerant::kReadBytes,
            threads_);
    }

    tolerant::Scene ReadAfter(tolerant::ByteSource& source)
    {
        Convert();
        WantLines();
        lines_.Start(source);
        tolerant::Scene facts = ReadTolerant(lines_);
        lines_.ReadToEnd();
        return facts;
    }

    // The converter's side fails first, as it does when it runs first.
    tolerant::Scene ReadBeside(tolerant::ByteSource& source, tolerant::ByteSource& again)
    {
        std::exception_ptr converterFailed, readFailed;
        std::optional<std::thread> converter;
        try {
            converter.emplace([&] {
                try {
                    Convert();
                    WantLines();
                    lines_.Start(again);
                    lines_.ReadToEnd();
                } catch (...) {
                    converterFailed = std::current_exception();
                }
            });
        } catch (const std::system_error&) {
            return ReadAfter(source);  // no thread to be had
        }
        tolerant::Scene facts;
        try {
            facts = ReadTolerant(source);
        } catch (...) {
            readFailed = std::current_exception();
        }
        converter->join();
        if (converterFailed)
            std::rethrow_exception(converterFailed);
        if (readFailed)
            std::rethrow_exception(readFailed);
        return facts;
    }

    void Convert()
    {
        try {
            convert_(recorder_, zero_);
        } catch (const InputRefused& refused) {
            report_.refused = true;
            report_.refusal = refused.what();
            zero_.objects.clear();
        }
    }

    // Every offset of the input whose line a finding may name.
    void WantLines()
    {
        for (const Recorder::Counted& counted : recorder_.counted)
            for (const std::int64_t offset :
                 {counted.seen.header, counted.seen.vertexStart, counted.seen.vertexRunEnd, counted.seen.faceStart,
                  counted.seen.faceRunEnd, counted.seen.texVertexStart, counted.seen.end})
                lines_.Want(offset);
        for (const PassObserver::ReadObject& read : recorder_.read)
            for (const std::int64_t offset :
                 {read.texVertexStart, read.faceStart, read.texFaceStart, read.faceNormalStart})
                lines_.Want(offset);
        for (const std::int64_t header : recorder_.withoutMesh)
            lines_.Want(header);
    }

    void Add(Severity severity, std::string kind, std::int32_t line, std::int32_t object, std::string message)
    {
        report_.findings.push_back({severity, std::move(kind), line, object, std::move(message)});
    }

    void ListObjects()
    {
        if (report_.refused)
            return;
        const std::size_t count = recorder_.counted.size();
        for (std::size_t j = 0; j < count; ++j) {
            const auto& seen = recorder_.counted[j].seen;
            LintObject object;
            object.index = static_cast<std::int32_t>(j);
            object.name = recorder_.counted[j].name;
            object.vertices = j < recorder_.read.size() ? recorder_.read[j].cornersRead : 0;
            object.triangles = object.vertices / 3;
            object.headerLine = lines_.LineOf(seen.header);
            object.firstLine = lines_.LineOf(seen.vertexStart);
            object.lastLine =
                j + 1 < count ? lines_.LineOf(recorder_.counted[j + 1].seen.vertexStart) - 1 : lines_.Lines();
            report_.objects.push_back(std::move(object));
        }
    }

    void FileFindings()
    {
        if (report_.refused)
            Add(Severity::kLoss, "too-many-objects", 0, -1,
                "more than " + std::to_string(kMaxObjects) + " objects: ase2sgl refuses the file (exit 3)");
        if (report_.encoding == tolerant::Encoding::kUtf16Le || report_.encoding == tolerant::Encoding::kUtf16Be)
            Add(Severity::kLoss, "utf16", 1, -1,
                std::string("the text is ") + tolerant::EncodingName(report_.encoding) +
                    ": ase2sgl reads bytes and finds none of its keys; sgltool convert reads it");
        if (lines_.CtrlZLine() > 0) {
            const bool meshesAfter = lines_.NodeHeaderAfterCtrlZ();
            Add(meshesAfter ? Severity::kLoss : Severity::kWarning, "ctrl-z", lines_.CtrlZLine(), -1,
                std::string("a 0x1A byte: ase2sgl's input ends here, the rest is not read") +
                    (meshesAfter ? ", meshes included" : ""));
        }
        if (report_.lineEnds == tolerant::LineEnds::kCr)
            Add(Severity::kWarning, "cr-line-ends", 1, -1,
                "CR-only line ends: ase2sgl reads the whole file as one line; sgltool convert reads it");
        const bool lost = report_.objects.size() < meshes_.size();
        const bool known = report_.dialect != tolerant::Dialect::kUnknown;
        if (report_.dialect != tolerant::Dialect::kMax && !meshes_.empty() && (known || lost))
            Add(lost ? Severity::kLoss : Severity::kNote, "dialect", 0, -1,
                std::string("written by ") + (known ? tolerant::DialectName(report_.dialect) : "an unknown exporter") +
                    " (its *COMMENT line and spacing): ase2sgl reads only the exact layout of 3ds Max's ASCII "
                    "exporter" +
                    (lost ? "; sgltool convert reads this one" : ", which this file keeps"));
    }

    // Node headers the converter found no vertex list after, unless the node is a
    // mesh already reported lost.
    void NodeFindings(const Scene& scene)
    {
        for (const std::int64_t header : recorder_.withoutMesh) {
            const std::int32_t line = lines_.LineOf(header);
            const NodeSeen* node = NodeAt(scene, line);
            if (node == nullptr || lostMeshes_.count(node) == 0)
                Add(Severity::kNote, "node-without-mesh", line, -1,
                    "a node header with no vertex list after it: not an object");
        }
    }

    // The object whose vertex-start line lies in [from, to), or -1.
    std::int32_t ObjectStartingIn(std::int32_t from, std::int32_t to) const
    {
        for (const LintObject& object : report_.objects)
            if (object.firstLine >= from && object.firstLine < to)
                return object.index;
        return -1;
    }

    // The last object starting before `line`, or -1.
    std::int32_t ObjectBefore(std::int32_t line) const
    {
        std::int32_t found = -1;
        for (const LintObject& object : report_.objects)
            if (object.firstLine < line)
                found = object.index;
        return found;
    }

    // The node whose block holds `line`: the last one to begin at or before it.
    static const NodeSeen* NodeAt(const Scene& scene, std::int32_t line)
    {
        const NodeSeen* found = nullptr;
        for (const NodeSeen& node : scene)
            if (node.line <= line)
                found = &node;
        return found;
    }

    void MatchMeshes(const Scene& scene)
    {
        std::vector<bool> owned(report_.objects.size(), false);
        meshOf_.assign(report_.objects.size(), nullptr);
        for (std::size_t m = 0; m < meshes_.size(); ++m) {
            const NodeSeen& mesh = *meshes_[m];
            const std::int32_t from = mesh.meshLine;
            const std::int32_t to =
                m + 1 < meshes_.size() ? meshes_[m + 1]->meshLine : std::numeric_limits<std::int32_t>::max();
            const std::string label = "mesh " + Quoted(mesh.name) + " (line " + std::to_string(mesh.line) + ")";
            const std::int32_t own = ObjectStartingIn(from, to);
            if (own < 0) {
                MeshNotOwn(mesh, label);
                continue;
            }
            const auto j = static_cast<std::size_t>(own);
            owned[j] = true;
            ownMesh_.emplace_back(own, &mesh);
            meshOf_[j] = &mesh;
            const LintObject& object = report_.objects[j];
            if (object.name == BundleName(mesh.name)) {
                ++report_.ownObjects;
                continue;
            }
            const NodeSeen* namer = NodeAt(scene, object.headerLine);
            if (namer != nullptr && namer != &mesh) {
                lostMeshes_.insert(&mesh);
                Add(Severity::kLoss, "name-taken", mesh.line, own,
                    label + " becomes object " + std::to_string(own) + " under the name " + Quoted(object.name) +
                        " of the " + KindName(namer->kind) + " at line " + std::to_string(namer->line) +
                        ": the node header before a mesh names it");
            } else {
                lostMeshes_.insert(&mesh);
                Add(Severity::kLoss, "name-changed", mesh.line, own,
                    label + " becomes object " + std::to_string(own) + " under the name " + Quoted(object.name) +
                        ", the text of its node header line at line " + std::to_string(object.headerLine));
            }
        }
        for (std::size_t j = 0; j < owned.size(); ++j) {
            if (!owned[j])
                Add(Severity::kWarning, "object-without-mesh", report_.objects[j].firstLine,
                    static_cast<std::int32_t>(j),
                    "object " + std::to_string(j) + " " + Quoted(report_.objects[j].name) +
                        " starts at a vertex list that no mesh block of the file holds");
        }
    }

    void MeshNotOwn(const NodeSeen& mesh, const std::string& label)
    {
        const std::int32_t into = ObjectBefore(mesh.meshLine);
        if (report_.refused)
            return;
        lostMeshes_.insert(&mesh);
        const std::string why =
            into < 0 ? std::string() : RunOnInto(recorder_.counted[static_cast<std::size_t>(into)].seen, mesh);
        if (why.empty()) {
            const std::string where =
                mesh.groupLine > 0 ? " in the *GROUP at line " + std::to_string(mesh.groupLine) : std::string();
            Add(Severity::kLoss, "mesh-not-read", mesh.line, -1,
                label + where + " is dropped: none of its lines is in the layout ase2sgl reads");
            return;
        }
        Add(Severity::kLoss, "mesh-merged", mesh.line, into,
            label + " is merged into object " + std::to_string(into) + " " +
                Quoted(report_.objects[static_cast<std::size_t>(into)].name) + ": " + why);
    }

    // How an object's reading ran on into a later mesh's lines, or empty when it
    // stopped before them: then the mesh is merged into nothing, but dropped.
    std::string RunOnInto(const PassObserver::CountedObject& seen, const NodeSeen& mesh) const
    {
        if (seen.faceStart != PassObserver::kNone && lines_.LineOf(seen.faceStart) >= mesh.meshLine)
            return "its search for a face list ran on to line " + std::to_string(lines_.LineOf(seen.faceStart));
        if (seen.texVertexSearch == SearchEnd::kFound && lines_.LineOf(seen.texVertexStart) >= mesh.meshLine)
            return "its own mesh has neither texture vertices nor normals, and its search for texture vertices ran "
                   "on to line " +
                   std::to_string(lines_.LineOf(seen.texVertexStart));
        if (seen.texVertexSearch == SearchEnd::kEndOfInput)
            return "its own mesh has neither texture vertices nor normals, and its search for texture vertices ran "
                   "on to the end of the file";
        const std::int32_t end = lines_.LineOf(seen.end) - 1;
        if (end >= mesh.meshLine)
            return "its reading ran on to line " + std::to_string(end);
        return {};
    }

    void ObjectFindings()
    {
        const std::vector<ZeroValues>& zero = zero_.objects;
        for (std::size_t j = 0; j < recorder_.read.size() && j < report_.objects.size(); ++j) {
            const PassObserver::ReadObject& r = recorder_.read[j];
            const auto index = static_cast<std::int32_t>(j);
            const std::string who = "object " + std::to_string(j) + " " + Quoted(report_.objects[j].name);
            if (r.faces == 0) {
                Add(Severity::kWarning, "no-faces", report_.objects[j].firstLine, index,
                    who + ": no face list in its lines");
                continue;
            }
            ValueFindings(r, j < zero.size() ? zero[j] : ZeroValues{}, index, who);
            ReadFindings(r, index, who);
        }
        for (const auto& [index, mesh] : ownMesh_) {
            const auto& seen = recorder_.counted[static_cast<std::size_t>(index)].seen;
            const std::string who =
                "object " + std::to_string(index) + " " + Quoted(report_.objects[static_cast<std::size_t>(index)].name);
            ListBreak(seen.vertexLines, mesh->vertices, seen.vertexRunEnd, index, who, "vertex");
            ListBreak(seen.faceLines, mesh->faces, seen.faceRunEnd, index, who, "face");
        }
    }

    using ZeroValues = ZeroValuesSink::ZeroValues;

    // Normals and texture coordinates the engine will not see, and the way out.
    void ValueFindings(const PassObserver::ReadObject& r, ZeroValues zero, std::int32_t index, const std::string& who)
    {
        const std::int32_t first = report_.objects[static_cast<std::size_t>(index)].firstLine;
        const std::string normals = WayOutForNormals(index), texcoords = WayOutForTexcoords(index);
        if (r.normalsSearch != SearchEnd::kFound)
            Add(Severity::kWarning, "normals-missing", first, index,
                who + ": no normals block in its lines, normals left zero" + normals);
        else if (zero.normals)
            Add(Severity::kWarning, "normals-zero", first, index,
                who + ": every normal is zero in the bundle, none of its normals-block lines reads" + normals);
        if (r.texVertexSearch != SearchEnd::kFound)
            Add(Severity::kWarning, "texcoords-missing", first, index,
                who + ": no texture-vertex list before its normals block, texture coordinates left zero" + texcoords);
        else if (r.texFaceSearch != SearchEnd::kFound)
            Add(Severity::kWarning, "texfaces-missing", lines_.LineOf(r.texVertexStart), index,
                who + ": no texture-face list before its normals block, texture coordinates left zero" + texcoords);
        else if (zero.texcoords)
            Add(Severity::kWarning, "texcoords-zero", first, index,
                who + ": every texture coordinate is zero in the bundle" + texcoords);
    }

    // sgltool convert writes the file's normals, or computes them, for every mesh.
    std::string WayOutForNormals(std::int32_t index) const
    {
        const NodeSeen* mesh = meshOf_[static_cast<std::size_t>(index)];
        if (mesh == nullptr)
            return {};
        return !mesh->vertexNormals ? "; sgltool convert computes them" : "; sgltool convert reads the file's normals";
    }

    // Texture coordinates it can give only where the file has some.
    std::string WayOutForTexcoords(std::int32_t index) const
    {
        const NodeSeen* mesh = meshOf_[static_cast<std::size_t>(index)];
        if (mesh == nullptr || !mesh->texVertices)
            return {};
        return "; sgltool convert reads the file's texture coordinates";
    }

    // Lines of the converter's reads that did not scan, or were missing.
    void ReadFindings(const PassObserver::ReadObject& r, std::int32_t index, const std::string& who)
    {
        Count(r.faceLinesNotScanned, "list-breaks", r.faceStart, index, who,
              {"face line whose vertex numbers do not read (it repeats",
               "face lines whose vertex numbers do not read (each repeats"},
              " the numbers of the line before)");
        Count(r.texFaceLinesNotScanned, "list-breaks", r.texFaceStart, index, who,
              {"texture-face line that does not read (it repeats", "texture-face lines that do not read (each repeats"},
              " the numbers of the line before)");
        Count(r.vertexNormalLinesNotScanned, "list-breaks", r.faceNormalStart, index, who,
              {"normals-block line that is not a vertex normal", "normals-block lines that are not a vertex normal"},
              " where one is read (normal kept)");
        Count(r.texFaceLinesMissing, "list-short", r.texFaceStart, index, who,
              {"texture-face line", "texture-face lines"}, " missing at the end of its lines");
        Count(r.vertexNormalLinesMissing, "list-short", r.faceNormalStart, index, who,
              {"vertex-normal line", "vertex-normal lines"}, " missing at the end of its lines");
        Count(r.vertexNumbersOutside, "number-outside", r.faceStart, index, who,
              {"face corner whose vertex number is", "face corners whose vertex number is"},
              " outside its vertex list (position left zero)");
        Count(r.texVertexNumbersOutside, "number-outside", r.texFaceStart, index, who,
              {"texture-face corner whose number is", "texture-face corners whose number is"},
              " outside its texture-vertex list (left zero)");
    }

    void Count(std::int64_t n, const char* kind, std::int64_t at, std::int32_t object, const std::string& who,
               std::pair<const char*, const char*> forms, const char* rest)
    {
        if (n > 0)
            Add(Severity::kWarning, kind, lines_.LineOf(at), object,
                who + ": " + Plural(n, forms.first, forms.second) + rest);
    }

    void ListBreak(std::int64_t read, std::size_t declared, std::int64_t end, std::int32_t object,
                   const std::string& who, const char* list)
    {
        if (read >= static_cast<std::int64_t>(declared) || end == PassObserver::kNone)
            return;
        Add(Severity::kWarning, "list-breaks", lines_.LineOf(end), object,
            who + ": its " + list + " list stops after " + std::to_string(read) + " of " + std::to_string(declared) +
                " lines, where the numbering or spacing of the exporter's layout breaks");
    }

    ObservedConversion convert_;
    tolerant::ReadThreads threads_ = tolerant::ReadThreads::kChosen;
    LineIndex lines_;
    Recorder recorder_;
    LintReport report_;
    ZeroValuesSink zero_;  // what the bundle the converter writes shows
    Scene scene_;          // every node of the tolerant reading, in file order
    std::vector<const NodeSeen*> meshes_;
    std::vector<std::pair<std::int32_t, const NodeSeen*>> ownMesh_;
    std::vector<const NodeSeen*> meshOf_;  // per object, the mesh it is its own of, or null
    std::set<const NodeSeen*> lostMeshes_;
};

}  // namespace

LintReport Lint(std::string_view ase)
{
    tolerant::MemorySource source(ase), again(ase);
    return Linter([ase](PassObserver& observer, ByteSink& bundle) {
               const std::string bytes = ConvertBytes(ase, &observer);
               bundle.Write(bytes.data(), bytes.size());
           })
        .Run(source, &again, ase.size());
}

namespace {

// A file read a second time, for the lines of what the converter's reads found.
class FileAgain : public tolerant::ByteSource {
  public:
    explicit FileAgain(const std::string& path) : path_(path), file_(path, std::ios::binary) {}
    bool IsOpen() const { return file_.is_open(); }
    std::size_t Read(char* buffer, std::size_t size) override
    {
        file_.read(buffer, static_cast<std::streamsize>(size));
        if (file_.bad())
            throw FileError("impossible de lire", path_, errno);
        return static_cast<std::size_t>(file_.gcount());
    }

  private:
    std::string path_;
    std::ifstream file_;
};

}  // namespace

LintReport LintFile(const std::string& path, tolerant::ByteSource& source, tolerant::ReadThreads threads)
{
    Linter linter([&path](PassObserver& observer, ByteSink& bundle) {
        ConvertObserved(path, kMemoryInputName, observer, bundle);
    });
    // Only a regular file reads the same bytes twice (a pipe's go to one reader).
    std::error_code error;
    if (std::filesystem::is_regular_file(path, error)) {
        const std::uintmax_t bytes = std::filesystem::file_size(path, error);
        FileAgain again(path);
        if (again.IsOpen() && !error)
            return linter.Run(source, &again, bytes, threads);
    }
    return linter.Run(source, nullptr, 0, threads);
}

bool LintReport::Clean() const
{
    return !refused && Count(Severity::kLoss) == 0;
}

bool LintReport::Passes(bool strict) const
{
    return Clean() && (!strict || Count(Severity::kWarning) == 0);
}

std::int32_t LintReport::Count(Severity severity) const
{
    return static_cast<std::int32_t>(std::count_if(
        findings.begin(), findings.end(), [&](const Finding& finding) { return finding.severity == severity; }));
}

void LintTotals::Add(const LintReport& report, bool strict)
{
    ++files;
    meshes += report.meshes;
    ownObjects += report.ownObjects;
    losses += report.Count(Severity::kLoss);
    warnings += report.Count(Severity::kWarning);
    failed += report.Passes(strict) ? 0 : 1;
}

const char* SeverityName(Severity severity)
{
    switch (severity) {
    case Severity::kLoss: return "loss";
    case Severity::kWarning: return "warning";
    case Severity::kNote: return "note";
    }
    return "note";
}

namespace {

std::string Heading(const LintReport& report, std::string_view fileName)
{
    const std::string ends = report.lineEnds == tolerant::LineEnds::kNone
                                 ? "no line ends"
                                 : std::string(tolerant::LineEndsName(report.lineEnds)) + " line ends";
    return std::string(fileName) + ": " + tolerant::DialectName(report.dialect) + ", " +
           tolerant::EncodingName(report.encoding) + ", " + ends + "; " + Plural(report.meshes, "mesh", "meshes") +
           ", " + Plural(report.otherNodes, "other node", "other nodes") + "\n";
}

std::string Verdict(const LintReport& report)
{
    if (report.Clean())
        return "  every mesh becomes an object of its own under its own name\n";
    const std::int32_t lost = report.meshes - report.ownObjects;
    if (lost <= 0)
        return "  not every mesh of the file is read (see the losses above)\n";
    return "  " + std::to_string(lost) + " of " + Plural(report.meshes, "mesh", "meshes") +
           (lost == 1 ? " does not become an object of its own under its own name\n"
                      : " do not become objects of their own under their own names\n");
}

}  // namespace

std::string FormatText(const LintReport& report, std::string_view fileName, bool quiet)
{
    if (quiet && report.Clean())
        return {};
    std::string out = Heading(report, fileName);
    if (report.refused)
        out += "  ase2sgl refuses it: " + report.refusal + "\n";
    else if (!quiet)
        out += "  ase2sgl writes " + Plural(static_cast<std::int64_t>(report.objects.size()), "object", "objects") +
               (report.objects.empty() ? "\n" : ":\n");
    for (const LintObject& object : report.objects) {
        if (quiet)
            break;
        out += "    " + std::to_string(object.index) + " " + Quoted(object.name) + ": " +
               Plural(object.vertices, "vertex", "vertices") + ", " +
               Plural(object.triangles, "triangle", "triangles") + ", lines " + std::to_string(object.firstLine) + "-" +
               std::to_string(object.lastLine) + ", name from line " + std::to_string(object.headerLine) + "\n";
    }
    for (const Finding& finding : report.findings) {
        if (quiet && finding.severity != Severity::kLoss)
            continue;
        out += "  ";
        if (finding.line > 0)
            out += "line " + std::to_string(finding.line) + ": ";
        out += std::string(SeverityName(finding.severity)) + ": " + finding.message + " [" + finding.kind + "]\n";
    }
    return out + Verdict(report);
}

std::string FormatTotals(const LintTotals& totals)
{
    return Plural(totals.files, "file", "files") + ": " + std::to_string(totals.ownObjects) + " of " +
           Plural(totals.meshes, "mesh", "meshes") +
           (totals.ownObjects == 1 ? " becomes an object" : " become objects") +
           " of their own under their own names; " + Plural(totals.losses, "loss", "losses") + ", " +
           Plural(totals.warnings, "warning", "warnings") + "; " + Plural(totals.failed, "file fails", "files fail") +
           "\n";
}

nlohmann::ordered_json ToJson(const LintReport& report, std::string_view fileName)
{
    nlohmann::ordered_json json;
    json["file"] = std::string(fileName);
    json["dialect"] = tolerant::DialectName(report.dialect);
    json["encoding"] = tolerant::EncodingName(report.encoding);
    json["lineEnds"] = tolerant::LineEndsName(report.lineEnds);
    json["meshes"] = report.meshes;
    json["otherNodes"] = report.otherNodes;
    json["ownObjects"] = report.ownObjects;
    json["clean"] = report.Clean();
    json["refused"] = report.refused;
    if (report.refused)
        json["refusal"] = report.refusal;
    json["objects"] = nlohmann::ordered_json::array();
    for (const LintObject& object : report.objects)
        json["objects"].push_back({{"index", object.index},
                                   {"name", object.name},
                                   {"vertices", object.vertices},
                                   {"triangles", object.triangles},
                                   {"headerLine", object.headerLine},
                                   {"firstLine", object.firstLine},
                                   {"lastLine", object.lastLine}});
    json["findings"] = nlohmann::ordered_json::array();
    for (const Finding& finding : report.findings) {
        nlohmann::ordered_json item = {{"severity", SeverityName(finding.severity)},
                                       {"kind", finding.kind},
                                       {"line", finding.line},
                                       {"message", finding.message}};
        if (finding.object >= 0)
            item["object"] = finding.object;
        json["findings"].push_back(std::move(item));
    }
    return json;
}

}  // namespace ase2sgl::lint
