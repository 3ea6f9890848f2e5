// What `sgltool info` reports about an object: sizes, extent and the values a
// loader would trip over (degenerate triangles, normals off unit length, NaN or
// infinite values).
#pragma once

#include "tools/loaded_bundle.h"

#include <cstdint>
#include <limits>

namespace ase2sgl::tools {

// A normal counts as off unit length when its length differs from 1 by more than
// this (the exporter's four decimals give lengths within 0.0003 of 1).
inline constexpr double kUnitLengthTolerance = 0.01;

struct Range {
    float min = std::numeric_limits<float>::infinity();
    float max = -std::numeric_limits<float>::infinity();
    bool Empty() const { return min > max; }
    void Add(float value)
    {
        if (value < min)
            min = value;
        if (value > max)
            max = value;
    }
    void Add(const Range& other)
    {
        if (!other.Empty())
            Add(other.min), Add(other.max);
    }
};

struct MeshStats {
    std::int64_t vertices = 0;
    std::int64_t triangles = 0;
    std::array<Range, 3> bounds;           // x, y, z of the finite positions, as stored
    std::array<Range, 2> texcoords;        // u, v of the finite texture coordinates
    std::int64_t degenerateTriangles = 0;  // zero area (finite corners only)
    std::int64_t normalsOffUnit = 0;
    std::int64_t nonFiniteValues = 0;  // NaN or infinite, in any of the three arrays

    void Add(const MeshStats& other);
};

MeshStats ComputeStats(const bundle::Object& object);

}  // namespace ase2sgl::tools
