// The layer converted models go into: its fields for the split, and its CRS, the first model's.
// The convert command and the GDAL driver both build their layers and features through it, so
// that they never differ on the same input.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <ogr_feature.h>
#include <ogr_spatialref.h>

#include "gis/ogr/Convert.h"

namespace varnel::gis {

// Split and geometry names as users give them, in any case: "model", "node", "material",
// "part"; "MULTIPOLYGON", "POLYHEDRALSURFACE", "TIN", with or without a "Z" or "25D" suffix.
std::optional<Split> SplitNamed(const std::string& name);
std::optional<Surface> SurfaceNamed(const std::string& name);
// The layer's geometry type for features built as `surface`.
OGRwkbGeometryType LayerGeometryType(Surface surface);

class LayerSchema {
 public:
  // `shortNames`: field names of at most ten characters, as shapefiles hold them.
  LayerSchema(Split split, bool shortNames);
  ~LayerSchema();

  const std::vector<std::unique_ptr<OGRFieldDefn>>& fields() const { return fields_; }

  // The layer's CRS as the first model names it (empty: the layer has none). False with `error`
  // when GDAL does not know it.
  bool SetCrs(const std::string& crs, std::string& error);
  // The CRS of a layer that exists already (null for none).
  void TakeCrs(const OGRSpatialReference* crs);
  const OGRSpatialReference* crs() const { return crs_.get(); }

  // Turns the model's geometries into the layer's CRS. False with `error` when the model cannot
  // go into the layer: it is placed and the layer has no CRS, or the other way round, or its
  // points cannot be transformed.
  bool Fit(ConvertedModel& model, std::string& error) const;
  // The fields of the feature `part` of `model`; `feature` has this schema's fields.
  void Fill(OGRFeature& feature, const ConvertedModel& model, const Feature& part) const;

 private:
  Split split_;
  std::vector<std::unique_ptr<OGRFieldDefn>> fields_;
  std::unique_ptr<OGRSpatialReference> crs_;
  std::string crsName_;  // as the first model named it; empty when the layer brought its own
};

}  // namespace varnel::gis
