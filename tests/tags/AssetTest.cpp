#include <gtest/gtest.h>

#include "tags/Asset.h"
#include "tags/SceneFixtures.h"

namespace {

using namespace scenetest;

TEST(AssetTagTest, CullingUnitAndUpAxis) {
  const struct {
    std::string content;
    bool culling, yUp;
    double meter;
  } cases[] = {
      // Only "ColladaMaya" after other text turns culling off.
      {"<authoring_tool>Maya 2009 | ColladaMaya v3.05B</authoring_tool>", false, true, 1},
      {"<authoring_tool>ColladaMaya v3.05B</authoring_tool>", true, true, 1},
      {"</contributor><unit name=\"inch\" meter=\"0.0254\"/><up_axis>Z_UP</up_axis><contributor>", true, false,
       0.0254},
      {"<up_axis>Y_UP</up_axis>", true, true, 1},
      {"<up_axis>y_up</up_axis>", true, false, 1},
      {"<unit meter=\"abc\"/>", true, true, 0},
  };
  for (const auto& c : cases) {
    Fragment f("<asset><contributor><author>a</author>" + c.content +
               "</contributor><created>2009</created></asset>");
    AssetTag* asset = f.As(&Tag::AsAssetTag);
    ASSERT_NE(asset, nullptr) << c.content;
    EXPECT_EQ(asset->backFaceCulling, c.culling) << c.content;
    EXPECT_EQ(asset->yUp, c.yUp) << c.content;
    EXPECT_DOUBLE_EQ(asset->meter, c.meter) << c.content;
  }
}

}  // namespace
