// Lint: what ase2sgl will do with an ASE file, and why, before it is converted.
// The objects come from the converter's own two reads, watched through their
// observer, so the report cannot disagree with the bundle; the meshes and nodes the
// file declares come from the tolerant reader of normalize/, which reads every
// exporter's spacing. Every mesh that does not become an object of its own under
// its own name is named with its line and the reason.
#pragma once

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
    std::int32_t lastLine =
        0;  // the last line of its reading (the next object's first vertex line - 1, or the last line)
};

enum class Severity {
    kLoss,     // a mesh that does not become an object of its own under its own name
    kWarning,  // an object that loses values (normals, texture coordinates, faces)
    kNote,     // passed over, and changes nothing in the bundle
};

struct Finding {
    Severity severity = Severity::kNote;
    std::string kind;          // a stable code, e.g. "mesh-merged" (see FindingKinds)
    std::int32_t line = 0;     // from 1; 0 when the finding is about the whole file
    std::int32_t object = -1;  // the object concerned, or -1
    std::string message;       // one sentence for a person
};

struct LintReport {
    std::string dialect;          // "3ds Max", "Blender", "AC3D", "q3map2", "unknown"
    std::string encoding;         // "UTF-8", "UTF-8 with BOM", "UTF-16 LE", "UTF-16 BE"
    std::string lineEnds;         // "LF", "CR LF", "CR", "mixed", "none"
    std::int32_t meshes = 0;      // GEOMOBJECTs with a mesh the file declares
    std::int32_t otherNodes = 0;  // cameras, lights, helpers, shapes, nodes without a mesh
    std::int32_t ownObjects = 0;  // meshes that become an object of their own under their own name
    bool refused = false;         // ase2sgl refuses the file (exit 3): no bundle
    std::string refusal;
    std::vector<LintObject> objects;
    std::vector<Finding> findings;  // in line order

    // Every mesh becomes an object of its own under its own name: no finding is a loss.
    bool Clean() const;
};

// Reads `ase` as ase2sgl and the tolerant reader would, and says what becomes of
// each mesh and node. Never throws for any input bytes (a std::bad_alloc aside).
LintReport Lint(std::string_view ase);

// The report for a person: a heading line, the objects, the findings, the verdict.
std::string FormatText(const LintReport& report, std::string_view fileName);
// The same as JSON: one entry of the "files" array of tools/sgltool-lint.schema.json.
nlohmann::ordered_json ToJson(const LintReport& report, std::string_view fileName);

const char* SeverityName(Severity severity);

}  // namespace ase2sgl::lint
