#include "cli/Shapefile.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <vector>

#include <varnel/Geometry.h>

namespace varnel::cli {
namespace {

class ByteWriter {
 public:
  void Int32Big(int32_t v) {
    uint32_t u = static_cast<uint32_t>(v);
    for (int shift = 24; shift >= 0; shift -= 8) bytes.push_back(static_cast<uint8_t>(u >> shift));
  }
  void Int32(int32_t v) { Raw(&v, 4); }
  void Int16(int16_t v) { Raw(&v, 2); }
  void Double(double v) { Raw(&v, 8); }
  void Byte(uint8_t v) { bytes.push_back(v); }
  void Raw(const void* data, size_t n) {  // the machine is little-endian, as shapefiles are
    const uint8_t* p = static_cast<const uint8_t*>(data);
    bytes.insert(bytes.end(), p, p + n);
  }
  bool WriteTo(const std::string& path) const {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) return false;
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && ok;
  }
  std::vector<uint8_t> bytes;
};

struct Part {
  int32_t type;
  std::vector<WKSPointZ> points;
};

std::vector<Part> ShapefileParts(IGeometry& geometry) {
  std::vector<Part> parts;
  for (int32_t p = 0; p < geometry.GetPartCount(); ++p) {
    int32_t first = geometry.GetPartFirstPoint(p);
    int32_t count = geometry.GetPartPointCount(p);
    if (first < 0 || count < 1) continue;
    std::vector<WKSPointZ> points(static_cast<size_t>(count));
    count = geometry.QueryPoints(first, count, points.data());
    points.resize(static_cast<size_t>(count));
    if (geometry.GetPartType(p) == kPatchTriangles) {
      for (size_t k = 0; k + 2 < points.size(); k += 3)
        parts.push_back({kPatchTriangleFan, {points[k], points[k + 1], points[k + 2]}});
    } else if (!points.empty()) {
      parts.push_back({geometry.GetPartType(p), std::move(points)});
    }
  }
  return parts;
}

void WriteHeader(ByteWriter& out, int32_t fileWords, const GeometryExtent& e) {
  out.Int32Big(9994);
  for (int i = 0; i < 5; ++i) out.Int32Big(0);
  out.Int32Big(fileWords);
  out.Int32(1000);
  out.Int32(31);
  for (double v : {e.xMin, e.yMin, e.xMax, e.yMax, e.zMin, e.zMax, 0.0, 0.0}) out.Double(v);
}

bool WriteDbf(const std::string& path, const std::string& name) {
  const int kWidth = 254;
  ByteWriter out;
  std::time_t now = std::time(nullptr);
  std::tm date{};
  gmtime_r(&now, &date);
  out.Byte(0x03);
  out.Byte(static_cast<uint8_t>(date.tm_year));
  out.Byte(static_cast<uint8_t>(date.tm_mon + 1));
  out.Byte(static_cast<uint8_t>(date.tm_mday));
  out.Int32(1);                    // records
  out.Int16(32 + 32 + 1);          // header bytes
  out.Int16(1 + kWidth);           // record bytes
  for (int i = 0; i < 20; ++i) out.Byte(0);
  char field[11] = "name";
  out.Raw(field, 11);
  out.Byte('C');
  out.Int32(0);
  out.Byte(kWidth);
  out.Byte(0);
  for (int i = 0; i < 14; ++i) out.Byte(0);
  out.Byte(0x0D);
  out.Byte(' ');
  std::string value = name.substr(0, kWidth);
  value.resize(kWidth, ' ');
  out.Raw(value.data(), value.size());
  out.Byte(0x1A);
  return out.WriteTo(path);
}

}  // namespace

bool WriteMultipatchShapefile(const std::string& base, IGeometry& geometry,
                              const std::string& name) {
  std::vector<Part> parts = ShapefileParts(geometry);
  GeometryExtent extent = geometry.GetExtent();

  ByteWriter record;
  int32_t pointCount = 0;
  for (const Part& part : parts) pointCount += static_cast<int32_t>(part.points.size());
  record.Int32(31);
  for (double v : {extent.xMin, extent.yMin, extent.xMax, extent.yMax}) record.Double(v);
  record.Int32(static_cast<int32_t>(parts.size()));
  record.Int32(pointCount);
  int32_t start = 0;
  for (const Part& part : parts) {
    record.Int32(start);
    start += static_cast<int32_t>(part.points.size());
  }
  for (const Part& part : parts) record.Int32(part.type);
  for (const Part& part : parts)
    for (const WKSPointZ& p : part.points) {
      record.Double(p.X);
      record.Double(p.Y);
    }
  record.Double(extent.zMin);
  record.Double(extent.zMax);
  for (const Part& part : parts)
    for (const WKSPointZ& p : part.points) record.Double(p.Z);

  const int32_t contentWords = static_cast<int32_t>(record.bytes.size() / 2);
  ByteWriter shp;
  WriteHeader(shp, 50 + 4 + contentWords, extent);
  shp.Int32Big(1);
  shp.Int32Big(contentWords);
  shp.Raw(record.bytes.data(), record.bytes.size());

  ByteWriter shx;
  WriteHeader(shx, 50 + 4, extent);
  shx.Int32Big(50);
  shx.Int32Big(contentWords);

  return shp.WriteTo(base + ".shp") && shx.WriteTo(base + ".shx") &&
         WriteDbf(base + ".dbf", name);
}

}  // namespace varnel::cli
