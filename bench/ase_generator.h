// Deterministic ASE text in the exporter's layout, for benchmarks: the same seed,
// layout and size always give the same bytes.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace ase2sgl::bench {

enum class Layout {
    // Objects of 200 to 8000 faces with every list the exporter writes: vertices,
    // faces, more texture vertices than vertices, texture faces and normals, with a
    // helper node (no mesh) now and then.
    kRealistic,
    // One 21845-face object (vertex numbers past 9999, so unpadded keys), then a
    // cycle of a thousand mesh-less node headers, meshes without normals, without
    // texture lists, without either, and complete ones.
    kAdversarial,
    // One mesh with every list, of about the size asked for (a scanned or sculpted
    // asset, a merged level): the case of a scene no object-by-object split helps.
    kOneObject,
};

struct GeneratorOptions {
    Layout layout = Layout::kRealistic;
    std::uint64_t targetBytes = 10'000'000;  // stops at the first object end past this
    bool crlf = false;
    std::uint64_t seed = 1;
};

struct GeneratedScene {
    std::uint64_t bytes = 0;
    std::int64_t objects = 0;
    // The largest object's working arrays in the converter: vertex pool and corners,
    // 32 bytes an entry.
    std::uint64_t largestObjectArrayBytes = 0;
};

// Writes the scene to `out`.
GeneratedScene GenerateAse(const GeneratorOptions& options, std::FILE* out);
// The same scene as a string (in-process benchmarks).
std::string GenerateAse(const GeneratorOptions& options);

}  // namespace ase2sgl::bench
