// One large object read by several threads, each over a range of its lines.
// Internal to the ASE reader (used by GeometryReader); see split_object.cpp for how
// the pieces are read and why the result is the one the sequential read gives.
#pragma once

#include "ase/line_source.h"
#include "ase/mesh_tables.h"

#include <cstdint>
#include <vector>

namespace ase2sgl {

// Objects of at least this many bytes are split when more than one thread reads.
// Below it, starting the threads and the second pass over the corners cost more
// than they save (docs/performance.md has the measurements).
inline constexpr std::int64_t kSplitFrom = std::int64_t{8} << 20;
// The threshold in force: kSplitFrom unless a test has lowered it, so that the
// split runs on small inputs too.
std::int64_t SplitFromBytes();
void SetSplitFromBytesForTests(std::int64_t bytes);

// What a split read leaves behind besides the arrays: the number of face lines read
// (0: none), whether texture faces were read, and the numbers the last face and
// texture-face lines left in the scan targets (the carry handed to the next object).
struct SplitRead {
    std::int64_t faces = 0;
    bool texFaces = false;
    std::int32_t face[3] = {0, 0, 0};
    std::int32_t texFace[3] = {0, 0, 0};
};

// Reads the object at `extent` from `input` (which is not moved: each thread reads
// through its own source, Reopen) on `threads` threads, in `pieces` ranges of about
// equal size. `arrays` must be zero-filled and sized for the object. True when the
// object's lines have the regular layout that makes the result exactly the sequential
// read's, with the arrays filled and `read` set; false when the object must be read
// sequentially (the arrays then hold partial writes and must be prepared again).
bool ReadObjectSplit(const LineSource& input, const ObjectExtent& extent, ObjectArrays& arrays, int threads,
                     int pieces, SplitRead& read);
// The same with the cut points given: the pieces start at the first line start at or
// after each offset in `cuts` (ascending, inside the object), for tests that cut at
// every line.
bool ReadObjectSplitAt(const LineSource& input, const ObjectExtent& extent, ObjectArrays& arrays, int threads,
                       const std::vector<std::int64_t>& cuts, SplitRead& read);

}  // namespace ase2sgl
