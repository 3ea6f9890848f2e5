// Normalize: the tolerant reading (tolerant/scene_reader.cpp) written back in the layout of
// 3ds Max's ASCII exporter, the only one the converter reads. Each list is written
// in number order, complete, and closed by a brace line, which is what keeps the
// converter's line-by-line searches inside their own object:
//   vertex lines   "\t\t\t*MESH_VERTEX %4d\t" x y z          (numbers right-aligned in 4)
//   face lines     "\t\t\t*MESH_FACE %4d:    A:%5d B:%5d C:%5d AB:..."
//   texture lines  "\t\t\t*MESH_TVERT %d\t" u v w   and  "\t\t\t*MESH_TFACE %d\t%d\t%d\t%d"
//   normals        "\t\t*MESH_NORMALS {", per face one "\t\t\t*MESH_FACENORMAL" line and
//                  three "\t\t\t\t*MESH_VERTEXNORMAL" lines for corners A, B and C.
// Values are copied as their text when the converter reads that text as written,
// so a file already in this layout gives the same floats.
#include "normalize/normalize.h"

#include "normalize/mesh_repair.h"
#include "common/format_limits.h"
#include "platform/cores.h"
#include "tolerant/ase_text.h"
#include "tolerant/scene.h"

#include <algorithm>
#include <atomic>
#include <charconv>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <exception>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>

namespace ase2sgl::normalize {
namespace {

using tolerant::NodeKind;
using tolerant::Scene;

// The normalized text is held in memory whole: more than 2 GiB of it is refused.
constexpr std::size_t kMaxOutputBytes = 2147483647;
// Builds the text in a buffer of its own, handed to the sink a piece at a time.
// The text is mostly short pieces (a tab, a keyword, a number of a few digits):
// they are copied in place, without a call per piece, into room made beforehand.
class Writer {
  public:
    explicit Writer(const BufferSink& sink) : sink_(sink) {}
    UnreadableValues unreadable;

    // Inlined: most calls give a literal, whose length then picks the copy.
    [[gnu::always_inline]] void Text(std::string_view text)
    {
        Copy(Room(text.size()), text.data(), text.size());
        size_ += text.size();
    }
    void Integer(std::int64_t value) { Padded(value, 0); }
    // Right-aligned in `width` columns, as printf's "%*lld" writes it. The digits go
    // after 16 blanks, and the 16 bytes that end with them are copied whole: blanks
    // and digits in two moves, where copies of their varying lengths would each be a
    // library call. The bytes copied past the number (blanks) are written over by
    // what follows it.
    void Padded(std::int64_t value, int width)
    {
        // Most are counts, indices and flags under 100 000: their digits go straight
        // into the 16 columns, right to left, after the blanks.
        if (value >= 0 && value < 100000 && width <= 16) {
            auto rest = static_cast<std::uint32_t>(value);
            const std::size_t length = rest < 10 ? 1 : rest < 100 ? 2 : rest < 1000 ? 3 : rest < 10000 ? 4 : 5;
            const std::size_t used = std::max(length, static_cast<std::size_t>(std::max(width, 0)));
            char* const at = Room(16);
            std::memcpy(at, "                ", 16);
            char* digit = at + used;
            do {
                *--digit = static_cast<char>('0' + rest % 10);
                rest /= 10;
            } while (rest != 0);
            size_ += used;
            return;
        }
        char field[48];  // 16 blanks, then room for any 64-bit number
        std::memset(field, ' ', 32);
        char* const digits = field + 16;
        const auto [end, error] = std::to_chars(digits, field + sizeof field, value);
        const auto length = static_cast<std::size_t>(end - digits);
        const std::size_t used = std::max(length, static_cast<std::size_t>(std::max(width, 0)));
        if (used <= 16) {
            std::memcpy(Room(16), digits + length - used, 16);
        } else {  // a field wider than 16 columns, or a number of 17 characters or more
            char* at = Room(used);
            std::memset(at, ' ', used - length);
            std::memcpy(at + used - length, digits, length);
        }
        size_ += used;
    }
    void Fixed(double value)
    {
        char room[kValueTextRoom];
        Text(FixedText(value, room));
    }
    void Value(std::string_view text, std::int32_t line)
    {
        char room[kValueTextRoom];
        const std::string_view written = ValueTextOf(text, room);
        if (written.empty()) {
            unreadable.Add(line);
            Text(kUnreadableValueText);
            return;
        }
        Text(written);
    }
    void Values(const ValueText& values, std::int32_t line)
    {
        for (std::size_t i = 0; i < 3; ++i) {
            Text("\t");
            Value(values[i], line);
        }
    }
    // Notes of the writing, apart from the reading's: the report lists the
    // reading's first where both fall on one line.
    std::vector<tolerant::Note> notes;
    void Note(std::int32_t line, std::string text) { notes.push_back({line, std::move(text)}); }
    // Hands what is written so far to the sink once there is enough of it, or with
    // `all`, whatever there is.
    void Flush(bool all)
    {
        if (size_ == 0 || (!all && size_ < kFlushBytes))
            return;
        TextBuffer piece{std::move(buffer_), size_, capacity_};
        sink_(piece);
        // Written on in the buffer the sink left, made larger as the text needs.
        buffer_ = std::move(piece.bytes);
        capacity_ = buffer_ ? piece.capacity : 0;
        size_ = 0;
    }

  private:
    static constexpr std::size_t kFlushBytes = std::size_t{1} << 20;

    // Room for `bytes` more at the end of the text.
    [[gnu::always_inline]] char* Room(std::size_t bytes)
    {
        if (capacity_ - size_ < bytes)
            Grow(bytes);
        return buffer_.get() + size_;
    }
    void Grow(std::size_t bytes)
    {
        const std::size_t capacity = std::max({capacity_ * 2, size_ + bytes, kFlushBytes + 4096});
        auto larger = std::make_unique_for_overwrite<char[]>(capacity);
        if (size_ > 0)
            std::memcpy(larger.get(), buffer_.get(), size_);
        buffer_ = std::move(larger);
        capacity_ = capacity;
    }
    // memcpy for the short pieces this text is made of: two loads and two stores
    // that may overlap, all within the `size` bytes, instead of a call.
    [[gnu::always_inline]] static void Copy(char* to, const char* from, std::size_t size)
    {
        if (size >= 8 && size <= 16) {
            std::uint64_t head = 0, tail = 0;
            std::memcpy(&head, from, 8);
            std::memcpy(&tail, from + size - 8, 8);
            std::memcpy(to, &head, 8);
            std::memcpy(to + size - 8, &tail, 8);
        } else if (size >= 4 && size < 8) {
            std::uint32_t head = 0, tail = 0;
            std::memcpy(&head, from, 4);
            std::memcpy(&tail, from + size - 4, 4);
            std::memcpy(to, &head, 4);
            std::memcpy(to + size - 4, &tail, 4);
        } else if (size < 4) {
            for (std::size_t i = 0; i < size; ++i)
                to[i] = from[i];
        } else {
            std::memcpy(to, from, size);
        }
    }

    const BufferSink& sink_;
    std::unique_ptr<char[]> buffer_;
    std::size_t size_ = 0, capacity_ = 0;
};

void WriteNodeHeader(Writer& w, const SceneNode& node, std::string_view keyword)
{
    w.Text(keyword);
    w.Text(" {\n\t*NODE_NAME \"");
    w.Text(node.name);
    w.Text("\"\n");
    if (node.hasTransform) {
        w.Text("\t*NODE_TM {\n\t\t*NODE_NAME \"");
        w.Text(node.name);
        w.Text("\"\n");
        for (std::size_t row = 0; row < 4; ++row) {
            w.Text("\t\t*TM_ROW");
            w.Integer(static_cast<std::int64_t>(row));
            w.Text(" ");
            for (std::size_t i = 0; i < 3; ++i) {
                if (i > 0)
                    w.Text("\t");
                w.Value(node.transform[row][i], node.line);
            }
            w.Text("\n");
        }
        w.Text("\t}\n");
    }
}

std::string_view SmoothingText(std::string_view text)
{
    const bool plain = text.size() <= 64 &&
                       std::all_of(text.begin(), text.end(), [](char c) { return (c >= '0' && c <= '9') || c == ','; });
    return plain ? text : std::string_view();
}

void WriteFaces(Writer& w, const MeshLists& mesh, const OrderedMesh& ordered)
{
    w.Text("\t\t*MESH_FACE_LIST {\n");
    std::int64_t f = 0;
    for (std::size_t slot : ordered.keptFaces) {
        const FaceLine& face = mesh.faces[static_cast<std::size_t>(ordered.faceOrder[slot])];
        w.Flush(false);
        w.Text("\t\t\t*MESH_FACE ");
        w.Padded(f++, 4);
        w.Text(":");
        static constexpr std::string_view kLabels[] = {"    A:", " B:", " C:", " AB:", " BC:", " CA:"};
        for (std::size_t c = 0; c < 6; ++c) {
            // Edge visibility flags default to visible when the exporter left them out.
            const std::int64_t value = c < 3 ? face.corner[c] : IntegerOr(face.edge[c - 3], 1, 1);
            w.Text(kLabels[c]);
            w.Padded(value, 5);
        }
        w.Text("\t *MESH_SMOOTHING ");
        w.Text(SmoothingText(face.smoothing));
        w.Text(" \t*MESH_MTLID ");
        w.Integer(IntegerOr(face.materialId, std::numeric_limits<std::int32_t>::max(), 0));
        w.Text("\n");
    }
    w.Text("\t\t}\n");
}

void WriteTexVertexList(Writer& w, const SceneNode& node, const OrderedMesh& ordered, bool placeholder)
{
    const std::size_t texCount = node.mesh.texVertices.size();
    w.Text("\t\t*MESH_NUMTVERTEX ");
    w.Integer(static_cast<std::int64_t>(texCount + (placeholder ? 1 : 0)));
    w.Text("\n\t\t*MESH_TVERTLIST {\n");
    for (std::size_t t = 0; t < texCount; ++t) {
        const VertexLine& tv = node.mesh.texVertices[static_cast<std::size_t>(ordered.texVertexOrder[t])];
        w.Flush(false);
        w.Text("\t\t\t*MESH_TVERT ");
        w.Integer(static_cast<std::int64_t>(t));
        ValueText values = tv.value;
        if (values[2].empty())
            values[2] = "0.0000";
        w.Values(values, node.meshLine);
        w.Text("\n");
    }
    if (placeholder) {
        w.Text("\t\t\t*MESH_TVERT ");
        w.Integer(static_cast<std::int64_t>(texCount));
        w.Text("\t");
        w.Text(kPlaceholderTexVertex);
        w.Text("\n");
    }
    w.Text("\t\t}\n");
}

void WriteTexFaceList(Writer& w, const TextureFaces& faces)
{
    w.Text("\t\t*MESH_NUMTVFACES ");
    w.Integer(static_cast<std::int64_t>(faces.corners.size()));
    w.Text("\n\t\t*MESH_TFACELIST {\n");
    for (std::size_t f = 0; f < faces.corners.size(); ++f) {
        w.Flush(false);
        w.Text("\t\t\t*MESH_TFACE ");
        w.Integer(static_cast<std::int64_t>(f));
        for (std::int64_t corner : faces.corners[f]) {
            w.Text("\t");
            w.Integer(corner);
        }
        w.Text("\n");
    }
    w.Text("\t\t}\n");
}

void WriteTextureLists(Writer& w, const SceneNode& node, const OrderedMesh& ordered)
{
    const TextureFaces faces = MatchTextureFaces(node.mesh, ordered);
    NoteTextureRepairs(w.notes, node, faces);
    WriteTexVertexList(w, node, ordered, faces.NeedPlaceholder());
    WriteTexFaceList(w, faces);
}

void WriteNormal(Writer& w, const Vector& normal)
{
    for (double component : normal) {
        w.Text("\t");
        w.Fixed(component);
    }
    w.Text("\n");
}

// The three vertex-normal lines of a face whose input gives none: smoothed by its
// smoothing groups, or flat.
void WriteComputedCorners(Writer& w, const FaceLine& face, const Vector& flat, const SmoothNormals& smooth)
{
    for (std::int64_t vertex : face.corner) {
        w.Text("\t\t\t\t*MESH_VERTEXNORMAL ");
        w.Integer(vertex);
        WriteNormal(w, smooth.At(face, vertex, flat));
    }
}

void WriteGivenCorners(Writer& w, const SceneNode& node, const FaceLine& face, const std::array<std::size_t, 3>& corners)
{
    for (std::size_t c = 0; c < 3; ++c) {
        const VertexNormal& normal = node.mesh.vertexNormals[corners[c]];
        w.Text("\t\t\t\t*MESH_VERTEXNORMAL ");
        w.Integer(IntegerOr(normal.number, std::numeric_limits<std::int32_t>::max(), face.corner[c]));
        w.Values(normal.value, node.meshLine);
        w.Text("\n");
    }
}

// Returns how many faces got computed normals.
std::int64_t WriteNormals(Writer& w, const SceneNode& node, const OrderedMesh& ordered)
{
    const MeshLists& mesh = node.mesh;
    const NormalSource source = FindNormalSource(mesh);
    std::optional<SmoothNormals> smooth;  // made for the first face that needs it
    std::int64_t computed = 0, smoothed = 0;
    w.Text("\t\t*MESH_NORMALS {\n");
    for (std::size_t k = 0; k < ordered.keptFaces.size(); ++k) {
        const FaceLine& face = SmoothNormals::FaceAt(mesh, ordered, k);
        const std::int64_t normalEntry = ordered.normalOrder[ordered.keptFaces[k]];
        // The face's own normal, computed only where the file gives none to copy.
        std::optional<Vector> flat;
        const auto flatNormal = [&]() -> const Vector& {
            if (!flat)
                flat = FaceNormalOf(mesh, ordered.vertexOrder, face);
            return *flat;
        };
        w.Flush(false);
        w.Text("\t\t\t*MESH_FACENORMAL ");
        w.Integer(static_cast<std::int64_t>(k));
        if (normalEntry >= 0) {
            w.Values(mesh.faceNormals[static_cast<std::size_t>(normalEntry)].value, node.meshLine);
            w.Text("\n");
        } else {
            WriteNormal(w, flatNormal());
        }
        std::array<std::size_t, 3> corners{};
        if (CornerNormals(mesh, source, face, normalEntry, corners)) {
            WriteGivenCorners(w, node, face, corners);
            continue;
        }
        if (!smooth)
            smooth.emplace(mesh, ordered);
        ++computed;
        smoothed += SmoothingMask(face.smoothing) != 0 ? 1 : 0;
        WriteComputedCorners(w, face, flatNormal(), *smooth);
    }
    w.Text("\t\t}\n");
    NoteComputedNormals(w.notes, node.meshLine, computed, smoothed);
    return computed;
}

void WriteMesh(Writer& w, const SceneNode& node, const OrderedMesh& ordered, NormalizeReport& report)
{
    const MeshLists& mesh = node.mesh;
    WriteNodeHeader(w, node, "*GEOMOBJECT");
    w.Text("\t*MESH {\n\t\t*TIMEVALUE 0\n\t\t*MESH_NUMVERTEX ");
    w.Integer(static_cast<std::int64_t>(mesh.vertices.size()));
    w.Text("\n\t\t*MESH_NUMFACES ");
    w.Integer(static_cast<std::int64_t>(ordered.keptFaces.size()));
    w.Text("\n\t\t*MESH_VERTEX_LIST {\n");
    for (std::size_t v = 0; v < mesh.vertices.size(); ++v) {
        w.Flush(false);
        w.Text("\t\t\t*MESH_VERTEX ");
        w.Padded(static_cast<std::int64_t>(v), 4);
        w.Values(mesh.vertices[static_cast<std::size_t>(ordered.vertexOrder[v])].value, node.meshLine);
        w.Text("\n");
    }
    w.Text("\t\t}\n");
    WriteFaces(w, mesh, ordered);
    WriteTextureLists(w, node, ordered);
    if (WriteNormals(w, node, ordered) > 0)
        ++report.normalsComputed;
    w.Text("\t}\n}\n");
}

const char* NodeKindName(NodeKind kind)
{
    switch (kind) {
    case NodeKind::kGeometry: return "node without a mesh";
    case NodeKind::kCamera: return "camera";
    case NodeKind::kLight: return "light";
    case NodeKind::kHelper: return "helper";
    case NodeKind::kShape: return "shape";
    }
    return "node";
}

const char* NodeKeyword(NodeKind kind)
{
    switch (kind) {
    case NodeKind::kGeometry: return "*GEOMOBJECT";
    case NodeKind::kCamera: return "*CAMERAOBJECT";
    case NodeKind::kLight: return "*LIGHTOBJECT";
    case NodeKind::kHelper: return "*HELPEROBJECT";
    case NodeKind::kShape: return "*SHAPEOBJECT";
    }
    return "*GEOMOBJECT";
}

bool IsWritableMesh(const SceneNode& node)
{
    return node.kind == NodeKind::kGeometry && !node.mesh.vertices.empty() && !node.mesh.faces.empty();
}

// The normalized text, written a node at a time as the reading hands the nodes
// out. A bundle holds at most kMaxObjects objects: past that the writing stops,
// and the nodes are only counted, for the refusal to say how many there are.
class SceneWriter {
  public:
    SceneWriter(const NormalizeOptions& options, const BufferSink& sink, NormalizeReport& report)
        : options_(options), w_(sink), report_(report)
    {
        w_.Text("*3DSMAX_ASCIIEXPORT\t200\n*COMMENT \"AsciiExport Version  2,00 - normalized\"\n");
    }

    // The objects of the bundle the normalized text gives: its meshes, and the other
    // nodes when they are kept.
    std::int64_t Objects() const { return objects_; }
    bool Refused() const { return objects_ > kMaxObjects; }

    void Node(const SceneNode& node)
    {
        objects_ += IsWritableMesh(node) || options_.keepOtherNodes ? 1 : 0;
        if (Refused())
            return;
        w_.Flush(false);
        if (IsWritableMesh(node)) {
            const OrderedMesh ordered = OrderMesh(node, w_.notes);
            if (!ordered.keptFaces.empty()) {
                if (options_.meshes == nullptr)
                    WriteMesh(w_, node, ordered, report_);
                else if (options_.meshes->Mesh(node, ordered, w_.notes, w_.unreadable) > 0)
                    ++report_.normalsComputed;
                ++report_.meshesWritten;
                return;
            }
        }
        const std::string what = std::string(NodeKindName(node.kind)) + " \"" + std::string(node.name) + "\"";
        if (node.kind == NodeKind::kGeometry &&
            (node.hasMesh || !node.mesh.vertices.empty() || !node.mesh.faces.empty()))
            w_.Note(node.line, "mesh \"" + std::string(node.name) + "\" has no face with all its vertices: no object");
        if (options_.keepOtherNodes) {
            WriteNodeHeader(w_, node, NodeKeyword(node.kind));
            w_.Text("}\n");
            ++report_.otherNodesKept;
            w_.Note(node.line, what + " kept (the converter gives its name to the next mesh)");
        } else {
            ++report_.otherNodesDropped;
            w_.Note(node.line, what + " dropped");
        }
    }

    // The last of the text to the sink; the writing's notes after the reading's.
    void Finish(std::vector<tolerant::Note>& notes)
    {
        if (w_.unreadable.count > 0)
            w_.Note(w_.unreadable.firstLine, std::to_string(w_.unreadable.count) + " unreadable value(s) written as 0");
        w_.Flush(true);
        notes.insert(notes.end(), std::make_move_iterator(w_.notes.begin()), std::make_move_iterator(w_.notes.end()));
    }

  private:
    const NormalizeOptions& options_;
    Writer w_;
    NormalizeReport& report_;
    std::int64_t objects_ = 0;
};

// The nodes written on a thread of their own while the next node is read: one at
// a time, in file order, so that the text is the same as when they are written on
// the reading's thread. Memory stays that of the largest node and a little more:
// the reading waits to hand a node on until the one before is written, and while
// a node of much text is written (more than kOverlapBytes), it waits too.
class WritingThread {
  public:
    explicit WritingThread(SceneWriter& writer) : writer_(writer), thread_([this] { Run(); }) {}
    WritingThread(const WritingThread&) = delete;
    WritingThread& operator=(const WritingThread&) = delete;
    ~WritingThread()
    {
        {
            const std::lock_guard lock(mutex_);
            stop_ = true;
        }
        changed_.notify_all();
        thread_.join();
    }

    // Hands `node` on (its lists taken, emptied ones of a node written given back);
    // throws what the writing of a node before it threw.
    void Write(SceneNode& node, tolerant::NodeText text)
    {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return !busy_; });
        if (error_)
            std::rethrow_exception(error_);
        const bool large = text.bytes > kOverlapBytes;
        node_ = std::move(node);
        node.mesh = std::move(written_);
        written_ = {};
        text_ = std::move(text);
        busy_ = true;
        changed_.notify_all();
        if (large)
            changed_.wait(lock, [this] { return !busy_; });
    }

    // Waits for the node handed on last; throws what the writing threw.
    void Finish()
    {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return !busy_; });
        if (error_)
            std::rethrow_exception(error_);
    }

  private:
    static constexpr std::size_t kOverlapBytes = std::size_t{32} << 20;

    void Run()
    {
        std::unique_lock lock(mutex_);
        for (;;) {
            changed_.wait(lock, [this] { return busy_ || stop_; });
            if (!busy_)
                return;
            lock.unlock();
            try {
                if (!error_)
                    writer_.Node(node_);
            } catch (...) {
                error_ = std::current_exception();
            }
            tolerant::MeshLists lists = std::move(node_.mesh);
            lists.Clear();
            text_ = {};
            lock.lock();
            written_ = std::move(lists);
            busy_ = false;
            changed_.notify_all();
        }
    }

    SceneWriter& writer_;
    std::mutex mutex_;
    std::condition_variable changed_;
    SceneNode node_;              // the node being written, while busy_
    tolerant::NodeText text_;     // the text it points into
    tolerant::MeshLists written_;  // the lists of the node written last, emptied
    bool busy_ = false, stop_ = false;
    std::exception_ptr error_;
    std::thread thread_;  // last: started once the rest is made
};

constexpr std::size_t kThreadAfterBytes = std::size_t{1} << 20;

// The bytes read from a source so far, asked for on another thread than the one
// that reads.
class CountingSource : public tolerant::ByteSource {
  public:
    explicit CountingSource(tolerant::ByteSource& source) : source_(source) {}
    std::size_t Read(char* buffer, std::size_t size) override
    {
        const std::size_t n = source_.Read(buffer, size);
        bytes_.fetch_add(n, std::memory_order_relaxed);
        return n;
    }
    std::string_view InPlace() const override { return source_.InPlace(); }
    void TakenInPlace(std::size_t end) override
    {
        source_.TakenInPlace(end);
        bytes_.store(end, std::memory_order_relaxed);
    }
    void PassedInPlace(std::size_t offset, std::size_t length) const noexcept override
    {
        source_.PassedInPlace(offset, length);
    }
    std::size_t Bytes() const { return bytes_.load(std::memory_order_relaxed); }

  private:
    tolerant::ByteSource& source_;
    std::atomic<std::size_t> bytes_{0};
};

// What the reading tells about the file as a whole, and its notes, into the report.
void TakeSceneFacts(Scene& scene, NormalizeReport& report)
{
    report.dialect = scene.dialect;
    report.encoding = scene.encoding;
    report.lineEnds = scene.lineEnds;
    report.notes = std::move(scene.notes);
    if (scene.stoppedAtCtrlZ)
        report.notes.push_back({0, "a 0x1A byte ends the text: what follows it is not read"});
}

}  // namespace

NormalizeResult NormalizeFrom(tolerant::ByteSource& source, const TextSink& sink, const NormalizeOptions& options)
{
    const BufferSink views = [&sink](TextBuffer& piece) { sink(piece.View()); };
    return NormalizeFrom(source, views, options);
}

NormalizeResult NormalizeFrom(tolerant::ByteSource& source, const BufferSink& sink, const NormalizeOptions& options)
{
    NormalizeResult result;
    NormalizeReport& report = result.report;
    SceneWriter writer(options, sink, report);
    // The nodes are written on a thread of their own, beside the reading's two,
    // when the process may use three cores or more (on two, a third thread only
    // takes turns with the other two), once a megabyte of the input has been read
    // (before that, and for a small input, a thread would cost more than it
    // saves); or from the first node when two threads are asked for. The nodes
    // before it are written here, so the order holds.
    std::optional<WritingThread> writing;
    const bool atOnce = options.threads == tolerant::ReadThreads::kTwo;
    bool mayStartThread = tolerant::ReadsOnTwoThreads(options.threads) && (atOnce || platform::UsableCores() >= 3);
    CountingSource counted(source);
    const auto write = [&](SceneNode& node, tolerant::NodeText text) {
        if (mayStartThread && (atOnce || counted.Bytes() >= kThreadAfterBytes)) {
            mayStartThread = false;
            try {
                writing.emplace(writer);
            } catch (const std::system_error&) {
                // No thread to be had: the nodes are written on the reading's.
            }
        }
        if (writing)
            writing->Write(node, std::move(text));
        else
            writer.Node(node);
    };
    Scene scene;
    try {
        scene = tolerant::StreamAse(counted, write, options.readBytes, options.threads);
    } catch (...) {
        if (writing)
            writing->Finish();  // a node's writing that failed before comes first
        throw;
    }
    if (writing)
        writing->Finish();
    if (writer.Refused()) {
        result.report = {};
        TakeSceneFacts(scene, result.report);
        result.error = "the file holds " + std::to_string(writer.Objects()) + " objects; a bundle holds at most " +
                       std::to_string(kMaxObjects);
        return result;
    }
    TakeSceneFacts(scene, report);
    writer.Finish(report.notes);
    std::stable_sort(report.notes.begin(), report.notes.end(),
                     [](const tolerant::Note& a, const tolerant::Note& b) { return a.line < b.line; });
    result.ok = true;
    return result;
}

NormalizeResult NormalizeTo(std::string_view input, const TextSink& sink, const NormalizeOptions& options)
{
    tolerant::MemorySource source(input);
    return NormalizeFrom(source, sink, options);
}

NormalizeResult Normalize(std::string_view input, const NormalizeOptions& options)
{
    if (input.size() > kMaxInputBytes) {
        NormalizeResult refused;
        refused.error = "the input is larger than " + std::to_string(kMaxInputBytes >> 20) + " MiB";
        return refused;
    }
    std::string text;
    bool tooLarge = false;
    NormalizeResult result = NormalizeTo(
        input,
        [&](std::string_view piece) {
            tooLarge = tooLarge || text.size() + piece.size() > kMaxOutputBytes;
            if (!tooLarge)
                text.append(piece);
        },
        options);
    if (result.ok && tooLarge) {
        result.ok = false;
        result.error = "the normalized text would be larger than 2 GiB";
    }
    if (result.ok)
        result.text = std::move(text);
    return result;
}

std::string Summary(const NormalizeReport& report)
{
    std::string line = std::to_string(report.meshesWritten) + (report.meshesWritten == 1 ? " mesh" : " meshes") +
                       ", dialect: " + DialectName(report.dialect) + ", normals computed for " +
                       std::to_string(report.normalsComputed);
    // 8-bit text is read as it stands, as UTF-8 is: only a re-encoding is told.
    if (report.encoding != tolerant::Encoding::kUtf8 && report.encoding != tolerant::Encoding::kEightBit)
        line += std::string(", encoding: ") + tolerant::EncodingName(report.encoding);
    if (report.otherNodesDropped > 0)
        line += ", other nodes dropped: " + std::to_string(report.otherNodesDropped);
    if (report.otherNodesKept > 0)
        line += ", other nodes kept: " + std::to_string(report.otherNodesKept);
    return line;
}

std::string DescribeReport(const NormalizeReport& report)
{
    std::string text = Summary(report) + "\nline ends: " + tolerant::LineEndsName(report.lineEnds) + "\n";
    for (const tolerant::Note& note : report.notes) {
        if (note.line > 0)
            text += "line " + std::to_string(note.line) + ": ";
        text += note.text + "\n";
    }
    return text;
}

}  // namespace ase2sgl::normalize
