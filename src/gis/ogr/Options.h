// What a GDAL output is asked for, as plain data: whoever only gathers these options (the
// tool's argument parser) needs no GDAL header or library.
#pragma once

#include <string>
#include <vector>

namespace varnel::gis {

enum class Split { kModel, kNode, kMaterial, kPart };

// The geometry each feature gets. Triangles and rings are polygons of a multipolygon or of a
// polyhedral surface; a TIN holds triangles only.
enum class Surface { kMultiPolygon, kPolyhedralSurface, kTin };

struct OutputOptions {
  std::string destination;  // a file, a folder (.gdb) or a "PG:..." connection
  std::string format;       // a GDAL driver name; empty: from the destination
  std::string layerName;    // empty: the destination's file name without extension
  std::string geometryType; // -nlt: MULTIPOLYGON, POLYHEDRALSURFACE, TIN or MULTIPATCH
  std::vector<std::string> layerOptions, datasetOptions;  // -lco, -dsco NAME=VALUE
  bool append = false, overwrite = false;
  Split split = Split::kModel;
};

}  // namespace varnel::gis
