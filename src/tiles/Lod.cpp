#include "tiles/Lod.h"

#include <meshoptimizer.h>
#include <varnel/PatchType.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <numeric>

namespace varnel::tiles {

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();

// Keeps the triangles of the features `number` numbers (the others are UINT32_MAX), their
// points renumbered and their features numbered so.
void Keep(gltf::Surface& s, const std::vector<uint32_t>& number) {
  std::vector<uint32_t> index(s.features.size(), UINT32_MAX);
  gltf::Surface out;
  out.transparency = s.transparency, out.cull = s.cull;
  std::copy(s.color, s.color + 3, out.color);
  for (size_t t = 0; t + 2 < s.indices.size(); t += 3) {
    if (number[s.features[s.indices[t]]] == UINT32_MAX) continue;
    for (size_t k = t; k < t + 3; ++k) {
      uint32_t& at = index[s.indices[k]];
      if (at == UINT32_MAX) {
        at = uint32_t(out.features.size());
        out.features.push_back(number[s.features[s.indices[k]]]);
        const double* p = &s.points[size_t(s.indices[k]) * 3];
        out.points.insert(out.points.end(), p, p + 3);
      }
      out.indices.push_back(at);
    }
  }
  s = std::move(out);
}

// Simplifies within `error` metres; returns the error reached.
double SimplifySurface(gltf::Surface& s, double error) {
  if (s.indices.empty()) return 0;
  // Points equal in place and feature become one, so that the simplifier sees closed surfaces
  // where the writer split them for their normals.
  const size_t count = s.features.size();
  struct Key {
    double point[3];
    uint64_t feature;
  };
  std::vector<Key> keys(count);
  for (size_t i = 0; i < count; ++i)
    keys[i] = {{s.points[3 * i], s.points[3 * i + 1], s.points[3 * i + 2]}, s.features[i]};
  std::vector<uint32_t> indices(s.indices.size());
  meshopt_generateShadowIndexBuffer(indices.data(), s.indices.data(), s.indices.size(), keys.data(),
                                    count, sizeof(Key), sizeof(Key));
  // Floats about the surface's first point: the simplifier takes floats.
  std::vector<float> positions(count * 3);
  for (size_t i = 0; i < count; ++i)
    for (int k = 0; k < 3; ++k)
      positions[i * 3 + size_t(k)] = float(s.points[i * 3 + size_t(k)] - s.points[size_t(k)]);
  const float scale = meshopt_simplifyScale(positions.data(), count, 12);
  if (!(scale > 0)) return 0;
  float reached = 0;
  s.indices.resize(meshopt_simplify(s.indices.data(), indices.data(), indices.size(),
                                    positions.data(), count, 12, 0, float(error / scale), 0,
                                    &reached));
  return double(reached) * scale;
}

}  // namespace

void Join(Copy& into, Copy&& from) {
  const uint32_t base = uint32_t(into.features.size());
  for (gltf::Feature& f : from.features) into.features.push_back(std::move(f));
  for (gltf::Surface& s : from.surfaces) {
    for (uint32_t& f : s.features) f += base;
    into.surfaces.push_back(std::move(s));
  }
  into.error = std::max(into.error, from.error);
  from = {};
}

void Simplify(Copy& copy, double budget, uint64_t maxBytes, uint64_t pointBytes,
              uint64_t featureBytes) {
  const size_t n = copy.features.size();
  std::vector<std::array<double, 6>> box(n, {kInf, kInf, kInf, -kInf, -kInf, -kInf});
  for (const gltf::Surface& s : copy.surfaces)
    for (size_t i = 0; i < s.features.size(); ++i)
      for (int k = 0; k < 3; ++k) {
        std::array<double, 6>& b = box[s.features[i]];
        b[size_t(k)] = std::min(b[size_t(k)], s.points[i * 3 + size_t(k)]);
        b[size_t(k) + 3] = std::max(b[size_t(k) + 3], s.points[i * 3 + size_t(k)]);
      }
  std::vector<double> size(n, 0);
  for (size_t f = 0; f < n; ++f)
    size[f] = std::hypot(box[f][3] - box[f][0], box[f][4] - box[f][1], box[f][5] - box[f][2]);
  // A model left out is off by its size, wherever its copy stood; a simplified one by what its
  // copy was off plus what the simplifier moved.
  std::vector<uint32_t> number(n);
  std::iota(number.begin(), number.end(), 0u);
  double dropped = 0, reached = 0;
  for (gltf::Surface& s : copy.surfaces) reached = std::max(reached, SimplifySurface(s, budget));
  // The smallest go until the content fits (and those without triangles left).
  std::vector<uint64_t> points(n, 0);
  for (const gltf::Surface& s : copy.surfaces)
    for (uint32_t i : s.indices)
      points[s.features[i]] += 1;  // corners: the writer's points at most
  uint64_t bytes = 0;
  std::vector<uint32_t> kept;
  for (size_t f = 0; f < n; ++f)
    if (points[f])
      kept.push_back(uint32_t(f)), bytes += points[f] * pointBytes + featureBytes;
    else
      number[f] = UINT32_MAX;
  std::sort(kept.begin(), kept.end(), [&](uint32_t a, uint32_t b) { return size[a] < size[b]; });
  size_t first = 0;
  for (; first < kept.size() && bytes > maxBytes; ++first) {
    const uint32_t f = kept[first];
    bytes -= points[f] * pointBytes + featureBytes;
    number[f] = UINT32_MAX;
    dropped = std::max(dropped, size[f]);
  }
  std::vector<gltf::Feature> features;
  for (size_t f = 0; f < n; ++f)
    if (number[f] != UINT32_MAX)
      number[f] = uint32_t(features.size()), features.push_back(std::move(copy.features[f]));
  for (gltf::Surface& s : copy.surfaces) Keep(s, number);
  std::erase_if(copy.surfaces, [](const gltf::Surface& s) { return s.indices.empty(); });
  copy.features = std::move(features);
  copy.error = std::max(dropped, copy.features.empty() ? 0 : copy.error + reached);
}

void AddTo(const Copy& copy, const gltf::Frame& frame, gltf::Scene& scene) {
  std::vector<std::unique_ptr<gltf::Model>> models(copy.features.size());
  for (size_t f = 0; f < models.size(); ++f) {
    auto& m = models[f] = std::make_unique<gltf::Model>();
    std::fill(m->min, m->min + 3, kInf);
    std::fill(m->max, m->max + 3, -kInf);
  }
  std::vector<size_t> surfaceOf(models.size(), SIZE_MAX);  // of each model's last part
  for (size_t si = 0; si < copy.surfaces.size(); ++si) {
    const gltf::Surface& s = copy.surfaces[si];
    for (size_t t = 0; t + 2 < s.indices.size(); t += 3) {
      const uint32_t feature = s.features[s.indices[t]];
      gltf::Model& m = *models[feature];
      if (surfaceOf[feature] != si) {
        surfaceOf[feature] = si;
        gltf::Material material;
        material.hasColor = true;
        std::copy(s.color, s.color + 3, material.color);
        material.transparency = s.transparency, material.cull = s.cull;
        m.materials.push_back(material);
        m.parts.push_back({int32_t(m.positions.size() / 3), 0, kPatchTriangles,
                           int32_t(m.materials.size()) - 1, -1});
      }
      if (m.positions.empty())
        std::copy(&s.points[size_t(s.indices[t]) * 3], &s.points[size_t(s.indices[t]) * 3] + 3,
                  m.origin);
      // The writer takes a triangle's corners 0, 2, 1.
      for (size_t k : {t, t + 2, t + 1})
        for (int a = 0; a < 3; ++a) {
          const double v = s.points[size_t(s.indices[k]) * 3 + size_t(a)];
          m.positions.push_back(float(v - m.origin[a]));
          m.min[a] = std::min(m.min[a], v), m.max[a] = std::max(m.max[a], v);
        }
      m.parts.back().count += 3;
    }
  }
  gltf::Frame at = frame;
  at.heading = at.tilt = at.roll = 0;
  std::fill(at.scale, at.scale + 3, 1.0);
  for (size_t f = 0; f < models.size(); ++f) {
    if (models[f]->positions.empty()) continue;
    scene.Add(std::move(models[f]), copy.features[f].name, copy.features[f].source, at,
              copy.features[f].description);
  }
}

}  // namespace varnel::tiles
