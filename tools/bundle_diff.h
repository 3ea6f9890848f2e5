// `sgltool diff`: which objects two bundles share, which were added, removed or
// renamed, and how far the shared ones' values moved.
#pragma once

#include "tools/loaded_bundle.h"

#include <ostream>

namespace ase2sgl::tools {

// The largest difference found in one array, and where.
struct LargestDifference {
    double amount = 0;         // |a - b|; infinite when only one side is NaN or infinite
    std::int64_t vertex = -1;  // -1: the arrays are equal
    int component = 0;         // 0..2 for x, y, z; 0..1 for u, v
};

struct ObjectPair {
    std::int64_t indexA = -1, indexB = -1;  // -1: absent on that side (added or removed)
    bool renamed = false;
    bool vertexCountChanged = false;
    LargestDifference positions, normals, texcoords;
};

struct BundleDiff {
    bool identicalBytes = false;
    std::vector<ObjectPair> pairs;  // in A's order, then the objects only B has
    bool Equal(double tolerance) const;
};

BundleDiff DiffBundles(const LoadedBundle& a, const LoadedBundle& b);

// Prints the differences beyond `tolerance` (all of them as "equal within" when none).
void PrintDiff(const BundleDiff& diff, const LoadedBundle& a, const LoadedBundle& b, double tolerance,
               std::ostream& out);

}  // namespace ase2sgl::tools
