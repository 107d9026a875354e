#include "gis/ogr/OgrOutput.h"

#include <cpl_error.h>
#include <cpl_string.h>
#include <gdal_priv.h>
#include <ogr_spatialref.h>
#include <ogrsf_frmts.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <set>
#include <cctype>
#include <string_view>

#include "gis/PrivateFolder.h"
#include "gis/ogr/Fields.h"

namespace varnel::gis {

namespace {

struct KnownExtension {
  const char* extension;
  const char* driver;
};
constexpr KnownExtension kByExtension[] = {
    {".gpkg", "GPKG"},          {".gdb", "OpenFileGDB"}, {".shp", "ESRI Shapefile"},
    {".geojson", "GeoJSON"},    {".json", "GeoJSON"},    {".fgb", "FlatGeobuf"}};

// Formats that hold one layer in one file: overwriting them replaces the file.
bool SingleLayer(const std::string& driver) {
  return driver == "ESRI Shapefile" || driver == "GeoJSON" || driver == "FlatGeobuf";
}

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

std::string Stem(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  size_t slash = path.find_last_of('/');
  if (slash != std::string::npos) path.erase(0, slash + 1);
  size_t dot = path.rfind('.');
  if (dot != std::string::npos && dot > 0) path.resize(dot);
  return path.empty() ? "models" : path;
}

CPLStringList Options(const std::vector<std::string>& pairs) {
  CPLStringList list;
  for (const std::string& pair : pairs) list.AddString(pair.c_str());
  return list;
}

// GDAL's messages of the calls between construction and destruction, kept instead of printed:
// the last error for the caller's reason, the warnings for `warnings`.
class GdalMessages {
 public:
  explicit GdalMessages(std::vector<std::string>& warnings) : warnings_(warnings) {
    CPLErrorReset();
    CPLPushErrorHandlerEx(Handler, this);
  }
  ~GdalMessages() { CPLPopErrorHandler(); }
  // GDAL's last error in the tool's form, or `fallback`.
  // The errno of a failed write GDAL reported, when it left one: its reason beats GDAL's words.
  int systemError() const { return systemError_; }
  std::string Last(const char* fallback) const {
    return last_.empty() ? std::string(fallback) : "GDAL: " + last_;
  }

 private:
  static void CPL_STDCALL Handler(CPLErr level, CPLErrorNum, const char* message) {
    auto* self = static_cast<GdalMessages*>(CPLGetErrorHandlerUserData());
    int error = errno;
    if (!message) return;
    if (level == CE_Warning) self->warnings_.push_back(message);
    else if (level > CE_Warning) self->last_ = message;
    bool io = error == ENOSPC || error == EFBIG || error == EDQUOT || error == EROFS ||
              error == EIO;
    if (level > CE_Warning && io && !self->systemError_) self->systemError_ = error;
  }
  std::vector<std::string>& warnings_;
  std::string last_;
  int systemError_ = 0;
};

bool SamePoint(const OGRLinearRing& a, int i, const OGRLinearRing& b, int j) {
  return a.getX(i) == b.getX(j) && a.getY(i) == b.getY(j) && a.getZ(i) == b.getZ(j);
}

// GDAL's shapefile writer joins a triangle to the one before it into a fan or strip when its
// second corner is the other's third, and its reader takes a multipatch of triangles alone for a
// TIN: readers then see TINs, which GeoJSON and most tools cannot take. Starting such triangles
// at another corner, and giving the first triangle of an all-triangle feature a repeated corner,
// keeps every triangle a polygon for them.
void KeepTrianglesApart(OGRMultiPolygon& polygons) {
  auto triangle = [](OGRPolygon* p) {
    return p->getNumInteriorRings() == 0 && p->getExteriorRing()->getNumPoints() == 4;
  };
  OGRLinearRing* previous = nullptr;
  bool allTriangles = true;
  for (OGRPolygon* polygon : polygons) {
    OGRLinearRing* ring = polygon->getExteriorRing();
    if (!triangle(polygon)) {
      previous = nullptr;
      allTriangles = false;
      continue;
    }
    for (int turn = 0; turn < 2 && previous && SamePoint(*ring, 1, *previous, 2); ++turn) {
      OGRPoint a, b, c;
      ring->getPoint(0, &a), ring->getPoint(1, &b), ring->getPoint(2, &c);
      ring->setPoint(0, &b), ring->setPoint(1, &c), ring->setPoint(2, &a), ring->setPoint(3, &b);
    }
    previous = ring;
  }
  if (allTriangles && !polygons.IsEmpty()) {
    OGRLinearRing* ring = polygons.getGeometryRef(0)->getExteriorRing();
    OGRPoint first, last;
    ring->getPoint(0, &first), ring->getPoint(2, &last);
    ring->setNumPoints(5);
    ring->setPoint(3, &last), ring->setPoint(4, &first);
  }
}

}  // namespace

std::string OutputFormat(const OutputOptions& options) {
  if (!options.format.empty()) return options.format;
  const std::string& destination = options.destination;
  if (destination.rfind("PG:", 0) == 0) return "PostgreSQL";
  std::string path = destination;
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  std::string lower = path;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  for (const KnownExtension& known : kByExtension) {
    size_t n = std::char_traits<char>::length(known.extension);
    if (lower.size() > n && lower.compare(lower.size() - n, n, known.extension) == 0)
      return known.driver;
  }
  return "GPKG";
}

OgrOutput::OgrOutput() = default;

OgrOutput::~OgrOutput() { Abandon(); }

void OgrOutput::Abandon() {
  if (dataset_) {
    CPLPushErrorHandler(CPLQuietErrorHandler);
    if (transaction_) dataset_->RollbackTransaction();
    GDALClose(dataset_);
    dataset_ = nullptr;
    // A commit that failed midway leaves SQLite's journal, which GDAL does not roll back (the
    // next open for writing does), and GDAL writes a GeoPackage layer's feature count at close,
    // outside the transaction it rolled back: both are put right here.
    if (staging_.empty() && driver_ != "PostgreSQL") {
      const char* const drivers[] = {driver_.c_str(), nullptr};
      GDALDataset* reopened =
          GDALDataset::Open(path_.c_str(), GDAL_OF_VECTOR | GDAL_OF_UPDATE, drivers);
      if (reopened && driver_ == "GPKG" && !options_.layerName.empty()) {
        std::string name = options_.layerName, quoted, literal;
        for (char c : name) quoted += c == '"' ? "\"\"" : std::string(1, c);
        for (char c : name) literal += c == '\'' ? "''" : std::string(1, c);
        std::string sql = "UPDATE gpkg_ogr_contents SET feature_count = (SELECT count(*) FROM \"" +
                          quoted + "\") WHERE lower(table_name) = lower('" + literal + "')";
        reopened->ExecuteSQL(sql.c_str(), nullptr, nullptr);
      }
      if (reopened) GDALClose(reopened);
    }
    CPLPopErrorHandler();
  }
  if (!staging_.empty()) RemoveFolder(staging_);
  staging_.clear();
  lock_.Release();
}

bool OgrOutput::Open(const OutputOptions& options, std::string& error) {
  options_ = options;
  GDALAllRegister();
  driver_ = OutputFormat(options);
  GDALDriver* driver = GetGDALDriverManager()->GetDriverByName(driver_.c_str());
  if (!driver || !driver->GetMetadataItem(GDAL_DCAP_VECTOR)) {
    error = "GDAL has no vector driver " + driver_;
    return false;
  }
  if (!driver->GetMetadataItem(GDAL_DCAP_CREATE)) {
    error = "GDAL's " + driver_ + " driver cannot create datasets";
    return false;
  }

  std::string type = Upper(options.geometryType);
  for (const char* suffix : {"25D", "Z"})
    if (type.size() > 3 && type.ends_with(suffix)) type.resize(type.size() - strlen(suffix));
  bool multipatchFormat = driver_ == "OpenFileGDB" || driver_ == "ESRI Shapefile";
  if (type.empty()) type = multipatchFormat ? "MULTIPATCH"
                           : driver_ == "PostgreSQL" ? "POLYHEDRALSURFACE" : "MULTIPOLYGON";
  if (type == "MULTIPATCH" && !multipatchFormat) {
    error = "-nlt MULTIPATCH: only shapefiles and File Geodatabases hold multipatches";
    return false;
  }
  multipatch_ = type == "MULTIPATCH";
  // A shapefile multipatch of polygons holds each as rings, which every reader takes; a
  // polyhedral surface would turn its triangles into fans that GeoJSON cannot hold.
  std::optional<Surface> surface = SurfaceNamed(type);
  if (multipatch_) surface = driver_ == "ESRI Shapefile" ? Surface::kMultiPolygon
                                                         : Surface::kPolyhedralSurface;
  if (!surface) {
    error = "-nlt " + options.geometryType + ": MULTIPOLYGON, POLYHEDRALSURFACE, TIN or MULTIPATCH";
    return false;
  }
  surface_ = *surface;
  schema_ = std::make_unique<LayerSchema>(options.split, driver_ == "ESRI Shapefile");
  return true;
}

std::string OgrOutput::Failure(const std::string& gdal, int systemError) const {
  if (systemError) return SystemReason(systemError);
  if (driver_ == "PostgreSQL") return gdal;
  // As far as the largest file written has gone, or a MiB, whichever is further: a write that
  // failed may have been refused whole.
  int64_t size = int64_t{1} << 20;
  VSIStatBufL status;
  for (const std::string& path : {path_, path_ + "-journal"})
    if (VSIStatL(path.c_str(), &status) == 0) size = std::max<int64_t>(size, status.st_size);
  std::error_code ignored;
  if (!staging_.empty())
    for (const auto& entry : std::filesystem::recursive_directory_iterator(staging_, ignored))
      if (entry.is_regular_file(ignored))
        size = std::max<int64_t>(size, static_cast<int64_t>(entry.file_size(ignored)));
  int error = WriteFailureIn(staging_.empty() ? ParentFolder(options_.destination) : staging_, size);
  return error ? SystemReason(error) : gdal;
}

// The files of the shapefile `shp` beside it (itself included).
std::vector<std::string> ShapefileSet(const std::string& shp) {
  std::string name = BaseName(shp);
  std::string stem = name.substr(0, name.rfind('.') + 1);
  std::vector<std::string> members;
  std::error_code ignored;
  for (const auto& entry : std::filesystem::directory_iterator(ParentFolder(shp), ignored)) {
    std::string sibling = entry.path().filename().string();
    if (sibling.size() <= stem.size() || sibling.compare(0, stem.size(), stem) != 0) continue;
    std::string extension = Upper(sibling.substr(stem.size()));
    for (const char* known : {"SHP", "SHX", "DBF", "PRJ", "CPG", "QIX", "SBN", "SBX", "QMD"})
      if (extension == known) members.push_back(sibling);
  }
  return members;
}

// A shapefile is a set of files beside each other: the set is copied.
bool OgrOutput::CopyIntoStaging(const std::string& path) {
  const std::string& destination = options_.destination;
  VSIStatBufL status;
  if (driver_ != "ESRI Shapefile" || VSIStatL(destination.c_str(), &status) != 0 ||
      VSI_ISDIR(status.st_mode))
    return CopyTree(destination, path);
  for (const std::string& member : ShapefileSet(destination))
    if (!CopyTree(ParentFolder(destination) + "/" + member, staging_ + "/" + member)) return false;
  return true;
}

bool OgrOutput::OpenDataset(std::string& error) {
  const OutputOptions& options = options_;
  GDALDriver* driver = GetGDALDriverManager()->GetDriverByName(driver_.c_str());
  GdalMessages messages(warnings_);
  const std::string& destination = options.destination;
  const bool database = driver_ == "PostgreSQL";
  if (!database && !lock_.Acquire(destination, hooks_.waiting)) {
    error = SystemReason(errno);
    return false;
  }
  VSIStatBufL status;
  existed_ = database || VSIStatL(destination.c_str(), &status) == 0;
  fresh_ = !existed_ || (options.overwrite && SingleLayer(driver_));
  path_ = destination;
  if (!database && !(existed_ && (driver_ == "GPKG" || driver_ == "SQLite"))) {
    staging_ = StagingFolderBeside(destination);
    if (staging_.empty()) {
      error = SystemReason(errno);
      return false;
    }
    if (hooks_.staging) hooks_.staging(staging_);
    path_ = staging_ + "/" + BaseName(destination);
    if (!fresh_ && !CopyIntoStaging(path_)) {
      error = SystemReason(errno);
      return false;
    }
  }
  if (!fresh_) {
    const char* const drivers[] = {driver_.c_str(), nullptr};
    dataset_ = GDALDataset::Open(path_.c_str(), GDAL_OF_VECTOR | GDAL_OF_UPDATE, drivers);
  } else {
    CPLStringList dsco = Options(options.datasetOptions);
    dataset_ = driver->Create(path_.c_str(), 0, 0, 0, GDT_Unknown, dsco.List());
  }
  if (!dataset_) {
    error = Failure(messages.Last(fresh_ ? "cannot be created" : "cannot be opened for update"),
                    messages.systemError());
    return false;
  }
  std::string name = options.layerName.empty() ? Stem(destination) : options.layerName;
  if (SingleLayer(driver_) && dataset_->GetLayerCount() > 0) name = dataset_->GetLayer(0)->GetName();
  if (dataset_->TestCapability(ODsCTransactions))
    transaction_ = dataset_->StartTransaction() == OGRERR_NONE;
  if (staging_.empty() && !transaction_) {
    error = messages.Last("cannot start a transaction");
    return false;
  }
  if (database) {
    // PostgreSQL's own lock, released with the transaction.
    std::string sql = "SELECT pg_advisory_xact_lock(hashtext('varnel " + name + "'))";
    OGRLayer* result = dataset_->ExecuteSQL(sql.c_str(), nullptr, nullptr);
    if (result) dataset_->ReleaseResultSet(result);
  }
  for (int i = 0; i < dataset_->GetLayerCount(); ++i) {
    if (name != dataset_->GetLayer(i)->GetName()) continue;
    if (options.overwrite) {
      if (dataset_->DeleteLayer(i) != OGRERR_NONE) {
        error = messages.Last("the layer cannot be replaced");
        return false;
      }
    } else if (options.append) {
      layer_ = dataset_->GetLayer(i);
      before_ = layer_->GetFeatureCount();
      // GeoPackage gives layers made without a CRS its "Undefined ... SRS" entries.
      const OGRSpatialReference* crs = layer_->GetSpatialRef();
      const char* crsName = crs ? crs->GetName() : nullptr;
      bool undefined = crsName && std::string_view(crsName).starts_with("Undefined");
      schema_->TakeCrs(undefined ? nullptr : crs);
    } else {
      error = "the layer " + name + " exists: give -append or -overwrite";
      return false;
    }
    break;
  }
  options_.layerName = name;
  return true;
}

bool OgrOutput::CreateLayer(const std::string& crs, std::string& error) {
  GdalMessages messages(warnings_);
  if (!schema_->SetCrs(crs, error)) return false;
  OGRwkbGeometryType type = LayerGeometryType(surface_);
  std::vector<std::string> lco = options_.layerOptions;
  if (multipatch_ && driver_ == "OpenFileGDB") type = wkbGeometryCollection25D;
  bool shpt = std::any_of(lco.begin(), lco.end(), [](const std::string& o) {
    return Upper(o).rfind("SHPT=", 0) == 0;
  });
  if (multipatch_ && driver_ == "ESRI Shapefile" && !shpt) lco.push_back("SHPT=MULTIPATCH");
  CPLStringList list = Options(lco);
  auto* layerCrs = const_cast<OGRSpatialReference*>(schema_->crs());
  layer_ = dataset_->CreateLayer(options_.layerName.c_str(), layerCrs, type, list.List());
  if (!layer_) {
    error = messages.Last("the layer cannot be created");
    return false;
  }
  options_.layerName = layer_->GetName();  // a shapefile's is its file's
  for (const auto& field : schema_->fields()) {
    if (layer_->CreateField(field.get()) != OGRERR_NONE) {
      error = messages.Last("a field cannot be created");
      return false;
    }
  }
  return true;
}

bool OgrOutput::Write(ConvertedModel& model, std::string& error) {
  if (!dataset_ && !OpenDataset(error)) {
    failed_ = true;
    return false;
  }
  if (!layer_) {
    if (!CreateLayer(model.crs, error)) {
      error = Failure(error);
      failed_ = true;
      return false;
    }
  }
  GdalMessages messages(warnings_);
  if (!schema_->Fit(model, error)) return false;
  OGRFeatureDefn* definition = layer_->GetLayerDefn();
  for (Feature& part : model.features) {
    OGRFeature feature(definition);
    schema_->Fill(feature, model, part);
    if (multipatch_ && driver_ == "ESRI Shapefile" &&
        wkbFlatten(part.geometry->getGeometryType()) == wkbMultiPolygon)
      KeepTrianglesApart(*part.geometry->toMultiPolygon());
    feature.SetGeometryDirectly(part.geometry.release());
    if (layer_->CreateFeature(&feature) != OGRERR_NONE) {
      // Part of the model may be in: the run cannot end whole.
      error = Failure(messages.Last("a feature cannot be written"), messages.systemError());
      failed_ = true;
      return false;
    }
    ++written_;
  }
  return true;
}

// Some drivers drop the errors of their writes (GeoJSON, FlatGeobuf): what reads back, and whether
// the file system still takes writes, says whether all went in.
bool OgrOutput::Verify(std::string& error) {
  GdalMessages messages(warnings_);
  const char* const drivers[] = {driver_.c_str(), nullptr};
  std::unique_ptr<GDALDataset> written(GDALDataset::Open(path_.c_str(), GDAL_OF_VECTOR, drivers));
  OGRLayer* layer = written ? written->GetLayerByName(options_.layerName.c_str()) : nullptr;
  int64_t count = layer ? layer->GetFeatureCount() : -1;
  if (count == before_ + written_) return true;
  error = Failure(count < 0 ? messages.Last("the output does not read back")
                            : "GDAL: the output reads back " + std::to_string(count) +
                                  " features of " + std::to_string(before_ + written_),
                  messages.systemError());
  return false;
}

bool OgrOutput::MoveIntoPlace(std::string& error) {
  std::unique_lock<std::mutex> hold;
  if (hooks_.renaming) hold = std::unique_lock<std::mutex>(*hooks_.renaming);
  std::string folder = ParentFolder(options_.destination);
  std::set<std::string> moved;
  std::error_code ignored;
  for (const auto& entry : std::filesystem::directory_iterator(staging_, ignored))
    moved.insert(entry.path().filename().string());
  for (const std::string& name : moved) {
    if (!MoveInto(staging_ + "/" + name, folder + "/" + name, existed_)) {
      error = SystemReason(errno);
      return false;
    }
  }
  // A shapefile set replaced whole: members the new set lacks (an index, a code page) go.
  if (driver_ == "ESRI Shapefile" && existed_ && fresh_)
    for (const std::string& member : ShapefileSet(options_.destination))
      if (!moved.count(member)) std::filesystem::remove(folder + "/" + member, ignored);
  return true;
}

bool OgrOutput::Close(std::string& error) {
  if (!dataset_) return true;
  bool ok = true;
  {
    GdalMessages messages(warnings_);
    ok = !transaction_ || dataset_->CommitTransaction() == OGRERR_NONE;
    if (!ok) error = Failure(messages.Last("cannot be completed"), messages.systemError());
    transaction_ = transaction_ && !ok;  // rolled back by Abandon
    if (ok) {
      CPLErrorReset();
      GDALClose(dataset_);
      dataset_ = nullptr;
      ok = CPLGetLastErrorType() < CE_Failure;
      if (!ok) error = Failure(messages.Last("cannot be completed"), messages.systemError());
    }
  }
  if (ok && !staging_.empty()) ok = Verify(error) && MoveIntoPlace(error);
  Abandon();
  return ok;
}

}  // namespace varnel::gis
