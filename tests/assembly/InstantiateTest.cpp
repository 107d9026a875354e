// How one geometry instance turns into parts: vertex order, rings, index clamping, normals and
// the node's matrix. Positions a b c d, and e beyond the accessor's count.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/Documents.h"
#include "support/Outputs.h"

namespace pipelinetest {
namespace {

using namespace testdoc;

const Vec3 a{0, 0, 0}, b{1, 0, 0}, c{0, 1, 0}, d{1, 1, 0};

std::string Geometry(const std::string& primitives, const std::string& sources = "") {
  std::string mesh = Mesh("g", primitives, sources, "0 0 0 1 0 0 0 1 0 1 1 0 7 7 7");
  return mesh.replace(mesh.find("count=\"5\""), 9, "count=\"4\"");
}

TEST(Instantiate, PartsFromPrimitives) {
  const std::string normal = "<input semantic=\"NORMAL\" source=\"#g-n\" offset=\"1\"/>";
  const struct {
    const char* what;
    std::string geometry, transforms;
    std::vector<std::vector<Vec3>> parts;
    std::vector<Vec3> normals = {};
  } cases[] = {
      {"triangles arrive last vertex first", Geometry(Primitive("triangles", 2, "m", "0 1 2 1 3 2")), "",
       {{c, d, b, c, b, a}}},
      {"rings are closed; short polygons make no part but use up their vertices",
       Geometry(Primitive("polylist", 3, "m", "0 1 3 2 0 1 0 1 3", "", "4 2 3")), "", {{c, d, b, a, c}, {d, b, a}}},
      {"an index at or past the element count reads the last element",
       Geometry(Primitive("triangles", 1, "m", "0 4 9")), "", {{d, d, a}}},
      {"polygons reaching before the first vertex or past the last make no part",
       Geometry(Primitive("polylist", 4, "m", "0 1 2 3 0", "", "4 -10 3 2000000000")), "", {{d, c, b, a, d}}},
      {"a zero normal takes the previous element's, the first one up",
       Geometry(Primitive("triangles", 1, "m", "0 0 1 1 2 2", normal), Source("g-n", "0 0 0 1 0 0 0 0 0", 3, 3)), "",
       {{c, b, a}}, {{1, 0, 0}, {1, 0, 0}, {0, 0, 1}}},
      {"element 15 of the matrix divides", Geometry(kTriangle), "<matrix>1 0 0 4 0 1 0 0 0 0 1 0 0 0 0 2</matrix>",
       {{{2, 0.5, 0}, {2.5, 0, 0}, {2, 0, 0}}}},
  };
  for (const auto& k : cases) {
    Output g = RunAgreeing(OneInstance(k.geometry, k.transforms).Text()).geometry;
    ASSERT_EQ(g.parts.size(), k.parts.size()) << k.what;
    for (size_t p = 0; p < g.parts.size(); ++p) {
      const bool ring = k.parts[p].size() > 3 && k.parts[p].front() == k.parts[p].back();
      EXPECT_EQ(g.parts[p].type, ring ? 2 : 6) << k.what;
      ExpectNear(g.parts[p].points, k.parts[p], 0, k.what);
    }
    ExpectNear(g.parts[0].normals, k.normals, 0, k.what);
  }
}

// A node's instances come before its children's, which take on the node's transforms.
TEST(Instantiate, ChildrenInsideTheirParentsTransform) {
  Doc doc = OneInstance(Mesh("g", kTriangle), "<translate>10 0 0</translate>");
  doc.scene.insert(doc.scene.size() - 7, Node("<scale>0.5 0.5 0.5</scale>", "<instance_geometry url=\"#g\"/>"));  // before "</node>"
  Output g = RunAgreeing(doc.Text()).geometry;
  ASSERT_EQ(g.parts.size(), 2u);
  ExpectNear(g.parts[0].points, {{10, 1, 0}, {11, 0, 0}, {10, 0, 0}}, 0, "parent");
  ExpectNear(g.parts[1].points, {{10, 0.5, 0}, {10.5, 0, 0}, {10, 0, 0}}, 0, "child");
}

}  // namespace
}  // namespace pipelinetest
