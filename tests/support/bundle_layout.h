// Reads a mesh bundle back and checks its layout, for tests and the fuzzer: object
// count, then per object a 255-byte zero-terminated name field, a vertex count n
// (a multiple of 3) and 32n bytes of floats, with nothing after the last record.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace ase2sgl::testing {

struct BundleObject {
    std::string name;  // up to the first zero byte of the name field
    std::vector<float> positions, normals, texcoords;
    std::int32_t VertexCount() const { return static_cast<std::int32_t>(positions.size() / 3); }
};

struct Bundle {
    std::vector<BundleObject> objects;
    std::string problem;  // empty when the layout is sound
};

Bundle ParseBundle(std::string_view bytes);

}  // namespace ase2sgl::testing
