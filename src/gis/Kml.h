// Reading the placemarks of a KML document that place COLLADA models.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "gis/Placement.h"
#include "gis/Report.h"

namespace varnel::gis {

struct KmlAlias {
  std::string target;  // the file as it is stored
  std::string source;  // the name the model uses for it
};

// One Model element of a Placemark, its references as written.
struct KmlModel {
  std::string name;  // the placemark's, "" when it has none
  std::string description;  // the placemark's, "" when it has none
  std::string href;
  Placement placement;
  std::vector<KmlAlias> aliases;
  int line = 0;  // of the Model element
};

// How diagnostics name a placemark: "placemark 'name'", or "a placemark" without a name.
std::string PlacemarkLabel(std::string_view name);

// Whether a file starting with `head` is a KML document: its first element, after a byte-order
// mark, the XML declaration, comments and a document type, is `kml` (any prefix).
bool LooksLikeKml(std::string_view head);

// Every Model inside a Placemark of `text`, nested in folders or multi-geometries or not, up to
// `maxModels`. `terrain`: the caller has ground heights for the ground-relative altitude modes
// (without, each such model is said to take its altitude as given). False (reported) when
// `text` is not a readable KML document.
bool ReadKml(std::string_view text, int64_t maxModels, bool terrain, const Reporter& report,
             std::vector<KmlModel>& models);

}  // namespace varnel::gis
