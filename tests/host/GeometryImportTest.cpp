// The host geometry imports buffers a caller may have kept, cut or damaged: whatever it is
// handed, it refuses or answers every query within its bytes (the sanitizer build watches).
#include <gtest/gtest.h>

#include <vector>

#include "support/Outputs.h"

namespace pipelinetest {
namespace {

using Bytes = std::vector<unsigned char>;

volatile unsigned char sink;

// Reads every answer the geometry gives, texture pixels included.
void TouchEverything(IGeometry* g) {
  ReadGeometry(g);
  GeometryMaterial m;
  for (int32_t i = 0; i < g->GetPartCount(); ++i)
    EXPECT_LE(g->GetPartFirstPoint(i) + g->GetPartPointCount(i), g->GetPointCount());
  for (int32_t i = 0; g->GetMaterial(i, &m); ++i)
    for (size_t k = 0; m.texturePixels && k < size_t(m.textureWidth) * m.textureHeight * m.textureChannels; ++k)
      sink = m.texturePixels[k];
}

TEST(GeometryImport, CutOrFlippedBuffersNeverLeadOutOfBounds) {
  // The demo house: triangles and rings, normals, texture points, several materials, a texture.
  const std::string house = DataBuffer(std::string(VARNEL_TEST_DATA) + "/demo/house.dae");
  const Bytes good(house.begin(), house.end());
  ASSERT_GT(good.size(), 300u);
  for (size_t length = 0; length < good.size(); ++length) {
    Bytes cut(good.begin(), good.begin() + long(length));
    HRESULT result = S_OK;
    IGeometry* g = ImportBuffer(int32_t(length), cut.data(), &result);
    ASSERT_NE(g, nullptr);
    EXPECT_EQ(result, GEOMETRY_E_BADBUFFER) << length;
    EXPECT_TRUE(g->IsEmpty() && g->GetPartCount() == 0 && g->GetMaterialCount() == 0) << length;
    g->Release();
  }
  int accepted = 0;
  for (size_t at = 0; at < good.size(); ++at) {
    for (unsigned char mask : {0x01, 0x80, 0xFF}) {
      Bytes bad = good;
      bad[at] ^= mask;
      HRESULT result = S_OK;
      IGeometry* g = ImportBuffer(int32_t(bad.size()), bad.data(), &result);
      ASSERT_NE(g, nullptr);
      if (result == S_OK) TouchEverything(g), ++accepted;  // a coordinate or colour changed
      g->Release();
    }
  }
  EXPECT_GT(accepted, 0);
}

}  // namespace
}  // namespace pipelinetest
