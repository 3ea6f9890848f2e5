// Object statistics: one pass over each array.
#include "tools/mesh_stats.h"

#include <cmath>

namespace ase2sgl::tools {

namespace {

// Twice the triangle's area is |(b - a) x (c - a)|, zero for a degenerate one.
// Computed in double so that float corners do not round a thin triangle to zero.
bool HasZeroArea(const Vec3& a, const Vec3& b, const Vec3& c)
{
    const double e1[3] = {double(b[0]) - a[0], double(b[1]) - a[1], double(b[2]) - a[2]};
    const double e2[3] = {double(c[0]) - a[0], double(c[1]) - a[1], double(c[2]) - a[2]};
    const double cross[3] = {e1[1] * e2[2] - e1[2] * e2[1], e1[2] * e2[0] - e1[0] * e2[2],
                             e1[0] * e2[1] - e1[1] * e2[0]};
    return cross[0] == 0 && cross[1] == 0 && cross[2] == 0;
}

bool IsFinite(const Vec3& v)
{
    return std::isfinite(v[0]) && std::isfinite(v[1]) && std::isfinite(v[2]);
}

}  // namespace

void MeshStats::Add(const MeshStats& other)
{
    vertices += other.vertices;
    triangles += other.triangles;
    for (std::size_t axis = 0; axis < 3; ++axis)
        bounds[axis].Add(other.bounds[axis]);
    for (std::size_t axis = 0; axis < 2; ++axis)
        texcoords[axis].Add(other.texcoords[axis]);
    degenerateTriangles += other.degenerateTriangles;
    normalsOffUnit += other.normalsOffUnit;
    nonFiniteValues += other.nonFiniteValues;
}

MeshStats ComputeStats(const bundle::Object& object)
{
    MeshStats stats;
    const auto n = static_cast<std::size_t>(object.vertexCount);
    stats.vertices = object.vertexCount;
    stats.triangles = object.TriangleCount();
    for (std::size_t t = 0; t < n / 3; ++t) {
        const Vec3 corners[3] = {Vec3At(object.positions, 3 * t), Vec3At(object.positions, 3 * t + 1),
                                 Vec3At(object.positions, 3 * t + 2)};
        bool finite = true;
        for (const Vec3& corner : corners) {
            if (!IsFinite(corner)) {
                finite = false;
                continue;
            }
            for (std::size_t axis = 0; axis < 3; ++axis)
                stats.bounds[axis].Add(corner[axis]);
        }
        if (finite && HasZeroArea(corners[0], corners[1], corners[2]))
            ++stats.degenerateTriangles;
    }
    for (std::size_t v = 0; v < n; ++v) {
        const Vec3 normal = Vec3At(object.normals, v);
        const double length =
            std::sqrt(double(normal[0]) * normal[0] + double(normal[1]) * normal[1] + double(normal[2]) * normal[2]);
        if (IsFinite(normal) && !(std::abs(length - 1.0) <= kUnitLengthTolerance))
            ++stats.normalsOffUnit;
        for (std::size_t axis = 0; axis < 2; ++axis) {
            const float value = object.texcoords[2 * v + axis];
            if (std::isfinite(value))
                stats.texcoords[axis].Add(value);
        }
    }
    for (const bundle::PackedFloats* array : {&object.positions, &object.normals, &object.texcoords})
        for (std::size_t i = 0; i < array->size(); ++i)
            stats.nonFiniteValues += !std::isfinite((*array)[i]);
    return stats;
}

}  // namespace ase2sgl::tools
