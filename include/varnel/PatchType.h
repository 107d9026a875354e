// The kinds of multipatch part, shared by the geometry, the buffer and the display list.
#pragma once

#include <cstdint>

namespace varnel {

// Part types: the shapefile's 0 to 5, and 6 for a list of separate triangles.
enum PatchType : int32_t {
  kPatchTriangleStrip = 0,
  kPatchTriangleFan = 1,
  kPatchOuterRing = 2,
  kPatchInnerRing = 3,
  kPatchFirstRing = 4,
  kPatchRing = 5,
  kPatchTriangles = 6,
};

// The display list's names for the two kinds it delivers.
using tavuPatchType = PatchType;
constexpr PatchType tavuPatchRing = kPatchOuterRing;
constexpr PatchType tavuPatchTriangles = kPatchTriangles;

}  // namespace varnel
