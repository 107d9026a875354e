#include "gis/ogr/Features.h"

#include <gdal_priv.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <cstdio>
#include <map>

namespace varnel::gis {

namespace {

// The multipatch part types the geometry may hold.
enum PartType { kStrip = 0, kFan = 1, kOuterRing = 2, kInnerRing = 3, kFirstRing = 4, kRing = 5,
                kTriangles = 6 };

// The polygons of one feature as they are read, turned into its geometry at the end.
struct Pending {
  std::string node;
  int32_t material = -1;
  std::vector<std::unique_ptr<OGRPolygon>> polygons;
  int64_t triangles = 0, rings = 0;
};

OGRLinearRing* Ring(const WKSPointZ* points, int32_t count) {
  auto* ring = new OGRLinearRing;
  ring->setNumPoints(count);
  for (int32_t i = 0; i < count; ++i) ring->setPoint(i, points[i].X, points[i].Y, points[i].Z);
  ring->set3D(TRUE);
  return ring;
}

std::unique_ptr<OGRPolygon> Triangle(const WKSPointZ& a, const WKSPointZ& b, const WKSPointZ& c) {
  const WKSPointZ corners[4] = {a, b, c, a};
  auto polygon = std::make_unique<OGRPolygon>();
  polygon->addRingDirectly(Ring(corners, 4));
  return polygon;
}

// The triangles of a strip or fan part, in the order the shapefile format draws them.
void StripOrFan(const WKSPointZ* p, int32_t n, bool fan, Pending& into) {
  for (int32_t i = 2; i < n; ++i) {
    if (fan) into.polygons.push_back(Triangle(p[0], p[i - 1], p[i]));
    else if (i % 2 == 0) into.polygons.push_back(Triangle(p[i - 2], p[i - 1], p[i]));
    else into.polygons.push_back(Triangle(p[i - 1], p[i - 2], p[i]));
    ++into.triangles;
  }
}

std::unique_ptr<OGRGeometry> Assemble(Pending& pending, Surface surface, int64_t& leftOut) {
  if (surface == Surface::kTin) {
    auto tin = std::make_unique<OGRTriangulatedSurface>();
    for (auto& polygon : pending.polygons) {
      OGRErr error = OGRERR_FAILURE;
      if (polygon->getNumInteriorRings() == 0 && polygon->getExteriorRing()->getNumPoints() == 4) {
        auto triangle = std::make_unique<OGRTriangle>(*polygon, error);
        if (error == OGRERR_NONE) tin->addGeometryDirectly(triangle.release());
      }
      if (error != OGRERR_NONE) ++leftOut;
    }
    tin->set3D(TRUE);
    return tin;
  }
  if (surface == Surface::kMultiPolygon) {
    auto multi = std::make_unique<OGRMultiPolygon>();
    for (auto& polygon : pending.polygons) multi->addGeometryDirectly(polygon.release());
    multi->set3D(TRUE);
    return multi;
  }
  auto surfaces = std::make_unique<OGRPolyhedralSurface>();
  for (auto& polygon : pending.polygons) surfaces->addGeometryDirectly(polygon.release());
  surfaces->set3D(TRUE);
  return surfaces;
}

// The node visit of part `part`: the last span starting at or before it.
}  // namespace

int64_t SplitKeys::Next(int32_t part, int32_t type, int32_t material) {
  if (type != kInnerRing) ringOwner_ = part;
  span_ = nullptr;
  if (split_ == Split::kNode) {
    while (cursor_ + 1 < nodes_.size() && nodes_[cursor_ + 1].firstPart <= part) ++cursor_;
    if (cursor_ < nodes_.size() && nodes_[cursor_].firstPart <= part) span_ = &nodes_[cursor_];
  }
  return split_ == Split::kModel      ? 0
         : split_ == Split::kMaterial ? material
         : split_ == Split::kPart     ? ringOwner_
                                      : (span_ ? span_->instance : 0);
}

bool BuildFeatures(IGeometry& geometry, const Placer* placer, Split split, Surface surface,
                   const std::vector<NodeSpan>& nodes, const Reporter& report,
                   std::vector<Feature>& features) {
  std::vector<WKSPointZ> points(static_cast<size_t>(std::max(geometry.GetPointCount(), 0)));
  int32_t count = geometry.QueryPoints(0, static_cast<int32_t>(points.size()), points.data());
  points.resize(static_cast<size_t>(std::max(count, 0)));
  if (placer && !placer->PlacePoints(&points[0].X, &points[0].Y, &points[0].Z, 3, points.size())) {
    report(DiagnosticKind::kPlacement, 0, "a point cannot be placed");
    return false;
  }

  // Features keyed by what splits them, in the order their first part comes.
  std::map<int64_t, size_t> byKey;
  std::vector<Pending> pending;
  SplitKeys keys(split, nodes);
  for (int32_t part = 0; part < geometry.GetPartCount(); ++part) {
    int32_t type = geometry.GetPartType(part);
    int32_t first = geometry.GetPartFirstPoint(part), n = geometry.GetPartPointCount(part);
    if (n <= 0 || first < 0 || int64_t{first} + n > static_cast<int64_t>(points.size())) continue;
    int32_t material = geometry.GetPartMaterial(part);
    const int64_t key = keys.Next(part, type, material);
    const NodeSpan* span = keys.span();
    auto [at, added] = byKey.emplace(key, pending.size());
    if (added) {
      pending.emplace_back();
      if (split == Split::kNode && span) pending.back().node = span->name;
      if (split == Split::kMaterial || split == Split::kPart) pending.back().material = material;
    }
    Pending& into = pending[at->second];
    const WKSPointZ* p = points.data() + first;
    switch (type) {
      case kTriangles:
        for (int32_t i = 0; i + 2 < n; i += 3) into.polygons.push_back(Triangle(p[i], p[i + 1], p[i + 2]));
        into.triangles += n / 3;
        break;
      case kStrip:
      case kFan:
        StripOrFan(p, n, type == kFan, into);
        break;
      case kInnerRing:
        // A hole joins the polygon of its ring; without one before it, it stands alone.
        if (!into.polygons.empty() && keys.ringOwner() >= 0) {
          into.polygons.back()->addRingDirectly(Ring(p, n));
          break;
        }
        [[fallthrough]];
      default:
        into.polygons.push_back(std::make_unique<OGRPolygon>());
        into.polygons.back()->addRingDirectly(Ring(p, n));
        ++into.rings;
    }
  }

  int64_t leftOut = 0;
  for (Pending& p : pending) {
    if (p.polygons.empty()) continue;
    Feature feature;
    feature.node = std::move(p.node);
    feature.material = p.material;
    feature.triangles = p.triangles;
    feature.polygons = p.rings;
    feature.geometry = Assemble(p, surface, leftOut);
    features.push_back(std::move(feature));
  }
  if (leftOut > 0)
    report(DiagnosticKind::kLimitReached, 0, std::to_string(leftOut),
           " polygons that are not triangles cannot go in a TIN and were left out; "
           "POLYHEDRALSURFACE keeps them");
  return true;
}

MaterialFields MaterialFieldsOf(IGeometry& geometry, int32_t material) {
  MaterialFields fields;
  GeometryMaterial record;
  if (material < 0 || !geometry.GetMaterial(material, &record)) return fields;
  if (record.hasColor) {
    char color[8];
    std::snprintf(color, sizeof color, "#%02X%02X%02X", record.color[0] & 255,
                  record.color[1] & 255, record.color[2] & 255);
    fields.color = color;
  }
  if (record.hasTransparency) fields.transparency = record.transparency;
  fields.cull = record.cullBackFaces;
  if (record.texturePixels) {
    fields.textureOf = material;
  } else if (record.hasSharedTexture) {
    // A shared texture names a record that holds the pixels: the nearest one at or before it.
    for (int32_t j = std::min(record.sharedTexture, material - 1); j >= 0; --j) {
      GeometryMaterial earlier;
      if (geometry.GetMaterial(j, &earlier) && earlier.texturePixels) {
        fields.textureOf = j;
        break;
      }
    }
  }
  return fields;
}

bool EncodeTexturePng(IGeometry& geometry, int32_t material, std::string& png) {
  GeometryMaterial record;
  if (!geometry.GetMaterial(material, &record) || !record.texturePixels) return false;
  int width = record.textureWidth, height = record.textureHeight, bands = record.textureChannels;
  if (width < 1 || height < 1 || bands < 1 || bands > 4) return false;
  GDALAllRegister();
  GDALDriver* memory = GetGDALDriverManager()->GetDriverByName("MEM");
  GDALDriver* driver = GetGDALDriverManager()->GetDriverByName("PNG");
  if (!memory || !driver) return false;
  std::unique_ptr<GDALDataset> pixels(memory->Create("", width, height, bands, GDT_Byte, nullptr));
  if (!pixels) return false;
  // Interleaved rows, top row first, as the record holds them.
  CPLErr error = pixels->RasterIO(GF_Write, 0, 0, width, height,
                                  const_cast<unsigned char*>(record.texturePixels), width, height,
                                  GDT_Byte, bands, nullptr, bands, GSpacing{width} * bands, 1,
                                  nullptr);
  if (error != CE_None) return false;
  // A name of its own per call: workers encode at the same time.
  std::string path = "/vsimem/varnel-texture-" +
                     std::to_string(reinterpret_cast<uintptr_t>(&png)) + ".png";
  std::unique_ptr<GDALDataset> written(
      driver->CreateCopy(path.c_str(), pixels.get(), FALSE, nullptr, nullptr, nullptr));
  written.reset();
  vsi_l_offset size = 0;
  GByte* bytes = VSIGetMemFileBuffer(path.c_str(), &size, FALSE);
  if (bytes) png.assign(reinterpret_cast<const char*>(bytes), size);
  VSIUnlink(path.c_str());
  return bytes && size > 0;
}

}  // namespace varnel::gis
