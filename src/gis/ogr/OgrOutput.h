// Writing converted models into one layer of any vector format GDAL can create.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "gis/Staging.h"
#include "gis/ogr/Convert.h"

class GDALDataset;
class OGRLayer;

namespace varnel::gis {

class LayerSchema;

// The driver GDAL would be asked for: `format`, else one known from the destination's
// extension, else GeoPackage.
std::string OutputFormat(const OutputOptions& options);

// What a caller may hear of while the output is written.
struct OutputHooks {
  std::function<void()> waiting;  // another run holds the destination: this one waits
  std::function<void(const std::string&)> staging;  // a temporary folder, removed on failure
  std::mutex* renaming = nullptr;  // held while the finished output is moved into place
};

// A run's output appears whole or not at all. A new dataset, and any existing one but a
// GeoPackage or a database, is written in a folder beside the destination (an existing one
// copied there first) and moved into place at Close; an existing GeoPackage and a PostgreSQL
// database are written in one transaction, -overwrite's deletion of the old layer included.
// One run at a time writes a destination: a second waits for the first (flock on the file or
// folder, PostgreSQL's advisory lock on the layer name).
class OgrOutput {
 public:
  OgrOutput();
  ~OgrOutput();
  OgrOutput(const OgrOutput&) = delete;
  OgrOutput& operator=(const OgrOutput&) = delete;

  // Checks the format and geometry type; false with `error` set. The dataset is opened or
  // created by the first Write, so that inputs giving nothing leave the destination alone.
  bool Open(const OutputOptions& options, std::string& error);
  // The geometry the features must be built as, for the format and -nlt.
  Surface surface() const { return surface_; }
  // Writes the features of one model; the layer is created with the first model's CRS. False
  // with `error` set when the model cannot go into the layer (it is then left out), or when the
  // output itself failed (`failed()`).
  bool Write(ConvertedModel& model, std::string& error);
  bool failed() const { return failed_; }
  // Commits, closes and moves the output into place; false with `error` set, and then the
  // destination is as it was.
  bool Close(std::string& error);
  // Rolls back and removes what was staged; the destination stays as it was.
  void Abandon();
  void SetHooks(OutputHooks hooks) { hooks_ = std::move(hooks); }
  int64_t featuresWritten() const { return written_; }
  // What GDAL warned of while writing, in order.
  const std::vector<std::string>& warnings() const { return warnings_; }

 private:
  bool OpenDataset(std::string& error);
  bool CreateLayer(const std::string& crs, std::string& error);
  bool CopyIntoStaging(const std::string& path);
  bool Verify(std::string& error);
  bool MoveIntoPlace(std::string& error);
  // The system's reason: `systemError`, or why the destination's file system refuses writes
  // now; else `gdal`.
  std::string Failure(const std::string& gdal, int systemError = 0) const;

  OutputOptions options_;
  std::string driver_;
  Surface surface_ = Surface::kMultiPolygon;
  bool multipatch_ = false;
  GDALDataset* dataset_ = nullptr;
  OGRLayer* layer_ = nullptr;
  std::unique_ptr<LayerSchema> schema_;
  bool transaction_ = false;
  OutputHooks hooks_;
  DestinationLock lock_;
  bool existed_ = false;  // the destination was there when the run began
  bool fresh_ = false;    // the dataset is created, not opened
  std::string staging_;   // the folder beside the destination, "" when written in place
  std::string path_;      // what GDAL writes
  int64_t before_ = 0;    // features the layer held before
  bool failed_ = false;
  int64_t written_ = 0;
  std::vector<std::string> warnings_;
};

}  // namespace varnel::gis
