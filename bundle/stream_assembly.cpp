// Stream assembly: one object's corners become the three float arrays of its
// record. Every corner is one output vertex, in corner order; nothing is welded,
// reordered or normalised.
#include "bundle/mesh_bundle.h"

namespace ase2sgl {

void AssembleStreams(std::span<const CornerRecord> corners, std::vector<float>& streams)
{
    const std::size_t n = corners.size();
    streams.resize(kFloatsPerVertex * n);
    float* positions = streams.data();
    float* normals = positions + 3 * n;
    float* texcoords = normals + 3 * n;
    for (const CornerRecord& corner : corners) {
        *positions++ = corner.position[0];
        *positions++ = corner.position[1];
        *positions++ = corner.position[2];
        *normals++ = corner.normal[0];
        *normals++ = corner.normal[1];
        *normals++ = corner.normal[2];
        *texcoords++ = corner.texcoord[0];
        // V was stored negated while reading; negating again only flips the sign
        // bit, so the file carries V as written (and an unwritten +0.0 as -0.0).
        *texcoords++ = -corner.texcoord[1];
    }
}

}  // namespace ase2sgl
