#include "gltf/Triangulate.h"

#include <geos_c.h>

#include <cmath>
#include <map>
#include <memory>
#include <utility>

namespace varnel::gltf {

namespace {

struct Vec {
  double x, y, z;
};
Vec Sub(Vec a, Vec b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
Vec Cross(Vec a, Vec b) { return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x}; }
double Dot(Vec a, Vec b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
Vec Unit(Vec a) {
  double n = std::sqrt(Dot(a, a));
  return n > 0 ? Vec{a.x / n, a.y / n, a.z / n} : Vec{0, 0, 0};
}

}  // namespace

void Triangulate(const float* positions, const std::vector<std::pair<int32_t, int32_t>>& rings,
                 std::vector<uint32_t>& corners) {
  auto point = [&](int32_t i) {
    const float* p = positions + 3 * static_cast<size_t>(i);
    return Vec{p[0], p[1], p[2]};
  };
  // The outline without its closing point.
  auto [first, count] = rings[0];
  if (count > 3 && Dot(Sub(point(first), point(first + count - 1)), Sub(point(first), point(first + count - 1))) == 0)
    --count;
  if (count < 3) return;
  // Newell's normal of the outline; the plane's axes u, v with u x v along it.
  Vec normal{0, 0, 0};
  for (int32_t i = 0; i < count; ++i) {
    Vec a = point(first + i), b = point(first + (i + 1) % count);
    normal.x += (a.y - b.y) * (a.z + b.z), normal.y += (a.z - b.z) * (a.x + b.x);
    normal.z += (a.x - b.x) * (a.y + b.y);
  }
  normal = Unit(normal);
  if (Dot(normal, normal) == 0) return;
  Vec u = Unit(Cross(std::fabs(normal.x) < 0.9 ? Vec{1, 0, 0} : Vec{0, 1, 0}, normal));
  Vec v = Cross(normal, u);

  int64_t points = 0;
  for (auto [start, n] : rings) points += n;
  auto ccw = [&](uint32_t a, uint32_t b, uint32_t c) {
    Vec ab = Sub(point(b), point(a)), ac = Sub(point(c), point(a));
    if (Dot(Cross(ab, ac), normal) >= 0) corners.insert(corners.end(), {a, b, c});
    else corners.insert(corners.end(), {a, c, b});
  };
  auto fan = [&] {
    for (int32_t i = 1; i + 1 < count; ++i)
      ccw(static_cast<uint32_t>(first), static_cast<uint32_t>(first + i), static_cast<uint32_t>(first + i + 1));
  };
  if (points > kMaxPolygonPoints) return fan();
  GEOSContextHandle_t context = GEOS_init_r();
  std::map<std::pair<double, double>, uint32_t> indexOf;
  std::vector<GEOSGeometry*> made;
  for (auto [start, n] : rings) {
    std::vector<std::pair<double, double>> plane;
    for (int32_t i = 0; i < n; ++i) {
      Vec p = point(start + i);
      plane.emplace_back(Dot(p, u), Dot(p, v));
      indexOf.emplace(plane.back(), static_cast<uint32_t>(start + i));
    }
    if (plane.size() > 2 && plane.front() != plane.back()) plane.push_back(plane.front());
    if (plane.size() < 4) continue;
    GEOSCoordSequence* sequence = GEOSCoordSeq_create_r(context, static_cast<unsigned>(plane.size()), 2);
    for (size_t i = 0; i < plane.size(); ++i)
      GEOSCoordSeq_setXY_r(context, sequence, static_cast<unsigned>(i), plane[i].first, plane[i].second);
    if (GEOSGeometry* ring = GEOSGeom_createLinearRing_r(context, sequence)) made.push_back(ring);
  }
  GEOSGeometry* polygon = nullptr;
  if (!made.empty())
    polygon = GEOSGeom_createPolygon_r(context, made[0], made.data() + 1,
                                       static_cast<unsigned>(made.size() - 1));
  GEOSGeometry* triangles = polygon ? GEOSConstrainedDelaunayTriangulation_r(context, polygon) : nullptr;
  int pieces = triangles ? GEOSGetNumGeometries_r(context, triangles) : 0;
  if (pieces <= 0) fan();
  for (int t = 0; t < pieces; ++t) {
    const GEOSGeometry* ring = GEOSGetExteriorRing_r(context, GEOSGetGeometryN_r(context, triangles, t));
    const GEOSCoordSequence* sequence = ring ? GEOSGeom_getCoordSeq_r(context, ring) : nullptr;
    uint32_t index[3];
    bool known = sequence != nullptr;
    for (unsigned k = 0; k < 3 && known; ++k) {
      double x = 0, y = 0;
      GEOSCoordSeq_getXY_r(context, sequence, k, &x, &y);
      auto found = indexOf.find({x, y});
      known = found != indexOf.end();
      if (known) index[k] = found->second;
    }
    if (known) ccw(index[0], index[1], index[2]);
  }
  if (triangles) GEOSGeom_destroy_r(context, triangles);
  if (polygon) GEOSGeom_destroy_r(context, polygon);
  GEOS_finish_r(context);
}

}  // namespace varnel::gltf
