// The document's unit, up axis and authoring tool.
#pragma once

#include <varnel/ImportOptions.h>

#include "tags/Tag.h"

namespace varnel {

class AssetTag : public Tag {
 public:
  explicit AssetTag(int elementId) : Tag(elementId) {}
  AssetTag* AsAssetTag() override { return this; }
  bool Parse(ElementSource& document) override;

  bool yUp = true;
  bool backFaceCulling = true;
  double meter = 1.0;
  // Read by the extended reading only.
  GeographicLocation location;
};

}  // namespace varnel
