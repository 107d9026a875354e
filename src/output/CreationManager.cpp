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

void CreationManager::TakeVertices(const Vertex* vertices, int n, bool normals, bool textured) {
  for (const Vertex* v = vertices; v < vertices + n; ++v) {
    StartPoint();
    SetPoint(v->point);
    if (normals) SetNormal(v->normal);
    if (textured) {
      SetTexturePoint(v->texture);
      ++texturePointIndex;
    }
    EndPoint();
    ++pointIndex;
  }
}

int CreationManager::CurrentMaterial() const {
  if (primitiveIndex < 0 || primitiveIndex >= primitiveEffects.count) return -1;
  return primitiveEffects[primitiveIndex];
}

}  // namespace varnel
