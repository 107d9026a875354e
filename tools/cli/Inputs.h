// What a command reads: the models of one file (a document, or a KMZ, ZAE or KML holding
// several) and where each stands on the earth.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include <varnel/ImportOptions.h>

#include "gis/Models.h"
#include "gis/Placement.h"

namespace varnel::cli {

// The placement options every reading command takes.
struct PlaceOptions {
  int model = 0;  // from 1; 0: every model for info, the first for the others
  gis::PlaceRequest request;
  std::string dem;           // --dem: opened into request.terrain before the command runs
  std::string altitudeMode;  // --altitude-mode: request.originMode by name
  bool place = false;  // buffer: write placed coordinates
};

class Diagnostics;

class Inputs {
 public:
  // False when the file holds no model, or not the one asked for (said through `diagnostics`,
  // which also carries the command's read options).
  bool Open(const std::string& file, const PlaceOptions& options, Diagnostics& diagnostics);
  // The models the command works on, in the file's order.
  const std::vector<const gis::Model*>& chosen() const { return chosen_; }
  // Whether the file held models of its own (an archive or KML) rather than being one.
  bool holdsModels() const { return holdsModels_; }

 private:
  gis::ModelSet set_;
  std::vector<const gis::Model*> chosen_;
  bool holdsModels_ = false;
};

}  // namespace varnel::cli
