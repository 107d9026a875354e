// Turns the effects the primitives use into host material records, one per used effect in
// effect-table order, and rewrites the per-primitive effect indices to record indices.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "util/BaseArray.h"
#include "util/ImportContext.h"

namespace varnel {

class ImageTag;
class MaterialProperties;
class Tag;

// What the builder reads, and the per-primitive effect indices it rewrites; all lent for the call
// by the manager that asks.
struct MaterialSources {
  const BaseArray<Tag*>& effects;
  const BaseArray<ImageTag*>& effectImages;  // beside `effects`, null where none
  BaseArray<int32_t>& primitiveEffects;      // effect indices in, record indices out
  const std::vector<std::string>& effectNames;
  const ImportContext& context;
};

// Returns an array-new of `count` records (never null, also for count 0); the caller owns it.
MaterialProperties* BuildMaterials(const MaterialSources& sources, int& count);

}  // namespace varnel
