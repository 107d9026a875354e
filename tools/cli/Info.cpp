#include <cstdio>
#include <map>

#include "cli/Commands.h"
#include "cli/Json.h"
#include "cli/Shapefile.h"
#include <varnel/Varnel.h>
#include <varnel/Geometry.h>

namespace varnel::cli {
namespace {

// The geometry of a document, released when it goes.
struct GeometryHandle {
  GeometryHandle(const std::string& file, Diagnostics& diagnostics) {
    Varnel().CreateGeometryFromFile(String::FromUtf8(file), &geometry, diagnostics.Import());
  }
  ~GeometryHandle() {
    if (geometry) geometry->Release();
  }
  IGeometry* geometry = nullptr;
};

std::string FileName(const std::string& file) {
  size_t slash = file.find_last_of('/');
  return slash == std::string::npos ? file : file.substr(slash + 1);
}

}  // namespace

int RunInfo(const std::string& file, const ReadOptions& options) {
  Diagnostics diagnostics(file, options);
  GeometryHandle handle(file, diagnostics);
  IGeometry* g = handle.geometry;
  if (!g) return diagnostics.NoOutput();
  std::map<int32_t, int32_t> types = {{2, 0}, {6, 0}};
  for (int32_t p = 0; p < g->GetPartCount(); ++p) ++types[g->GetPartType(p)];
  GeometryExtent e = g->GetExtent();

  std::string line = "{\"file\":";
  AppendString(line, file);
  line += ",\"parts\":" + std::to_string(g->GetPartCount());
  line += ",\"points\":" + std::to_string(g->GetPointCount());
  line += ",\"normals\":";
  AppendBool(line, g->HasNormals());
  line += ",\"texturePoints\":" + std::to_string(g->GetTexturePointCount());
  line += ",\"materials\":" + std::to_string(g->GetMaterialCount());
  line += ",\"partTypes\":{";
  bool first = true;
  for (const auto& [type, count] : types) {
    if (!first) line += ',';
    first = false;
    line += '"' + std::to_string(type) + "\":" + std::to_string(count);
  }
  line += "},\"extent\":[";
  const double values[6] = {e.xMin, e.yMin, e.zMin, e.xMax, e.yMax, e.zMax};
  for (int i = 0; i < 6; ++i) {
    if (i) line += ',';
    AppendDouble(line, values[i]);
  }
  line += "],\"bytes\":" + std::to_string(g->GetBufferSize()) + "}\n";
  std::fputs(line.c_str(), stdout);
  return 0;
}

int RunShapefile(const std::string& file, const std::string& out, const ReadOptions& options) {
  std::string base = out;
  if (base.size() > 4 && base.compare(base.size() - 4, 4, ".shp") == 0) base.resize(base.size() - 4);
  // Find out early whether the output can be written at all.
  std::FILE* probe = std::fopen((base + ".shp").c_str(), "ab");
  if (!probe) return CannotWrite(base + ".shp");
  std::fclose(probe);
  Diagnostics diagnostics(file, options);
  GeometryHandle handle(file, diagnostics);
  if (!handle.geometry) {
    std::remove((base + ".shp").c_str());
    return diagnostics.NoOutput();
  }
  if (!WriteMultipatchShapefile(base, *handle.geometry, FileName(file)))
    return CannotWrite(base + ".shp");
  return 0;
}

}  // namespace varnel::cli
