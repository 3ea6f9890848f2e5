// CornerRecord: one corner of a face, or one entry of an object's vertex pool, as
// the geometry pass fills it and the bundle writer lays it out.
#pragma once

namespace ase2sgl {

// Positions and normals hold the input's first, third and second component: the
// bundle's axis convention exchanges the second and third. texcoord[1] holds the
// input's V negated; stream assembly negates it back, so the file carries V as the
// input wrote it.
struct CornerRecord {
    float position[3];
    float normal[3];
    float texcoord[2];
};
static_assert(sizeof(CornerRecord) == 32);

}  // namespace ase2sgl
