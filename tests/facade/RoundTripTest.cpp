// Textured corpus models through all three entry points: the handed-out buffer imported into a
// fresh geometry, the geometry built directly and the display-list stream describe one model.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>

#include "support/Outputs.h"

namespace pipelinetest {
namespace {

IGeometry* ImportBuffer(int32_t size, unsigned char* buffer) {
  IUnknown* unknown = nullptr;
  if (HalvexCreateInstance(CLSID_MultipatchGeometry, nullptr, CLSCTX_ALL, IID_IUnknown,
                           reinterpret_cast<void**>(&unknown)) < 0)
    return nullptr;
  void* geometry = nullptr;
  void* import = nullptr;
  unknown->QueryInterface(IID_IGeometry, &geometry);
  unknown->QueryInterface(IID_IShapeImport, &import);
  unknown->Release();
  int32_t read = 0;
  EXPECT_GE(static_cast<IShapeImport*>(import)->ImportFromShapeBuffer(kShapeImportExtended, size,
                                                                        buffer, &read),
            0);
  EXPECT_EQ(read, size);
  static_cast<IShapeImport*>(import)->Release();
  return static_cast<IGeometry*>(geometry);
}

void ExpectSameMaterials(const Output& a, const Output& b) {
  ASSERT_EQ(a.materials.size(), b.materials.size());
  for (size_t m = 0; m < a.materials.size(); ++m) {
    SCOPED_TRACE("material " + std::to_string(m));
    EXPECT_EQ(a.materials[m].color, b.materials[m].color);
    EXPECT_EQ(a.materials[m].transparency, b.materials[m].transparency);
    EXPECT_EQ(a.materials[m].cull, b.materials[m].cull);
    EXPECT_EQ(a.materials[m].sharedTexture, b.materials[m].sharedTexture);
    EXPECT_EQ(a.materials[m].width, b.materials[m].width);
    EXPECT_EQ(a.materials[m].height, b.materials[m].height);
    EXPECT_EQ(a.materials[m].channels, b.materials[m].channels);
    EXPECT_EQ(a.materials[m].firstPixel, b.materials[m].firstPixel);
  }
}

void ExpectRoundTrip(const std::string& file) {
  SCOPED_TRACE(file);
  String path = String::FromUtf8(file);

  int32_t size = 0;
  unsigned char* buffer = nullptr;
  Varnel().CreateDataBufferFromFile(path, size, buffer);
  ASSERT_GT(size, 0);
  IGeometry* imported = ImportBuffer(size, buffer);
  ::operator delete(buffer);
  ASSERT_NE(imported, nullptr);
  Output fromBuffer = ReadGeometry(imported);
  // Pixels are compared whole while both geometries still hold them.
  IGeometry* built = nullptr;
  Varnel().CreateGeometryFromFile(path, &built);
  ASSERT_NE(built, nullptr);
  Output direct = ReadGeometry(built);
  ASSERT_GT(direct.materials.size(), 0u);
  for (int32_t m = 0; m < built->GetMaterialCount(); ++m) {
    GeometryMaterial a, b;
    built->GetMaterial(m, &a);
    imported->GetMaterial(m, &b);
    size_t bytes = static_cast<size_t>(a.textureWidth) * a.textureHeight * a.textureChannels;
    ASSERT_EQ(a.textureWidth * a.textureHeight, b.textureWidth * b.textureHeight);
    EXPECT_TRUE(bytes == 0 ||
                std::equal(a.texturePixels, a.texturePixels + bytes, b.texturePixels));
  }
  EXPECT_EQ(imported->GetBufferSize(), built->GetBufferSize());
  EXPECT_EQ(imported->GetTextureDimension(), 2);
  imported->Release();
  built->Release();

  RecordingSink sink;
  Varnel().CreateDisplayListFromFile(path, &sink);
  const Output& display = sink.output;

  // The buffer and the direct geometry agree exactly, apart from the extent the buffer lacks.
  ASSERT_GT(direct.parts.size(), 0u);
  ASSERT_EQ(fromBuffer.parts.size(), direct.parts.size());
  for (size_t p = 0; p < direct.parts.size(); ++p) {
    EXPECT_EQ(fromBuffer.parts[p].type, direct.parts[p].type);
    EXPECT_EQ(fromBuffer.parts[p].material, direct.parts[p].material);
    EXPECT_EQ(fromBuffer.parts[p].points, direct.parts[p].points);
    EXPECT_EQ(fromBuffer.parts[p].normals, direct.parts[p].normals);
    EXPECT_EQ(fromBuffer.parts[p].texturePoints, direct.parts[p].texturePoints);
    EXPECT_FALSE(direct.parts[p].texturePoints.empty());
  }
  ExpectSameMaterials(fromBuffer, direct);
  EXPECT_EQ(fromBuffer.extent, (std::array<double, 6>{}));
  EXPECT_LT(direct.extent[0], direct.extent[3]);

  // The display list holds floats and unit normals.
  ExpectSameParts(direct, display, false);
  ExpectSameMaterials(direct, display);
  for (int k = 0; k < 6; ++k) EXPECT_DOUBLE_EQ(display.extent[k], direct.extent[k]);
  for (size_t p = 0; p < direct.parts.size(); ++p) {
    std::vector<Vec3> unit = direct.parts[p].normals;
    for (Vec3& n : unit) {
      double length = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
      for (double& c : n) c /= length;
    }
    ExpectNear(display.parts[p].normals, unit, 1e-6, "unit normal");
  }
}

// The duck as triangles and as polygons (rings through the buffer too).
TEST(RoundTrip, TexturedBuffersImportAsTheGeometryAndTheDisplayList) {
  int checked = 0;
  for (const char* name : {"assimp/duck.dae", "pycollada/duck_polylist.dae"}) {
    std::string file = testsupport::CorpusDir() + "/" + name;
    if (testsupport::CorpusDir().empty() || !std::filesystem::exists(file)) continue;
    ExpectRoundTrip(file);
    ++checked;
  }
  if (checked == 0) GTEST_SKIP() << "corpus absent";
}

}  // namespace
}  // namespace pipelinetest
