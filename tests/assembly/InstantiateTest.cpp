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

TEST(Instantiate, TrianglesArriveLastVertexFirst) {
  SceneBuilder b;
  MeshTag* mesh = b.AddGeometry(L"g", {0, 0, 0, 1, 0, 0, 2, 0, 0, 3, 0, 0, 4, 0, 0, 5, 0, 0});
  b.AddPrimitive(mesh, kTriangles, 2, {0, 1, 2, 3, 4, 5});
  b.Instance(b.AddNode(), L"g");
  b.Run();

  ASSERT_EQ(b.collector.manager, &b.manager);
  EXPECT_EQ(b.manager.partCount, 1);
  EXPECT_EQ(b.manager.pointCount, 6);
  ASSERT_EQ(b.manager.parts.size(), 1u);
  const RecordedPart& part = b.manager.parts[0];
  EXPECT_EQ(part.type, 6);
  EXPECT_EQ(part.format, 6);
  EXPECT_FALSE(part.hasNormals);
  EXPECT_EQ(Xs(part.points), (std::vector<double>{5, 4, 3, 2, 1, 0}));
  EXPECT_EQ(b.manager.pointIndex, 6);
  EXPECT_EQ(b.manager.partIndex, 1);
  EXPECT_EQ(b.manager.pointsStarted, 6);
  EXPECT_EQ(b.manager.pointsEnded, 6);
}

TEST(Instantiate, PolylistClosesRingsAndSkipsShortPolygons) {
  SceneBuilder b;
  MeshTag* mesh = b.AddGeometry(L"g", {0, 0, 0, 1, 0, 0, 2, 0, 0, 3, 0, 0, 4, 0, 0, 5, 0, 0,
                                       6, 0, 0, 7, 0, 0, 8, 0, 0, 9, 0, 0, 10, 0, 0, 11, 0, 0});
  PrimitiveTag* polylist =
      b.AddPrimitive(mesh, kPolylist, 4, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11});
  for (int s : {4, 3, 2, 3}) polylist->vcounts.Add(s);
  b.Instance(b.AddNode(), L"g");
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
  MeshTag* mesh = b.AddGeometry(L"g", {0, 0, 0, 1, 0, 0, 0, 1, 0});
  SceneBuilder::AddSource(mesh, L"n", {1, 1, 0}, 3);
  PrimitiveTag* withNormals = b.AddPrimitive(mesh, kTriangles, 1, {0, 0, 1, 0, 2, 0});
  withNormals->inputs.Add(SceneBuilder::Input(L"NORMAL", L"n", 1));
  NodeTag* plain = b.AddNode();
  b.Instance(plain, L"g");
  NodeTag* scaled = b.AddNode();
  SceneBuilder::AddTransform<ScaleTag>(scaled, kScale, 2, 1, 1);
  b.Instance(scaled, L"g");
  b.Run();

  ASSERT_EQ(b.manager.parts.size(), 2u);
  ASSERT_EQ(b.manager.parts[0].normals.size(), 3u);
  ExpectVec(b.manager.parts[0].normals[0], 1, 1, 0);  // outside transforms: not normalised
  const double length = std::sqrt(5.0);
  ExpectVec(b.manager.parts[1].normals[0], 2 / length, 1 / length, 0);

  // A second primitive without normals turns them off for the whole document.
  SceneBuilder mixed;
  MeshTag* mesh2 = mixed.AddGeometry(L"g", {0, 0, 0, 1, 0, 0, 0, 1, 0});
  SceneBuilder::AddSource(mesh2, L"n", {0, 0, 1}, 3);
  mixed.AddPrimitive(mesh2, kTriangles, 1, {0, 0, 1, 0, 2, 0})
      ->inputs.Add(SceneBuilder::Input(L"NORMAL", L"n", 1));
  mixed.AddPrimitive(mesh2, kTriangles, 1, {0, 1, 2});
  mixed.Instance(mixed.AddNode(), L"g");
  mixed.Run();
  EXPECT_EQ(mixed.manager.normalCount, 3);
  ASSERT_EQ(mixed.manager.parts.size(), 2u);
  EXPECT_FALSE(mixed.manager.parts[0].hasNormals);
  EXPECT_TRUE(mixed.manager.parts[0].normals.empty());
}

TEST(Instantiate, LinesOnlyWhenEnabled) {
  SceneBuilder b;
  MeshTag* mesh = b.AddGeometry(L"g", {0, 0, 0, 1, 0, 0, 2, 0, 0});
  b.AddPrimitive(mesh, kTriangles, 1, {0, 1, 2});
  b.AddPrimitive(mesh, kLines, 1, {0, 2, 1});  // three tuples: one more than the count says
  b.Instance(b.AddNode(), L"g");
  b.Run(true);
  EXPECT_EQ(b.manager.primitiveEffects.count, 2);
  ASSERT_EQ(b.manager.lines.size(), 1u);
  EXPECT_EQ(b.manager.lineSizes[0], 3);
  EXPECT_EQ(b.manager.stripLines, 0);
  EXPECT_EQ(Xs(b.manager.lines[0]), (std::vector<double>{1, 2, 0}));
  EXPECT_EQ(b.manager.pointIndex, 3);  // line points do not advance it

  SceneBuilder off;
  MeshTag* mesh2 = off.AddGeometry(L"g", {0, 0, 0, 1, 0, 0, 2, 0, 0});
  off.AddPrimitive(mesh2, kTriangles, 1, {0, 1, 2});
  off.AddPrimitive(mesh2, kLines, 1, {0, 1});
  off.Instance(off.AddNode(), L"g");
  off.Run(false);
  EXPECT_EQ(off.manager.primitiveEffects.count, 1);
  EXPECT_TRUE(off.manager.lines.empty());
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
  void BindTexcoords(int offset, int count, int stride) {
    c.texcoords.AttachTo(values);
    c.texcoordOffset = offset, c.texcoordCount = count, c.texcoordStride = stride;
  }
  Vec3 Point(int v) {
    double p[3];
    c.FetchPoint(v, p);
    return {p[0], p[1], p[2]};
  }
  Vec3 Normal(int v) {
    double n[3];
    c.FetchNormal(v, n);
    return {n[0], n[1], n[2]};
  }
  std::array<double, 2> TexturePoint(int v) {
    double st[2];
    c.FetchTexturePoint(v, st);
    return {st[0], st[1]};
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

  // A transform that flattens the normal leaves it untransformed.
  d.c.depth = 1;
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

  d.BindTexcoords(3, 1, 2);
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

  // No source at all, a texture stride of 1 at the last element, no tuple width.
  BoundData empty({}, {});
  ExpectVec(empty.Point(3), 0, 0, 0);
  ExpectVec(empty.Normal(3), 0, 0, 1);
  d.BindTexcoords(0, 7, 1);
  d.c.tupleSize = 0;
  EXPECT_EQ(d.TexturePoint(0), (std::array<double, 2>{3, 1 - 4}));  // index 2
  d.c.texcoordIndexOffset = 2;  // index 99 -> element 6, whose t lies beyond the array
  EXPECT_EQ(d.TexturePoint(0), (std::array<double, 2>{7, 1}));
}

TEST(Instantiate, IncompleteTuplesAreNotEmitted) {
  SceneBuilder b;
  MeshTag* mesh = b.AddGeometry(L"g", {0, 0, 0, 1, 0, 0, 2, 0, 0, 3, 0, 0, 4, 0, 0});
  b.AddPrimitive(mesh, kTriangles, 5, {0, 1, 2, 3});  // one whole triangle
  PrimitiveTag* polylist = b.AddPrimitive(mesh, kPolylist, 4, {0, 1, 2, 3, 4});
  // A ring, a size that walks back before the first vertex, then a huge polygon.
  for (int s : {4, -10, 3, 2000000000}) polylist->vcounts.Add(s);
  b.Instance(b.AddNode(), L"g");
  b.Run();

  EXPECT_EQ(b.manager.partCount, 2);
  EXPECT_EQ(b.manager.pointCount, 8);
  ASSERT_EQ(b.manager.parts.size(), 2u);
  EXPECT_EQ(Xs(b.manager.parts[0].points), (std::vector<double>{2, 1, 0}));
  EXPECT_EQ(Xs(b.manager.parts[1].points), (std::vector<double>{3, 2, 1, 0, 3}));
}

}  // namespace
}  // namespace assemblytest
