// One model to GIS features: imported through the library's public entry point, placed, split.
#pragma once

#include <string>
#include <vector>

#include "gis/ogr/Features.h"
#include "gis/Models.h"

namespace varnel::gis {

struct ConvertOptions {
  bool extended = false;  // as ImportOptions has it; the tool and the driver ask for it
  // Textures only from the model's folder tree (Model::textureRoot), as ImportOptions has it.
  bool confineTextures = false;
  // Textures are decoded only to be written (material and part splits with `textureFolder`);
  // off, never.
  bool decodeTextures = true;
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
  std::string source;  // the file, "!/entry" for a model inside an archive
  std::string crs;     // the CRS of placed coordinates; empty when the model is not placed
  std::vector<Feature> features;
  std::string writeError;  // why a texture file could not be written; the output then fails
};

// The last document a run of ConvertModel calls imported, kept for the models after it that name
// the same one: an archive's placemarks often place one model thousands of times. For calls
// with the same options only; not for two threads at once.
class ImportCache {
 public:
  ImportCache() = default;
  ~ImportCache();
  ImportCache(const ImportCache&) = delete;
  ImportCache& operator=(const ImportCache&) = delete;

 private:
  friend bool ConvertModel(const Model&, const ConvertOptions&, DiagnosticReceiver*,
                           ConvertedModel&, ImportCache*);
  bool Holds(const Model& model) const {
    return geometry_ && model.document == document_ && model.memory.data() == memory_ &&
           model.textureRoot == textureRoot_;
  }
  void Import(const Model& model, const ConvertOptions& options, DiagnosticReceiver* diagnostics);

  std::string document_, textureRoot_;
  const char* memory_ = nullptr;
  IGeometry* geometry_ = nullptr;  // null: nothing held, or the import gave nothing
  GeographicLocation own_;
  std::vector<NodeSpan> spans_;
  std::vector<std::string> materialNames_;  // by material record
};

// False when the model gave nothing (the reason said through `diagnostics`). With `cache`, a
// document the cache holds is not read again (nor are its import diagnostics said again).
bool ConvertModel(const Model& model, const ConvertOptions& options,
                  DiagnosticReceiver* diagnostics, ConvertedModel& converted,
                  ImportCache* cache = nullptr);

}  // namespace varnel::gis
