// The working object of scene assembly: borrowed document tables, traversal state, the bound
// primitive's data and the output manager. Element classes read and write its fields directly.
#pragma once

#include <cstdint>

#include "host/String.h"
#include "util/BaseArray.h"

namespace varnel {

class BindMaterial;
class ControllerTag;
class CreationManager;
class EffectTag;
class GeometryTag;
class ImageTag;
class InputTag;
class MaterialTag;
class NodeTag;
class PrimitiveTag;
class SourceTag;
class Tag;
class VerticesTag;
class VisualScene;

class SceneCollector {
 public:
  SceneCollector() = default;
  ~SceneCollector() = default;
  SceneCollector(const SceneCollector&) = delete;
  SceneCollector& operator=(const SceneCollector&) = delete;

  int32_t primitiveCount = 0;
  bool loadAsPosition = false;
  bool loadAsNormal = false;
  bool loadAsTexcoord = false;
  int32_t positionCount = 0, positionOffset = 0, positionStride = 0;
  int32_t normalCount = 0, normalOffset = 0, normalStride = 0;
  int32_t texcoordCount = 0, texcoordOffset = 0, texcoordStride = 0;
  int32_t tupleSize = 0;
  int32_t positionIndexOffset = 0;
  int32_t normalIndexOffset = 0;
  int32_t texcoordIndexOffset = 0;
  int32_t pass = 0;
  int32_t depth = 0;
  BaseArray<double> matrixStack;
  double currentMatrix[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
  bool linesEnabled = false;
  bool yUp = true;
  double unitScale = 1.0;
  BaseArray<int32_t> polygonSizes;
  BaseArray<int32_t> indices;
  BaseArray<float> positions;
  BaseArray<float> normals;
  BaseArray<float> texcoords;
  BaseArray<Tag*> images;
  BaseArray<Tag*> effects;
  BaseArray<Tag*> materials;
  BaseArray<Tag*> geometries;
  BaseArray<Tag*> libraryNodes;
  BaseArray<Tag*> controllers;
  BaseArray<ImageTag*> effectImages;
  BaseArray<InputTag*> vertexInputs;
  BaseArray<SourceTag*> meshSources;
  BaseArray<PrimitiveTag*> primitives;
  VerticesTag* vertices = nullptr;
  BindMaterial* bindMaterialOverride = nullptr;
  CreationManager* manager = nullptr;

  // The counting and the creating traversal of `root`; `manager` is null afterwards when
  // nothing was produced.
  void Run(VisualScene* root);
  void InstantiateGeometry(const String& url, BindMaterial* bindMaterial);
  void FetchPoint(int vertex, double out[3]) const;
  void FetchNormal(int vertex, double out[3]) const;
  void FetchTexturePoint(int vertex, double out[2]) const;
  void PushMatrix();
  void PopMatrix();

  // Resets the bound geometry and primitive state before a geometry is bound.
  void ResetGeometryState();
  void DeriveEffectImages();
  // Effect index of a primitive's material symbol under `bindMaterial` (may be null), or -1.
  int ResolveEffect(const String& symbol, BindMaterial* bindMaterial) const;

  // Recursion guard for node traversal (instance_node cycles and absurd nesting).
  int32_t nodeDepth = 0;
  // Node visits of the running traversal; bounds instance_node graphs that fan out exponentially.
  int64_t nodeVisits = 0;
};

// First element of `table` whose GetId() equals `id`, or null.
Tag* FindById(const BaseArray<Tag*>& table, const String& id);

}  // namespace varnel
