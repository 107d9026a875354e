// Node transforms, seen in where the triangle (0,0,0) (1,0,0) (0,1,0) arrives: its vertices
// come last first.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/Documents.h"
#include "support/Outputs.h"

namespace pipelinetest {
namespace {

using namespace testdoc;

// An identity transform is left out: nothing moves and the normals arrive as read, not normalised.
TEST(Transforms, IdentityWithinTolerance) {
  const std::pair<const char*, bool> cases[] = {
      {"<translate>0 0 0.000001</translate>", true}, {"<translate>0 0 0.0001</translate>", false},
      {"<translate>-0.0001 0 0</translate>", false}, {"<scale>1 1 1.000001</scale>", true},
      {"<scale>1 1 1.0001</scale>", false},          {"<scale>1 0.9999 1</scale>", false},
      {"<scale>1 0.5 1</scale>", false},             {"<rotate>1 0 0 0</rotate>", true},
      {"<rotate>0 0 1 -0.0001</rotate>", false},
      {"<translate>0 0 0</translate><scale>1 1 2</scale>", false},
      {"<matrix>1 0 0 0 0 1 0 0 0 0 1 0 0 0 0 1</matrix>", false},  // a matrix always applies
  };
  for (const auto& [transforms, identity] : cases) {
    Output g = RunAgreeing(OneInstance(MeshWithNormal("g", "1 1 0"), transforms).Text(), false).geometry;
    ASSERT_EQ(g.parts.size(), 1u) << transforms;
    EXPECT_EQ(g.parts[0].normals[0][0] == 1.0, identity) << transforms;
    if (identity) ExpectNear(g.parts[0].points, {{0, 1, 0}, {1, 0, 0}, {0, 0, 0}}, 0, transforms);
  }
}

TEST(Transforms, OrderMatricesAndShortText) {
  const struct {
    const char* transforms;
    std::vector<Vec3> points;
  } cases[] = {
      // The last transform of a node acts on the point first.
      {"<translate sid='t'>1 0 0</translate><rotate sid=\"r\">0 0 1 90</rotate><scale>2 3 4</scale>",
       {{-2, 0, 0}, {1, 2, 0}, {1, 0, 0}}},
      // Matrix text is row-major, its translation in the last column.
      {"<matrix sid='m'>1 0 0 5 0 1 0 6 0 0 1 7 0 0 0 1</matrix>", {{5, 7, 7}, {6, 6, 7}, {5, 6, 7}}},
      // Missing numbers read as 0 and the next transform is read as usual.
      {"<translate>4 5</translate><translate>0 0 1</translate>", {{4, 6, 1}, {5, 5, 1}, {4, 5, 1}}},
      {"<lookat>0 0 1 0 0 0 0 1 0</lookat><skew>45 0 1 0 1 0 0</skew><translate>1 0 0</translate>",
       {{1, 1, 0}, {2, 0, 0}, {1, 0, 0}}},
  };
  for (const auto& c : cases) {
    Output g = RunAgreeing(OneInstance(Mesh("g", kTriangle), c.transforms).Text()).geometry;
    ASSERT_EQ(g.parts.size(), 1u) << c.transforms;
    ExpectNear(g.parts[0].points, c.points, 1e-12, c.transforms);
  }
}

}  // namespace
}  // namespace pipelinetest
