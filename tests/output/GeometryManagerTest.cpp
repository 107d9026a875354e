#include "output/GeometryManager.h"

#include <gtest/gtest.h>

#include <vector>

#include <varnel/MaterialProperties.h>

namespace {

// One triangle written through the manager (Y-up, scale 2) must give the same bytes as the
// writer called directly with the arguments the manager is meant to pass.
void ExpectTriangleBuffer(int texturePoints, int expectedDimension) {
  varnel::GeometryManager m;
  m.swapYZ = true;
  m.unitScale = 2.0;
  m.partCount = 1;
  m.pointCount = m.normalCount = 3;
  m.texturePointCount = texturePoints;
  ASSERT_TRUE(m.StartCreation());
  const double points[3][3] = {{1, 2, 3}, {4, 5, 6}, {7, 8, 9}}, normal[3] = {0, 1, 0};
  m.StartPart(6);
  for (const auto& p : points) {
    m.SetPoint(p);
    m.SetNormal(normal);
    ++m.pointIndex;
  }

  varnel::MultiPatchBuffMgr direct;
  unsigned char* buffer = nullptr;
  varnel::MaterialProperties none[1];
  const int size = direct.Init(1, 3, false, false, true, expectedDimension, texturePoints, 0,
                               none, buffer);
  direct.SetPartType(0, 6);
  direct.SetMaterialType(0, -1);
  direct.SetPointIndex(0, 0);
  direct.SetTexturePointIndex(0, 0);
  for (int i = 0; i < 3; ++i) {
    direct.SetPoint(i, 2 * points[i][0], -2 * points[i][2], 2 * points[i][1]);
    direct.SetNormal(i, 0, -0.0, 1);  // the swapped zero z keeps its sign
  }
  ASSERT_GT(size, 0);
  EXPECT_EQ(std::vector<unsigned char>(m.buffer, m.buffer + m.bufferSize),
            std::vector<unsigned char>(buffer, buffer + size))
      << texturePoints << " texture points";
  ::operator delete(buffer);
  EXPECT_EQ(m.extent.xMin, 2);
  EXPECT_EQ(m.extent.yMin, -18);
  EXPECT_EQ(m.extent.zMax, 16);
}

TEST(GeometryManager, InitArgumentsAndPointsMatchDirectWriterCalls) {
  ExpectTriangleBuffer(0, 0);
  ExpectTriangleBuffer(2, 0);  // two texture points are too few for a dimension
  ExpectTriangleBuffer(3, 2);
}

}  // namespace
