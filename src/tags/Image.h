// "image": resolves its init_from reference to an existing local file (downloading it beside a
// downloaded document).
#pragma once

#include "tags/Tag.h"

namespace varnel {

class ImageTag : public NamedTag {
 public:
  explicit ImageTag(int elementId) : NamedTag(elementId) {}
  ImageTag* AsImageTag() override { return this; }
  bool Parse(DaeDocument& document) override;

  String filePath;
  // The address as the document writes it, named by diagnostics.
  String reference;
  // Read without the extended reading: whether that reading would have found the file.
  bool extendedFinds = false;

 private:
  bool ReadReference(DaeDocument& document);
};

}  // namespace varnel
