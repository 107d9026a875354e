#include "tags/SceneGraph.h"

#include <vector>

#include "tags/MaterialBinding.h"
#include "tags/TagParse.h"
#include "tags/Transforms.h"
#include "xml/ElementNames.h"

namespace varnel {

VisualScene::~VisualScene() { DeleteAll(nodes); }

bool VisualScene::Parse(ElementSource& document) {
  return ParseLoop(document, [&](int id) {
    if (id == kNode) return AttachToList(document, id, nodes, &Tag::AsNodeTag);
    return ParseChild(id, document);
  });
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

bool NodeTag::ReadChild(ElementSource& document, int id) {
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

bool NodeTag::Parse(ElementSource& document) {
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
        document.Stop();
      }
      for (size_t i = open.size() - 1; i > 0; --i) delete open[i];
      Complete();
      return false;
    }
  }
}

InstanceGeometry::~InstanceGeometry() { delete bindMaterial; }

bool InstanceGeometry::Parse(ElementSource& document) {
  return ParseLoop(document, [&](int id) {
    if (id == kBindMaterial) return AttachSingle(document, id, bindMaterial, &Tag::AsBindMaterial);
    return ParseChild(id, document);
  });
}

}  // namespace varnel
