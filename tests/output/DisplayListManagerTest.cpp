#include "output/DisplayListManager.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <vector>

#include "output/RecordingDisplayList.h"

using testsupport::RecordingDisplayList;
using varnel::DisplayListManager;

namespace {

struct Vertex {
  double p[3];
  double n[3];
  double st[2];
};

// Delivers one part the way the geometry instantiation does.
void FeedPart(DisplayListManager& m, int type, const std::vector<Vertex>& vertices, bool normals,
              bool textures) {
  m.StartPart(type);
  m.SetPartFormat(static_cast<int>(vertices.size()), normals, textures);
  for (const Vertex& v : vertices) {
    m.StartPoint();
    m.SetPoint(v.p);
    if (normals) m.SetNormal(v.n);
    if (textures) {
      m.SetTexturePoint(v.st);
      ++m.texturePointIndex;
    }
    m.EndPoint();
    ++m.pointIndex;
  }
  m.EndPart();
  ++m.partIndex;
}

TEST(DisplayListManager, RecordLayoutsPutTexturesFirstAndPositionLast) {
  RecordingDisplayList sink;
  DisplayListManager m(&sink);
  ASSERT_TRUE(m.StartCreation());
  EXPECT_EQ(sink.materialCalls, 1);
  EXPECT_EQ(sink.materialCount, 0);

  const Vertex v{{1, 2, 3}, {0, 0, 2}, {0.25, 0.75}};
  FeedPart(m, 6, {v, v, v}, false, false);
  FeedPart(m, 6, {v, v, v}, false, true);
  FeedPart(m, 6, {v, v, v}, true, false);
  FeedPart(m, 6, {v, v, v}, true, true);

  const std::vector<std::vector<float>> records = {
      {1, 2, 3}, {0.25f, 0.75f, 1, 2, 3}, {0, 0, 1, 1, 2, 3}, {0.25f, 0.75f, 0, 0, 1, 1, 2, 3}};
  ASSERT_EQ(sink.parts.size(), 4u);
  for (size_t i = 0; i < 4; ++i) {
    const auto& part = sink.parts[i];
    EXPECT_EQ(part.material, -1);
    EXPECT_EQ(part.type, 6);
    EXPECT_EQ(part.points, 3);
    std::vector<float> expected;
    for (int k = 0; k < 3; ++k) expected.insert(expected.end(), records[i].begin(), records[i].end());
    EXPECT_EQ(part.floats, expected) << "part " << i;
  }
  EXPECT_EQ(sink.materialCalls, 1);
}

TEST(DisplayListManager, ConvertsToZUpAndNormalisesNormals) {
  RecordingDisplayList sink;
  DisplayListManager m(&sink);
  m.swapYZ = true;
  m.unitScale = 2.0;
  ASSERT_TRUE(m.StartCreation());
  // No point yet: the box is inverted so that the first point sets every bound.
  EXPECT_EQ(m.extent.xMin, DBL_MAX);
  EXPECT_EQ(m.extent.zMin, DBL_MAX);
  EXPECT_EQ(m.extent.yMax, -DBL_MAX);

  FeedPart(m, 6, {{{1, 2, 3}, {0, 1, 0}, {}}, {{-1, 0, 0}, {0, 3, 4}, {}}, {{0, 0, 0}, {0, 0, 0}, {}}},
           true, false);
  const auto& f = sink.parts.at(0).floats;
  EXPECT_EQ(std::vector<float>(f.begin(), f.begin() + 6), (std::vector<float>{0, 0, 1, 2, -6, 4}));
  EXPECT_FLOAT_EQ(f[6], 0.0f);
  EXPECT_FLOAT_EQ(f[7], -0.8f);
  EXPECT_FLOAT_EQ(f[8], 0.6f);
  EXPECT_FLOAT_EQ(std::hypot(f[6], f[7], f[8]), 1.0f);
  EXPECT_EQ(m.extent.xMin, -2);
  EXPECT_EQ(m.extent.xMax, 2);
  EXPECT_EQ(m.extent.yMin, -6);
  EXPECT_EQ(m.extent.yMax, 0);
  EXPECT_EQ(m.extent.zMin, 0);
  EXPECT_EQ(m.extent.zMax, 4);
}

TEST(DisplayListManager, SmallerPartsAndLinesReuseTheArray) {
  RecordingDisplayList sink;
  DisplayListManager m(&sink);
  ASSERT_TRUE(m.StartCreation());
  m.primitiveEffects.Add(-1);
  const Vertex a{{1, 1, 1}, {1, 0, 0}, {1, 1}};
  const Vertex b{{5, 6, 7}, {1, 0, 0}, {0, 0}};
  FeedPart(m, 2, {a, a, a, a, a, a}, true, true);
  const float* first = m.floats;
  EXPECT_EQ(m.floatCapacity, 48);

  FeedPart(m, 6, {b, b, b}, false, false);
  EXPECT_EQ(m.floats, first);
  EXPECT_EQ(m.floatCapacity, 48);
  EXPECT_EQ(sink.parts[1].floats, (std::vector<float>{5, 6, 7, 5, 6, 7, 5, 6, 7}));
  // Beyond the part the old records are still there; only pointCount x stride floats count.
  EXPECT_EQ(first[9], 1.0f);

  m.StartLine(2, false);
  for (const Vertex& v : {a, b}) {
    m.StartPoint();
    m.SetPoint(v.p);
    m.EndPoint();
  }
  m.EndLine();
  EXPECT_EQ(m.floats, first);
  EXPECT_EQ(sink.parts[2].type, -1);
  EXPECT_EQ(sink.parts[2].floats, (std::vector<float>{1, 1, 1, 5, 6, 7}));
}

TEST(DisplayListManager, NoSinkRefusesCreation) {
  DisplayListManager m(nullptr);
  EXPECT_FALSE(m.StartCreation());
  EXPECT_EQ(m.pass, 2);
}

}  // namespace
