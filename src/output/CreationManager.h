// Receiver of the instantiated geometry: counted in a first pass, delivered part by part and
// point by point in a second. Both implementations convert coordinates and keep the extent.
#pragma once

#include <algorithm>
#include <cstdint>

#include <string>
#include <vector>

#include "materials/BuildMaterials.h"
#include "util/BaseArray.h"
#include "util/ImportContext.h"

namespace varnel {

class EffectTag;
class ImageTag;
class SceneObserver;
class Tag;

// Where a run stands: the counting traversal sizes the output, the creating one fills it.
enum class TraversalPass : int32_t { Idle = 0, Counting = 1, Creating = 2 };

struct Extent {
  double xMin = 0, yMin = 0, zMin = 0, xMax = 0, yMax = 0, zMax = 0;
};

// One vertex as the document gives it, transformed: position, normal and texture point.
struct Vertex {
  double point[3];
  double normal[3];
  double texture[2];
};

class CreationManager {
 public:
  CreationManager() = default;
  CreationManager(const CreationManager&) = delete;
  CreationManager& operator=(const CreationManager&) = delete;
  virtual ~CreationManager() = default;

  virtual bool StartCreation();
  // After the creating traversal, when StartCreation succeeded.
  virtual void EndCreation() {}
  virtual void StartPart(int) {}
  virtual void StartPoint() {}
  virtual void SetPoint(const double*) {}
  virtual void SetNormal(const double*) {}
  virtual void SetTexturePoint(const double*) {}
  virtual void EndPoint() {}
  virtual void EndPart() {}
  virtual void EndLine() {}
  virtual void StartLine(int, bool) {}
  virtual void SetPartFormat(int, bool, bool) {}
  // The next `n` points of the current part, with their normals and texture points as the flags
  // say; moves pointIndex and texturePointIndex on. One call for a run of points instead of five
  // for each; the default makes those five, in their order.
  virtual void TakeVertices(const Vertex* vertices, int n, bool normals, bool textured);

  Extent extent;
  double unitScale = 1.0;
  int partIndex = 0;
  int pointIndex = 0;
  int texturePointIndex = 0;
  bool swapYZ = false;
  TraversalPass pass = TraversalPass::Idle;
  int partCount = 0;
  int pointCount = 0;
  int normalCount = 0;
  int texturePointCount = 0;
  int lineCount = 0;  // counted by the extended reading only
  int primitiveIndex = 0;
  // The call's context: how materials are converted, where diagnostics go, who hears textures.
  const ImportContext* context = &ImportContext::Plain();
  BaseArray<int32_t> primitiveTextureEffects;
  BaseArray<int32_t> primitiveEffects;
  BaseArray<ImageTag*> effectImages;
  BaseArray<Tag*> effects;
  // Each effect's material name, for the context's scene observer (filled only for one).
  std::vector<std::string> effectNames;
  // The effect tables above, lent to the material builder.
  MaterialSources MaterialInputs() { return {effects, effectImages, primitiveEffects, effectNames, *context}; }

 protected:
  // Unit scale and Y-up to Z-up; the position also widens the extent.
  void ConvertPosition(const double* in, double out[3]);
  void ConvertNormal(const double* in, double out[3]) const;
  // Material record index of the current primitive, -1 for none.
  int CurrentMaterial() const;
};

// TakeVertices for a manager of type M: its per-point calls in their order, bound statically.
template <class M>
void TakeVerticesOf(M& manager, const Vertex* vertices, int n, bool normals, bool textured) {
  for (const Vertex* v = vertices; v < vertices + n; ++v) {
    manager.M::StartPoint();
    manager.M::SetPoint(v->point);
    if (normals) manager.M::SetNormal(v->normal);
    if (textured) {
      manager.M::SetTexturePoint(v->texture);
      ++manager.texturePointIndex;
    }
    manager.M::EndPoint();
    ++manager.pointIndex;
  }
}

inline void CreationManager::ConvertPosition(const double* in, double out[3]) {
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

inline void CreationManager::ConvertNormal(const double* in, double out[3]) const {
  out[0] = in[0];
  if (swapYZ) {
    out[1] = -in[2];
    out[2] = in[1];
  } else {
    out[1] = in[1];
    out[2] = in[2];
  }
}

}  // namespace varnel
