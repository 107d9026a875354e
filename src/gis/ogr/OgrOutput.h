// Writing converted models into one layer of any vector format GDAL can create.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "gis/ogr/Convert.h"

class GDALDataset;
class OGRLayer;

namespace varnel::gis {

class LayerSchema;

// The driver GDAL would be asked for: `format`, else one known from the destination's
// extension, else GeoPackage.
std::string OutputFormat(const OutputOptions& options);

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
  // Commits and closes; false with `error` set.
  bool Close(std::string& error);
  int64_t featuresWritten() const { return written_; }
  // What GDAL warned of while writing, in order.
  const std::vector<std::string>& warnings() const { return warnings_; }

 private:
  bool OpenDataset(std::string& error);
  bool CreateLayer(const std::string& crs, std::string& error);

  OutputOptions options_;
  std::string driver_;
  Surface surface_ = Surface::kMultiPolygon;
  bool multipatch_ = false;
  GDALDataset* dataset_ = nullptr;
  OGRLayer* layer_ = nullptr;
  std::unique_ptr<LayerSchema> schema_;
  bool transaction_ = false;
  bool failed_ = false;
  int64_t written_ = 0;
  std::vector<std::string> warnings_;
};

}  // namespace varnel::gis
