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
  int model = 0;                // from 1; 0: every model for info, the first for the others
  std::vector<double> origin;   // longitude, latitude[, altitude[, heading]]
  std::string sourceCrs;        // the CRS the model's coordinates already use (-a_srs)
  std::vector<double> offset;   // x, y[, z] added to them first (a false origin)
  std::string targetCrs;        // -t_srs; empty: the UTM zone of the location, or -a_srs
  bool place = false;           // buffer: write placed coordinates
};

class Inputs {
 public:
  // False when the file holds no model, or not the one asked for (said through `diagnostics`).
  bool Open(const std::string& file, const PlaceOptions& options,
            DiagnosticReceiver& diagnostics);
  // The models the command works on, in the file's order.
  const std::vector<const gis::Model*>& chosen() const { return chosen_; }
  // Whether the file held models of its own (an archive or KML) rather than being one.
  bool holdsModels() const { return holdsModels_; }

 private:
  gis::ModelSet set_;
  std::vector<const gis::Model*> chosen_;
  bool holdsModels_ = false;
};

// Where a model stands: the user's origin, else its KML placement, else the location its
// document gives (`own`, read with --extended). Empty when nothing places it.
std::optional<gis::Placement> PlacementOf(const gis::Model& model, const GeographicLocation& own,
                                          const PlaceOptions& options);

// The placer for a model; null when the model is not placed. `failed` is set (and the reason
// said) when a placement was asked for but PROJ cannot make it.
std::unique_ptr<gis::Placer> PlacerFor(const gis::Model& model, const GeographicLocation& own,
                                       const PlaceOptions& options,
                                       DiagnosticReceiver& diagnostics, bool& failed);

}  // namespace varnel::cli
