#include "output/DisplayListManager.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <memory>
#include <vector>

#include <varnel/MaterialProperties.h>
#include <varnel/DaeDisplayList.h>

namespace {

using varnel::DisplayListManager;

// Keeps a copy of every part and line it is handed (pointCount x stride floats).
struct RecordingDisplayList : varnel::DaeDisplayList {
  void SetMaterials(long count, varnel::MaterialProperties* array) override {
    materialCounts.push_back(count);
    materials.reset(array);
  }
  void SetCurrentPart(long material, varnel::tavuPatchType) override { kinds.push_back(material); }
  void SetCurrentLine(long material, bool) override { kinds.push_back(material - 100); }
  void SetPartData(long n, bool normals, bool textures, float* data) override {
    Keep(n * ((normals ? 6 : 3) + (textures ? 2 : 0)), data);
  }
  void SetLineData(long n, float* data) override { Keep(n * 3, data); }
  void Keep(long floats, const float* data) {
    arrays.push_back(data);
    parts.emplace_back(data, data + floats);
  }
  std::vector<long> materialCounts, kinds;
  std::unique_ptr<varnel::MaterialProperties[]> materials;
  std::vector<const float*> arrays;
  std::vector<std::vector<float>> parts;
};

// Delivers n copies of one vertex as a part, the way the geometry instantiation does.
void FeedPart(DisplayListManager& m, int n, const double* p, bool normals, bool textures) {
  const double normal[3] = {0, 0, 2}, st[2] = {0.25, 0.75};
  m.StartPart(6);
  m.SetPartFormat(n, normals, textures);
  for (int i = 0; i < n; ++i, ++m.pointIndex) {
    m.StartPoint();
    m.SetPoint(p);
    if (normals) m.SetNormal(normal);
    if (textures) m.SetTexturePoint(st);
    m.EndPoint();
  }
  m.EndPart();
}

TEST(DisplayListManager, RecordLayoutsUnitNormalsAndArrayReuse) {
  RecordingDisplayList sink;
  DisplayListManager m(&sink);
  ASSERT_TRUE(m.StartCreation());
  const double a[3] = {1, 2, 3}, b[3] = {5, 6, 7};
  FeedPart(m, 2, a, true, true);
  FeedPart(m, 2, a, true, false);
  FeedPart(m, 2, b, false, true);
  FeedPart(m, 1, b, false, false);
  m.StartLine(1, false);
  m.SetPoint(a);
  m.EndPoint();
  m.EndLine();

  EXPECT_EQ(sink.materialCounts, std::vector<long>{0});
  EXPECT_EQ(sink.kinds, (std::vector<long>{-1, -1, -1, -1, -101}));
  EXPECT_EQ(sink.parts, (std::vector<std::vector<float>>{
                            {.25f, .75f, 0, 0, 1, 1, 2, 3, .25f, .75f, 0, 0, 1, 1, 2, 3},
                            {0, 0, 1, 1, 2, 3, 0, 0, 1, 1, 2, 3},
                            {.25f, .75f, 5, 6, 7, .25f, .75f, 5, 6, 7},
                            {5, 6, 7},
                            {1, 2, 3}}));
  // Smaller parts and lines reuse the first array.
  EXPECT_EQ(sink.arrays, std::vector<const float*>(5, sink.arrays[0]));
}

TEST(DisplayListManager, NoSinkRefusesButStillResetsTheExtent) {
  DisplayListManager m(nullptr);
  EXPECT_FALSE(m.StartCreation());
  EXPECT_EQ(m.extent.xMin, DBL_MAX);
  EXPECT_EQ(m.extent.zMax, -DBL_MAX);
}

}  // namespace
