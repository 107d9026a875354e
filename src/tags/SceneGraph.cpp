#include "tags/SceneGraph.h"

#include <vector>

#include "assembly/SceneCollector.h"
#include "tags/MaterialBinding.h"
#include "tags/TagParse.h"
#include "tags/Transforms.h"
#include "xml/ElementNames.h"

namespace varnel {

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

// Nodes nest as deep as a document likes, so no step below recurses per level: nested nodes
// are parsed, freed and traversed with stacks of their own.
NodeTag::~NodeTag() {
  DeleteAll(instances);
  DeleteAll(transforms);
  std::vector<NodeTag*> pending(children.begin(), children.end());
  children.RemoveAll();
  while (!pending.empty()) {
    NodeTag* node = pending.back();
    pending.pop_back();
    pending.insert(pending.end(), node->children.begin(), node->children.end());
    node->children.RemoveAll();
    delete node;
  }
}

bool NodeTag::ReadChild(DaeDocument& document, int id) {
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
    default:
      return ParseChild(id, document);
  }
}

void NodeTag::Complete() {
  hasContent = instances.count > 0;
  for (NodeTag* child : children) hasContent = hasContent || child->hasContent;
}

bool NodeTag::Parse(DaeDocument& document) {
  order = document.nodesRead++;
  // The nodes whose start tag was read and whose end tag was not, this one first. A nested node
  // is complete (children first) before its parent takes it.
  std::vector<NodeTag*> open{this};
  for (;;) {
    NodeTag& node = *open.back();
    const int id = document.IdentifyTag();
    if (id == kNode && document.wasEndTag) {
      node.Complete();
      if (open.size() == 1) return true;
      open.pop_back();
      open.back()->children.Add(&node);
    } else if (id == kNode) {
      NodeTag* child = new NodeTag(id);
      child->order = document.nodesRead++;
      open.push_back(child);
    } else if (!node.ReadChild(document, id)) {
      // As a failed child fails its parent: the reading stops and the open nodes go.
      if (open.size() > 1) {
        document.stopped = true;
        document.CloseStream();
      }
      for (size_t i = open.size() - 1; i > 0; --i) delete open[i];
      Complete();
      return false;
    }
  }
}

void NodeTag::Traverse(SceneCollector& collector) {
  struct Visit {
    NodeTag* node;
    int32_t outerNode;
    const NodeTag* outerNodeTag;
    int32_t next;  // instances first, then children
  };
  std::vector<Visit> path;
  const bool creating = collector.pass == TraversalPass::Creating;
  const bool observing = collector.context->options.sceneObserver && creating;
  auto enter = [&](NodeTag* node) {
    if (!node->hasContent) return;
    // A node already on the current path is reached again only through an instance_node cycle.
    if (node->onPath) {
      collector.ReportOnce(DiagnosticKind::kUnresolvedReference, false, [&] {
        return "node \"" + node->id.ToUtf8() + "\" instances itself through instance_node: the cycle is not followed";
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
    node->onPath = true;
    ++collector.nodeDepth;
    if (!node->allIdentity && creating) {
      collector.PushMatrix();
      for (TransformTag* transform : node->transforms)
        if (!transform->isIdentity) transform->ApplyTo(collector.currentMatrix);
    }
    path.push_back({node, collector.currentNode, collector.currentNodeTag, 0});
    if (observing) collector.ObserveNode(++collector.nodeInstances, node);
  };

  enter(this);
  while (!path.empty()) {
    Visit& visit = path.back();
    NodeTag* node = visit.node;
    const int32_t at = visit.next++;
    if (at < node->instances.count) {
      InstanceGeometry* instance = node->instances[at];
      if (InstanceTag* reference = instance->AsInstanceTag()) {
        if (NodeTag* target = reference->Resolve(collector)) enter(target);
      } else {
        instance->Traverse(collector);
      }
    } else if (at - node->instances.count < node->children.count) {
      enter(node->children[at - node->instances.count]);
    } else {
      if (!node->allIdentity) collector.PopMatrix();
      if (observing) collector.ObserveNode(visit.outerNode, visit.outerNodeTag);
      --collector.nodeDepth;
      node->onPath = false;
      path.pop_back();
    }
  }
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
    if (collector.context->report && collector.ReportLinked("instance_controller", url)) return;
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
  if (NodeTag* node = Resolve(collector)) node->Traverse(collector);
}

NodeTag* InstanceTag::Resolve(SceneCollector& collector) {
  if (NodeTag* node = collector.FindInstancedNode(url)) return node;
  if (!collector.context->report || collector.ReportLinked("instance_node", url)) return nullptr;
  const bool plain = !collector.context->extended();
  collector.ReportOnce(DiagnosticKind::kUnresolvedReference, plain && collector.FindAnyNode(url), [&] {
    return "instance_node \"#" + url.ToUtf8() + (plain ? "\" names no node of library_nodes" : "\" names no node");
  });
  return nullptr;
}

}  // namespace varnel
