// One model to GIS features: imported through the library's public entry point, placed, split.
#pragma once

#include <string>
#include <vector>

#include "gis/ogr/Features.h"
#include "gis/Models.h"

namespace varnel::gis {

struct ConvertOptions {
  bool extended = false;
  // Textures only from the model's folder tree (Model::textureRoot), as ImportOptions has it.
  bool confineTextures = false;
  PlaceRequest place;
  Split split = Split::kModel;
  Surface surface = Surface::kMultiPolygon;
  // Material textures are written as "<folder>/<prefix>_<hash>.png" when `textureFolder` is set
  // (material and part splits only), the hash that of the PNG's bytes: a texture keeps its name
  // and a name its texture whichever run writes it.
  std::string textureFolder;
  std::string texturePrefix;
};

struct ConvertedModel {
  std::string name;    // the placemark's name or the file name
  std::string source;  // the file, "!entry" for a model inside an archive
  std::string crs;     // the CRS of placed coordinates; empty when the model is not placed
  std::vector<Feature> features;
  std::string writeError;  // why a texture file could not be written; the output then fails
};

// False when the model gave nothing (the reason said through `diagnostics`).
bool ConvertModel(const Model& model, const ConvertOptions& options,
                  DiagnosticReceiver* diagnostics, ConvertedModel& converted);

}  // namespace varnel::gis
