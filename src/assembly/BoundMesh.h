// The mesh and primitive that instantiation has bound: views of the parsed element's lists,
// rebound per geometry and per primitive, read for every vertex.
#pragma once

#include <cstdint>

#include "assembly/IdIndex.h"
#include "util/BaseArray.h"

namespace varnel {

class InputTag;
class MeshTag;
class PrimitiveTag;
class SourceTag;
class VerticesTag;

// One vertex attribute: the numbers of its source as its accessor lays them out, and where its
// index sits in each index tuple.
struct BoundAttribute {
  BaseArray<float> numbers;
  int32_t count = 0, offset = 0, stride = 0;
  int32_t indexOffset = 0;

  void Clear() {
    numbers.RemoveAll();
    count = offset = stride = indexOffset = 0;
  }
};

class BoundMesh {
 public:
  // Of the mesh.
  BaseArray<SourceTag*> sources;
  BaseArray<PrimitiveTag*> primitives;
  VerticesTag* vertices = nullptr;
  BaseArray<InputTag*> vertexInputs;
  BasicIdIndex<SourceTag> sourceIndex;  // of `sources`, rebuilt per mesh

  // Of the primitive.
  int32_t primitiveCount = 0;
  BaseArray<int32_t> polygonSizes;
  // Beside polygonSizes, of polygons with holes: 1 where a list is a hole in the one before.
  BaseArray<int32_t> holes;
  BaseArray<int32_t> indices;
  BoundAttribute position, normal, texcoord;
  int32_t tupleSize = 0;

  // Forgets everything before a geometry is bound.
  void Clear();
  void BindMesh(MeshTag& mesh);
  // Points the attributes at the primitive's sources and lists. Returns how many sources were
  // indexed on the way, for the caller to meter (0 once the mesh's index is built).
  int64_t BindPrimitive(PrimitiveTag& primitive);

 private:
  // Points the slot that `input`'s semantic selects at its source; returns sources indexed.
  int64_t LoadAttribute(const InputTag& input, int32_t indexOffset);
};

}  // namespace varnel
