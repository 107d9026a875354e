#include <algorithm>
#include <cfloat>
#include <cstdio>
#include <cstring>
#include <map>

#include "cli/Commands.h"
#include "cli/Json.h"
#include "cli/Shapefile.h"
#include <varnel/DataBufferWriter.h>
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

// What `info` prints, read from the buffer's pieces as they pass (docs/multipatch-buffer.md):
// the counts from the headers, the part types and the extent from their sections. The extent is
// the buffer's points taken in order, as the importer takes them for a geometry's box.
struct Summary : DataBufferWriter {
  bool Begin(int32_t size) override {
    bytes = size;
    return true;
  }
  void Write(int32_t offset, const unsigned char* data, int32_t size) override {
    if (offset == 0) {
      parts = Load<int32_t>(data + 36);
      points = Load<int32_t>(data + 40);
      partTypes = 44 + 4 * int64_t{parts};
      xy = partTypes + 4 * int64_t{parts};
      z = xy + 16 * int64_t{points} + 16;
      extension = z + 8 * int64_t{points};
    } else if (offset == extension) {
      normals = Load<uint32_t>(data + 12) & 1;
      texturePoints = Load<int32_t>(data + 16) == 2 ? Load<int32_t>(data + 20) : 0;
      materials = Load<int32_t>(data + 24);
    } else if (offset >= partTypes && offset < xy) {
      for (int32_t at = 0; at < size; at += 4) ++types[Load<int32_t>(data + at)];
    } else if (offset >= xy && offset < z - 16) {
      for (int32_t at = 0; at < size; at += 16) {
        Widen(0, Load<double>(data + at));
        Widen(1, Load<double>(data + at + 8));
      }
    } else if (offset >= z && offset < extension) {
      for (int32_t at = 0; at < size; at += 8) Widen(2, Load<double>(data + at));
    }
  }

  template <class T>
  static T Load(const unsigned char* at) {
    T value;
    std::memcpy(&value, at, sizeof value);
    return value;
  }
  void Widen(int axis, double value) {
    low[axis] = std::min(low[axis], value);
    high[axis] = std::max(high[axis], value);
  }

  int64_t partTypes = -1, xy = -1, z = -1, extension = -1;
  int32_t bytes = 0, parts = 0, points = 0, texturePoints = 0, materials = 0;
  bool normals = false;
  std::map<int32_t, int32_t> types = {{2, 0}, {6, 0}};
  double low[3] = {DBL_MAX, DBL_MAX, DBL_MAX};
  double high[3] = {-DBL_MAX, -DBL_MAX, -DBL_MAX};
};

std::string FileName(const std::string& file) {
  size_t slash = file.find_last_of('/');
  return slash == std::string::npos ? file : file.substr(slash + 1);
}

}  // namespace

int RunInfo(const std::string& file, const ReadOptions& options) {
  Diagnostics diagnostics(file, options);
  Summary g;
  Varnel().CreateDataBufferFromFile(String::FromUtf8(file), g, diagnostics.Import());
  if (g.bytes <= 0) return diagnostics.NoOutput();

  std::string line = "{\"file\":";
  AppendString(line, file);
  line += ",\"parts\":" + std::to_string(g.parts);
  line += ",\"points\":" + std::to_string(g.points);
  line += ",\"normals\":";
  AppendBool(line, g.normals);
  line += ",\"texturePoints\":" + std::to_string(g.texturePoints);
  line += ",\"materials\":" + std::to_string(g.materials);
  line += ",\"partTypes\":{";
  bool first = true;
  for (const auto& [type, count] : g.types) {
    if (!first) line += ',';
    first = false;
    line += '"' + std::to_string(type) + "\":" + std::to_string(count);
  }
  line += "},\"extent\":[";
  const double values[6] = {g.low[0], g.low[1], g.low[2], g.high[0], g.high[1], g.high[2]};
  for (int i = 0; i < 6; ++i) {
    if (i) line += ',';
    AppendDouble(line, values[i]);
  }
  line += "],\"bytes\":" + std::to_string(g.bytes) + "}\n";
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
