// Object statistics: one pass over each array.
#include "tools/mesh_stats.h"

#include <algorithm>
#include <cmath>
#include <span>
#include <vector>

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

// Adds a block of triangles, copied out of the file into aligned arrays first:
// `positions` and `normals` hold 9 floats per triangle, `texcoords` 6.
void AddTriangles(MeshStats& stats, std::span<const float> positions, std::span<const float> normals,
                  std::span<const float> texcoords)
{
    for (std::size_t t = 0; t < positions.size() / 9; ++t) {
        const float* p = positions.data() + 9 * t;
        const Vec3 corners[3] = {{p[0], p[1], p[2]}, {p[3], p[4], p[5]}, {p[6], p[7], p[8]}};
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
    for (std::size_t v = 0; v < normals.size() / 3; ++v) {
        const Vec3 normal = {normals[3 * v], normals[3 * v + 1], normals[3 * v + 2]};
        const double length =
            std::sqrt(double(normal[0]) * normal[0] + double(normal[1]) * normal[1] + double(normal[2]) * normal[2]);
        if (IsFinite(normal) && !(std::abs(length - 1.0) <= kUnitLengthTolerance))
            ++stats.normalsOffUnit;
    }
    for (std::size_t i = 0; i < texcoords.size(); ++i)
        if (std::isfinite(texcoords[i]))
            stats.texcoords[i % 2].Add(texcoords[i]);
    for (const std::span<const float> values : {positions, normals, texcoords})
        for (const float value : values)
            stats.nonFiniteValues += !std::isfinite(value);
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
    stats.vertices = object.vertexCount;
    stats.triangles = object.TriangleCount();
    constexpr std::size_t kBlock = 1024;  // triangles: 96 KiB of floats, within the L2 cache
    std::vector<float> positions(9 * kBlock), normals(9 * kBlock), texcoords(6 * kBlock);
    const auto triangles = static_cast<std::size_t>(object.TriangleCount());
    for (std::size_t first = 0; first < triangles; first += kBlock) {
        const std::size_t count = std::min(kBlock, triangles - first);
        const std::span<float> p(positions.data(), 9 * count), n(normals.data(), 9 * count),
            t(texcoords.data(), 6 * count);
        object.positions.CopyTo(p, 9 * first);
        object.normals.CopyTo(n, 9 * first);
        object.texcoords.CopyTo(t, 6 * first);
        AddTriangles(stats, p, n, t);
    }
    return stats;
}

}  // namespace ase2sgl::tools
