// The models a KML document places, found inside its archive or beside it.
#pragma once

#include <string>
#include <unordered_set>
#include <vector>

#include "gis/Kml.h"
#include "gis/Models.h"

namespace varnel::gis {

// Where a KML document stands.
struct KmlPlace {
  std::string source;         // the path the user named (a .kml or the archive)
  std::string besideFolder;   // the folder holding `source`
  std::string archiveFolder;  // the unpacked archive; "" for a plain KML
  std::string kmlFolder;      // the KML's folder inside the archive
  std::unordered_set<std::string> entries;  // the unpacked entry paths
};

// One model for each of `read` whose href names a model inside the archive (for a plain KML,
// a file inside its folder tree, links resolved), or an address when `allowNetwork`; the others
// are reported and skipped. Aliases are made inside the archive's folder.
void PlaceModels(const KmlPlace& place, const std::vector<KmlModel>& read, bool allowNetwork,
                 const Reporter& report, std::vector<Model>& models);

}  // namespace varnel::gis
