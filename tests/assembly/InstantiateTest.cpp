#include <gtest/gtest.h>

#include <cmath>

#include "assembly/SceneBuilder.h"

namespace assemblytest {
namespace {

std::vector<double> Xs(const std::vector<Vec3>& points) {
  std::vector<double> xs;
  for (const Vec3& p : points) xs.push_back(p[0]);
  return xs;
}

void ExpectVec(const Vec3& actual, double x, double y, double z) {
  EXPECT_NEAR(actual[0], x, 1e-12);
  EXPECT_NEAR(actual[1], y, 1e-12);
  EXPECT_NEAR(actual[2], z, 1e-12);
}

// Positions (i, 0, 0) for i = 0 .. n - 1.
MeshTag* Row(SceneBuilder& b, int n) {
  MeshTag* mesh = b.AddGeometry(L"g", {});
  FloatArray* values = mesh->sources[0]->floatArray;
  for (int i = 0; i < n; ++i)
    for (float v : {static_cast<float>(i), 0.0f, 0.0f}) values->values.Add(v);
  mesh->sources[0]->techniqueCommon->accessor->count = n;
  return mesh;
}

TEST(Instantiate, TrianglesArriveLastVertexFirst) {
  SceneBuilder b;
  b.AddPrimitive(Row(b, 6), kTriangles, 2, {0, 1, 2, 3, 4, 5});
  b.AddNode({L"g"});
  b.Run();
  EXPECT_EQ(b.manager.pointCount, 6);
  ASSERT_EQ(b.manager.parts.size(), 1u);
  EXPECT_EQ(b.manager.parts[0].type, 6);
  EXPECT_EQ(b.manager.parts[0].format, 6);
  EXPECT_EQ(Xs(b.manager.parts[0].points), (std::vector<double>{5, 4, 3, 2, 1, 0}));
  EXPECT_EQ(b.manager.pointIndex, 6);
}

TEST(Instantiate, PolylistClosesRingsAndSkipsShortPolygons) {
  SceneBuilder b;
  PrimitiveTag* polylist = b.AddPrimitive(Row(b, 12), kPolylist, 4, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11});
  for (int s : {4, 3, 2, 3}) polylist->vcounts.Add(s);
  b.AddNode({L"g"});
  b.Run();
  EXPECT_EQ(b.manager.partCount, 3);
  EXPECT_EQ(b.manager.pointCount, 11);
  ASSERT_EQ(b.manager.parts.size(), 3u);
  EXPECT_EQ(b.manager.parts[0].type, 2);
  EXPECT_EQ(b.manager.parts[0].format, 5);
  EXPECT_EQ(Xs(b.manager.parts[0].points), (std::vector<double>{3, 2, 1, 0, 3}));
  EXPECT_EQ(b.manager.parts[1].type, 6);
  EXPECT_EQ(Xs(b.manager.parts[1].points), (std::vector<double>{6, 5, 4}));
  // The two-vertex polygon is passed over but its vertices are used up.
  EXPECT_EQ(Xs(b.manager.parts[2].points), (std::vector<double>{11, 10, 9}));
}

TEST(Instantiate, NormalsOnlyWhenEveryPointHasOne) {
  SceneBuilder b;
  MeshTag* mesh = Row(b, 3);
  SceneBuilder::AddSource(mesh, L"n", {1, 1, 0}, 3);
  b.AddPrimitive(mesh, kTriangles, 1, {0, 0, 1, 0, 2, 0})->inputs.Add(SceneBuilder::Input(L"NORMAL", L"n", 1));
  b.AddNode({L"g"});
  SceneBuilder::AddTransform(b.AddNode({L"g"}), kScale, 2, 1, 1);
  b.Run();
  ASSERT_EQ(b.manager.parts.size(), 2u);
  ASSERT_EQ(b.manager.parts[0].normals.size(), 3u);
  ExpectVec(b.manager.parts[0].normals[0], 1, 1, 0);  // outside transforms: not normalised
  ExpectVec(b.manager.parts[1].normals[0], 2 / std::sqrt(5.0), 1 / std::sqrt(5.0), 0);

  // A primitive without normals turns them off for the whole document.
  b.AddPrimitive(mesh, kTriangles, 1, {0, 1, 2});
  b.manager.parts.clear();
  b.Run();
  EXPECT_EQ(b.manager.normalCount, 6);
  ASSERT_EQ(b.manager.parts.size(), 4u);
  EXPECT_TRUE(b.manager.parts[0].normals.empty());
}

TEST(Instantiate, LinesOnlyWhenEnabled) {
  SceneBuilder b;
  MeshTag* mesh = Row(b, 3);
  b.AddPrimitive(mesh, kTriangles, 1, {0, 1, 2});
  b.AddPrimitive(mesh, kLines, 1, {0, 2, 1});  // three tuples: one more than the count says
  b.AddNode({L"g"});
  b.Run(true);
  EXPECT_EQ(b.manager.primitiveEffects.count, 2);
  ASSERT_EQ(b.manager.lines.size(), 1u);
  EXPECT_EQ(b.manager.lineSizes[0], 3);
  EXPECT_EQ(Xs(b.manager.lines[0]), (std::vector<double>{1, 2, 0}));
  EXPECT_EQ(b.manager.pointIndex, 3);  // line points do not advance it

  b.manager.lines.clear();
  b.Run(false);
  EXPECT_EQ(b.manager.primitiveEffects.count, 1);
  EXPECT_TRUE(b.manager.lines.empty());
}

// Collector state bound by hand, for the per-vertex reads.
struct BoundData {
  BaseArray<float> values;
  BaseArray<int32_t> indices;
  SceneCollector c;

  BoundData(std::initializer_list<float> floats, std::initializer_list<int> index) {
    for (float v : floats) values.Add(v);
    for (int i : index) indices.Add(i);
    c.indices.AttachTo(indices);
    c.tupleSize = 1;
  }
  Vec3 Point(int v) {
    Vec3 p;
    c.FetchPoint(v, p.data());
    return p;
  }
  Vec3 Normal(int v) {
    Vec3 n;
    c.FetchNormal(v, n.data());
    return n;
  }
  std::array<double, 2> TexturePoint(int v) {
    std::array<double, 2> st;
    c.FetchTexturePoint(v, st.data());
    return st;
  }
};

TEST(Instantiate, ZeroNormalTakesPreviousElementOrUp) {
  BoundData d({0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0}, {0, 5, 3, 9});
  d.c.normals.AttachTo(d.values);
  d.c.normalCount = 6;
  d.c.normalStride = 3;
  ExpectVec(d.Normal(0), 0, 0, 1);
  ExpectVec(d.Normal(1), 1, 0, 0);
  ExpectVec(d.Normal(2), 0, 0, 1);  // element 2 is zero as well
  ExpectVec(d.Normal(3), 1, 0, 0);  // beyond the count: the last element, which is zero

  d.c.depth = 1;  // a transform that flattens the normal leaves it untransformed
  for (double& m : d.c.currentMatrix) m = 0;
  ExpectVec(d.Normal(1), 1, 0, 0);
}

TEST(Instantiate, PointDividesByElement15AndTextureFlipsT) {
  BoundData d({1, 2, 3, 0.25f, 0.75f}, {0});
  d.c.positions.AttachTo(d.values);
  d.c.positionCount = 1;
  d.c.positionStride = 3;
  d.c.depth = 1;
  d.c.currentMatrix[12] = 4;
  d.c.currentMatrix[15] = 2;
  ExpectVec(d.Point(0), 2.5, 1, 1.5);

  d.c.texcoords.AttachTo(d.values);
  d.c.texcoordOffset = 3, d.c.texcoordCount = 1, d.c.texcoordStride = 2;
  EXPECT_EQ(d.TexturePoint(0), (std::array<double, 2>{0.25, 0.25}));
}

TEST(Instantiate, ReadsOutsideTheDataAreClamped) {
  // Two whole elements and a stray value; the accessor claims three.
  BoundData d({1, 2, 3, 4, 5, 6, 7}, {2, -4, 99});
  d.c.positions.AttachTo(d.values);
  d.c.positionCount = 3;
  d.c.positionStride = 3;
  ExpectVec(d.Point(0), 7, 0, 0);  // element 2: only its first value exists
  ExpectVec(d.Point(1), 1, 2, 3);  // negative index: element 0
  ExpectVec(d.Point(2), 7, 0, 0);  // beyond the count: the last element
  ExpectVec(d.Point(7), 1, 2, 3);  // no such tuple: index 0
  d.c.positionIndexOffset = -5;
  ExpectVec(d.Point(1), 1, 2, 3);
  d.c.positionOffset = -2;
  d.c.positionIndexOffset = 0;
  ExpectVec(d.Point(1), 0, 0, 1);

  BoundData empty({}, {});
  ExpectVec(empty.Point(3), 0, 0, 0);
  ExpectVec(empty.Normal(3), 0, 0, 1);
  d.c.texcoords.AttachTo(d.values);  // stride 1, no tuple width
  d.c.texcoordCount = 7, d.c.texcoordStride = 1, d.c.tupleSize = 0;
  EXPECT_EQ(d.TexturePoint(0), (std::array<double, 2>{3, 1 - 4}));  // index 2
  d.c.texcoordIndexOffset = 2;  // index 99 -> element 6, whose t lies beyond the array
  EXPECT_EQ(d.TexturePoint(0), (std::array<double, 2>{7, 1}));
}

TEST(Instantiate, IncompleteTuplesAreNotEmitted) {
  SceneBuilder b;
  MeshTag* mesh = Row(b, 5);
  b.AddPrimitive(mesh, kTriangles, 5, {0, 1, 2, 3});  // one whole triangle
  PrimitiveTag* polylist = b.AddPrimitive(mesh, kPolylist, 4, {0, 1, 2, 3, 4});
  // A ring, a size that walks back before the first vertex, then a huge polygon.
  for (int s : {4, -10, 3, 2000000000}) polylist->vcounts.Add(s);
  b.AddNode({L"g"});
  b.Run();
  EXPECT_EQ(b.manager.partCount, 2);
  EXPECT_EQ(b.manager.pointCount, 8);
  ASSERT_EQ(b.manager.parts.size(), 2u);
  EXPECT_EQ(Xs(b.manager.parts[0].points), (std::vector<double>{2, 1, 0}));
  EXPECT_EQ(Xs(b.manager.parts[1].points), (std::vector<double>{3, 2, 1, 0, 3}));
}

}  // namespace
}  // namespace assemblytest
