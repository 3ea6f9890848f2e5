// Counting pass: the first read of the input. Finds the objects, names them and
// counts their list lines so that every array can be sized before any geometry is
// read. It parses no numbers: every decision is a key prefix test on a whole line.
#include "ase/mesh_tables.h"

#include "ase/keys.h"
#include "ase/line_source.h"
#include "ase/numbered_key.h"
#include "ase/pass_observer.h"
#include "ase/upper_case_1252.h"
#include "common/conversion_error.h"
#include "common/format_limits.h"

#include <algorithm>
#include <exception>
#include <limits>
#include <thread>
#include <vector>

namespace ase2sgl {

// The node header line holds a tab, *NODE_NAME, a blank, the quoted name and
// whatever follows. The bundle keeps the line from byte 13 (just after the opening
// quote) up to, not including, its last byte: for a line that ends with the closing
// quote, exactly the name.
std::string NameText(std::string_view header)
{
    const std::size_t start = keys::kNodeHeader.size();
    if (header.size() <= start)
        return {};
    std::string text(header.substr(start, std::min(header.size() - start - 1, kMaxNameBytes)));
    for (char& c : text)
        c = static_cast<char>(UpperCase1252(static_cast<unsigned char>(c)));
    return text;
}

namespace {

// What a count over part of the input found.
struct CountedRange {
    MeshTables tables;
    std::vector<std::int64_t> headers;  // each object's node header line
    // The first line the count did not test: at or after its stop, or a sync header;
    // the input's length when it finished.
    std::int64_t end = 0;
    bool finished = false;  // the whole count ended in the range (end of input, a header with no mesh)
    std::size_t syncedAt = std::numeric_limits<std::size_t>::max();  // the sync header it stopped at
    std::int64_t start = 0;  // the first line it tested
    bool failed = false;     // it threw: the whole count is made again on one thread
};

// With kObserve false (no observer) the pass runs no instruction for one.
template <bool kObserve>
class Counter {
  public:
    Counter(LineSource& input, const std::string& inputPath, PassObserver* observer,
            const ObjectCounted* counted = nullptr)
        : input_(input), inputPath_(inputPath), observer_(observer), counted_(counted)
    {
    }

    // The count from where the input stands to its end; the input is rewound after.
    MeshTables Run()
    {
        MeshTables tables = RunRange(input_.Tell(), std::numeric_limits<std::int64_t>::max()).tables;
        input_.Rewind();
        return tables;
    }

    // The count from `from`, the start of a line the loop tests, up to the first line
    // it tests at or after `stopAt`, or, with `sync`, up to a line it tests that is
    // one of those node headers. (The lines it tests: its first, the first after each
    // object, and node headers; the others do nothing there.) Everything the loop
    // does at a line it tests depends on that line and the ones after it alone, so a
    // count from there is the count the whole loop makes from there.
    CountedRange RunRange(std::int64_t from, std::int64_t stopAt, const std::vector<std::int64_t>* sync = nullptr)
    {
        CountedRange range;
        input_.SeekTo(from);
        bool more = Read();
        std::size_t next = 0;  // the first sync header not behind the line in hand
        while (more && lineStart_ < stopAt) {
            if (sync != nullptr) {
                while (next < sync->size() && (*sync)[next] < lineStart_)
                    ++next;
                if (next < sync->size() && (*sync)[next] == lineStart_) {
                    range.syncedAt = next;
                    break;
                }
            }
            if (StartsWith(line_, keys::kNodeHeader)) {
                const std::int64_t header = lineStart_;
                if (!CountObject()) {
                    more = false;  // a node header with no vertex list before the end: not an object
                    break;
                }
                headers_.push_back(header);
                if (counted_ != nullptr)
                    (*counted_)(tables_);
            }
            // The line that ended the object (the one after its texture-vertex run,
            // or wherever its searches stopped) is never tested as a header: a node
            // header there is passed over, and the mesh it starts is not counted.
            more = ReadToHeader();
        }
        range.finished = !more;
        if (range.finished)
            tables_.inputBytes = input_.Tell();
        range.end = range.finished ? tables_.inputBytes : lineStart_;
        range.tables = std::move(tables_);
        range.headers = std::move(headers_);
        return range;
    }

  private:
    // Every read of the pass; it notes where the line in hand starts.
    bool Read()
    {
        lineStart_ = input_.Tell();
        if (!input_.ReadLine(line_))
            return false;
        if constexpr (kObserve) {
            if (countingObject_ && StartsWith(line_, keys::kNodeHeader))
                observer_->HeaderPassedOver(lineStart_, tables_.objectCount);
        }
        return true;
    }

    // Between objects the loop acts on node headers alone: without an observer the
    // other lines are passed over many at a time (LineSource::ReadLineStartingWith);
    // with one, each is read as it is told.
    bool ReadToHeader()
    {
        if constexpr (kObserve) {
            return Read();
        } else {
            const bool found = input_.ReadLineStartingWith(keys::kNodeHeader, line_);
            lineStart_ = found ? input_.LineStart() : input_.Tell();
            return found;
        }
    }

    // Measures the object whose node header is in hand. False when the input ends
    // before its first vertex line.
    bool CountObject()
    {
        PassObserver::CountedObject seen;
        seen.object = tables_.objectCount;
        seen.header = lineStart_;
        std::string name = NameText(line_);
        countingObject_ = true;
        const bool found = CountLists(seen);
        countingObject_ = false;
        if (!found) {
            if constexpr (kObserve)
                observer_->HeaderWithoutMesh(seen.header);
            return false;
        }
        AddObject(std::move(name), seen.vertexStart, std::max(seen.vertexLines, seen.texVertexLines), seen.faceLines);
        if constexpr (kObserve) {
            seen.name = tables_.nameText.back();
            seen.end = input_.Tell();
            observer_->ObjectCounted(seen);
        }
        return true;
    }

    // The object's lists, from its node header on. False when the input ends
    // before its first vertex line.
    bool CountLists(PassObserver::CountedObject& seen)
    {
        // Vertex search: from the header itself; later node headers are passed over.
        while (!StartsWith(line_, keys::kVertexStart)) {
            if (!Read())
                return false;
        }
        seen.vertexStart = lineStart_;
        // The line that ended the vertex run, and the one that ended the face run,
        // are never tested: each search starts with a read.
        if (!CountRun(keys::kVertexStart, keys::kVertex, seen.vertexLines))
            return true;
        seen.vertexRunEnd = lineStart_;
        if (!Read() || !Find(keys::kFaceStart))
            return true;
        seen.faceStart = lineStart_;
        if (!CountRun(keys::kFaceStart, keys::kFace, seen.faceLines))
            return true;
        seen.faceRunEnd = lineStart_;
        if (!Read()) {
            seen.texVertexSearch = SearchEnd::kEndOfInput;
            return true;
        }
        seen.texVertexSearch = FindTexVertices();
        seen.texVertexStart = seen.texVertexSearch == SearchEnd::kEndOfInput ? PassObserver::kNone : lineStart_;
        if (seen.texVertexSearch == SearchEnd::kFound)
            seen.texVertexLines = CountTexVertexRun();
        return true;
    }

    // Counts the lines numbered 0, 1, 2, ... from the line in hand, which starts with
    // `first`. False when the input ended during the run.
    bool CountRun(std::string_view first, std::string_view keyFormat, std::int64_t& count)
    {
        NumberedKey next(keyFormat, count);
        std::string_view key = first;
        while (StartsWith(line_, key)) {
            ++count;
            next.Advance();
            key = next.View();
            if (!Read())
                return false;
        }
        return true;
    }

    // Reads on until a line starts with `key`, the line in hand included; false at
    // the end of the input. Nothing else ends the search.
    bool Find(std::string_view key)
    {
        while (!StartsWith(line_, key)) {
            if (!Read())
                return false;
        }
        return true;
    }

    // From the line in hand: stops at the first texture-vertex line, the normals
    // block or the end of the input. Node headers are passed over.
    SearchEnd FindTexVertices()
    {
        for (;;) {
            if (StartsWith(line_, keys::kNormalsBlock))
                return SearchEnd::kNormalsBlock;
            if (StartsWith(line_, keys::kTexVertexStart))
                return SearchEnd::kFound;
            if (!Read())
                return SearchEnd::kEndOfInput;
        }
    }

    // Texture-vertex keys are "%d" prefixes: on a well-formed list each key meets the
    // line of its own number. The reads are not tested; at the end the empty line
    // matches no key.
    std::int64_t CountTexVertexRun()
    {
        NumberedKey key(keys::kTexVertex, 0);
        do {
            Read();
            key.Advance();
        } while (StartsWith(line_, key.View()));
        return key.Number();
    }

    void AddObject(std::string name, std::int64_t start, std::int64_t vertexCount, std::int64_t faceLines)
    {
        if (tables_.objectCount == kMaxObjects)
            throw InputRefused(inputPath_, "plus de " + std::to_string(kMaxObjects) +
                                               " objets (limite du format: " + std::to_string(kMaxObjects) + ")");
        constexpr std::int64_t kMaxCount = std::numeric_limits<std::int32_t>::max();
        if (vertexCount > kMaxCount || faceLines > kMaxCount / 3)
            throw InputRefused(inputPath_, "objet trop grand pour le format");
        tables_.nameText.push_back(std::move(name));
        tables_.objectStart.push_back(start);
        tables_.vertexCount.push_back(static_cast<std::int32_t>(vertexCount));
        tables_.cornerCount.push_back(static_cast<std::int32_t>(faceLines * 3));
        ++tables_.objectCount;
    }

    LineSource& input_;
    const std::string& inputPath_;
    PassObserver* observer_;
    const ObjectCounted* counted_;
    MeshTables tables_;
    std::string_view line_;
    std::int64_t lineStart_ = 0;
    bool countingObject_ = false;  // reading an object's lists: node headers are passed over
    std::vector<std::int64_t> headers_;  // RunRange: each object's node header line
};

}  // namespace

MeshTables CountObjects(LineSource& input, const std::string& inputPath, PassObserver* observer)
{
    if (observer != nullptr)
        return Counter<true>(input, inputPath, observer).Run();
    return Counter<false>(input, inputPath, nullptr).Run();
}

MeshTables CountObjects(LineSource& input, const std::string& inputPath, const ObjectCounted& counted)
{
    return Counter<false>(input, inputPath, nullptr, &counted).Run();
}

namespace {

// Adds `from`'s objects from `first` on to `to`.
void AppendObjects(MeshTables& to, MeshTables& from, std::size_t first)
{
    for (std::size_t i = first; i < static_cast<std::size_t>(from.objectCount); ++i) {
        to.nameText.push_back(std::move(from.nameText[i]));
        to.vertexCount.push_back(from.vertexCount[i]);
        to.cornerCount.push_back(from.cornerCount[i]);
        to.objectStart.push_back(from.objectStart[i]);
        ++to.objectCount;
    }
}

// Part `part` of `parts`: from the first line that starts at or after its share of
// the bytes, up to the first line the count tests at or after the next share's.
CountedRange CountPart(LineSource& input, const std::string& inputPath, std::int64_t from, std::int64_t stopAt)
{
    if (from > 0) {
        input.SeekTo(from - 1);
        std::string_view partial;
        input.ReadLine(partial);  // the line that holds byte from - 1: counted by the part before
    }
    const std::int64_t start = input.Tell();
    CountedRange range = Counter<false>(input, inputPath, nullptr).RunRange(start, stopAt);
    range.start = start;
    return range;
}

}  // namespace

// The input is cut into `threads` parts by bytes, and each part counted from its
// first whole line on its own thread, as if the count were at that line looking for
// a node header. The parts are then joined in order: where the count of the parts
// before stops at the line a part started at, that part's count is the true one and
// is taken whole. Where it stops past it (the line was within an object's lists, or
// was the line that ended one), the count goes on from there on this thread until it
// tests one of the part's node header lines, and takes the part's objects from that
// one on; or, when it meets none, up to the next part. A part that failed (an
// object too large for the format, a read error), and more objects than the format
// holds, make the whole count again on one thread, which stops where and as the
// sequential count stops.
MeshTables CountObjectsInParallel(LineSource& input, const InputOpener& open, const std::string& inputPath,
                                  int threads)
{
    const std::int64_t size = static_cast<std::int64_t>(input.SizeWhenOpened());
    if (threads < 2 || size < threads)
        return CountObjects(input, inputPath);
    const auto share = [&](int part) {
        return part == threads ? std::numeric_limits<std::int64_t>::max() : size / threads * part;
    };
    std::vector<CountedRange> parts(static_cast<std::size_t>(threads));
    const auto count = [&](int part, LineSource& source) {
        try {
            parts[static_cast<std::size_t>(part)] = CountPart(source, inputPath, share(part), share(part + 1));
        } catch (...) {
            parts[static_cast<std::size_t>(part)].failed = true;
        }
    };
    std::vector<std::thread> helpers;
    for (int part = 1; part < threads; ++part) {
        try {
            helpers.emplace_back([&, part] {
                try {
                    LineSource source = open();
                    count(part, source);
                } catch (...) {
                    parts[static_cast<std::size_t>(part)].failed = true;
                }
            });
        } catch (...) {  // no thread to be had: this part is counted below, on this one
            parts[static_cast<std::size_t>(part)].failed = true;
        }
    }
    count(0, input);
    for (std::thread& helper : helpers)
        helper.join();

    const auto sequential = [&] {
        input.Rewind();
        return CountObjects(input, inputPath);
    };
    MeshTables joined;
    bool finished = false;
    std::int64_t at = 0;  // the line the count so far tests next
    for (std::size_t k = 0; k < parts.size() && !finished; ++k) {
        CountedRange& part = parts[k];
        if (part.failed)
            return sequential();
        std::size_t first = 0;  // the part's first object that the count so far reaches
        if (at != part.start) {
            CountedRange between =
                Counter<false>(input, inputPath, nullptr).RunRange(at, share(static_cast<int>(k) + 1), &part.headers);
            AppendObjects(joined, between.tables, 0);
            if (between.finished) {
                joined.inputBytes = between.tables.inputBytes;
                finished = true;
                break;
            }
            if (between.syncedAt == std::numeric_limits<std::size_t>::max()) {
                at = between.end;
                continue;
            }
            first = between.syncedAt;
        }
        AppendObjects(joined, part.tables, first);
        at = part.end;
        if (part.finished) {
            joined.inputBytes = part.tables.inputBytes;
            finished = true;
        }
        if (joined.objectCount > kMaxObjects)
            return sequential();
    }
    if (joined.objectCount > kMaxObjects)
        return sequential();
    input.Rewind();
    return joined;
}

}  // namespace ase2sgl
