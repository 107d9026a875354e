// Running one document through the entry points and reading every output back into the same
// plain shape, so that tests compare the geometry and the display list with one expectation.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include <varnel/Varnel.h>
#include <varnel/Geometry.h>
#include <varnel/MaterialProperties.h>
#include <varnel/DaeDisplayList.h>
#include "support/TestSupport.h"

namespace pipelinetest {

using namespace varnel;
using Vec3 = std::array<double, 3>;
using Vec2 = std::array<double, 2>;

struct Part {
  int type = 0;  // patch type; -1 for a display-list line
  long material = -1;
  int stride = 0;  // floats per display-list record; 0 for the geometry
  std::vector<Vec3> points, normals;
  std::vector<Vec2> texturePoints;
};

struct MaterialRecord {
  std::array<int, 3> color{};
  int transparency = -1;  // -1: not set
  bool cull = false;
  int sharedTexture = -1;
  int width = 0, height = 0, channels = 0;
  std::vector<int> firstPixel;  // the channels of pixel 0; empty without a texture map
};

inline MaterialRecord ReadMaterial(const int* color, int transparency, bool cull, int shared,
                                   int width, int height, int channels,
                                   const unsigned char* pixels) {
  MaterialRecord m{{color[0], color[1], color[2]}, transparency, cull, shared, width, height,
                   channels, {}};
  if (pixels) m.firstPixel.assign(pixels, pixels + channels);
  return m;
}

struct Output {
  bool present = false;
  std::vector<Part> parts;  // lines included, in delivery order
  std::vector<MaterialRecord> materials;
  std::array<double, 6> extent{};  // xMin, yMin, zMin, xMax, yMax, zMax
};

// The geometry's parts, read through its accessors. Texture points of a part run up to the
// first texture point of the next part (untextured parts advance nothing).
inline Output ReadGeometry(IGeometry* geometry) {
  Output out;
  if (!geometry) return out;
  out.present = true;
  int32_t partCount = geometry->GetPartCount();
  for (int32_t p = 0; p < partCount; ++p) {
    Part part;
    part.type = geometry->GetPartType(p);
    part.material = geometry->GetPartMaterial(p);
    int32_t first = geometry->GetPartFirstPoint(p);
    for (int32_t i = 0; i < geometry->GetPartPointCount(p); ++i) {
      WKSPointZ v;
      EXPECT_TRUE(geometry->GetPoint(first + i, &v));
      part.points.push_back({v.X, v.Y, v.Z});
      if (geometry->HasNormals() && geometry->GetNormal(first + i, &v))
        part.normals.push_back({v.X, v.Y, v.Z});
    }
    int32_t t0 = geometry->GetPartFirstTexturePoint(p);
    int32_t t1 = p + 1 < partCount ? geometry->GetPartFirstTexturePoint(p + 1)
                                   : geometry->GetTexturePointCount();
    for (int32_t t = t0; t < t1; ++t) {
      Vec2 st{};
      EXPECT_TRUE(geometry->GetTexturePoint(t, &st[0], &st[1]));
      part.texturePoints.push_back(st);
    }
    out.parts.push_back(part);
  }
  for (int32_t m = 0; m < geometry->GetMaterialCount(); ++m) {
    GeometryMaterial record;
    geometry->GetMaterial(m, &record);
    out.materials.push_back(ReadMaterial(
        record.color, record.hasTransparency ? record.transparency : -1, record.cullBackFaces,
        record.hasSharedTexture ? record.sharedTexture : -1, record.textureWidth,
        record.textureHeight, record.textureChannels, record.texturePixels));
  }
  GeometryExtent e = geometry->GetExtent();
  out.extent = {e.xMin, e.yMin, e.zMin, e.xMax, e.yMax, e.zMax};
  return out;
}

// A display-list sink that keeps every call in the shape of Output. Records hold s, t first,
// then the normal, the position last.
class RecordingSink : public DaeDisplayList {
 public:
  void SetMaterials(long count, MaterialProperties* materials) override {
    ++materialCalls;
    owned_.reset(materials);
    for (long m = 0; m < count; ++m) {
      const MaterialProperties& r = materials[m];
      output.materials.push_back(ReadMaterial(
          r.color, r.hasTransparency ? r.transparency : -1, r.cullBackFaces,
          r.hasSharedTexture ? r.sharedTexture : -1, r.textureWidth, r.textureHeight,
          r.textureChannels, r.texturePixels));
    }
  }
  void SetCurrentPart(long material, tavuPatchType type) override { Begin(material, type); }
  void SetCurrentLine(long material, bool) override { Begin(material, -1); }
  void SetPartData(long points, bool normals, bool textures, float* data) override {
    Fill(points, normals, textures, data);
  }
  void SetLineData(long points, float* data) override { Fill(points, false, false, data); }
  void SetExtent(double a, double b, double c, double d, double e, double f) override {
    ++extentCalls;
    output.present = true;
    output.extent = {a, b, c, d, e, f};
  }

  Output output;  // present once SetExtent came
  int materialCalls = 0;
  int extentCalls = 0;

 private:
  void Begin(long material, int type) {
    output.parts.emplace_back();
    output.parts.back().material = material;
    output.parts.back().type = type;
  }
  void Fill(long points, bool normals, bool textures, const float* data) {
    if (output.parts.empty()) Begin(-1, -2);  // data without a part announced first
    Part& part = output.parts.back();
    part.stride = (normals ? 6 : 3) + (textures ? 2 : 0);
    for (long i = 0; i < points; ++i) {
      const float* r = data + i * part.stride;
      if (textures) part.texturePoints.push_back({r[0], r[1]}), r += 2;
      if (normals) part.normals.push_back({r[0], r[1], r[2]}), r += 3;
      part.points.push_back({r[0], r[1], r[2]});
    }
  }
  std::unique_ptr<MaterialProperties[]> owned_;
};

template <size_t N>
void ExpectNear(const std::vector<std::array<double, N>>& actual,
                const std::vector<std::array<double, N>>& expected, double tolerance,
                const char* what) {
  ASSERT_EQ(actual.size(), expected.size()) << what;
  for (size_t i = 0; i < actual.size(); ++i)
    for (size_t k = 0; k < N; ++k)
      EXPECT_NEAR(actual[i][k], expected[i][k], tolerance) << what << " " << i << "." << k;
}

// Parts of two outputs agree: types, materials, points and texture points (display lists hold
// floats), normals when `normalsToo` (display lists normalise them).
inline void ExpectSameParts(const Output& a, const Output& b, bool normalsToo) {
  ASSERT_EQ(a.parts.size(), b.parts.size());
  for (size_t p = 0; p < a.parts.size(); ++p) {
    SCOPED_TRACE("part " + std::to_string(p));
    EXPECT_EQ(a.parts[p].type, b.parts[p].type);
    EXPECT_EQ(a.parts[p].material, b.parts[p].material);
    ExpectNear(a.parts[p].points, b.parts[p].points, 1e-5, "point");
    ExpectNear(a.parts[p].texturePoints, b.parts[p].texturePoints, 1e-6, "texture point");
    if (normalsToo) ExpectNear(a.parts[p].normals, b.parts[p].normals, 1e-6, "normal");
  }
}

// Material records of two outputs agree field by field.
inline void ExpectSameMaterials(const Output& a, const Output& b) {
  ASSERT_EQ(a.materials.size(), b.materials.size());
  for (size_t m = 0; m < a.materials.size(); ++m) {
    const MaterialRecord &x = a.materials[m], &y = b.materials[m];
    EXPECT_EQ(std::tie(x.color, x.transparency, x.cull, x.sharedTexture, x.width, x.height,
                       x.channels, x.firstPixel),
              std::tie(y.color, y.transparency, y.cull, y.sharedTexture, y.width, y.height,
                       y.channels, y.firstPixel))
        << "material " << m;
  }
}

// Both part-producing entry points on one file.
struct Outputs {
  Output geometry;
  Output display;
};

// Every diagnostic of the calls it is handed to, in order; `lines` has them as "kind-name: message",
// with " (extended)" when the extended reading would read what it is about.
struct DiagnosticLog : DiagnosticReceiver {
  struct Entry {
    DiagnosticKind kind;
    int line;
    std::string message;
    bool extendedReads;
  };
  void Report(const Diagnostic& d) override {
    heard.push_back({d.kind, d.line, d.message, d.extendedReads});
    lines.push_back(DiagnosticKindName(d.kind) + (": " + std::string(d.message)) +
                    (d.extendedReads ? " (extended)" : ""));
  }
  // The first diagnostic of `kind`, or null.
  const Entry* First(DiagnosticKind kind) const {
    for (const Entry& e : heard)
      if (e.kind == kind) return &e;
    return nullptr;
  }
  std::vector<Entry> heard;
  std::vector<std::string> lines;
};

// The geometry entry point on `path` with `options`.
inline Output RunGeometry(const std::string& path, const ImportOptions& options = {}) {
  IGeometry* geometry = nullptr;
  Varnel().CreateGeometryFromFile(String::FromUtf8(path), &geometry, options);
  Output out = ReadGeometry(geometry);
  EXPECT_EQ(geometry ? geometry->Release() : 0u, 0u);  // the caller held the only reference
  return out;
}

// Both part-producing entry points on one file, through those that take import options.
inline Outputs RunBoth(const std::string& path, const ImportOptions& options) {
  Outputs out;
  out.geometry = RunGeometry(path, options);
  RecordingSink sink;
  Varnel().CreateDisplayListFromFile(String::FromUtf8(path), &sink, options);
  out.display = sink.output;
  return out;
}

// Default options: what the plain entry points do.
inline Outputs RunBoth(const std::string& path) { return RunBoth(path, ImportOptions{}); }

// Both entry points on `text`, written under a fresh name. The two outputs must agree part for
// part; normals too unless the geometry holds them unnormalised.
inline Outputs RunAgreeing(const std::string& text, bool normalsToo = true) {
  static int serial = 0;
  Outputs out = RunBoth(testsupport::WriteFile("run/" + std::to_string(++serial) + ".dae", text));
  ExpectSameParts(out.geometry, out.display, normalsToo);
  return out;
}

// The bytes of the data buffer made from `path`; empty when nothing was produced.
inline std::string DataBuffer(const std::string& path, const ImportOptions& options = {}) {
  int32_t size = 0;
  unsigned char* bytes = nullptr;
  Varnel().CreateDataBufferFromFile(String::FromUtf8(path), size, bytes, options);
  std::string copy(reinterpret_cast<char*>(bytes), size_t(size));
  ::operator delete(bytes);
  return copy;
}

// A new host multipatch geometry with `size` bytes at `buffer` imported as the geometry entry
// point imports its buffer; `result` receives the import's answer. Null without the class.
inline IGeometry* ImportBuffer(int32_t size, unsigned char* buffer, HRESULT* result = nullptr) {
  void* created = nullptr;
  if (HalvexCreateInstance(CLSID_MultipatchGeometry, nullptr, CLSCTX_ALL, IID_IGeometry, &created) < 0)
    return nullptr;
  auto* geometry = static_cast<IGeometry*>(created);
  void* import = nullptr;
  HRESULT answer = geometry->QueryInterface(IID_IShapeImport, &import);
  if (answer >= 0) {
    int32_t read = 0;
    answer = static_cast<IShapeImport*>(import)->ImportFromShapeBuffer(kShapeImportExtended, size,
                                                                       buffer, &read);
    static_cast<IShapeImport*>(import)->Release();
  }
  if (result) *result = answer;
  return geometry;
}

}  // namespace pipelinetest
