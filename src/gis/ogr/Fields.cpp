#include "gis/ogr/Fields.h"

#include <cctype>
#include <cstring>

#include <ogr_geometry.h>

namespace varnel::gis {

namespace {

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

}  // namespace

std::optional<Split> SplitNamed(const std::string& name) {
  std::string upper = Upper(name);
  if (upper == "MODEL") return Split::kModel;
  if (upper == "NODE") return Split::kNode;
  if (upper == "MATERIAL") return Split::kMaterial;
  if (upper == "PART") return Split::kPart;
  return std::nullopt;
}

std::optional<Surface> SurfaceNamed(const std::string& name) {
  std::string type = Upper(name);
  for (const char* suffix : {"25D", "Z"})
    if (type.size() > 3 && type.ends_with(suffix)) type.resize(type.size() - strlen(suffix));
  if (type == "MULTIPOLYGON") return Surface::kMultiPolygon;
  if (type == "POLYHEDRALSURFACE") return Surface::kPolyhedralSurface;
  if (type == "TIN") return Surface::kTin;
  return std::nullopt;
}

OGRwkbGeometryType LayerGeometryType(Surface surface) {
  return surface == Surface::kMultiPolygon ? wkbMultiPolygon25D
         : surface == Surface::kTin        ? wkbTINZ
                                           : wkbPolyhedralSurfaceZ;
}

LayerSchema::LayerSchema(Split split, bool shortNames) : split_(split) {
  auto add = [this](const char* name, OGRFieldType type) {
    fields_.push_back(std::make_unique<OGRFieldDefn>(name, type));
  };
  add("name", OFTString);
  add("source", OFTString);
  if (split == Split::kNode) add("node", OFTString);
  if (split == Split::kMaterial || split == Split::kPart) {
    add("material", OFTString);
    add("color", OFTString);
    add(shortNames ? "transparen" : "transparency", OFTInteger);
    add("cull", OFTInteger);
    fields_.back()->SetSubType(OFSTBoolean);
    add("texture", OFTString);
  }
}

LayerSchema::~LayerSchema() = default;

bool LayerSchema::SetCrs(const std::string& crs, std::string& error) {
  crsName_ = crs;
  crs_.reset();
  if (crs.empty()) return true;
  crs_ = std::make_unique<OGRSpatialReference>();
  if (crs_->SetFromUserInput(crs.c_str()) != OGRERR_NONE) {
    error = crs + " is no CRS GDAL knows";
    crs_.reset();
    return false;
  }
  crs_->SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
  return true;
}

void LayerSchema::TakeCrs(const OGRSpatialReference* crs) {
  crsName_.clear();
  crs_.reset(crs ? crs->Clone() : nullptr);
  if (crs_) crs_->SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
}

bool LayerSchema::Fit(ConvertedModel& model, std::string& error) const {
  if (model.crs.empty() == (crs_ != nullptr)) {
    error = model.crs.empty() ? "the model is not placed, while the layer has a CRS"
                              : "the model is placed, while the layer has no CRS";
    return false;
  }
  if (model.crs.empty() || model.crs == crsName_) return true;
  // Models placed in another CRS than the layer's are transformed into it.
  OGRSpatialReference from;
  from.SetFromUserInput(model.crs.c_str());
  from.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
  std::unique_ptr<OGRCoordinateTransformation> transform(
      OGRCreateCoordinateTransformation(&from, crs_.get()));
  if (!transform) {
    error = "no transformation from " + model.crs + " to the layer's CRS";
    return false;
  }
  for (Feature& part : model.features) {
    if (part.geometry->transform(transform.get()) != OGRERR_NONE) {
      error = "a point cannot be transformed to the layer's CRS";
      return false;
    }
  }
  return true;
}

void LayerSchema::Fill(OGRFeature& feature, const ConvertedModel& model,
                       const Feature& part) const {
  // By name: a layer appended to may hold its fields in another order, or more of them.
  auto set = [&](size_t field, auto value) {
    int index = field < fields_.size() ? feature.GetFieldIndex(fields_[field]->GetNameRef()) : -1;
    if (index >= 0) feature.SetField(index, value);
  };
  set(0, model.name.c_str());
  set(1, model.source.c_str());
  if (split_ == Split::kNode) set(2, part.node.c_str());
  if (part.material < 0) return;
  const MaterialFields& fields = part.fields;
  if (!fields.name.empty()) set(2, fields.name.c_str());
  if (!fields.color.empty()) set(3, fields.color.c_str());
  if (fields.transparency >= 0) set(4, fields.transparency);
  set(5, fields.cull ? 1 : 0);
  if (!fields.texture.empty()) set(6, fields.texture.c_str());
}

}  // namespace varnel::gis
