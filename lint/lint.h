// Lint: what ase2sgl will do with an ASE file, and why, before it is converted.
// The objects come from the converter's own two reads, watched through their
// observer, and from the bundle they write, so the report cannot disagree with the
// bundle; the meshes and nodes the file declares come from one read of the tolerant
// reader (tolerant/), which reads every exporter's spacing. Every mesh that does
// not become an object of its own under its own name is named with its line and the
// reason; every object the engine would see without normals or texture coordinates
// is named with the way out.
#pragma once

#include "tolerant/ase_text.h"
#include "tolerant/scene.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace ase2sgl::lint {

// One object of the bundle ase2sgl writes, in bundle order.
struct LintObject {
    std::int32_t index = 0;
    std::string name;  // as the bundle stores it (upper-cased, at most 254 bytes)
    std::int32_t vertices = 0;
    std::int32_t triangles = 0;
    std::int32_t headerLine = 0;  // the node header the name comes from
    std::int32_t firstLine = 0;   // its first vertex line
    // The last line of its reading: the next object's first vertex line - 1, or the last line.
    std::int32_t lastLine = 0;
};

enum class Severity {
    kLoss,     // a mesh that does not become an object of its own under its own name
    kWarning,  // an object that loses values (normals, texture coordinates, faces)
    kNote,     // passed over, and changes nothing in the bundle
};

struct Finding {
    Severity severity = Severity::kNote;
    std::string kind;          // a stable code, e.g. "mesh-merged": the "kind" list of tools/sgltool-lint.schema.json
    std::int32_t line = 0;     // from 1; 0 when the finding is about the whole file
    std::int32_t object = -1;  // the object concerned, or -1
    std::string message;       // one sentence for a person
};

struct LintReport {
    tolerant::Dialect dialect = tolerant::Dialect::kUnknown;
    tolerant::Encoding encoding = tolerant::Encoding::kUtf8;
    tolerant::LineEnds lineEnds = tolerant::LineEnds::kNone;
    std::int32_t meshes = 0;      // GEOMOBJECTs with a mesh the file declares
    std::int32_t otherNodes = 0;  // cameras, lights, helpers, shapes, nodes without a mesh
    std::int32_t ownObjects = 0;  // meshes that become an object of their own under their own name
    bool refused = false;         // ase2sgl refuses the file (exit 3): no bundle
    std::string refusal;
    std::vector<LintObject> objects;
    std::vector<Finding> findings;  // in line order

    // Every mesh becomes an object of its own under its own name: no finding is a loss.
    bool Clean() const;
    // Clean, and with `strict` no warning either.
    bool Passes(bool strict) const;
    std::int32_t Count(Severity severity) const;
};

// What many files' reports add up to, for one closing line.
struct LintTotals {
    std::int32_t files = 0, meshes = 0, ownObjects = 0, losses = 0, warnings = 0, failed = 0;
    void Add(const LintReport& report, bool strict);
};

// Reads `ase` as ase2sgl and the tolerant reader would, and says what becomes of
// each mesh and node. Never throws for any input bytes (a std::bad_alloc aside).
LintReport Lint(std::string_view ase);

// The same for a file: the converter reads `path`, the tolerant reader `source`
// (the same file's bytes); nothing the size of the file is held. Throws
// ConversionError (FileError) when the converter cannot read the file. With two
// threads (and a regular file), the converter's reads run beside the tolerant
// reader's, which is on two threads itself; the report is the same either way.
LintReport LintFile(const std::string& path, tolerant::ByteSource& source,
                    tolerant::ReadThreads threads = tolerant::ReadThreads::kChosen);

// The report for a person: a heading line, the objects, the findings, the verdict.
// Quiet, only the losses and the verdict of a file that has some.
std::string FormatText(const LintReport& report, std::string_view fileName, bool quiet = false);
// "3 files: 12 of 14 meshes become objects of their own, 2 losses, 5 warnings".
std::string FormatTotals(const LintTotals& totals);
// The same as JSON: one entry of the "files" array of tools/sgltool-lint.schema.json.
nlohmann::ordered_json ToJson(const LintReport& report, std::string_view fileName);

const char* SeverityName(Severity severity);

}  // namespace ase2sgl::lint
