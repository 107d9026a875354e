// "image": resolves its init_from reference to an existing local file (downloading it beside a
// downloaded document).
#pragma once

#include "document/DaeDocument.h"
#include "tags/Tag.h"

namespace varnel {

// A reference as a local path: a "file:" address made a path, %-escapes decoded.
String LocalPath(String reference);

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
  // The document's texture pixels, spent when the material builder reads the file.
  TextureBudget* budget = nullptr;

 private:
  bool ReadReference(DaeDocument& document);
};

}  // namespace varnel
