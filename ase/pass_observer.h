// PassObserver: what the two reads do with an input, told as they do it, so that a
// report on a file (sgltool lint) is the converter's own reading and cannot drift
// from it. Positions are byte offsets of line starts, as LineSource::Tell gives
// them; kNone stands for a line that was not found. Without an observer the passes
// only count what they would tell, which costs nothing measurable.
#pragma once

#include <cstdint>
#include <string_view>

namespace ase2sgl {

// How a search for a list ended.
enum class SearchEnd {
    kFound,         // at the list's first line
    kNormalsBlock,  // at a normals block (texture searches stop there)
    kEndOfInput,    // at the end of the input, or of the object's lines
    kNotRun,        // an earlier step ended the object first
};

class PassObserver {
  public:
    static constexpr std::int64_t kNone = -1;

    // The first read's view of one object.
    struct CountedObject {
        std::int32_t object = 0;
        std::string_view name;              // as the bundle stores it
        std::int64_t header = kNone;        // the node header it takes its name from
        std::int64_t vertexStart = kNone;   // its first vertex line
        std::int64_t vertexRunEnd = kNone;  // the line that ended the vertex run
        std::int64_t faceStart = kNone;
        std::int64_t faceRunEnd = kNone;
        SearchEnd texVertexSearch = SearchEnd::kNotRun;
        std::int64_t texVertexStart = kNone;  // where that search stopped
        std::int64_t end = kNone;             // the first line after the object's reading
        std::int64_t vertexLines = 0, faceLines = 0, texVertexLines = 0;
    };

    // The second read's view of one object, within its own lines.
    struct ReadObject {
        std::int32_t object = 0;
        SearchEnd texVertexSearch = SearchEnd::kNotRun;
        std::int64_t texVertexStart = kNone;
        std::int64_t faceStart = kNone;
        std::int64_t faces = 0;  // face lines read
        SearchEnd texFaceSearch = SearchEnd::kNotRun;
        std::int64_t texFaceStart = kNone;
        SearchEnd normalsSearch = SearchEnd::kNotRun;
        std::int64_t faceNormalStart = kNone;
        // Fixed-count reads: lines that did not give all their values, lines that
        // were not there (the object's lines ended first).
        std::int64_t texFaceLinesNotScanned = 0, texFaceLinesMissing = 0;
        std::int64_t vertexNormalLinesNotScanned = 0, vertexNormalLinesMissing = 0;
        std::int64_t faceLinesNotScanned = 0;
        // Vertex and texture-vertex numbers that name no entry of the pool.
        std::int64_t vertexNumbersOutside = 0, texVertexNumbersOutside = 0;
        std::int32_t cornersRead = 0;
    };

    virtual ~PassObserver() = default;
    // A node header line the first read passes over while it reads object `object`:
    // no object takes its name.
    virtual void HeaderPassedOver(std::int64_t line, std::int32_t object) = 0;
    // A node header with no vertex line after it: not an object.
    virtual void HeaderWithoutMesh(std::int64_t line) = 0;
    virtual void ObjectCounted(const CountedObject& counted) = 0;
    virtual void ObjectRead(const ReadObject& read) = 0;
};

}  // namespace ase2sgl
