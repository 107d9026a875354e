// Polygons with holes to triangles: GEOS's constrained Delaunay triangulation.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

namespace varnel::gltf {

// GEOS's triangulation takes time quadratic in the points of a polygon: one with more than this
// becomes a fan of its outline instead.
inline constexpr int32_t kMaxPolygonPoints = 10000;

// `rings`: (first point, point count) in `positions` (x, y, z per point), the outline first, then
// its holes; a ring may repeat its first point at the end. Appends three point indices per
// triangle to `corners`, counter-clockwise about the outline's normal. A polygon GEOS refuses
// (self-crossing, say) becomes a fan of its outline; a degenerate one gives nothing.
void Triangulate(const float* positions, const std::vector<std::pair<int32_t, int32_t>>& rings,
                 std::vector<uint32_t>& corners);

}  // namespace varnel::gltf
