// Visual scenes, nodes and the instances by which a node places library content.
#pragma once

#include "tags/Tag.h"
#include "util/BaseArray.h"

namespace varnel {

class VisualScene : public NamedTag {
 public:
  explicit VisualScene(int elementId) : NamedTag(elementId) {}
  ~VisualScene() override;
  VisualScene* AsVisualScene() override { return this; }
  bool Parse(ElementSource& document) override;

  BaseArray<NodeTag*> nodes{NoStorage{}};
};

class NodeTag : public NamedTag {
 public:
  explicit NodeTag(int elementId) : NamedTag(elementId) {}
  ~NodeTag() override;
  NodeTag* AsNodeTag() override { return this; }
  bool Parse(ElementSource& document) override;

  BaseArray<TransformTag*> transforms{NoStorage{}};
  BaseArray<NodeTag*> children{NoStorage{}};
  BaseArray<InstanceGeometry*> instances{NoStorage{}};
  bool hasContent = false;
  bool allIdentity = true;
  // Set while the node is on the traversal path; breaks instance_node cycles.
  bool onPath = false;
  // Position among the document's nodes by start tag: of two nodes with one id the first wins.
  int32_t order = 0;

 private:
  // One child element other than a nested node; false when it fails.
  bool ReadChild(ElementSource& document, int id);
  // Once every child is read: whether anything below instances geometry.
  void Complete();
};

class InstanceGeometry : public UrlTag {
 public:
  explicit InstanceGeometry(int elementId) : UrlTag(elementId) {}
  ~InstanceGeometry() override;
  InstanceGeometry* AsInstanceGeometry() override { return this; }
  bool Parse(ElementSource& document) override;

  BindMaterial* bindMaterial = nullptr;
};

// "instance_node"
class InstanceTag : public InstanceGeometry {
 public:
  using InstanceGeometry::InstanceGeometry;
  InstanceTag* AsInstanceTag() override { return this; }
};

class InstanceController : public InstanceGeometry {
 public:
  using InstanceGeometry::InstanceGeometry;
  InstanceController* AsInstanceController() override { return this; }
};

class InstanceVisualScene : public UrlTag {
 public:
  using UrlTag::UrlTag;
};

}  // namespace varnel
