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
  <Option name='STRICT' type='boolean' default='NO' description='Read only the core elements, exactly as the library&apos;s plain entry points do'/>
  <Option name='EXTENDED' type='boolean' default='YES' description='Also read what common exporters write beyond the core elements; NO is STRICT=YES'/>
  <Option name='ALLOW_NETWORK' type='boolean' default='NO' description='Fetch the http(s) models a local KMZ or KML names'/>
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
  Heard(std::string file, bool extended) : file_(std::move(file)), reason_(extended, "the driver reads it without STRICT=YES") {}
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
  convert.extended =
      !CPLFetchBool(options, "STRICT", false) && CPLFetchBool(options, "EXTENDED", true);
  convert.decodeTextures = false;  // a reader writes no texture files
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

// Models become features as they are read, one model's features held at a time: an archive of
// thousands of placemarks costs the memory of its largest model. Counts and extent take one
// pass over a file of several models, and are kept.
class Layer final : public OGRLayer {
 public:
  Layer(const char* name, std::unique_ptr<ModelSet> set, std::unique_ptr<ImportCache> cache,
        ConvertOptions convert, std::unique_ptr<LayerSchema> schema)
      : definition_(new OGRFeatureDefn(name)),
        set_(std::move(set)),
        cache_(std::move(cache)),
        convert_(std::move(convert)),
        schema_(std::move(schema)),
        warned_(set_->models().size(), false) {
    SetDescription(name);
    definition_->Reference();
    definition_->SetGeomType(LayerGeometryType(convert_.surface));
    for (const auto& field : schema_->fields()) definition_->AddFieldDefn(field.get());
    if (schema_->crs()) {
      crs_ = schema_->crs()->Clone();
      definition_->GetGeomFieldDefn(0)->SetSpatialRef(crs_);
    }
  }
  ~Layer() override {
    definition_->Release();
    if (crs_) crs_->Release();
  }

  // Takes the features of the first model that gave some, so that a file of one model is known
  // whole when it opens.
  void Start(ConvertedModel first, size_t index) {
    model_ = std::move(first);
    nextModel_ = index + 1;
    std::fill(warned_.begin(), warned_.begin() + static_cast<ptrdiff_t>(index), true);
    if (nextModel_ == set_->models().size()) {
      count_ = 0;
      for (const Feature& part : model_.features) {
        OGREnvelope box;
        part.geometry->getEnvelope(&box);
        extent_.Merge(box);
        ++*count_;
      }
    }
  }

  OGRFeatureDefn* GetLayerDefn() override { return definition_; }
  void ResetReading() override {
    nextModel_ = 0, nextPart_ = 0, nextId_ = 0;
    model_ = {};
  }
  OGRFeature* GetNextFeature() override {
    while (std::unique_ptr<OGRFeature> feature = NextFeature()) {
      if ((!m_poFilterGeom || FilterGeometry(feature->GetGeometryRef())) &&
          (!m_poAttrQuery || m_poAttrQuery->Evaluate(feature.get())))
        return feature.release();
    }
    return nullptr;
  }
  GIntBig GetFeatureCount(int force) override {
    if (m_poFilterGeom || m_poAttrQuery) return OGRLayer::GetFeatureCount(force);
    if (!count_ && force) Scan();
    return count_ ? static_cast<GIntBig>(*count_) : -1;
  }
  OGRErr GetExtent(OGREnvelope* extent, int force) override { return GetExtent(0, extent, force); }
  OGRErr GetExtent(int field, OGREnvelope* extent, int force) override {
    if (field != 0) return OGRERR_FAILURE;
    if (!count_ && force) Scan();
    if (!extent_.IsInit()) return OGRERR_FAILURE;
    *extent = extent_;
    return OGRERR_NONE;
  }
  int TestCapability(const char* capability) override {
    if (EQUAL(capability, OLCFastFeatureCount)) return !m_poFilterGeom && !m_poAttrQuery && count_;
    if (EQUAL(capability, OLCFastGetExtent)) return count_.has_value();
    return EQUAL(capability, OLCStringsAsUTF8) || EQUAL(capability, OLCZGeometries);
  }

 private:
  // The next feature of the file, converting the next model when the one at hand is done.
  std::unique_ptr<OGRFeature> NextFeature() {
    while (nextPart_ >= model_.features.size()) {
      if (nextModel_ >= set_->models().size()) return nullptr;
      model_ = {};
      nextPart_ = 0;
      size_t index = nextModel_++;
      const Model& model = set_->models()[index];
      Heard heard(model.source, convert_.extended);
      std::string error;
      bool converted = ConvertModel(model, convert_, &heard, model_, cache_.get());
      if (!converted || !schema_->Fit(model_, error)) {
        model_ = {};
        // A model that gives nothing beside others is warned of once, not on every pass.
        if (!warned_[index])
          CPLError(CE_Warning, CPLE_AppDefined, "%s: %s", model.source.c_str(),
                   converted ? error.c_str() : heard.Reason().c_str());
        warned_[index] = true;
      }
    }
    Feature& part = model_.features[nextPart_++];
    auto feature = std::make_unique<OGRFeature>(definition_);
    schema_->Fill(*feature, model_, part);
    feature->SetGeometryDirectly(part.geometry.release());
    feature->SetFID(nextId_++);
    return feature;
  }

  // One pass over every model for the count and the extent.
  void Scan() {
    ResetReading();
    size_t count = 0;
    OGREnvelope extent;
    while (std::unique_ptr<OGRFeature> feature = NextFeature()) {
      OGREnvelope box;
      feature->GetGeometryRef()->getEnvelope(&box);
      extent.Merge(box);
      ++count;
    }
    count_ = count, extent_ = extent;
    ResetReading();
  }

  OGRFeatureDefn* definition_;
  OGRSpatialReference* crs_ = nullptr;
  std::unique_ptr<ModelSet> set_;
  std::unique_ptr<ImportCache> cache_;
  ConvertOptions convert_;
  std::unique_ptr<LayerSchema> schema_;
  std::vector<bool> warned_;
  ConvertedModel model_;  // the model being read
  size_t nextModel_ = 0, nextPart_ = 0;
  GIntBig nextId_ = 0;
  std::optional<size_t> count_;  // known after a whole pass, or at once for one model
  OGREnvelope extent_;
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

// The file's layer, its CRS that of the first model that gives features; null (said through
// CPLError) when none does. Models that give nothing beside others are warned of as they are
// read.
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
  auto set = std::make_unique<ModelSet>();
  OpenOptions open;
  open.import = {convert.extended, &heard};
  open.terrain = convert.place.terrain != nullptr;
  open.allowNetwork = CPLFetchBool(info->papszOpenOptions, "ALLOW_NETWORK", false);
  if (!set->Open(file, open)) return fail(heard.Reason());

  const std::vector<Model>& models = set->models();
  auto cache = std::make_unique<ImportCache>();
  std::string reason;
  for (size_t index = 0; index < models.size(); ++index) {
    Heard modelHeard(models[index].source, convert.extended);
    ConvertedModel first;
    if (!ConvertModel(models[index], convert, &modelHeard, first, cache.get())) {
      if (models.size() == 1) reason = modelHeard.Reason();
      else CPLError(CE_Warning, CPLE_AppDefined, "%s: %s", models[index].source.c_str(),
                    modelHeard.Reason().c_str());
      continue;
    }
    auto schema = std::make_unique<LayerSchema>(convert.split, false);
    std::string error;
    if (!schema->SetCrs(first.crs, error) || !schema->Fit(first, error)) return fail(error);
    auto layer = std::make_unique<Layer>(CPLGetBasename(file.c_str()), std::move(set),
                                         std::move(cache), std::move(convert), std::move(schema));
    layer->Start(std::move(first), index);
    return new Dataset(std::move(layer));
  }
  return fail(reason.empty() ? "no model gave output" : reason);
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
