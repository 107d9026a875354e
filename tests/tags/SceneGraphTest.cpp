#include <gtest/gtest.h>

#include "tags/Controller.h"
#include "tags/MaterialBinding.h"
#include "tags/SceneGraph.h"
#include "tags/TagParse.h"
#include "tags/SceneFixtures.h"

namespace {

using namespace scenetest;

TEST(NodeTagTest, ContentAndIdentityFlagsPropagate) {
  Fragment f(R"(<node id="root">
  <node id="lights"><instance_light url="#l"/><node><instance_camera url="#c"/></node></node>
  <node id="idle"><translate>0 0 0.000001</translate><scale>1 1 1</scale>
    <node id="leaf"><lookat>0 0 1 0 0 0 0 1 0</lookat><instance_geometry url="#nowhere"/></node>
  </node>
  <node id="moved"><translate>0 0 0</translate><rotate>0 0 0 90</rotate></node>
</node>)");
  NodeTag* root = f.As(&Tag::AsNodeTag);
  ASSERT_NE(root, nullptr);
  ASSERT_EQ(root->children.count, 3);
  NodeTag* lights = root->children[0];
  NodeTag* idle = root->children[1];
  NodeTag* moved = root->children[2];

  EXPECT_FALSE(lights->hasContent);
  EXPECT_FALSE(lights->children[0]->hasContent);
  EXPECT_TRUE(idle->children[0]->hasContent);  // an unresolvable url still counts
  EXPECT_TRUE(idle->hasContent);
  EXPECT_TRUE(root->hasContent);
  EXPECT_FALSE(moved->hasContent);

  EXPECT_TRUE(idle->allIdentity);
  EXPECT_EQ(idle->transforms.count, 2);
  EXPECT_EQ(idle->children[0]->transforms.count, 0);  // lookat is not kept
  EXPECT_FALSE(moved->allIdentity);
  EXPECT_TRUE(root->allIdentity);
}

TEST(InstanceGeometryTest, LastBindMaterialWins) {
  Fragment f(R"(<instance_geometry url=" #g ">
  <bind_material><technique_common><instance_material symbol="a" target="#first"/></technique_common></bind_material>
  <bind_material><technique_common><instance_material symbol="a" target="#second"/></technique_common></bind_material>
</instance_geometry>)");
  InstanceGeometry* instance = f.As(&Tag::AsInstanceGeometry);
  ASSERT_NE(instance, nullptr);
  EXPECT_TRUE(instance->url == L"g");
  ASSERT_NE(instance->bindMaterial, nullptr);
  ASSERT_NE(instance->bindMaterial->techniqueCommon, nullptr);
}

TEST(ControllerTagTest, LastSkinWinsAndBindShapeMatrixIsTransposed) {
  Fragment f(R"(<controller id="c">
  <skin source="#first"/>
  <skin source="#body">
    <bind_shape_matrix>1 0 0 5 0 1 0 6 0 0 1 7 0 0 0 1</bind_shape_matrix>
    <source id="joints"><Name_array id="n" count="1">j</Name_array></source>
    <joints><input semantic="JOINT" source="#joints"/></joints>
  </skin>
</controller>)");
  ControllerTag* controller = f.As(&Tag::AsControllerTag);
  ASSERT_NE(controller, nullptr);
  ASSERT_NE(controller->skin, nullptr);
  EXPECT_TRUE(controller->skin->source == L"body");
  const double* m = controller->skin->bindShapeMatrix;
  EXPECT_EQ(m[12], 5);
  EXPECT_EQ(m[13], 6);
  EXPECT_EQ(m[14], 7);
  EXPECT_EQ(m[3], 0);
  EXPECT_EQ(m[15], 1);
}

TEST(SkinTagTest, IncompleteBindShapeMatrixFailsWithIdentity) {
  ElementReader reader("<skin source=\"#g\"><bind_shape_matrix>1 0 0 5 0 1 0 6");
  SkinTag skin(reader.id);
  skin.bindShapeMatrix[12] = 9;
  EXPECT_FALSE(skin.Parse(reader.document));
  EXPECT_TRUE(skin.source == L"g");
  EXPECT_EQ(skin.bindShapeMatrix[12], 0);
  EXPECT_EQ(skin.bindShapeMatrix[3], 0);
  EXPECT_EQ(skin.bindShapeMatrix[0], 1);
}

// Scene traversal through the whole pipeline: the recorded points show order and placement.
bool TriangleHas(const SceneRun& run, size_t first, std::array<double, 3> point) {
  for (size_t i = first; i < first + 3 && i < run.recorder.points.size(); ++i)
    if (run.recorder.points[i] == point) return true;
  return false;
}

TEST(SceneTraversalTest, InstancesComeFirstAndTransformsNest) {
  SceneRun run(SceneDocument(TriangleLibrary(), R"(
<node><translate>10 0 0</translate>
  <node><scale>2 2 2</scale><instance_geometry url="#tri"/></node>
  <instance_geometry url="#tri"/>
</node>)"));
  ASSERT_NE(run.collector.manager, nullptr);
  ASSERT_EQ(run.recorder.points.size(), 6u);
  // The node's own instance first, then the child's, whose (1,0,0) is scaled, then moved.
  EXPECT_TRUE(TriangleHas(run, 0, {11, 0, 0}));
  EXPECT_TRUE(TriangleHas(run, 3, {12, 0, 0}));
  EXPECT_TRUE(TriangleHas(run, 3, {10, 2, 0}));
}

TEST(SceneTraversalTest, InstanceNodeCyclesAndLongChainsEnd) {
  // "a" instances itself twice and "b"; "b" leads back to "a".
  std::string cyclic = TriangleLibrary() + R"(<library_nodes>
<node id="a"><instance_geometry url="#tri"/><instance_node url="#a"/><instance_node url="#b"/><instance_node url="#a"/></node>
<node id="b"><translate>0 0 1</translate><instance_geometry url="#tri"/><instance_node url="#a"/></node>
</library_nodes>)";
  SceneRun run(SceneDocument(cyclic, R"(<node><instance_node url="#a"/></node>)"));
  ASSERT_NE(run.collector.manager, nullptr);
  EXPECT_EQ(run.recorder.points.size(), 6u);  // "a" once, "b" once under it
  EXPECT_TRUE(TriangleHas(run, 0, {1, 0, 0}));
  EXPECT_TRUE(TriangleHas(run, 3, {1, 0, 1}));
  EXPECT_EQ(run.collector.nodeDepth, 0);

  // A chain of 5000 library nodes is cut at the depth limit instead of exhausting the stack.
  std::string chain = TriangleLibrary() + "<library_nodes>";
  for (int i = 0; i < 5000; ++i)
    chain += "<node id=\"n" + std::to_string(i) + "\"><instance_node url=\"#n" +
             std::to_string(i + 1) + "\"/>" + (i % 100 == 0 ? "<instance_geometry url=\"#tri\"/>" : "") +
             "</node>";
  chain += "</library_nodes>";
  SceneRun deep(SceneDocument(chain, R"(<node><instance_node url="#n0"/></node>)"));
  ASSERT_NE(deep.collector.manager, nullptr);
  EXPECT_EQ(deep.recorder.points.size(), 3u * 3u);  // n0, n100, n200 lie within 256 levels
}

TEST(SceneTraversalTest, SkinPlacesGeometryByBindShapeMatrix) {
  std::string libraries = TriangleLibrary() + R"(<library_controllers><controller id="c">
<skin source="#tri"><bind_shape_matrix>1 0 0 0 0 1 0 0 0 0 1 5 0 0 0 1</bind_shape_matrix></skin>
</controller></library_controllers>)";
  SceneRun run(SceneDocument(libraries, R"(<node><instance_controller url="#c"/></node>)"));
  ASSERT_NE(run.collector.manager, nullptr);
  ASSERT_EQ(run.recorder.points.size(), 3u);
  for (const auto& p : run.recorder.points) EXPECT_DOUBLE_EQ(p[2], 5);
  EXPECT_EQ(run.collector.bindMaterialOverride, nullptr);
}

}  // namespace
