// The primitives only the extended reading takes (polygons with and without holes, strips, fans,
// line strips), and what the plain reading says of them. Positions a b c d of a unit square.
#include <gtest/gtest.h>

#include <algorithm>
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

// A primitive of `kind` made of `lists`. Its start tag spans two lines of its own: diagnostics
// name the first, though the reader stands on the second.
std::string Lists(const std::string& kind, const std::string& lists) {
  return "\n<" + kind + "\n><input semantic=\"VERTEX\" source=\"#g-v\" offset=\"0\"/>" + lists + "</" + kind + ">";
}

// Expected parts of material 0: (type, points) each.
Output Parts(const std::vector<std::pair<int, std::vector<Vec3>>>& parts) {
  Output out;
  for (const auto& [type, points] : parts) out.parts.push_back({type, 0, 0, points, {}, {}});
  return out;
}

int LineOf(const std::string& text, const std::string& what) {
  return 1 + static_cast<int>(std::count(text.begin(), text.begin() + text.find(what), '\n'));
}

TEST(ExtendedPrimitives, PartsOfEachKind) {
  const std::pair<std::string, Output> cases[] = {
      {Lists("polygons", "<p>0 1 2</p><p>0 1 3 2</p><ph><p>0 1 3 2</p><h>0 1\n2</h></ph>"),
       Parts({{6, {c, b, a}}, {2, {c, d, b, a, c}}, {2, {c, d, b, a, c}}, {3, {c, b, a, c}}})},
      // A three-vertex polygon with a hole is a ring, not a triangle.
      {Lists("polygons", "<ph><p>0 1 2</p><h>0 1 3</h></ph>"), Parts({{2, {c, b, a, c}}, {3, {d, b, a, d}}})},
      {Lists("tristrips", "<p>0 1 2 3</p>"), Parts({{6, {d, b, c, c, b, a}}})},  // all facing one way
      // The turn alternates from each strip's own start; an index at the count reads the last.
      {Lists("tristrips", "<p>0 1 2</p><p>0 1 2 4</p>"), Parts({{6, {c, b, a}}, {6, {d, b, c, c, b, a}}})},
      {Lists("trifans", "<p>0 1 3 2</p>"), Parts({{6, {c, d, a, d, b, a}}})},
  };
  for (const auto& [primitive, parts] : cases) {
    Outputs out = RunBoth(testsupport::WriteFile("extended.dae", Square(primitive)), {true, nullptr});
    ExpectSameParts(out.geometry, parts, false);
    ExpectSameParts(out.display, parts, false);
  }
}

// A multipatch holds no lines: the geometry stays empty and says why, naming the first of them.
TEST(ExtendedPrimitives, LinesAloneMakeADisplayListOnly) {
  const std::string text = Square(Lists("linestrips", "<p>0 1 3</p>") + Primitive("lines", 1, "m", "0 2"));
  DiagnosticLog log;
  Outputs out = RunBoth(testsupport::WriteFile("lines.dae", text), {true, &log});
  EXPECT_FALSE(out.geometry.present);
  ExpectSameParts(out.display, Parts({{-1, {d, b, a}}, {-1, {c, a}}}), false);
  ASSERT_EQ(log.heard.size(), 1u);
  EXPECT_EQ(log.heard[0].line, LineOf(text, "<linestrips"));
}

TEST(ExtendedPrimitives, PlainReadingSkipsThemAndSaysSoOncePerMesh) {
  const std::string polygons = Lists("polygons", "<p>0 1 3 2</p>");
  const std::string text = Square(kTriangle + Lists("trifans", "<p>0 1 3</p>") + polygons + polygons);
  DiagnosticLog log;
  Outputs told = RunBoth(testsupport::WriteFile("plain.dae", text), {false, &log});
  ExpectSameParts(told.geometry, Parts({{6, {c, b, a}}}), false);  // the triangle alone, as ever
  ASSERT_EQ(log.heard.size(), 4u);  // each call reads the document
  EXPECT_EQ(log.heard[1].line, LineOf(text, "<polygons"));
  EXPECT_TRUE(log.heard[1].extendedReads && log.heard[1].kind == DiagnosticKind::kUnreadPrimitive);
}

}  // namespace
}  // namespace pipelinetest
