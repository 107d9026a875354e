// Controllers, skins and morphs: a skin places its source geometry in the bind pose; a morph
// (extended reading only) its base geometry as it stands.
#pragma once

#include "tags/Tag.h"

namespace varnel {

class ControllerTag : public NamedTag {
 public:
  explicit ControllerTag(int elementId) : NamedTag(elementId) {}
  ~ControllerTag() override;
  ControllerTag* AsControllerTag() override { return this; }
  bool Parse(ElementSource& document) override;

  // The skin, or a morph read as a skin without bind-shape matrix.
  SkinTag* skin = nullptr;
  // A morph the plain reading passed over.
  bool morphSkipped = false;
  // Set while the controller is traversed; breaks source cycles between controllers.
  bool onPath = false;
};

class SkinTag : public Tag {
 public:
  explicit SkinTag(int elementId) : Tag(elementId) {}
  SkinTag* AsSkinTag() override { return this; }
  bool Parse(ElementSource& document) override;

  String source;
  // Row-vector convention (the document's matrix transposed).
  double bindShapeMatrix[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
};

}  // namespace varnel
