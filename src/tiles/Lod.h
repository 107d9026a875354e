// Coarser copies of tiles for parents that replace their children (--lod): each parent's content
// is its children's copies joined and simplified by meshoptimizer, so a parent never needs more
// than what its children handed up.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "gltf/Frame.h"
#include "gltf/Writer.h"

namespace varnel::tiles {

// A parent's content may be this far from the full detail, as a share of its box's diagonal;
// the simplifier gets what is left of that once its children's copies' errors are taken off.
inline constexpr double kLodErrorShare = 0.05;

// A tile's content as its parent's copy starts from it, points in the set's frame.
struct Copy {
  std::vector<gltf::Surface> surfaces;
  std::vector<gltf::Feature> features;
  double error = 0;  // metres from the full detail, at most
};

// `from` appended to `into`.
void Join(Copy& into, Copy&& from);

// Simplifies every surface within `budget` metres, then leaves out the smallest features until
// the estimate (`pointBytes` a corner, `featureBytes` a feature) fits `maxBytes`. `error` becomes
// what the copy is then off by: the size of the largest feature left out, or its former error
// plus what the simplifier moved.
void Simplify(Copy& copy, double budget, uint64_t maxBytes, uint64_t pointBytes,
              uint64_t featureBytes);

// The copy as models of a tile whose frame is `frame`, one a feature, added to `scene`.
void AddTo(const Copy& copy, const gltf::Frame& frame, gltf::Scene& scene);

}  // namespace varnel::tiles
