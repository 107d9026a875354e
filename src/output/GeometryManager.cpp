#include "output/GeometryManager.h"

#include <memory>

#include <varnel/MaterialProperties.h>
#include "materials/BuildMaterials.h"

namespace varnel {

bool GeometryManager::StartCreation() {
  CreationManager::StartCreation();
  int materialCount = 0;
  // Init copies what it needs of the records; they go right after.
  std::unique_ptr<MaterialProperties[]> materials(BuildMaterials(MaterialInputs(), materialCount));
  // deliberate: normals only when every point has one, see docs/behaviour.md
  bufferSize = multiPatch.Init(partCount, pointCount, false, false, pointCount == normalCount,
                               texturePointCount > 2 ? 2 : 0, texturePointCount, materialCount,
                               materials.get(), writer_);
  return bufferSize >= 1;
}

void GeometryManager::StartPart(int partType) {
  multiPatch.SetPart(partIndex, partType, CurrentMaterial(), pointIndex, texturePointIndex);
}

void GeometryManager::SetPoint(const double* xyz) {
  double p[3];
  ConvertPosition(xyz, p);
  multiPatch.SetPoint(pointIndex, p[0], p[1], p[2]);
}

void GeometryManager::SetNormal(const double* xyz) {
  double n[3];
  ConvertNormal(xyz, n);
  multiPatch.SetNormal(pointIndex, n[0], n[1], n[2]);
}

void GeometryManager::SetTexturePoint(const double* st) {
  multiPatch.SetTexturePoint(texturePointIndex, st[0], st[1]);
}

void GeometryManager::TakeVertices(const Vertex* vertices, int n, bool normals, bool textured) {
  TakeVerticesOf(*this, vertices, n, normals, textured);
}

}  // namespace varnel
