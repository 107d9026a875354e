// Which effect a primitive's material symbol comes to: through the instance's binding, the
// materials of that id, or the first material whose effect exists.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/Documents.h"
#include "support/Outputs.h"

namespace pipelinetest {
namespace {

using namespace testdoc;

// For every part, the green of its material record (the effect "fx1" is the green one), -1 without.
std::vector<int> Greens(const Output& out) {
  std::vector<int> greens;
  for (const Part& part : out.parts)
    greens.push_back(part.material < 0 ? -1 : out.materials.at(size_t(part.material)).color[1]);
  return greens;
}

std::string Bind(const std::string& entries) {
  return "<bind_material><technique_common>" + entries + "</technique_common></bind_material>";
}

TEST(Collector, EffectResolution) {
  Doc doc;
  doc.effects = Effect("fx0", "1 0 0") + Effect("fx1", "0 1 0");
  doc.materials = "<material id=\"broken\"><instance_effect url=\"#nothing\"/></material>" + Material("green", "fx1") +
                  "<material id=\"twin\"/>" + Material("twin", "fx0");
  const char* symbols[] = {"green", "twin", "Green", "s", "s"};
  const std::string binds[] = {
      "", "", "",
      Bind("<instance_material symbol=\"s\" target=\" #twin\"/><instance_material symbol=\"s\" target=\"#green\"/>"),
      Bind("<instance_material symbol=\"s\" target=\"#twin\"/>") +
          Bind("<instance_material symbol=\"s\" target=\"#green\"/>"),  // the last binding counts
  };
  for (int i = 0; i < 5; ++i) {
    std::string id = "g" + std::to_string(i);
    doc.geometries += Mesh(id, Primitive("triangles", 1, symbols[i], "0 1 2"));
    doc.scene += Node("", "<instance_geometry url=\"#" + id + "\">" + binds[i] + "</instance_geometry>");
  }
  // "Green" names no material: the first material whose effect exists stands in.
  EXPECT_EQ(Greens(RunAgreeing(doc.Text()).geometry), (std::vector<int>{255, 0, 255, 0, 255}));

  // No material whose effect exists: no effect, and no records.
  doc.materials = "<material id=\"m\"><instance_effect url=\"##fx0\"/></material>"
                  "<material id=\"twin\"><instance_effect url=\"#\"/></material>";
  Output none = RunAgreeing(doc.Text()).geometry;
  EXPECT_EQ(Greens(none), (std::vector<int>(5, -1)));
  EXPECT_TRUE(none.materials.empty());
}

// Of two images of one id the first counts, and it needs a file.
TEST(Collector, EffectImagesTakeTheFirstImageOfAnId) {
  testsupport::WriteFile("collector/tex.tga", Tga());
  for (const auto& [first, second, textured] : {std::tuple{"gone.tga", "tex.tga", false}, {"tex.tga", "gone.tga", true}}) {
    Doc doc = OneInstance(Mesh("g", kTriangle));
    doc.images = std::string("<image id=\"img\"><init_from>") + first + "</init_from></image><image id=\"img\">"
                 "<init_from>" + second + "</init_from></image>";
    doc.effects = Effect("red", "", "img");
    Output g = RunBoth(doc.Write("collector/doc.dae")).geometry;
    ASSERT_EQ(g.materials.size(), 1u);
    EXPECT_EQ(g.materials[0].firstPixel.empty(), !textured) << first;
  }
}

}  // namespace
}  // namespace pipelinetest
