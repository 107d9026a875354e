#include <gtest/gtest.h>

#include "tags/Asset.h"
#include "tags/SceneFixtures.h"

namespace {

using namespace scenetest;

struct Settings {
  bool yUp = false;
  bool backFaceCulling = false;
  double meter = -1;
};

Settings Parsed(const std::string& content) {
  Fragment f("<asset><contributor><author>a</author>" + content + "</contributor><created>2009</created></asset>");
  AssetTag* asset = f.As(&Tag::AsAssetTag);
  return asset ? Settings{asset->yUp, asset->backFaceCulling, asset->meter} : Settings{};
}

TEST(AssetTagTest, AuthoringToolNamingColladaMayaAfterOtherTextTurnsCullingOff) {
  EXPECT_FALSE(Parsed("<authoring_tool>Maya 2009 | ColladaMaya v3.05B</authoring_tool>").backFaceCulling);
  EXPECT_TRUE(Parsed("<authoring_tool>ColladaMaya v3.05B</authoring_tool>").backFaceCulling);
  EXPECT_TRUE(Parsed("<authoring_tool>SketchUp 7</authoring_tool>").backFaceCulling);
}

TEST(AssetTagTest, UnitAndUpAxis) {
  Settings inches = Parsed("</contributor><unit name=\"inch\" meter=\"0.0254\"/><up_axis>Z_UP</up_axis><contributor>");
  EXPECT_DOUBLE_EQ(inches.meter, 0.0254);
  EXPECT_FALSE(inches.yUp);
  EXPECT_TRUE(Parsed("<up_axis>Y_UP</up_axis>").yUp);
  EXPECT_FALSE(Parsed("<up_axis>y_up</up_axis>").yUp);
  EXPECT_DOUBLE_EQ(Parsed("<unit meter=\"abc\"/>").meter, 0.0);
  EXPECT_DOUBLE_EQ(Parsed("").meter, 1.0);
}

}  // namespace
