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
#include <limits>

namespace ase2sgl {

namespace {

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

// With kObserve false (no observer) the pass runs no instruction for one.
template <bool kObserve>
class Counter {
  public:
    Counter(LineSource& input, const std::string& inputPath, PassObserver* observer)
        : input_(input), inputPath_(inputPath), observer_(observer)
    {
    }

    MeshTables Run()
    {
        bool more = Read();
        while (more) {
            if (StartsWith(line_, keys::kNodeHeader) && !CountObject())
                break;  // a node header with no vertex list before the end: not an object
            // The line that ended the object (the one after its texture-vertex run,
            // or wherever its searches stopped) is never tested as a header: a node
            // header there is passed over, and the mesh it starts is not counted.
            more = Read();
        }
        tables_.inputBytes = input_.Tell();
        input_.Rewind();
        return std::move(tables_);
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
    MeshTables tables_;
    std::string_view line_;
    std::int64_t lineStart_ = 0;
    bool countingObject_ = false;  // reading an object's lists: node headers are passed over
};

}  // namespace

MeshTables CountObjects(LineSource& input, const std::string& inputPath, PassObserver* observer)
{
    if (observer != nullptr)
        return Counter<true>(input, inputPath, observer).Run();
    return Counter<false>(input, inputPath, nullptr).Run();
}

}  // namespace ase2sgl
