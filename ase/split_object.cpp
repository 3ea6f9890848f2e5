// One large object read by several threads (a scanned or sculpted mesh, a merged
// level: a scene that is one object would otherwise be read on one core).
//
// The object's bytes, from its vertex-start line to the next object's, are cut into
// pieces at line starts, and each thread reads pieces in turn. In the layout the
// exporter writes, every list line says by its own number where its values go:
//
//   \t\t\t*MESH_VERTEX  n\t...      vertex pool entry n (position)
//   \t\t\t*MESH_FACE    n:...       corners 3n..3n+2 (positions of vertices A, B, C)
//   \t\t\t*MESH_TVERT n\t...        vertex pool entry n (texture coordinate)
//   \t\t\t*MESH_TFACE n\t...        corners 3n..3n+2 (texture coordinates)
//   \t\t\t*MESH_FACENORMAL n\t...   followed by three vertex-normal lines: corners 3n..3n+2
//
// so a piece stores what its lines hold without knowing what came before it: vertex
// and texture-vertex values into the pool, vertex normals into the corners, and the
// pool numbers of face and texture-face lines into the corners' position[0] and
// texcoord[0] (as int32 bits), since the pool is complete only when every piece is
// done. A second pass over the corners then copies the pool entries those numbers
// name. Nothing of the text is copied; the arrays exist once.
//
// Each piece also describes its lines as a short list of runs: each line is of one
// kind (a list line of one of the five kinds with its number, a normals-block line,
// any other line, or an odd one: a line that begins like a list line but is not
// written as the exporter writes it, or a vertex-normal line outside a face's
// group of three), and lines of one kind with consecutive numbers make one run.
// The runs of all pieces joined must be exactly this regular layout:
//
//   V(0..) other* F(0..nf-1) other* [ T(0..) other* [ TF(0..nf-1) ] ] other|NB* [ N(0..nf-1) other|NB* ]
//
// (with the variants below), with no odd line, no face or texture-face line that
// takes numbers from a line in another piece, and the input not ending inside a
// piece other than the last. Then the sequential reader's file-order path reads
// the same lines into the same places, for these reasons:
//   - A list run in the sequential read goes on while the next line begins with the
//     key of the next number. A line of kind K numbered m begins with the key of m
//     (the kinds are defined by that key, written as NumberedKey writes it), so a
//     run of consecutive numbers is read on by the sequential reader, and the line
//     after it is of another kind or starts a new run, which the join refuses
//     (the texture-vertex key "%d" of 1 is a prefix of the line of 12, so the
//     sequential reader might read on where a piece sees a new run: refused too).
//     Within a run, the line's number is its place in the run, which is where the
//     sequential reader puts it.
//   - Every key a search of the sequential read looks for (first face, first
//     texture vertex, normals block, first texture face, first face normal) begins
//     with one of the list heads or the normals block's, so an "other" line stops
//     no search and is found by none; the searches pass over them as the join does.
//   - The texture-face run is read by count (one line per face, untested after the
//     first): it must hold exactly nf lines, and the line after it, which that read
//     passes over, must be an other or normals-block line. The normals are read by
//     count too (four lines per face): their groups must be exactly nf, each a
//     face-normal line and three vertex-normal lines, as the pieces check.
//   - A face or texture-face line that does not scan completely keeps numbers from
//     the line before. A piece reads its lines in order, so after its first complete
//     scan it holds the same numbers as the sequential reader; a line before that
//     would need the piece before it (or the object before), and is refused.
//   - Writes a piece makes for lines the sequential reader would not read (a second
//     list, groups past nf) would differ: any such run is refused. Refused objects
//     are read again by the sequential reader from zero-filled arrays.
// Writes into the arrays are relaxed atomic stores: in a refused object two pieces
// may name the same entry, and those writes are thrown away, but must not race.
#include "ase/split_object.h"

#include "ase/keys.h"
#include "ase/list_scan.h"
#include "ase/numbered_key.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <cstring>
#include <exception>
#include <string_view>
#include <thread>

namespace ase2sgl {

namespace {

std::atomic<std::int64_t> splitFrom{kSplitFrom};

enum class Kind : std::uint8_t { kOther, kNormalsBlock, kVertex, kFace, kTexVertex, kTexFace, kNormals, kOdd };

constexpr std::string_view kListHead = "\t\t\t*MESH_";
// The keys of the lists whose numbers are plain "%d" and which keys.h does not
// need in full (the sequential reader tests only their first line).
constexpr std::string_view kTexFaceKey = "\t\t\t*MESH_TFACE %d";
constexpr std::string_view kFaceNormalKey = "\t\t\t*MESH_FACENORMAL %d";

// A regular object has about a dozen runs; a piece with more is refused rather
// than kept in memory.
constexpr std::size_t kMostRuns = 64;

bool Numbered(Kind kind)
{
    return kind != Kind::kOther && kind != Kind::kNormalsBlock && kind != Kind::kOdd;
}

// The number of a "%4d" field followed by `suffix` at the start of `rest`, as
// NumberedKey writes it (right-aligned in four columns, wider numbers whole, no
// leading zero); `length` is the field's length with the suffix. -1 otherwise.
std::int64_t PaddedNumber(std::string_view rest, char suffix, std::size_t& length)
{
    std::size_t blanks = 0;
    while (blanks < rest.size() && rest[blanks] == ' ')
        ++blanks;
    std::size_t digits = 0;
    std::int64_t n = 0;
    while (blanks + digits < rest.size() && scan::IsDigit(rest[blanks + digits]) && digits < 18)
        n = n * 10 + (rest[blanks + digits++] - '0');
    const std::size_t end = blanks + digits;
    if (digits == 0 || (digits > 1 && rest[blanks] == '0') || blanks != (digits < 4 ? 4 - digits : 0) ||
        end >= rest.size() || rest[end] != suffix)
        return -1;
    length = end + 1;
    return n;
}

// The number of a plain "%d" field at the start of `rest`, not followed by another
// digit (so that the key of exactly this number is the line's prefix). -1 otherwise.
std::int64_t PlainNumber(std::string_view rest, std::size_t& length)
{
    std::size_t digits = 0;
    std::int64_t n = 0;
    while (digits < rest.size() && scan::IsDigit(rest[digits]) && digits < 18)
        n = n * 10 + (rest[digits++] - '0');
    if (digits == 0 || (digits > 1 && rest[0] == '0') || (digits < rest.size() && scan::IsDigit(rest[digits])))
        return -1;
    length = digits;
    return n;
}

// The kind of a line met outside the run in hand; for a list line, its number and
// the length of its key.
Kind Classify(std::string_view line, std::int64_t& number, std::size_t& keyLength)
{
    if (!StartsWith(line, "\t\t"))
        return Kind::kOther;
    if (StartsWith(line, keys::kNormalsBlock))
        return Kind::kNormalsBlock;
    if (StartsWith(line, keys::kVertexNormalHead))
        return Kind::kOdd;  // outside a face's group
    if (!StartsWith(line, kListHead))
        return Kind::kOther;
    const std::string_view rest = line.substr(kListHead.size());
    std::size_t field = 0;
    const auto numbered = [&](Kind kind, std::size_t head, std::int64_t n) {
        if (n < 0)
            return Kind::kOdd;
        number = n;
        keyLength = kListHead.size() + head + field;
        return kind;
    };
    if (rest.starts_with("VERTEX "))
        return numbered(Kind::kVertex, 7, PaddedNumber(rest.substr(7), '\t', field));
    if (rest.starts_with("FACE "))
        return numbered(Kind::kFace, 5, PaddedNumber(rest.substr(5), ':', field));
    if (rest.starts_with("TVERT "))
        return numbered(Kind::kTexVertex, 6, PlainNumber(rest.substr(6), field));
    if (rest.starts_with("TFACE "))
        return numbered(Kind::kTexFace, 6, PlainNumber(rest.substr(6), field));
    if (rest.starts_with("FACENORMAL "))
        return numbered(Kind::kNormals, 11, PlainNumber(rest.substr(11), field));
    return Kind::kOther;
}

std::string_view KeyFormat(Kind kind)
{
    switch (kind) {
    case Kind::kVertex:
        return keys::kVertex;
    case Kind::kFace:
        return keys::kFace;
    case Kind::kTexVertex:
        return keys::kTexVertex;
    case Kind::kTexFace:
        return kTexFaceKey;
    default:
        return kFaceNormalKey;
    }
}

struct Run {
    Kind kind = Kind::kOther;
    std::int64_t first = 0;  // the first line's number, for list runs
    std::int64_t count = 0;
};

// Adds one line to a list of runs; false when the list would grow too long.
bool AddLine(std::vector<Run>& runs, Kind kind, std::int64_t number, std::int64_t lines = 1)
{
    if (!runs.empty()) {
        Run& last = runs.back();
        if (last.kind == kind && (!Numbered(kind) || last.first + last.count == number)) {
            last.count += lines;
            return true;
        }
    }
    if (runs.size() == kMostRuns)
        return false;
    runs.push_back(Run{kind, number, lines});
    return true;
}

// One range of the object's lines: those that start in [begin, end).
struct Piece {
    std::int64_t begin = 0, end = 0;
    std::vector<Run> runs;
    bool refused = false;     // an odd line, or a scan that needs the piece before
    bool endedEarly = false;  // the input ended before `end`
    bool anyFace = false, anyTexFace = false;
    std::int32_t face[3] = {0, 0, 0};  // the scan targets after the piece's last line of each kind
    std::int32_t texFace[3] = {0, 0, 0};
};

void Store(float& target, float value)
{
    std::atomic_ref<float>(target).store(value, std::memory_order_relaxed);
}

void StoreNumber(float& target, std::int32_t number)
{
    Store(target, std::bit_cast<float>(number));
}

class PieceReader {
  public:
    PieceReader(LineSource& source, ObjectArrays& arrays, std::int64_t objectEnd)
        : source_(source), arrays_(arrays), objectEnd_(objectEnd)
    {
    }

    void Read(Piece& piece)
    {
        piece_ = &piece;
        source_.SeekTo(piece.begin);
        faceKnown_ = texFaceKnown_ = false;
        runKind_ = Kind::kOther;
        while (source_.Tell() < piece.end) {
            if (!source_.ReadLine(line_)) {
                piece.endedEarly = true;
                return;
            }
            if (!Take() || !AddLine(piece.runs, kind_, number_)) {
                piece.refused = true;
                return;
            }
        }
    }

  private:
    // Finds the kind of the line in hand (number_, keyLength_) and stores its values.
    // False for an odd line or one that cannot be read here.
    bool Take()
    {
        if (Numbered(runKind_) && Continues()) {
            kind_ = runKind_;
            number_ = expected_.Number();
            keyLength_ = expected_.View().size();
            expected_.Advance();
        } else {
            kind_ = Classify(line_, number_, keyLength_);
            if (Numbered(kind_)) {
                runKind_ = kind_;
                expected_ = NumberedKey(KeyFormat(kind_), number_ + 1);
            }
        }
        switch (kind_) {
        case Kind::kVertex:
            TakeVertex();
            return true;
        case Kind::kFace:
            return TakeFace();
        case Kind::kTexVertex:
            TakeTexVertex();
            return true;
        case Kind::kTexFace:
            return TakeTexFace();
        case Kind::kNormals:
            return TakeNormals();
        case Kind::kOdd:
            return false;
        default:
            return true;
        }
    }

    // Whether the line in hand is the next of the run in hand: it begins with the
    // next number's key (and, for a plain number, no digit follows it).
    bool Continues() const
    {
        const std::string_view key = expected_.View();
        if (!StartsWith(line_, key))
            return false;
        if (runKind_ == Kind::kVertex || runKind_ == Kind::kFace)
            return true;
        return line_.size() == key.size() || !scan::IsDigit(line_[key.size()]);
    }

    CornerRecord* PoolEntry(std::int64_t index) const
    {
        return index >= 0 && static_cast<std::uint64_t>(index) < arrays_.vertexPool.size()
                   ? &arrays_.vertexPool[static_cast<std::size_t>(index)]
                   : nullptr;
    }
    CornerRecord* Corner(std::int64_t index) const
    {
        return index >= 0 && static_cast<std::uint64_t>(index) < arrays_.corners.size()
                   ? &arrays_.corners[static_cast<std::size_t>(index)]
                   : nullptr;
    }

    void TakeVertex()
    {
        CornerRecord* entry = PoolEntry(number_);
        if (entry == nullptr)
            return;
        float x = 0, z = 0, y = 0;
        ScanFixed<keys::kVertexScanTail>(line_.substr(keyLength_), x, z, y);
        Store(entry->position[0], x);
        Store(entry->position[2], z);
        Store(entry->position[1], y);
    }

    bool TakeFace()
    {
        const int stored = ScanFixed<keys::kFaceScanTail>(line_.substr(keyLength_), face_[0], face_[1], face_[2]);
        if (stored == 3)
            faceKnown_ = true;
        else if (!faceKnown_)
            return false;  // its numbers come from a line before this piece
        for (int i = 0; i < 3; ++i) {
            if (CornerRecord* corner = Corner(3 * number_ + i))
                StoreNumber(corner->position[0], face_[i]);
        }
        piece_->anyFace = true;
        std::copy(std::begin(face_), std::end(face_), piece_->face);
        return true;
    }

    void TakeTexVertex()
    {
        CornerRecord* entry = PoolEntry(number_);
        if (entry == nullptr)
            return;
        float u = 0, v = 0;
        ScanWithHead<keys::kTexVertexHead, keys::kTexVertexScanTail, keys::kTexVertexScan>(line_, discard_, u, v);
        Store(entry->texcoord[0], u);
        Store(entry->texcoord[1], -v);
    }

    bool TakeTexFace()
    {
        const int stored = ScanWithHead<keys::kTexFaceHead, keys::kTexFaceScanTail, keys::kTexFaceScan>(
            line_, discard_, texFace_[0], texFace_[1], texFace_[2]);
        if (stored == 4)
            texFaceKnown_ = true;
        else if (!texFaceKnown_)
            return false;
        for (int i = 0; i < 3; ++i) {
            if (CornerRecord* corner = Corner(3 * number_ + i))
                StoreNumber(corner->texcoord[0], texFace_[i]);
        }
        piece_->anyTexFace = true;
        std::copy(std::begin(texFace_), std::end(texFace_), piece_->texFace);
        return true;
    }

    // A face-normal line: its group's three vertex-normal lines follow, read here
    // even past the piece's end (the next piece starts after them).
    bool TakeNormals()
    {
        for (std::int64_t corner = 3 * number_; corner < 3 * number_ + 3; ++corner) {
            if (source_.Tell() >= objectEnd_ || !source_.ReadLine(line_) ||
                !StartsWith(line_, keys::kVertexNormalHead))
                return false;
            float a = 0, b = 0, c = 0;
            ScanWithHead<keys::kVertexNormalHead, keys::kVertexNormalScanTail, keys::kVertexNormalScan>(
                line_, discard_, a, b, c);
            if (CornerRecord* target = Corner(corner)) {
                Store(target->normal[0], a);
                Store(target->normal[2], b);
                Store(target->normal[1], c);
            }
        }
        return true;
    }

    LineSource& source_;
    ObjectArrays& arrays_;
    const std::int64_t objectEnd_;
    Piece* piece_ = nullptr;
    std::string_view line_;
    Kind kind_ = Kind::kOther;
    std::int64_t number_ = 0;
    std::size_t keyLength_ = 0;
    Kind runKind_ = Kind::kOther;  // the numbered run the piece is in, if any
    NumberedKey expected_{keys::kVertex};
    std::int32_t face_[3] = {0, 0, 0};
    std::int32_t texFace_[3] = {0, 0, 0};
    bool faceKnown_ = false, texFaceKnown_ = false;
    SkippedInt discard_;
};

// The first line start at or after `cut`, past up to three vertex-normal lines (a
// face's group is read whole by the piece that holds its face-normal line).
std::int64_t PieceStart(LineSource& source, std::int64_t cut, std::int64_t objectEnd)
{
    std::string_view line;
    source.SeekTo(cut - 1);
    if (!source.ReadLine(line))
        return objectEnd;
    for (int i = 0; i < 3; ++i) {
        const std::int64_t at = source.Tell();
        if (at >= objectEnd || !source.ReadLine(line) || !StartsWith(line, keys::kVertexNormalHead))
            return at;
    }
    return source.Tell();
}

// Runs `work(t)` for t in [0, threads) on this thread and threads - 1 more (fewer if
// none can be started); the first failure is thrown once all are done.
template <typename Work>
void OnThreads(int threads, const Work& work)
{
    std::exception_ptr error;
    std::atomic_flag failed;
    const auto guarded = [&](int t) {
        try {
            work(t);
        } catch (...) {
            if (!failed.test_and_set())
                error = std::current_exception();
        }
    };
    std::vector<std::thread> helpers;
    helpers.reserve(static_cast<std::size_t>(threads));
    for (int t = 1; t < threads; ++t) {
        try {
            helpers.emplace_back(guarded, t);
        } catch (...) {
            break;  // no more threads to be had: the ones there do the work
        }
    }
    guarded(0);
    for (std::thread& helper : helpers)
        helper.join();
    if (error)
        std::rethrow_exception(error);
}

// The joined runs checked against the regular layout (see the top of this file),
// as the file-order read would walk them. True with `faces` and `texFaces` set.
bool RegularLayout(std::vector<Run> runs, std::int64_t& faces, bool& texFaces)
{
    faces = 0;
    texFaces = false;
    std::size_t i = 0;
    const auto at = [&](Kind kind) { return i < runs.size() && runs[i].kind == kind; };
    const auto skip = [&](bool normalsBlocksToo) {
        while (at(Kind::kOther) || (normalsBlocksToo && at(Kind::kNormalsBlock)))
            ++i;
    };
    const auto startsAtZero = [&](Kind kind) { return at(kind) && runs[i].first == 0; };
    // Only other and normals-block lines may follow what the read reads.
    const auto restUnread = [&] {
        skip(true);
        return i == runs.size();
    };
    if (!startsAtZero(Kind::kVertex))
        return false;  // not the vertex-start line: the sequential read says what then
    ++i;
    skip(false);
    if (i == runs.size())
        return true;  // no faces
    if (!startsAtZero(Kind::kFace))
        return false;
    faces = runs[i++].count;
    skip(false);
    if (i == runs.size())
        return true;
    if (startsAtZero(Kind::kTexVertex)) {
        ++i;
        skip(false);
        if (i == runs.size())
            return true;
        if (startsAtZero(Kind::kTexFace)) {
            if (runs[i].count != faces)
                return false;
            texFaces = true;
            ++i;
            if (i == runs.size())
                return true;
            // The count-bound read passes over the line after the texture faces.
            if (!at(Kind::kOther) && !at(Kind::kNormalsBlock))
                return false;
            if (--runs[i].count == 0)
                ++i;
        } else if (!at(Kind::kNormalsBlock)) {
            return false;
        }
    } else if (!at(Kind::kNormalsBlock)) {
        return false;
    }
    skip(true);
    if (i == runs.size())
        return true;
    if (!startsAtZero(Kind::kNormals) || runs[i].count != faces)
        return false;
    ++i;
    return restUnread();
}

}  // namespace

std::int64_t SplitFromBytes()
{
    return splitFrom.load(std::memory_order_relaxed);
}

void SetSplitFromBytesForTests(std::int64_t bytes)
{
    splitFrom.store(bytes, std::memory_order_relaxed);
}

bool ReadObjectSplit(const LineSource& input, const ObjectExtent& extent, ObjectArrays& arrays, int threads,
                     int pieces, SplitRead& read)
{
    const std::int64_t objectEnd =
        extent.end == ObjectExtent::kNoEnd ? static_cast<std::int64_t>(input.SizeWhenOpened()) : extent.end;
    std::vector<std::int64_t> cuts;
    for (std::int64_t i = 1; i < pieces; ++i)
        cuts.push_back(extent.start + (objectEnd - extent.start) * i / pieces);
    return ReadObjectSplitAt(input, extent, arrays, threads, cuts, read);
}

bool ReadObjectSplitAt(const LineSource& input, const ObjectExtent& extent, ObjectArrays& arrays, int threads,
                       const std::vector<std::int64_t>& cuts, SplitRead& read)
{
    const std::int64_t objectEnd =
        extent.end == ObjectExtent::kNoEnd ? static_cast<std::int64_t>(input.SizeWhenOpened()) : extent.end;
    if (objectEnd <= extent.start)
        return false;

    std::vector<Piece> pieces(1);
    pieces[0].begin = extent.start;
    {
        LineSource finder = input.Reopen();
        for (const std::int64_t cut : cuts) {
            if (cut <= pieces.back().begin || cut >= objectEnd)
                continue;
            const std::int64_t begin = PieceStart(finder, cut, objectEnd);
            if (begin > pieces.back().begin && begin < objectEnd)
                pieces.emplace_back().begin = begin;
        }
    }
    for (std::size_t p = 0; p < pieces.size(); ++p)
        pieces[p].end = p + 1 < pieces.size() ? pieces[p + 1].begin : objectEnd;

    // The pieces, each thread taking the next one not yet read.
    threads = std::clamp(threads, 1, static_cast<int>(pieces.size()));
    std::atomic<std::size_t> next{0};
    OnThreads(threads, [&](int) {
        LineSource source = input.Reopen();
        PieceReader reader(source, arrays, objectEnd);
        for (std::size_t p = next.fetch_add(1); p < pieces.size(); p = next.fetch_add(1))
            reader.Read(pieces[p]);
    });

    // The join: every piece read cleanly, and their runs make up the regular layout.
    std::vector<Run> runs;
    for (std::size_t p = 0; p < pieces.size(); ++p) {
        const Piece& piece = pieces[p];
        if (piece.refused || (piece.endedEarly && p + 1 < pieces.size()))
            return false;
        for (const Run& run : piece.runs) {
            if (!AddLine(runs, run.kind, run.first, run.count))
                return false;
        }
    }
    std::int64_t faces = 0;
    bool texFaces = false;
    if (!RegularLayout(std::move(runs), faces, texFaces))
        return false;

    read = SplitRead{};
    read.faces = faces;
    read.texFaces = texFaces;
    for (const Piece& piece : pieces) {
        if (piece.anyFace)
            std::copy(std::begin(piece.face), std::end(piece.face), read.face);
        if (piece.anyTexFace)
            std::copy(std::begin(piece.texFace), std::end(piece.texFace), read.texFace);
    }

    // The corners of the faces read get the pool entries their numbers name (none
    // outside the pool: the fields stay zero, as the sequential read leaves them).
    const auto cornersRead =
        static_cast<std::size_t>(std::min<std::int64_t>(faces * 3, static_cast<std::int64_t>(arrays.corners.size())));
    arrays.cornersRead = static_cast<std::int32_t>(cornersRead);
    const CornerArray& pool = arrays.vertexPool;
    const auto entry = [&](const float& stashed) -> const CornerRecord* {
        std::int32_t index = 0;
        std::memcpy(&index, &stashed, sizeof index);
        return index >= 0 && static_cast<std::size_t>(index) < pool.size() ? &pool[static_cast<std::size_t>(index)]
                                                                            : nullptr;
    };
    const int copiers =
        static_cast<int>(std::clamp<std::size_t>(cornersRead / 65536, 1, static_cast<std::size_t>(threads)));
    OnThreads(copiers, [&](int t) {
        const std::size_t from = cornersRead * static_cast<std::size_t>(t) / static_cast<std::size_t>(copiers);
        const std::size_t to = cornersRead * static_cast<std::size_t>(t + 1) / static_cast<std::size_t>(copiers);
        for (std::size_t k = from; k < to; ++k) {
            CornerRecord& corner = arrays.corners[k];
            if (const CornerRecord* vertex = entry(corner.position[0]))
                std::memcpy(corner.position, vertex->position, sizeof corner.position);
            else
                corner.position[0] = 0;
            if (!texFaces)
                continue;
            if (const CornerRecord* vertex = entry(corner.texcoord[0]))
                std::memcpy(corner.texcoord, vertex->texcoord, sizeof corner.texcoord);
            else
                corner.texcoord[0] = 0;
        }
    });
    return true;
}

}  // namespace ase2sgl
