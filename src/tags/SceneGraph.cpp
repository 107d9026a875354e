#include "tags/SceneGraph.h"

#include "assembly/SceneCollector.h"
#include "tags/MaterialBinding.h"
#include "tags/TagParse.h"
#include "tags/Transforms.h"
#include "xml/ElementNames.h"

namespace varnel {

// Nested node traversals beyond this are passed over. Real scenes stay far below it; it keeps
// long instance_node chains and absurd nesting from exhausting the stack.
constexpr int32_t kMaxNodeDepth = 256;
// Without cycles, library nodes that instance the next one twice still double the work at every
// level. Both traversals stop at the same visit, so counting and creating stay in step.
constexpr int64_t kMaxNodeVisits = int64_t{1} << 20;

VisualScene::~VisualScene() { DeleteAll(nodes); }

bool VisualScene::Parse(DaeDocument& document) {
  return ParseLoop(document, [&](int id) {
    if (id == kNode) return AttachToList(document, id, nodes, &Tag::AsNodeTag);
    return ParseChild(id, document);
  });
}

void VisualScene::Traverse(SceneCollector& collector) {
  for (NodeTag* node : nodes) node->Traverse(collector);
}

NodeTag::~NodeTag() {
  DeleteAll(instances);
  DeleteAll(children);
  DeleteAll(transforms);
}

bool NodeTag::Parse(DaeDocument& document) {
  order = document.nodesRead++;
  bool parsed = ParseLoop(document, [&](int id) {
    switch (id) {
      case kInstanceGeometry:
      case kInstanceController:
      case kInstanceNode:
        return AttachToList(document, id, instances, &Tag::AsInstanceGeometry);
      case kTranslate:
      case kRotate:
      case kMatrix:
      case kScale: {
        TransformTag* transform = CreateChild(document, id, &Tag::AsTransformTag);
        if (!transform) return false;
        transforms.Add(transform);
        if (!transform->isIdentity) allIdentity = false;
        return true;
      }
      case kNode:
        return AttachToList(document, id, children, &Tag::AsNodeTag);
      default:
        return ParseChild(id, document);
    }
  });
  // Children are complete here, so the flag propagates from the leaves upwards.
  hasContent = instances.count > 0;
  for (NodeTag* child : children) hasContent = hasContent || child->hasContent;
  return parsed;
}

void NodeTag::Traverse(SceneCollector& collector) {
  if (!hasContent) return;
  // A node already on the current path is reached again only through an instance_node cycle.
  if (onPath) return;
  if (collector.nodeDepth >= kMaxNodeDepth) {
    collector.ReportOnce(DiagnosticKind::kLimitReached, false, [] {
      return "nodes nest deeper than " + std::to_string(kMaxNodeDepth) + ": deeper ones are passed over";
    });
    return;
  }
  if (++collector.nodeVisits > kMaxNodeVisits) {
    collector.ReportOnce(DiagnosticKind::kLimitReached, false, [] {
      return "the scene visits nodes more than " + std::to_string(kMaxNodeVisits) +
             " times: the rest is passed over";
    });
    return;
  }
  onPath = true;
  ++collector.nodeDepth;

  if (!allIdentity && collector.pass == TraversalPass::Creating) {
    collector.PushMatrix();
    for (TransformTag* transform : transforms)
      if (!transform->isIdentity) transform->ApplyTo(collector.currentMatrix);
  }
  const int32_t outerNode = collector.currentNode;
  const NodeTag* outerNodeTag = collector.currentNodeTag;
  if (collector.sceneObserver && collector.pass == TraversalPass::Creating)
    collector.ObserveNode(++collector.nodeInstances, this);
  for (InstanceGeometry* instance : instances) instance->Traverse(collector);
  for (NodeTag* child : children)
    if (child->hasContent) child->Traverse(collector);
  if (!allIdentity) collector.PopMatrix();
  if (collector.sceneObserver && collector.pass == TraversalPass::Creating)
    collector.ObserveNode(outerNode, outerNodeTag);

  --collector.nodeDepth;
  onPath = false;
}

InstanceGeometry::~InstanceGeometry() { delete bindMaterial; }

bool InstanceGeometry::Parse(DaeDocument& document) {
  return ParseLoop(document, [&](int id) {
    if (id == kBindMaterial) return AttachSingle(document, id, bindMaterial, &Tag::AsBindMaterial);
    return ParseChild(id, document);
  });
}

void InstanceGeometry::Traverse(SceneCollector& collector) {
  collector.ReportUnresolvedInstance("instance_geometry", url, bindMaterial);
  collector.InstantiateGeometry(url, bindMaterial);
}

void InstanceController::Traverse(SceneCollector& collector) {
  Tag* controller = collector.FindController(url);
  if (!controller) {
    collector.ReportOnce(DiagnosticKind::kUnresolvedReference, false, [&] {
      return "instance_controller \"#" + url.ToUtf8() + "\" names no controller";
    });
    return;
  }
  BindMaterial* saved = collector.bindMaterialOverride;
  if (bindMaterial) collector.bindMaterialOverride = bindMaterial;
  controller->Traverse(collector);
  collector.bindMaterialOverride = saved;
}

void InstanceTag::Traverse(SceneCollector& collector) {
  if (NodeTag* node = collector.FindInstancedNode(url)) {
    node->Traverse(collector);
    return;
  }
  if (!collector.report) return;
  const bool plain = !collector.extended;
  collector.ReportOnce(DiagnosticKind::kUnresolvedReference, plain && collector.FindAnyNode(url), [&] {
    return "instance_node \"#" + url.ToUtf8() + (plain ? "\" names no node of library_nodes" : "\" names no node");
  });
}

}  // namespace varnel
