#include <algorithm>
#include <cstdio>
#include <map>

#include "cli/Commands.h"
#include "cli/Json.h"
#include <varnel/Varnel.h>
#include <varnel/Geometry.h>

namespace varnel::cli {
namespace {

// The geometry of a document, released when it goes.
struct GeometryHandle {
  GeometryHandle(const std::string& document, const ImportOptions& options) {
    Varnel().CreateGeometryFromFile(String::FromUtf8(document), &geometry, options);
  }
  ~GeometryHandle() {
    if (geometry) geometry->Release();
  }
  IGeometry* geometry = nullptr;
};

// The extent of the geometry's points once placed, read and placed a block at a time.
bool PlacedExtent(IGeometry& g, const gis::Placer& placer, double extent[6]) {
  constexpr int32_t kBlock = 4096;
  WKSPointZ block[kBlock];
  int32_t count = g.GetPointCount();
  for (int32_t first = 0; first < count; first += kBlock) {
    int32_t n = g.QueryPoints(first, std::min(kBlock, count - first), block);
    if (!placer.PlacePoints(&block[0].X, &block[0].Y, &block[0].Z, 3, static_cast<size_t>(n)))
      return false;
    for (int32_t i = 0; i < n; ++i) {
      const double p[3] = {block[i].X, block[i].Y, block[i].Z};
      for (int c = 0; c < 3; ++c) {
        extent[c] = first + i ? std::min(extent[c], p[c]) : p[c];
        extent[c + 3] = first + i ? std::max(extent[c + 3], p[c]) : p[c];
      }
    }
  }
  return true;
}

void AppendDoubles(std::string& line, const double* values, int count) {
  line += '[';
  for (int i = 0; i < count; ++i) {
    if (i) line += ',';
    AppendDouble(line, values[i]);
  }
  line += ']';
}

// One JSON line for one model; 0, or 1 when it gave nothing.
int InfoLine(const std::string& file, const gis::Model& model, bool named,
             const ReadOptions& options, const PlaceOptions& place) {
  Diagnostics diagnostics(model.source, options);
  GeographicLocation own;
  ImportOptions import = diagnostics.Import();
  import.geographicLocation = &own;
  GeometryHandle handle(model.document, import);
  IGeometry* g = handle.geometry;
  if (!g) return diagnostics.NoOutput();
  bool failed = false;
  std::unique_ptr<gis::Placer> placer = gis::PlacerFor(model.placement, own, place.request, &diagnostics, failed);
  if (failed) return diagnostics.NoOutput();

  std::map<int32_t, int32_t> types = {{2, 0}, {6, 0}};
  for (int32_t p = 0; p < g->GetPartCount(); ++p) ++types[g->GetPartType(p)];
  GeometryExtent e = g->GetExtent();
  double extent[6] = {e.xMin, e.yMin, e.zMin, e.xMax, e.yMax, e.zMax};
  if (placer && !PlacedExtent(*g, *placer, extent)) {
    diagnostics.Report({DiagnosticKind::kPlacement, 0, "a point cannot be placed", false});
    return diagnostics.NoOutput();
  }

  std::string line = "{\"file\":";
  AppendString(line, file);
  if (named) {
    line += ",\"model\":";
    AppendString(line, model.name);
    line += ",\"source\":";
    AppendString(line, model.source);
  }
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
  line += "},\"extent\":";
  AppendDoubles(line, extent, 6);
  line += ",\"bytes\":" + std::to_string(g->GetBufferSize());
  if (placer) {
    line += ",\"crs\":";
    AppendString(line, placer->crs());
    if (auto placement = gis::PlacementOf(model.placement, own, place.request)) {
      const gis::Location& at = placement->location;
      const double location[3] = {at.longitude, at.latitude, at.altitude};
      line += ",\"location\":";
      AppendDoubles(line, location, 3);
    }
  }
  line += "}\n";
  std::fputs(line.c_str(), stdout);
  return 0;
}

}  // namespace

int RunInfo(const std::string& file, const ReadOptions& options, const PlaceOptions& place) {
  Diagnostics diagnostics(file, options);
  Inputs inputs;
  if (!inputs.Open(file, place, diagnostics)) return diagnostics.NoOutput();
  // One line per model; the file fails only when none of its models gave anything.
  bool any = false;
  for (const gis::Model* model : inputs.chosen())
    any |= InfoLine(file, *model, inputs.holdsModels(), options, place) == 0;
  return any ? 0 : 1;
}

}  // namespace varnel::cli
