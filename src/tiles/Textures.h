// Textures as a tile carries them: --max-texture resamples the larger ones.
#pragma once

#include <deque>
#include <string>

#include "gltf/Model.h"

namespace varnel::tiles {

// Every image of `model` with a side over `maxSide` (at least 1) pixels is averaged down to fit it, keeping
// its proportions; the new pixels are kept in `pixels`, which must outlive the model's writing.
// Returns how many were resampled.
int LimitTextures(gltf::Model& model, int maxSide, std::deque<std::string>& pixels);

}  // namespace varnel::tiles
