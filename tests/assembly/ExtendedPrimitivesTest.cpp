// The primitives only the extended reading takes (polygons with and without holes, strips, fans,
// line strips). Positions a b c d of a unit square.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/Documents.h"
#include "support/Outputs.h"

namespace pipelinetest {
namespace {

using namespace testdoc;

const Vec3 a{0, 0, 0}, b{1, 0, 0}, c{0, 1, 0}, d{1, 1, 0};

std::string Square(const std::string& primitives) {
  return OneInstance(Mesh("g", primitives, "", "0 0 0 1 0 0 0 1 0 1 1 0")).Text();
}

// A primitive of `kind` made of `lists`, its start tag across two lines.
std::string Lists(const std::string& kind, const std::string& lists) {
  return "\n<" + kind + "\n><input semantic=\"VERTEX\" source=\"#g-v\" offset=\"0\"/>" + lists + "</" + kind + ">";
}

// Expected parts of material 0: (type, points) each.
Output Parts(const std::vector<std::pair<int, std::vector<Vec3>>>& parts) {
  Output out;
  for (const auto& [type, points] : parts) out.parts.push_back({type, 0, 0, points, {}, {}});
  return out;
}

TEST(ExtendedPrimitives, PartsOfEachKind) {
  const std::pair<std::string, Output> cases[] = {
      {Lists("polygons", "<p>0 1 2</p><p>0 1 3 2</p><ph><p>0 1 3 2</p><h>0 1\n2</h></ph>"),
       Parts({{6, {c, b, a}}, {2, {c, d, b, a, c}}, {2, {c, d, b, a, c}}, {3, {c, b, a, c}}})},
      {Lists("tristrips", "<p>0 1 2 3</p>"), Parts({{6, {d, b, c, c, b, a}}})},  // all facing one way
      {Lists("trifans", "<p>0 1 3 2</p>"), Parts({{6, {c, d, a, d, b, a}}})},
  };
  for (const auto& [primitive, parts] : cases) {
    Outputs out = RunBoth(testsupport::WriteFile("extended.dae", Square(primitive)), {true, nullptr});
    ExpectSameParts(out.geometry, parts, false);
    ExpectSameParts(out.display, parts, false);
  }
}

// A multipatch holds no lines: the geometry stays empty.
TEST(ExtendedPrimitives, LinesAloneMakeADisplayListOnly) {
  const std::string text = Square(Lists("linestrips", "<p>0 1 3</p>") + Primitive("lines", 1, "m", "0 2"));
  Outputs out = RunBoth(testsupport::WriteFile("lines.dae", text), {true, nullptr});
  EXPECT_FALSE(out.geometry.present);
  ExpectSameParts(out.display, Parts({{-1, {d, b, a}}, {-1, {c, a}}}), false);
}

TEST(ExtendedPrimitives, PlainReadingSkipsThem) {
  const std::string text = Square(kTriangle + Lists("trifans", "<p>0 1 3</p>") + Lists("polygons", "<p>0 1 3 2</p>"));
  Outputs out = RunBoth(testsupport::WriteFile("plain.dae", text), {false, nullptr});
  ExpectSameParts(out.geometry, Parts({{6, {c, b, a}}}), false);  // the triangle alone, as ever
}

}  // namespace
}  // namespace pipelinetest
