// "image": its init_from reference, and the local file the input's owner resolved it to.
#pragma once

#include <cstdint>

#include <varnel/ImportOptions.h>
#include "tags/Tag.h"

namespace varnel {

// Pixels the document's textures may take: each image is resampled to `perImage`, and the
// images together may take `left`, spent as the material builder decodes them.
struct TextureBudget {
  int64_t perImage = ImportOptions().maxTexturePixels;
  int64_t left = ImportOptions().maxDocumentTexturePixels;
  bool decode = true;
};

class ImageTag : public NamedTag {
 public:
  explicit ImageTag(int elementId) : NamedTag(elementId) {}
  ImageTag* AsImageTag() override { return this; }
  bool Parse(ElementSource& document) override;

  String filePath;
  // The address as the document writes it, named by diagnostics.
  String reference;
  // Read without the extended reading: whether that reading would have found the file.
  bool extendedFinds = false;
  // The document's texture pixels, spent when the material builder reads the file.
  TextureBudget* budget = nullptr;

 private:
  bool ReadReference(ElementSource& document);
};

}  // namespace varnel
