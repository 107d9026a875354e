// Nodes, instances and controllers, and how deep or circular scenes end.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "support/Documents.h"
#include "support/Outputs.h"

namespace pipelinetest {
namespace {

using namespace testdoc;

const std::vector<Vec3> kReversed = {{0, 1, 0}, {1, 0, 0}, {0, 0, 0}};

// A later single child replaces the earlier one; whatever has no class is skipped whole,
// names unknown to the reader included.
TEST(SceneGraph, LaterChildrenReplaceAndClasslessElementsAreSkipped) {
  Doc doc = OneInstance("<geometry id=\"g\"><mesh><source id=\"x\"/></mesh>" +
                            Mesh("g", kTriangle).substr(std::string("<geometry id=\"g\">").size()),
                        "<lookat>0 0 1 0 0 0 0 1 0</lookat>");
  doc.scene += "<node><instance_camera url=\"#c\"/><instance_light url=\"#l\"/>"
               "<extra><technique profile=\"x\"><unheard_of a=\"1\">text</unheard_of></technique></extra></node>";
  Output g = RunAgreeing(doc.Text()).geometry;
  ASSERT_EQ(g.parts.size(), 1u);
  ExpectNear(g.parts[0].points, kReversed, 0, "the second mesh");
}

TEST(SceneGraph, InstanceNodeCyclesAndChainsEnd) {
  // "a" instances itself twice and "b", which leads back to "a": each is entered once per path,
  // under the transforms of the node that instances it.
  Doc cycle = OneInstance(Mesh("g", kTriangle));
  cycle.nodes =
      "<node id=\"a\"><instance_geometry url=\"#g\"/><instance_node url=\"#a\"/><instance_node url=\"#b\"/>"
      "<instance_node url=\"#a\"/></node><node id=\"b\"><translate>0 0 1</translate>"
      "<instance_geometry url=\"#g\"/><instance_node url=\"#a\"/></node>";
  cycle.scene = Node("<translate>5 0 0</translate>", "<instance_node url=\"#a\"/>");
  Output g = RunAgreeing(cycle.Text()).geometry;
  ASSERT_EQ(g.parts.size(), 2u);
  ExpectNear(g.parts[1].points, {{5, 1, 1}, {6, 0, 1}, {5, 0, 1}}, 0, "b");

  // Chains and nesting have no depth limit, nor do they take stack: 100,000 chained library
  // nodes, 100,000 nested nodes each lifting by 1, and in the extended reading 100,000 controllers
  // each skinning the next.
  const int n = 100000;
  Doc chain = cycle;
  chain.nodes.clear();
  for (int i = 0; i < n; ++i)
    chain.nodes += "<node id=\"n" + std::to_string(i) + "\"><instance_node url=\"#n" + std::to_string(i + 1) +
                   "\"/>" + (i % 10000 == 0 ? "<instance_geometry url=\"#g\"/>" : "") + "</node>";
  chain.scene = Node("", "<instance_node url=\"#n0\"/>");
  EXPECT_EQ(RunAgreeing(chain.Text()).geometry.parts.size(), 10u);

  Doc deep = cycle;
  deep.scene.clear();
  for (int i = 0; i < n; ++i) deep.scene += "<node><translate>0 0 1</translate>";
  deep.scene += "<instance_geometry url=\"#g\"/>";
  for (int i = 0; i < n; ++i) deep.scene += "</node>";
  g = RunAgreeing(deep.Text()).geometry;
  ASSERT_EQ(g.parts.size(), 1u);
  ExpectNear(g.parts[0].points, {{0, 1, n}, {1, 0, n}, {0, 0, n}}, 0, "lifted at every level");

  Doc skins = cycle;
  skins.nodes.clear();
  for (int i = 0; i < n; ++i)
    skins.controllers += "<controller id=\"c" + std::to_string(i) + "\"><skin source=\"#" +
                         (i + 1 < n ? "c" + std::to_string(i + 1) : std::string("g")) + "\"/></controller>";
  skins.scene = Node("", "<instance_controller url=\"#c0\"/>");
  ImportOptions extended{true};
  EXPECT_EQ(RunGeometry(skins.Write("skins.dae"), extended).parts.size(), 1u);
}

TEST(SceneGraph, TheLastSkinOfAControllerWithItsBindShape) {
  Doc doc = OneInstance(MeshWithNormal("g", "1 1 0"));
  doc.controllers =
      "<controller id=\"c\"><skin source=\"#g\"/><skin source=\"#g\"><bind_shape_matrix>1 0 0 0 0 1 0 0 0 0 1 5 "
      "0 0 0 1</bind_shape_matrix><source id=\"j\"><Name_array id=\"n\" count=\"1\">j</Name_array></source>"
      "<joints><input semantic=\"JOINT\" source=\"#j\"/></joints></skin></controller>";
  doc.scene = Node("", "<instance_controller url=\"#c\"/>");
  Output g = RunAgreeing(doc.Text()).geometry;
  ASSERT_EQ(g.parts.size(), 1u);
  ExpectNear(g.parts[0].points, {{0, 1, 5}, {1, 0, 5}, {0, 0, 5}}, 0, "lifted by the bind shape");
  const double r = 1 / std::sqrt(2.0);  // normalised though no node transforms
  ExpectNear(g.parts[0].normals, {{r, r, 0}, {r, r, 0}, {r, r, 0}}, 1e-12, "normals");
}

}  // namespace
}  // namespace pipelinetest
