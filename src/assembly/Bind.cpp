// Binding a geometry for instantiation: its mesh's lists, then each primitive's attributes.
#include <algorithm>
#include <climits>

#include "assembly/BoundMesh.h"
#include "assembly/SceneCollector.h"
#include "tags/DataSources.h"
#include "tags/Mesh.h"
#include "xml/ElementNames.h"

namespace varnel {

namespace {

bool IsLineKind(int id) { return id == kLines || id == kLinestrips; }

// Lends a source's numbers and accessor layout to `slot`. A source without numbers leaves the
// slot as it was.
void LoadSource(const SourceTag& source, BoundAttribute& slot) {
  if (!source.techniqueCommon || !source.floatArray) return;
  const AccessorTag* accessor = source.techniqueCommon->accessor;
  if (source.floatArray->values.count <= 0) return;
  slot.count = accessor ? accessor->count : 0;
  slot.offset = accessor ? accessor->offset : 0;
  slot.stride = accessor ? accessor->stride : 0;
  slot.numbers.AttachTo(source.floatArray->values);
}

}  // namespace

void BoundMesh::Clear() {
  primitiveCount = 0;
  position.Clear();
  normal.Clear();
  texcoord.Clear();
  tupleSize = 0;
  vertices = nullptr;
  polygonSizes.RemoveAll();
  holes.RemoveAll();
  indices.RemoveAll();
  vertexInputs.RemoveAll();
  sources.RemoveAll();
  primitives.RemoveAll();
}

void BoundMesh::BindMesh(MeshTag& mesh) {
  sources.AttachTo(mesh.sources);
  primitives.AttachTo(mesh.primitives);
  if (mesh.vertices) {
    vertices = mesh.vertices;
    vertexInputs.AttachTo(mesh.vertices->inputs);
  }
}

int64_t BoundMesh::LoadAttribute(const InputTag& input, int32_t indexOffset) {
  BoundAttribute* slot = input.isPosition ? &position
                         : input.isNormal ? &normal
                         : input.isTexcoord ? &texcoord
                                            : nullptr;
  if (slot) slot->indexOffset = indexOffset;
  int64_t indexed = 0;
  if (!sourceIndex.Covers(sources)) {
    sourceIndex.Build(sources);
    indexed = sources.count;
  }
  SourceTag* source = sourceIndex.Find(sources, input.source);
  if (source && slot) LoadSource(*source, *slot);
  return indexed;
}

int64_t BoundMesh::BindPrimitive(PrimitiveTag& primitive) {
  position.Clear();
  normal.Clear();
  texcoord.Clear();
  tupleSize = 0;

  int64_t indexed = 0;
  for (const InputTag* input : primitive.inputs) {
    if (!input) continue;
    if (vertices && input->source == vertices->GetId()) {
      for (const InputTag* vertexInput : vertexInputs) {
        if (vertexInput) indexed += LoadAttribute(*vertexInput, input->offset);
      }
    } else {
      indexed += LoadAttribute(*input, input->offset);
    }
    if (input->offset > tupleSize) tupleSize = input->offset;
  }
  const int32_t widest = std::max({tupleSize, position.indexOffset, normal.indexOffset, texcoord.indexOffset});
  // An offset of INT_MAX leaves the tuple at INT_MAX wide: no index list holds one whole tuple.
  tupleSize = widest < INT_MAX ? widest + 1 : INT_MAX;

  polygonSizes.RemoveAll();
  holes.RemoveAll();
  if (primitive.vcounts.count > 0) {
    primitiveCount = std::min(primitive.count, primitive.vcounts.count);
    if (primitiveCount > 0) polygonSizes.AttachTo(primitive.vcounts, primitiveCount);
  } else {
    primitiveCount = primitive.count;
  }
  indices.AttachTo(primitive.indices);
  if (ListPrimitiveTag* lists = primitive.AsListPrimitive())
    if (lists->holes.count >= primitiveCount) holes.AttachTo(lists->holes, primitiveCount);
  return indexed;
}

void SceneCollector::BindGeometry(GeometryTag& geometry) {
  // A convex_mesh of nothing but convex_hull_of stands for that geometry: its mesh is given (not
  // the hull of it). Chains are followed a few steps, which also ends cycles.
  MeshTag* mesh = geometry.mesh;
  for (int step = 0; mesh && !mesh->hullOf.IsEmpty() && mesh->primitives.count == 0; ++step) {
    Tag* named = step < 4 ? FindGeometry(mesh->hullOf) : nullptr;
    GeometryTag* hullOf = named ? named->AsGeometryTag() : nullptr;
    if (!hullOf || !hullOf->mesh) {
      ReportOnce(DiagnosticKind::kUnresolvedReference, false, [&] {
        return "convex_hull_of \"#" + mesh->hullOf.ToUtf8() + "\" names no geometry with a mesh";
      });
      return;
    }
    mesh = hullOf->mesh;
  }
  if (!mesh) return;
  bound.BindMesh(*mesh);
  // An output without lines says so once per mesh, while counting.
  if (context->report && !linesEnabled && !mesh->linesReported && pass != TraversalPass::Creating) {
    mesh->linesReported = true;
    const auto first = std::find_if(mesh->primitives.begin(), mesh->primitives.end(), [](const PrimitiveTag* p) {
      return p && IsLineKind(static_cast<int>(p->elementId));
    });
    if (first != mesh->primitives.end()) {
      const int id = static_cast<int>((*first)->elementId);
      context->report(DiagnosticKind::kUnreadPrimitive, (*first)->line, false, [id] {
        return "<" + std::string(ElementName(id)) + "> is not read: a multipatch holds no lines";
      });
    }
  }
}

}  // namespace varnel
