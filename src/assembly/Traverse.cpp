// The scene traversal: nodes with their transforms, the instances on them, controllers and skins.
#include <string>
#include <utility>
#include <vector>

#include "assembly/SceneCollector.h"
#include "tags/Controller.h"
#include "tags/SceneGraph.h"
#include "tags/Transforms.h"
#include "xml/ElementNames.h"

namespace varnel {

namespace {

// Without cycles, library nodes that instance the next one twice still double the work at every
// level. Both traversals stop at the same visit, so counting and creating stay in step.
constexpr int64_t kMaxNodeVisits = int64_t{1} << 20;

}  // namespace

void SceneCollector::TraverseScene(VisualScene& scene) {
  for (NodeTag* node : scene.nodes) TraverseNode(*node);
}

// Nodes nest as deep as a document likes: the path down is a stack of its own, not recursion.
void SceneCollector::TraverseNode(NodeTag& top) {
  struct Visit {
    NodeTag* node;
    int32_t outerNode;
    const NodeTag* outerNodeTag;
    int32_t next;  // instances first, then children
  };
  std::vector<Visit> path;
  const bool creating = pass == TraversalPass::Creating;
  const bool observing = context->options.sceneObserver && creating;
  auto enter = [&](NodeTag* node) {
    if (!node->hasContent) return;
    // A node already on the current path is reached again only through an instance_node cycle.
    if (node->onPath) {
      ReportOnce(DiagnosticKind::kUnresolvedReference, false, [&] {
        return "node \"" + node->id.ToUtf8() + "\" instances itself through instance_node: the cycle is not followed";
      });
      return;
    }
    if (++nodeVisits > kMaxNodeVisits) {
      ReportOnce(DiagnosticKind::kLimitReached, false, [] {
        return "the scene visits nodes more than " + std::to_string(kMaxNodeVisits) +
               " times: the rest is passed over";
      });
      return;
    }
    node->onPath = true;
    ++nodeDepth;
    if (!node->allIdentity && creating) {
      PushMatrix();
      for (TransformTag* transform : node->transforms)
        if (!transform->isIdentity) transform->ApplyTo(currentMatrix);
    }
    path.push_back({node, currentNode, currentNodeTag, 0});
    if (observing) ObserveNode(++nodeInstances, node);
  };

  enter(&top);
  while (!path.empty()) {
    Visit& visit = path.back();
    NodeTag* node = visit.node;
    const int32_t at = visit.next++;
    if (at < node->instances.count) {
      InstanceGeometry* instance = node->instances[at];
      if (InstanceTag* reference = instance->AsInstanceTag()) {
        if (NodeTag* target = ResolveInstanceNode(*reference)) enter(target);
      } else if (InstanceController* controller = instance->AsInstanceController()) {
        TraverseInstance(*controller);
      } else {
        ReportUnresolvedInstance("instance_geometry", instance->url, instance->bindMaterial);
        InstantiateGeometry(instance->url, instance->bindMaterial);
      }
    } else if (at - node->instances.count < node->children.count) {
      enter(node->children[at - node->instances.count]);
    } else {
      if (!node->allIdentity) PopMatrix();
      if (observing) ObserveNode(visit.outerNode, visit.outerNodeTag);
      --nodeDepth;
      node->onPath = false;
      path.pop_back();
    }
  }
}

void SceneCollector::TraverseInstance(InstanceController& instance) {
  Tag* found = FindController(instance.url);
  if (!found) {
    if (context->report && ReportLinked("instance_controller", instance.url)) return;
    ReportOnce(DiagnosticKind::kUnresolvedReference, false, [&] {
      return "instance_controller \"#" + instance.url.ToUtf8() + "\" names no controller";
    });
    return;
  }
  BindMaterial* saved = bindMaterialOverride;
  if (instance.bindMaterial) bindMaterialOverride = instance.bindMaterial;
  if (ControllerTag* controller = found->AsControllerTag()) TraverseController(*controller);
  bindMaterialOverride = saved;
}

NodeTag* SceneCollector::ResolveInstanceNode(InstanceTag& instance) {
  if (NodeTag* node = FindInstancedNode(instance.url)) return node;
  if (!context->report || ReportLinked("instance_node", instance.url)) return nullptr;
  const bool plain = !context->extended();
  ReportOnce(DiagnosticKind::kUnresolvedReference, plain && FindAnyNode(instance.url), [&] {
    return "instance_node \"#" + instance.url.ToUtf8() +
           (plain ? "\" names no node of library_nodes" : "\" names no node");
  });
  return nullptr;
}

void SceneCollector::TraverseController(ControllerTag& outer) {
  // A skin's source may name another controller (a skin on a morph, in the extended reading),
  // and that one's yet another: the chain is followed in a loop, so no length of it costs stack.
  // `chain` holds the controllers entered, each with whether its skin placed a matrix.
  std::vector<std::pair<ControllerTag*, bool>> chain;
  for (ControllerTag* controller = &outer; controller;) {
    if (!controller->skin) {
      if (controller->morphSkipped)
        ReportOnce(DiagnosticKind::kUnresolvedReference, true, [&] {
          return "controller \"" + controller->GetId().ToUtf8() + "\" holds a morph, which is not read";
        });
      break;
    }
    if (controller->onPath) break;
    controller->onPath = true;
    SkinTag& skin = *controller->skin;
    chain.emplace_back(controller, !skin.source.IsEmpty());
    if (skin.source.IsEmpty()) break;
    Tag* inner = EnterSkin(skin);
    if (!inner) InstantiateGeometry(skin.source, nullptr);
    controller = inner ? inner->AsControllerTag() : nullptr;
  }
  for (auto link = chain.rbegin(); link != chain.rend(); ++link) {
    if (link->second) PopMatrix();
    link->first->onPath = false;
  }
}

Tag* SceneCollector::EnterSkin(SkinTag& skin) {
  // A source may name another controller (a skin on a morph); the extended reading follows it.
  Tag* inner = nullptr;
  if (context->extended() || context->report) {
    if (!FindGeometry(skin.source)) inner = FindController(skin.source);
    if (!inner || !context->extended())
      ReportUnresolvedInstance(skin.elementId == kSkin ? "skin source" : "morph source", skin.source,
                               nullptr, inner != nullptr);
    if (!context->extended()) inner = nullptr;
  }
  if (pass == TraversalPass::Creating) {
    PushMatrix();
    PreMultiply(currentMatrix, skin.bindShapeMatrix);
  }
  return inner;
}

}  // namespace varnel
