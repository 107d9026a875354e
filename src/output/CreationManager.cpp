#include "output/CreationManager.h"

#include <algorithm>
#include <cfloat>

namespace varnel {

bool CreationManager::StartCreation() {
  pass = TraversalPass::Creating;
  partIndex = pointIndex = texturePointIndex = primitiveIndex = 0;
  // Inverted box: the first point sets every bound.
  extent.xMin = extent.yMin = extent.zMin = DBL_MAX;
  extent.xMax = extent.yMax = extent.zMax = -DBL_MAX;
  return true;
}

void CreationManager::ConvertPosition(const double* in, double out[3]) {
  const double s = unitScale;
  out[0] = s * in[0];
  if (swapYZ) {
    out[1] = -s * in[2];
    out[2] = s * in[1];
  } else {
    out[1] = s * in[1];
    out[2] = s * in[2];
  }
  extent.xMin = std::min(extent.xMin, out[0]);
  extent.yMin = std::min(extent.yMin, out[1]);
  extent.zMin = std::min(extent.zMin, out[2]);
  extent.xMax = std::max(extent.xMax, out[0]);
  extent.yMax = std::max(extent.yMax, out[1]);
  extent.zMax = std::max(extent.zMax, out[2]);
}

void CreationManager::ConvertNormal(const double* in, double out[3]) const {
  out[0] = in[0];
  if (swapYZ) {
    out[1] = -in[2];
    out[2] = in[1];
  } else {
    out[1] = in[1];
    out[2] = in[2];
  }
}

int CreationManager::CurrentMaterial() const {
  if (primitiveIndex < 0 || primitiveIndex >= primitiveEffects.count) return -1;
  return primitiveEffects[primitiveIndex];
}

}  // namespace varnel
