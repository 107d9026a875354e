// The read-only GDAL vector driver "Varnel": a model file is one layer whose features are built
// as `varnel convert` builds them, through the same GIS layer.
#include <cpl_conv.h>
#include <cpl_error.h>
#include <cpl_string.h>
#include <gdal_priv.h>
#include <ogrsf_frmts.h>

#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "gis/ogr/Convert.h"
#include "gis/ogr/Fields.h"
#include "gis/ogr/Terrain.h"
#include "gis/Models.h"
#include "gis/Reason.h"
#include "gis/driver/Identify.h"

namespace varnel::gis::driver {

namespace {

constexpr const char* kDriverName = "Varnel";

constexpr const char* kOpenOptions = R"(<OpenOptionList>
  <Option name='SPLIT' type='string-select' default='MODEL' description='One feature per model, node visit, material or part'>
    <Value>MODEL</Value><Value>NODE</Value><Value>MATERIAL</Value><Value>PART</Value>
  </Option>
  <Option name='EXTENDED' type='boolean' default='NO' description='Also read what common exporters write beyond the core elements'/>
  <Option name='GEOMETRY' type='string-select' default='MULTIPOLYGON' description='The geometry of each feature'>
    <Value>MULTIPOLYGON</Value><Value>POLYHEDRALSURFACE</Value><Value>TIN</Value>
  </Option>
  <Option name='ORIGIN' type='string' description='Place every model at LON,LAT[,ALT[,HEADING]] (degrees, metres)'/>
  <Option name='ALTITUDE_MODE' type='string-select' default='absolute' description='How the ALT of ORIGIN is measured'>
    <Value>absolute</Value><Value>clampToGround</Value><Value>relativeToGround</Value><Value>clampToSeaFloor</Value><Value>relativeToSeaFloor</Value><Value>ellipsoid</Value>
  </Option>
  <Option name='DEM' type='string' description='A raster of ground heights for the ground-relative altitude modes'/>
  <Option name='A_SRS' type='string' description='The CRS the model coordinates are already in'/>
  <Option name='OFFSET' type='string' description='X,Y[,Z] added to them in A_SRS (a false origin)'/>
  <Option name='T_SRS' type='string' description='The CRS of placed coordinates (default: the UTM zone of the location)'/>
</OpenOptionList>)";

// Every diagnostic goes to GDAL's debug output; the first that stands in the way of output is
// kept as the reason.
class Heard : public DiagnosticReceiver {
 public:
  Heard(std::string file, bool extended) : file_(std::move(file)), reason_(extended, "EXTENDED=YES") {}
  void Report(const Diagnostic& d) override {
    CPLDebug(kDriverName, "%s:%d: %s: %s", file_.c_str(), d.line, DiagnosticKindName(d.kind),
             d.message ? d.message : "");
    reason_.Hear(d);
  }
  std::string Reason() const { return reason_.Text(); }

 private:
  std::string file_;
  gis::Reason reason_;
};

// A list of `min` to `max` numbers separated by commas; false (said through CPLError) otherwise.
bool Numbers(const char* option, const char* text, size_t min, size_t max,
             std::vector<double>& numbers) {
  CPLStringList pieces(CSLTokenizeString2(text, ",", CSLT_STRIPLEADSPACES | CSLT_STRIPENDSPACES));
  for (int i = 0; i < pieces.size(); ++i) {
    char* end = nullptr;
    numbers.push_back(CPLStrtod(pieces[i], &end));
    if (end == pieces[i] || *end) numbers.clear();
    if (numbers.empty()) break;
  }
  if (numbers.size() >= min && numbers.size() <= max) return true;
  CPLError(CE_Failure, CPLE_IllegalArg, "%s=%s: %zu to %zu numbers separated by commas", option,
           text, min, max);
  return false;
}

// The open options as the GIS layer takes them; false (said through CPLError) when one is wrong.
bool ReadOptions(CSLConstList options, ConvertOptions& convert) {
  const char* split = CSLFetchNameValueDef(options, "SPLIT", "MODEL");
  const char* geometry = CSLFetchNameValueDef(options, "GEOMETRY", "MULTIPOLYGON");
  std::optional<Split> splitNamed = SplitNamed(split);
  std::optional<Surface> surface = SurfaceNamed(geometry);
  if (!splitNamed || !surface) {
    CPLError(CE_Failure, CPLE_IllegalArg, "%s",
             !splitNamed ? "SPLIT: MODEL, NODE, MATERIAL or PART"
                         : "GEOMETRY: MULTIPOLYGON, POLYHEDRALSURFACE or TIN");
    return false;
  }
  convert.split = *splitNamed;
  convert.surface = *surface;
  convert.extended = CPLFetchBool(options, "EXTENDED", false);
  PlaceRequest& place = convert.place;
  place.sourceCrs = CSLFetchNameValueDef(options, "A_SRS", "");
  place.targetCrs = CSLFetchNameValueDef(options, "T_SRS", "");
  const char* mode = CSLFetchNameValueDef(options, "ALTITUDE_MODE", "absolute");
  std::optional<AltitudeMode> named = AltitudeModeNamed(mode);
  if (!named) {
    CPLError(CE_Failure, CPLE_IllegalArg, "ALTITUDE_MODE=%s: not an altitude mode", mode);
    return false;
  }
  place.originMode = *named;
  const char* origin = CSLFetchNameValue(options, "ORIGIN");
  const char* offset = CSLFetchNameValue(options, "OFFSET");
  if (offset && place.sourceCrs.empty()) {
    CPLError(CE_Failure, CPLE_IllegalArg, "OFFSET needs A_SRS");
    return false;
  }
  return (!origin || Numbers("ORIGIN", origin, 2, 4, place.origin)) &&
         (!offset || Numbers("OFFSET", offset, 2, 3, place.offset));
}

class Layer final : public OGRLayer {
 public:
  Layer(const char* name, Surface surface, const LayerSchema& schema) : definition_(new OGRFeatureDefn(name)) {
    SetDescription(name);
    definition_->Reference();
    definition_->SetGeomType(LayerGeometryType(surface));
    for (const auto& field : schema.fields()) definition_->AddFieldDefn(field.get());
    if (schema.crs()) {
      crs_ = schema.crs()->Clone();
      definition_->GetGeomFieldDefn(0)->SetSpatialRef(crs_);
    }
  }
  ~Layer() override {
    definition_->Release();
    if (crs_) crs_->Release();
  }

  // Takes the features of one model, numbered from 0 in the order of the file.
  void Add(ConvertedModel& model, const LayerSchema& schema) {
    for (Feature& part : model.features) {
      auto feature = std::make_unique<OGRFeature>(definition_);
      schema.Fill(*feature, model, part);
      OGREnvelope box;
      part.geometry->getEnvelope(&box);
      extent_.Merge(box);
      feature->SetGeometryDirectly(part.geometry.release());
      feature->SetFID(static_cast<GIntBig>(features_.size()));
      features_.push_back(std::move(feature));
    }
  }
  bool empty() const { return features_.empty(); }

  OGRFeatureDefn* GetLayerDefn() override { return definition_; }
  void ResetReading() override { next_ = 0; }
  OGRFeature* GetNextFeature() override {
    while (next_ < features_.size()) {
      OGRFeature* feature = features_[next_++].get();
      if ((!m_poFilterGeom || FilterGeometry(feature->GetGeometryRef())) &&
          (!m_poAttrQuery || m_poAttrQuery->Evaluate(feature)))
        return feature->Clone();
    }
    return nullptr;
  }
  OGRFeature* GetFeature(GIntBig fid) override {
    if (fid < 0 || fid >= static_cast<GIntBig>(features_.size())) return nullptr;
    return features_[static_cast<size_t>(fid)]->Clone();
  }
  GIntBig GetFeatureCount(int force) override {
    if (m_poFilterGeom || m_poAttrQuery) return OGRLayer::GetFeatureCount(force);
    return static_cast<GIntBig>(features_.size());
  }
  OGRErr GetExtent(OGREnvelope* extent, int force) override { return GetExtent(0, extent, force); }
  OGRErr GetExtent(int field, OGREnvelope* extent, int) override {
    if (field != 0 || !extent_.IsInit()) return OGRERR_FAILURE;
    *extent = extent_;
    return OGRERR_NONE;
  }
  int TestCapability(const char* capability) override {
    if (EQUAL(capability, OLCFastFeatureCount)) return !m_poFilterGeom && !m_poAttrQuery;
    return EQUAL(capability, OLCRandomRead) || EQUAL(capability, OLCFastGetExtent) ||
           EQUAL(capability, OLCStringsAsUTF8) || EQUAL(capability, OLCZGeometries);
  }

 private:
  OGRFeatureDefn* definition_;
  OGRSpatialReference* crs_ = nullptr;
  std::vector<std::unique_ptr<OGRFeature>> features_;
  OGREnvelope extent_;
  size_t next_ = 0;
};

class Dataset final : public GDALDataset {
 public:
  explicit Dataset(std::unique_ptr<Layer> layer) : layer_(std::move(layer)) {}
  int GetLayerCount() override { return 1; }
  OGRLayer* GetLayer(int index) override { return index == 0 ? layer_.get() : nullptr; }
  int TestCapability(const char* capability) override { return EQUAL(capability, ODsCZGeometries); }

 private:
  std::unique_ptr<Layer> layer_;
};

// Every model of the file converted into one layer; null (said through CPLError) when none gave
// features. Models that give nothing beside others that do are warned of.
GDALDataset* OpenModels(GDALOpenInfo* info) {
  ConvertOptions convert;
  if (!ReadOptions(info->papszOpenOptions, convert)) return nullptr;
  const std::string file = info->pszFilename;
  auto fail = [&](const std::string& reason) -> GDALDataset* {
    CPLError(CE_Failure, CPLE_OpenFailed, "%s: %s", file.c_str(), reason.c_str());
    return nullptr;
  };
  Heard heard(file, convert.extended);
  if (const char* dem = CSLFetchNameValue(info->papszOpenOptions, "DEM")) {
    Heard demHeard(dem, convert.extended);
    convert.place.terrain = OpenTerrain(dem, &demHeard);
    if (!convert.place.terrain) return fail("DEM=" + std::string(dem) + ": " + demHeard.Reason());
  }
  ModelSet set;
  OpenOptions open;
  open.import = {convert.extended, &heard};
  open.terrain = convert.place.terrain != nullptr;
  if (!set.Open(file, open)) return fail(heard.Reason());

  std::vector<ConvertedModel> models;
  std::string reason;
  for (const Model& model : set.models()) {
    Heard modelHeard(model.source, convert.extended);
    ConvertedModel converted;
    if (ConvertModel(model, convert, &modelHeard, converted)) models.push_back(std::move(converted));
    else if (set.models().size() == 1) reason = modelHeard.Reason();
    else CPLError(CE_Warning, CPLE_AppDefined, "%s: %s", model.source.c_str(), modelHeard.Reason().c_str());
  }
  if (models.empty()) return fail(reason.empty() ? "no model gave output" : reason);

  LayerSchema schema(convert.split, false);
  std::string error;
  if (!schema.SetCrs(models.front().crs, error)) return fail(error);
  auto layer = std::make_unique<Layer>(CPLGetBasename(file.c_str()), convert.surface, schema);
  for (ConvertedModel& model : models) {
    if (schema.Fit(model, error)) layer->Add(model, schema);
    else if (models.size() == 1) return fail(error);
    else CPLError(CE_Warning, CPLE_AppDefined, "%s: %s", model.source.c_str(), error.c_str());
  }
  return new Dataset(std::move(layer));
}

int Identify(GDALOpenInfo* info) { return IdentifyModels(info) ? TRUE : FALSE; }

GDALDataset* Open(GDALOpenInfo* info) {
  if (!IdentifyModels(info)) return nullptr;
  if (info->eAccess == GA_Update) {
    CPLError(CE_Failure, CPLE_NotSupported, "%s: the %s driver only reads", info->pszFilename,
             kDriverName);
    return nullptr;
  }
  // Nothing may unwind into GDAL's C callers.
  try {
    return OpenModels(info);
  } catch (const std::exception& e) {
    CPLError(CE_Failure, CPLE_OpenFailed, "%s: %s", info->pszFilename, e.what());
  } catch (...) {
    CPLError(CE_Failure, CPLE_OpenFailed, "%s: failed", info->pszFilename);
  }
  return nullptr;
}

}  // namespace

}  // namespace varnel::gis::driver

extern "C" __attribute__((visibility("default"))) void GDALRegister_Varnel() {
  using namespace varnel::gis::driver;
  if (!GDAL_CHECK_VERSION(kDriverName) || GDALGetDriverByName(kDriverName)) return;
  auto* driver = new GDALDriver();
  driver->SetDescription(kDriverName);
  driver->SetMetadataItem(GDAL_DCAP_VECTOR, "YES");
  driver->SetMetadataItem(GDAL_DCAP_OPEN, "YES");
  driver->SetMetadataItem(GDAL_DCAP_Z_GEOMETRIES, "YES");
  driver->SetMetadataItem(GDAL_DMD_LONGNAME, "COLLADA models (varnel)");
  driver->SetMetadataItem(GDAL_DMD_EXTENSIONS, "dae zae kmz kml");
  driver->SetMetadataItem(GDAL_DMD_OPENOPTIONLIST, kOpenOptions);
  driver->pfnIdentify = Identify;
  driver->pfnOpen = Open;
  GetGDALDriverManager()->RegisterDriver(driver);
}

// The names GDAL looks for in ogr_Varnel.so, and in a plugin file of any other name. Without the
// first, GDAL leaves an error behind that some callers (Fiona) take for their own.
extern "C" __attribute__((visibility("default"))) void RegisterOGRVarnel() { GDALRegister_Varnel(); }
extern "C" __attribute__((visibility("default"))) void GDALRegisterMe() { GDALRegister_Varnel(); }
