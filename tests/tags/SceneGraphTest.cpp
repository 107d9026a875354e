#include <gtest/gtest.h>

#include "tags/Controller.h"
#include "tags/SceneFixtures.h"

namespace {

using namespace scenetest;

TEST(NodeTagTest, ContentAndIdentityFlagsPropagate) {
  Fragment f(R"(<node id="root">
  <node><instance_light url="#l"/><node><instance_camera url="#c"/></node></node>
  <node><translate>0 0 0.000001</translate><scale>1 1 1</scale>
    <node><lookat>0 0 1 0 0 0 0 1 0</lookat><instance_geometry url="#nowhere"/></node></node>
  <node><translate>0 0 0</translate><rotate>0 0 0 90</rotate></node>
</node>)");
  NodeTag* root = f.As(&Tag::AsNodeTag);
  ASSERT_NE(root, nullptr);
  ASSERT_EQ(root->children.count, 3);
  NodeTag* lights = root->children[0];
  NodeTag* idle = root->children[1];
  NodeTag* moved = root->children[2];
  EXPECT_FALSE(lights->hasContent || lights->children[0]->hasContent);
  EXPECT_TRUE(idle->children[0]->hasContent);  // an unresolvable url still counts
  EXPECT_TRUE(idle->hasContent && root->hasContent);
  EXPECT_FALSE(moved->hasContent);
  EXPECT_TRUE(idle->allIdentity && root->allIdentity);
  EXPECT_EQ(idle->children[0]->transforms.count, 0);  // lookat is not kept
  EXPECT_FALSE(moved->allIdentity);
}

TEST(ControllerTagTest, LastSkinWinsAndBindShapeMatrixIsTransposed) {
  Fragment f(R"(<controller id="c"><skin source="#first"/>
  <skin source="#body"><bind_shape_matrix>1 0 0 5 0 1 0 6 0 0 1 7 0 0 0 1</bind_shape_matrix>
    <source id="joints"><Name_array id="n" count="1">j</Name_array></source></skin>
</controller>)");
  ControllerTag* controller = f.As(&Tag::AsControllerTag);
  ASSERT_TRUE(controller && controller->skin);
  EXPECT_TRUE(controller->skin->source == L"body");
  const double* m = controller->skin->bindShapeMatrix;
  EXPECT_TRUE(m[12] == 5 && m[13] == 6 && m[14] == 7 && m[3] == 0 && m[15] == 1);

  tagtest::FragmentReader cut("<skin source=\"#g\"><bind_shape_matrix>1 0 0 5 0 1 0 6");
  SkinTag skin(cut.document.IdentifyTag());
  skin.bindShapeMatrix[12] = 9;
  EXPECT_FALSE(skin.Parse(cut.document));
  EXPECT_TRUE(skin.bindShapeMatrix[12] == 0 && skin.bindShapeMatrix[0] == 1);
}

TEST(SceneTraversalTest, InstancesComeFirstAndTransformsNest) {
  SceneRun run(SceneDocument("", R"(<node><translate>10 0 0</translate>
  <node><scale>2 2 2</scale><instance_geometry url="#tri"/></node><instance_geometry url="#tri"/>
</node>)"));
  ASSERT_EQ(run.recorder.points.size(), 6u);
  EXPECT_TRUE(run.TriangleHas(0, {11, 0, 0}));
  EXPECT_TRUE(run.TriangleHas(3, {12, 0, 0}));  // scaled, then moved
  EXPECT_TRUE(run.TriangleHas(3, {10, 2, 0}));
}

TEST(SceneTraversalTest, InstanceNodeCyclesAndLongChainsEnd) {
  // "a" instances itself twice and "b", which leads back to "a".
  SceneRun cycle(SceneDocument(R"(<library_nodes>
<node id="a"><instance_geometry url="#tri"/><instance_node url="#a"/><instance_node url="#b"/><instance_node url="#a"/></node>
<node id="b"><translate>0 0 1</translate><instance_geometry url="#tri"/><instance_node url="#a"/></node>
</library_nodes>)", R"(<node><instance_node url="#a"/></node>)"));
  ASSERT_EQ(cycle.recorder.points.size(), 6u);
  EXPECT_TRUE(cycle.TriangleHas(3, {1, 0, 1}));

  // 5000 chained library nodes are cut at 256 nested nodes instead of exhausting the stack.
  std::string chain = "<library_nodes>";
  for (int i = 0; i < 5000; ++i)
    chain += "<node id=\"n" + std::to_string(i) + "\"><instance_node url=\"#n" + std::to_string(i + 1) +
             "\"/>" + (i % 100 == 0 ? "<instance_geometry url=\"#tri\"/>" : "") + "</node>";
  SceneRun deep(SceneDocument(chain + "</library_nodes>", R"(<node><instance_node url="#n0"/></node>)"));
  EXPECT_EQ(deep.recorder.points.size(), 9u);  // n0, n100 and n200
}

TEST(SceneTraversalTest, SkinIsPlacedByItsBindShapeMatrix) {
  SceneRun run(SceneDocument(R"(<library_controllers><controller id="c"><skin source="#tri">
<bind_shape_matrix>1 0 0 0 0 1 0 0 0 0 1 5 0 0 0 1</bind_shape_matrix></skin></controller>
</library_controllers>)", R"(<node><instance_controller url="#c"/></node>)"));
  ASSERT_EQ(run.recorder.points.size(), 3u);
  EXPECT_TRUE(run.TriangleHas(0, {1, 0, 5}));
}

}  // namespace
