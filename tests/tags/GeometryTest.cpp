// How sources, inputs and primitives are read, seen in the points and normals delivered.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/Documents.h"
#include "support/Outputs.h"

namespace pipelinetest {
namespace {

using namespace testdoc;

// The geometry "g": `sources`, the vertices "g-v" made of `vertexInputs`, then `primitives`.
std::string Geometry(const std::string& sources, const std::string& vertexInputs, const std::string& primitives) {
  return "<geometry id=\"g\"><mesh>" + sources + "<vertices id=\"g-v\">" + vertexInputs + "</vertices>" +
         primitives + "</mesh></geometry>";
}

const std::string kPositions = Source("pos", "0 0 0 1 0 0 0 1 0", 3, 3);
const std::string kPositionInput = "<input semantic=\"POSITION\" source=\"#pos\"/>";
const std::vector<Vec3> kReversed = {{0, 1, 0}, {1, 0, 0}, {0, 0, 0}};

TEST(Geometry, SourcesAndInputs) {
  const struct {
    const char* what;
    std::string geometry;
    std::vector<Vec3> points, normals;
  } cases[] = {
      {"float_array: count after id, more numbers than it; source reference trimmed",
       Geometry("<source id=\"pos\"><float_array id=\"a\" count=\"6\">0 0 0 1 0 0 0 1 0</float_array>"
                "<technique_common><accessor count=\"3\" stride=\"3\"/></technique_common></source>",
                "<input semantic=\"POSITION\" source=\"  #pos \"/>", kTriangle),
       {{0, 0, 0}, {1, 0, 0}, {0, 0, 0}}, {}},
      {"VERTEX in vertices; of two sources of one id the first",
       Geometry(kPositions + Source("pos", "5 5 5 5 5 5 5 5 5", 3, 3),
                "<input semantic=\"VERTEX\" source=\"#pos\"/>", kTriangle), kReversed, {}},
      {"normals of the vertices element",
       Geometry(kPositions + Source("n", "0 0 1", 1, 3),
                kPositionInput + "<input semantic=\"NORMAL\" source=\"#n\"/>", Primitive("triangles", 1, "m", "0 0 0")),
       {{0, 0, 0}, {0, 0, 0}, {0, 0, 0}}, {{0, 0, 1}, {0, 0, 1}, {0, 0, 1}}},
      {"a primitive's own NORMAL replaces the vertices'",
       Geometry(kPositions + Source("n", "0 0 1", 1, 3) + Source("n2", "1 0 0", 1, 3),
                kPositionInput + "<input semantic=\"NORMAL\" source=\"#n\"/>",
                Primitive("triangles", 1, "m", "0 0 1 0 2 0", "<input semantic=\"NORMAL\" source=\"#n2\" offset=\"1\"/>")),
       kReversed, {{1, 0, 0}, {1, 0, 0}, {1, 0, 0}}},
      {"a lower-case semantic and a source without technique_common load nothing",
       Geometry(kPositions + Source("n", "0 0 1", 1, 3) + "<source id=\"bare\"><float_array count=\"3\">0 0 1</float_array></source>",
                kPositionInput,
                Primitive("triangles", 1, "m", "0 0 1 0 2 0", "<input semantic=\"normal\" source=\"#n\" offset=\"1\"/>") +
                    Primitive("triangles", 1, "m", "0 0 1 0 2 0", "<input semantic=\"NORMAL\" source=\"#bare\" offset=\"1\"/>")),
       kReversed, {}},
  };
  for (const auto& c : cases) {
    Output g = RunAgreeing(OneInstance(c.geometry).Text(), false).geometry;
    ASSERT_FALSE(g.parts.empty()) << c.what;
    ExpectNear(g.parts[0].points, c.points, 0, c.what);
    ExpectNear(g.parts[0].normals, c.normals, 0, c.what);
  }
}

TEST(Geometry, PrimitiveKindsAndTuples) {
  const std::string positions = Source("pos", "0 0 0 1 0 0 0 1 0 1 1 0", 4, 3);
  const Vec3 a{0, 0, 0}, b{1, 0, 0}, c{0, 1, 0}, d{1, 1, 0};
  const struct {
    const char* what;
    std::string primitives;
    std::vector<std::vector<Vec3>> parts;
  } cases[] = {
      {"polygons, tristrips, trifans and linestrips are skipped",
       "<polygons count=\"1\"><p>0 1 2</p></polygons><tristrips count=\"1\"><p>0 1 2</p></tristrips>"
       "<trifans count=\"1\"><p>0 1 2</p></trifans><linestrips count=\"1\"><p>0 1</p></linestrips>" + kTriangle,
       {{c, b, a}}},
      {"a polylist announcing more polygons than vcount gives",
       Primitive("polylist", 3, "#m", "0 1 2 0 1 2 3 1", "", "3 4"), {{c, b, a}, {d, c, b, a, d}}},
      {"an input that loads nothing still widens the tuple",
       Primitive("triangles", 2, "m", "0 9 9 1 9 9 2 9 9 1 9 9 3 9 9 2 9 9",
                 "<input semantic=\"COLOR\" source=\"#x\" offset=\"2\"/>"),
       {{c, d, b, c, b, a}}},
  };
  for (const auto& k : cases) {
    Output g = RunAgreeing(OneInstance(Geometry(positions, kPositionInput, k.primitives)).Text()).geometry;
    ASSERT_EQ(g.parts.size(), k.parts.size()) << k.what;
    for (size_t p = 0; p < g.parts.size(); ++p) ExpectNear(g.parts[p].points, k.parts[p], 0, k.what);
  }
}

// A short list repeats its last number for every missing one, but only as far as the input
// could have held numbers: absurd counts cost no more than the document's size.
const std::string kTriangle1000 = Primitive("triangles", 1000, "m", "0 1 2");

size_t PointCount(const Output& output) {
  size_t points = 0;
  for (const Part& part : output.parts) points += part.points.size();
  return points;
}

// A list shorter than its count repeats its last number; counts no input could mean stop at an
// allowance of at least 2^22 integers in all.
TEST(Geometry, ShortListsRepeatTheirLastNumberWithinAnAllowance) {
  EXPECT_EQ(PointCount(RunAgreeing(OneInstance(Mesh("g", kTriangle1000)).Text()).geometry), 3000u);
  for (const std::string& primitive :
       {Primitive("triangles", 400000000, "m", "1 2 0"), Primitive("polylist", 2, "m", "1 2 0", "", "2000000000 2000000000")}) {
    DiagnosticLog log;
    Outputs out = RunBoth(testsupport::WriteFile("short.dae", OneInstance(Mesh("g", primitive)).Text()), {false, &log});
    ExpectSameParts(out.geometry, out.display, true);
    EXPECT_LE(PointCount(out.geometry), size_t{1} << 22) << primitive;
    ASSERT_FALSE(log.lines.empty()) << primitive;
    EXPECT_EQ(log.lines[0].rfind("limit-reached: an index list of ", 0), 0u) << log.lines[0];
  }
}

// Many primitives under many bindings: each lookup is indexed, so no budget drops the scene.
TEST(Geometry, ManyPrimitivesUnderManyBindingsAllArrive) {
  Doc doc = OneInstance("");
  std::string primitives, bindings;
  for (int i = 0; i < 12000; ++i) {
    primitives += Primitive("triangles", 1, "s" + std::to_string(i), "0 1 2");
    bindings += "<instance_material symbol=\"s" + std::to_string(i) + "\" target=\"#m\"/>";
  }
  doc.geometries = Mesh("g", primitives);
  doc.scene = Node("", "<instance_geometry url=\"#g\"><bind_material><technique_common>" +
                           bindings + "</technique_common></bind_material></instance_geometry>");
  Output g = RunGeometry(doc.Write("bindings.dae"));
  EXPECT_EQ(g.parts.size(), 12000u);
  EXPECT_EQ(g.parts.back().material, 0);
}

}  // namespace
}  // namespace pipelinetest
