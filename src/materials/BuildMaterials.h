// Turns the effects the primitives use into host material records, one per used effect in
// effect-table order, and rewrites the manager's per-primitive effect indices to record indices.
#pragma once

namespace varnel {

class CreationManager;
class MaterialProperties;

// Returns an array-new of `count` records (never null, also for count 0); the caller owns it.
MaterialProperties* BuildMaterials(CreationManager& manager, int& count);

}  // namespace varnel
