// The working object of scene assembly: borrowed document tables, traversal state, the bound
// mesh and the output manager.
#pragma once

#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

#include "assembly/BoundMesh.h"
#include "assembly/IdIndex.h"
#include "document/Linked.h"
#include <varnel/String.h>
#include "output/CreationManager.h"
#include "util/BaseArray.h"
#include "util/ImportContext.h"

namespace varnel {

class BindMaterial;
class ControllerTag;
class CreationManager;
class GeometryTag;
class ImageTag;
class InstanceController;
class InstanceTag;
class NodeTag;
class SkinTag;
class Tag;
class VisualScene;

class SceneCollector {
 public:
  // Where a count saturates: the outputs' part, point and texture point counts are 32-bit.
  static constexpr int64_t kCountLimit = std::numeric_limits<int32_t>::max();

  SceneCollector() = default;
  ~SceneCollector() = default;
  SceneCollector(const SceneCollector&) = delete;
  SceneCollector& operator=(const SceneCollector&) = delete;

  BoundMesh bound;
  TraversalPass pass = TraversalPass::Idle;
  int32_t depth = 0;
  BaseArray<double> matrixStack;
  double currentMatrix[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
  bool linesEnabled = false;
  // The call's context (the plain reading without diagnostics until a call gives its own).
  const ImportContext* context = &ImportContext::Plain();
  bool yUp = true;
  double unitScale = 1.0;
  BaseArray<Tag*> images;
  BaseArray<Tag*> effects;
  BaseArray<Tag*> materials;
  BaseArray<Tag*> geometries;
  BaseArray<Tag*> libraryNodes;
  BaseArray<Tag*> controllers;
  BaseArray<ImageTag*> effectImages;
  BindMaterial* bindMaterialOverride = nullptr;
  CreationManager* manager = nullptr;

  // The counting and the creating traversal of `root`; `manager` is null afterwards when
  // nothing was produced.
  void Run(VisualScene* root);
  void InstantiateGeometry(const String& url, BindMaterial* bindMaterial);
  // The traversal, from a visual scene down (Traverse.cpp).
  void TraverseScene(VisualScene& scene);
  void TraverseNode(NodeTag& node);
  void TraverseInstance(InstanceController& instance);
  void TraverseController(ControllerTag& controller);
  // Places the bind-shape matrix (creating traversal) for a skin's non-empty source; returns the
  // controller the source names in the extended reading, else null for the caller to instantiate
  // the geometry. The caller pops the matrix.
  Tag* EnterSkin(SkinTag& skin);
  // The node an instance_node names, or null (said once).
  NodeTag* ResolveInstanceNode(InstanceTag& instance);
  // Binds the geometry's mesh (or the mesh it is the hull of) into `bound`.
  void BindGeometry(GeometryTag& geometry);
  // Called for every vertex, from Instantiate.cpp alone, where they are defined and inlined.
  [[gnu::always_inline]] inline void FetchPoint(int vertex, double out[3]) const;
  [[gnu::always_inline]] inline void FetchNormal(int vertex, double out[3]) const;
  [[gnu::always_inline]] inline void FetchTexturePoint(int vertex, double out[2]) const;
  void PushMatrix();
  void PopMatrix();

  void DeriveEffectImages();
  // Effect index of a primitive's material symbol under `bindMaterial` (may be null), or -1.
  int ResolveEffect(const String& symbol, BindMaterial* bindMaterial) const;

  // Id indexes of the borrowed tables, built by Run (lookups scan before that).
  IdIndex geometryIndex, controllerIndex, libraryNodeIndex, imageIndex, effectIndex;
  IdIndex materialIndex;            // built for diagnostics only
  IdIndex usableMaterialIndex;      // materials whose instance_effect resolves
  int32_t firstUsableMaterial = -1;  // position in `materials`, or -1
  void IndexTables();
  Tag* FindGeometry(const String& id) const { return geometryIndex.Find(geometries, id); }
  Tag* FindController(const String& id) const { return controllerIndex.Find(controllers, id); }
  Tag* FindLibraryNode(const String& id) const { return libraryNodeIndex.Find(libraryNodes, id); }
  Tag* FindMaterial(const String& id) const { return materialIndex.Find(materials, id); }
  Tag* FindImage(const String& id) const { return imageIndex.Find(images, id); }
  // Position of the first effect with `id` in `effects`, or -1.
  int EffectIndex(const String& id) const;
  // Effect of a material entry through its instance_effect url, or -1.
  int MaterialEffect(Tag* entry) const;

  // Every node with an id, of the libraries and of the scene, the first in document order wins:
  // what an instance_node names in the extended reading. Built on the first look-up, which only
  // an instance_node makes: a scene of many plain nodes never pays for it.
  mutable std::unordered_map<std::wstring_view, NodeTag*> anyNodeIndex;
  mutable VisualScene* unindexedRoot = nullptr;
  mutable bool anyNodesIndexed = false;
  void IndexAnyNodes(VisualScene* root) const;
  NodeTag* FindAnyNode(const String& id) const;
  // The node an instance_node url names, or null.
  NodeTag* FindInstancedNode(const String& id) const;

  // Diagnostics of references that name nothing, each distinct message once per call; the
  // creating traversal repeats the counting one and says nothing.
  std::unordered_set<std::string> reported;
  template <class Message>
  void ReportOnce(DiagnosticKind kind, bool extendedReads, Message&& message) {
    if (!context->report || pass == TraversalPass::Creating) return;
    std::string text = message();
    if (reported.insert(text).second) context->report(kind, 0, extendedReads, [&] { return text; });
  }
  // An instance of the geometry `url` under `bindMaterial` (the override when null): the url,
  // the binding targets and the primitives' material symbols.
  void ReportUnresolvedInstance(const char* element, const String& url, BindMaterial* bindMaterial,
                                bool extendedReads = false);
  void ReportUnresolvedEffects();
  // Of an `element` whose url resolved to nothing: says why when the url names another document
  // (the extended reading's reason, or that the plain reading does not follow it); false when
  // it names none.
  bool ReportLinked(const char* element, const String& url);
  const LinkFailures* linkFailures = nullptr;

  // Told the node of each part in the creating traversal; `nodeInstance` numbers node visits,
  // `currentNode` is the visit on top (0 and null outside any node).
  int32_t nodeInstances = 0;
  int32_t currentNode = 0;
  const NodeTag* currentNodeTag = nullptr;
  void ObserveNode(int32_t instance, const NodeTag* node);
  // Gives `out` the observer and each effect's material name, for the records built from them.
  void NameEffects(CreationManager& out) const;

  // Recursion guard for node traversal (instance_node cycles and absurd nesting).
  int32_t nodeDepth = 0;
  // Node visits of the running traversal; bounds instance_node graphs that fan out exponentially.
  int64_t nodeVisits = 0;

  // Work the counting traversal may still do besides visiting nodes: thousands of instances on
  // each node visited, or a large primitive instanced everywhere, multiply far beyond the
  // document's size. A run whose counting traversal exhausts either allowance produces nothing,
  // as when a count saturates. The creating traversal repeats the counted one exactly, so only
  // counting is metered.
  int64_t geometriesPlaced = 0;  // instances the counting traversal found a geometry for
  int64_t instancesLeft = 0;  // geometry instantiations
  int64_t elementsLeft = 0;   // polygons examined, inputs walked and points to deliver
  // Takes one instantiation; false when the allowance is spent and the caller must do nothing.
  bool AllowInstance() {
    if (pass == TraversalPass::Creating) return true;
    return !Exhausted() && --instancesLeft >= 0;
  }
  void SpendElements(int64_t n) {
    if (pass != TraversalPass::Creating) elementsLeft -= n;
  }
  bool Exhausted() const { return instancesLeft < 0 || elementsLeft < 0; }
};

}  // namespace varnel
