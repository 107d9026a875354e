// GIS features from an imported model: its triangles and rings as OGR geometries, one feature
// per model, node visit, material or part, with the material's fields. Shared by the convert
// command and the GDAL driver, so that both give the same features for the same input.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <ogr_geometry.h>

#include <varnel/Geometry.h>

#include "gis/Placement.h"
#include "gis/Report.h"
#include "gis/ogr/Options.h"

namespace varnel::gis {

// From part `firstPart` on, to the next span, parts come from the node visit `instance`.
struct NodeSpan {
  int32_t firstPart = 0;
  int32_t instance = 0;
  std::string name;
};

// Which feature each part joins under a split: parts with equal keys make one feature, in the
// order their first part comes. By node visit, by material, or by part with each hole joining
// the ring before it. Told the parts in order; `nodes` is borrowed for the object's life.
class SplitKeys {
 public:
  SplitKeys(Split split, const std::vector<NodeSpan>& nodes) : split_(split), nodes_(nodes) {}
  int64_t Next(int32_t part, int32_t type, int32_t material);
  // The node visit of the last part told (node splits), or null.
  const NodeSpan* span() const { return span_; }
  // The last part told that is not a hole, or -1.
  int64_t ringOwner() const { return ringOwner_; }

 private:
  Split split_;
  const std::vector<NodeSpan>& nodes_;
  size_t cursor_ = 0;
  int64_t ringOwner_ = -1;  // the part whose ring a hole belongs to
  const NodeSpan* span_ = nullptr;
};

// What a material record says, as feature fields.
struct MaterialFields {
  std::string name;        // the COLLADA material's name, else its id
  std::string color;       // "#RRGGBB"; empty when the record has no colour
  int transparency = -1;   // 0-100; -1 when not set
  bool cull = false;
  int32_t textureOf = -1;  // the material whose pixels it shows; -1 for none
  std::string texture;     // the PNG file written for it, when asked for
};

struct Feature {
  std::string node;        // node splits: the node's name
  int32_t material = -1;   // material and part splits: the material index, -1 for none
  MaterialFields fields;   // of `material`
  std::unique_ptr<OGRGeometry> geometry;
  int64_t triangles = 0;   // triangle-list triangles in it
  int64_t polygons = 0;    // rings (with their holes) in it
};

// The features of `geometry` in part order; points placed by `placer` when not null. False when
// a point cannot be placed (reported).
bool BuildFeatures(IGeometry& geometry, const Placer* placer, Split split, Surface surface,
                   const std::vector<NodeSpan>& nodes, const Reporter& report,
                   std::vector<Feature>& features);

MaterialFields MaterialFieldsOf(IGeometry& geometry, int32_t material);

// The pixels of material `material` as the bytes of a PNG file, encoded by GDAL.
bool EncodeTexturePng(IGeometry& geometry, int32_t material, std::string& png);

}  // namespace varnel::gis
