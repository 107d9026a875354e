#include "output/GeometryManager.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "host/MaterialProperties.h"

using varnel::GeometryManager;
using varnel::MultiPatchBuffMgr;

namespace {

// One triangle part at (1,2,3), (4,5,6), (7,8,9), written through the manager with swapYZ and
// scale 2, and the expected buffer written directly with the arguments the manager must use.
struct Written {
  std::vector<unsigned char> actual, expected;
};

Written WriteTriangle(int texturePoints, int expectedDimension, int expectedTexturePoints) {
  GeometryManager m;
  m.swapYZ = true;
  m.unitScale = 2.0;
  m.partCount = 1;
  m.pointCount = 3;
  m.normalCount = 3;
  m.texturePointCount = texturePoints;
  m.primitiveEffects.Add(-1);
  EXPECT_TRUE(m.StartCreation());
  const double points[3][3] = {{1, 2, 3}, {4, 5, 6}, {7, 8, 9}};
  const double normal[3] = {0, 1, 0};
  m.StartPart(6);
  m.SetPartFormat(3, true, false);
  for (const auto& p : points) {
    m.StartPoint();
    m.SetPoint(p);
    m.SetNormal(normal);
    m.EndPoint();
    ++m.pointIndex;
  }
  m.EndPart();

  MultiPatchBuffMgr direct;
  unsigned char* buffer = nullptr;
  varnel::MaterialProperties none[1];
  const int size = direct.Init(1, 3, false, false, true, expectedDimension, expectedTexturePoints,
                               0, none, buffer);
  direct.SetPartType(0, 6);
  direct.SetMaterialType(0, -1);
  direct.SetPointIndex(0, 0);
  direct.SetTexturePointIndex(0, 0);
  for (int i = 0; i < 3; ++i) {
    direct.SetPoint(i, 2 * points[i][0], -2 * points[i][2], 2 * points[i][1]);
    direct.SetNormal(i, 0, -0.0, 1);  // -z of a zero z
  }
  Written w;
  w.actual.assign(m.buffer, m.buffer + m.bufferSize);
  if (buffer) w.expected.assign(buffer, buffer + size);
  ::operator delete(buffer);

  EXPECT_EQ(m.extent.xMin, 2);
  EXPECT_EQ(m.extent.xMax, 14);
  EXPECT_EQ(m.extent.yMin, -18);
  EXPECT_EQ(m.extent.yMax, -6);
  EXPECT_EQ(m.extent.zMin, 4);
  EXPECT_EQ(m.extent.zMax, 16);
  return w;
}

TEST(GeometryManager, BufferMatchesDirectWriterCalls) {
  // No texture coordinates at all, and too few to count: dimension 0 either way.
  for (int texturePoints : {0, 2}) {
    Written w = WriteTriangle(texturePoints, 0, texturePoints);
    EXPECT_FALSE(w.actual.empty());
    EXPECT_EQ(w.actual, w.expected) << texturePoints << " texture points";
  }
  Written textured = WriteTriangle(3, 2, 3);
  EXPECT_EQ(textured.actual, textured.expected);
}

}  // namespace
