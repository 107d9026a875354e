#include <gtest/gtest.h>

#include "tags/Asset.h"
#include "tags/SceneFixtures.h"

namespace {

using namespace scenetest;

struct AssetFields {
  bool parsed;
  bool yUp;
  bool backFaceCulling;
  double meter;
};

AssetFields ParseAsset(const std::string& content) {
  Fragment f("<asset>" + content + "<created>2009-01-01</created></asset>");
  AssetTag* asset = f.As(&Tag::AsAssetTag);
  if (!asset) return {false, false, false, 0};
  return {true, asset->yUp, asset->backFaceCulling, asset->meter};
}

TEST(AssetTagTest, AuthoringToolNamingColladaMayaAfterOtherTextTurnsCullingOff) {
  AssetFields maya = ParseAsset(
      "<contributor><author>a</author><authoring_tool>Maya 2009 | ColladaMaya v3.05B</authoring_tool>"
      "</contributor>");
  ASSERT_TRUE(maya.parsed);
  EXPECT_FALSE(maya.backFaceCulling);
  EXPECT_TRUE(ParseAsset("<contributor><authoring_tool>ColladaMaya v3.05B</authoring_tool></contributor>")
                  .backFaceCulling);
  EXPECT_TRUE(ParseAsset("<authoring_tool>SketchUp 7</authoring_tool>").backFaceCulling);
}

TEST(AssetTagTest, UnitAndUpAxis) {
  AssetFields inches = ParseAsset("<unit name=\"inch\" meter=\"0.0254\"/><up_axis>Z_UP</up_axis>");
  ASSERT_TRUE(inches.parsed);
  EXPECT_DOUBLE_EQ(inches.meter, 0.0254);
  EXPECT_FALSE(inches.yUp);

  AssetFields plain = ParseAsset("<up_axis>Y_UP</up_axis>");
  EXPECT_TRUE(plain.yUp);
  EXPECT_DOUBLE_EQ(plain.meter, 1.0);

  EXPECT_FALSE(ParseAsset("<up_axis>y_up</up_axis>").yUp);
  EXPECT_FALSE(ParseAsset("<up_axis>X_UP</up_axis>").yUp);
  EXPECT_DOUBLE_EQ(ParseAsset("<unit meter=\"abc\"/>").meter, 0.0);
}

}  // namespace
