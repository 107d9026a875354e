#include <algorithm>
#include <cerrno>
#include <cfloat>
#include <cstdio>
#include <map>

#include "cli/Commands.h"
#include "cli/Modules.h"
#include "cli/Json.h"
#include "gis/Utf8.h"
#include <varnel/DataBufferWriter.h>
#include <varnel/MultipatchLayout.h>
#include <varnel/Varnel.h>
#include <varnel/Geometry.h>

namespace varnel::cli {
namespace {

int outputError = 0;  // errno of the first line standard output did not take

// The geometry of a document, released when it goes.
struct GeometryHandle {
  GeometryHandle(const std::string& document, const ImportOptions& options) {
    Varnel().CreateGeometryFromFile(String::FromNativePath(document), &geometry, options);
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
    using namespace multipatch;
    if (offset == 0) {
      parts = Load<int32_t>(data + kPartCountOffset);
      points = Load<int32_t>(data + kPointCountOffset);
      layout = ComputeLayout(parts, points);
    } else if (offset == layout.extension) {
      normals = Load<uint32_t>(data + kExtFlags) & kExtHasNormals;
      texturePoints = Load<int32_t>(data + kExtTextureDimension) == 2
                          ? Load<int32_t>(data + kExtTexturePoints)
                          : 0;
      materials = Load<int32_t>(data + kExtMaterials);
    } else if (offset >= layout.partTypes && offset < layout.xy) {
      for (int32_t at = 0; at < size; at += kPartTypeBytes) ++types[Load<int32_t>(data + at)];
    } else if (offset >= layout.xy && offset < layout.zRange) {
      for (int32_t at = 0; at < size; at += kXyBytes) {
        Widen(0, Load<double>(data + at));
        Widen(1, Load<double>(data + at + 8));
      }
    } else if (offset >= layout.z && offset < layout.extension) {
      for (int32_t at = 0; at < size; at += kZBytes) Widen(2, Load<double>(data + at));
    }
  }
  void Widen(int axis, double value) {
    low[axis] = std::min(low[axis], value);
    high[axis] = std::max(high[axis], value);
  }

  multipatch::Layout layout;  // the record's sections, once its header came
  int32_t bytes = 0, parts = 0, points = 0, texturePoints = 0, materials = 0;
  bool normals = false;
  std::map<int32_t, int32_t> types = {{2, 0}, {6, 0}};
  double low[3] = {DBL_MAX, DBL_MAX, DBL_MAX};
  double high[3] = {-DBL_MAX, -DBL_MAX, -DBL_MAX};
};

// The same summary of a geometry, with the extent of its points once placed, read and placed a
// block at a time: placing needs each point whole, which the buffer's pieces do not give.
bool PlacedSummary(IGeometry& g, const gis::Placer& placer, Summary& s) {
  s.bytes = g.GetBufferSize();
  s.parts = g.GetPartCount();
  s.points = g.GetPointCount();
  s.normals = g.HasNormals();
  s.texturePoints = g.GetTexturePointCount();
  s.materials = g.GetMaterialCount();
  for (int32_t p = 0; p < s.parts; ++p) ++s.types[g.GetPartType(p)];
  constexpr int32_t kBlock = 4096;
  WKSPointZ block[kBlock];
  for (int32_t first = 0; first < s.points; first += kBlock) {
    int32_t n = g.QueryPoints(first, std::min(kBlock, s.points - first), block);
    if (!placer.PlacePoints(&block[0].X, &block[0].Y, &block[0].Z, 3, static_cast<size_t>(n)))
      return false;
    for (int32_t i = 0; i < n; ++i)
      s.Widen(0, block[i].X), s.Widen(1, block[i].Y), s.Widen(2, block[i].Z);
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

// Whether the model is placed before its document is read; otherwise only the extended
// reading's geographic location can place it.
bool PlacedUpFront(const gis::Model& model, const gis::PlaceRequest& request) {
  return model.placement || !request.origin.empty() || !request.sourceCrs.empty() ||
         !request.targetCrs.empty();
}

// One JSON line for one model; 0, or 1 when it gave nothing.
int InfoLine(const std::string& file, const gis::Model& model, bool named,
             const ReadOptions& options, const PlaceOptions& place) {
  Diagnostics diagnostics(file, options);
  GeographicLocation own;
  ImportOptions import = diagnostics.Import(&model);
  import.geographicLocation = &own;
  Summary g;
  if (!PlacedUpFront(model, place.request)) {
    Varnel().CreateDataBufferFromFile(String::FromNativePath(model.document), g, import);
    if (g.bytes <= 0) return diagnostics.NoOutput();
  }
  std::unique_ptr<gis::Placer> placer;
  if (PlacedUpFront(model, place.request) || own.found) {
    GeometryHandle handle(model.document, import);
    if (!handle.geometry) return diagnostics.NoOutput();
    bool failed = false;
    placer = PlacerFromModule(model.placement, own, place.request, &diagnostics, failed);
    if (failed) return diagnostics.NoOutput();
    g = Summary();
    if (!PlacedSummary(*handle.geometry, *placer, g)) {
      diagnostics.Report({DiagnosticKind::kPlacement, 0, "a point cannot be placed", false});
      return diagnostics.NoOutput();
    }
  }

  std::string line = "{\"file\":";
  AppendString(line, gis::Printable(file));
  if (named) {
    line += ",\"model\":";
    AppendString(line, gis::Printable(model.name));
    line += ",\"source\":";
    AppendString(line, gis::Printable(model.source));
  }
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
  line += "},\"extent\":";
  const double extent[6] = {g.low[0], g.low[1], g.low[2], g.high[0], g.high[1], g.high[2]};
  AppendDoubles(line, extent, 6);
  line += ",\"bytes\":" + std::to_string(g.bytes);
  if (placer) {
    line += ",\"crs\":";
    AppendString(line, placer->crs());
    if (auto placement = gis::PlacementOf(model.placement, own, place.request)) {
      const gis::Location& at = placement->location;
      const double location[3] = {at.longitude, at.latitude, at.altitude};
      line += ",\"location\":";
      AppendDoubles(line, location, 3);
      // The mode says what the altitude measures; the height is where that put the origin.
      line += ",\"altitudeMode\":";
      AppendString(line, gis::AltitudeModeName(placement->altitudeMode));
      line += ",\"height\":";
      AppendDouble(line, placer->OriginHeight());
    }
  }
  line += "}\n";
  if (std::fputs(line.c_str(), stdout) == EOF && !outputError) outputError = errno;
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
  if (StandardOutputFailed(outputError)) return 2;
  return any ? 0 : 1;
}

}  // namespace varnel::cli
