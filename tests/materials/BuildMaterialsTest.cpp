#include "materials/BuildMaterials.h"

#include <gtest/gtest.h>
#include <stb_image_write.h>

#include <memory>
#include <string>
#include <vector>

#include <varnel/MaterialProperties.h>
#include "output/CreationManager.h"
#include "support/TestSupport.h"
#include "tags/Effects.h"
#include "tags/Image.h"
#include "xml/ElementNames.h"

using namespace varnel;

namespace {

// A manager's effect table, owning its effects and images.
struct Effects {
  ~Effects() {
    for (Tag* effect : table) delete effect;
  }
  // An effect of that red and opacity, with a new image read from `imagePath` or else `image`.
  void Add(float red, double opacity, const wchar_t* name = L"", const std::string& imagePath = "",
           ImageTag* image = nullptr) {
    auto* effect = new EffectTag(kEffect);
    effect->name = name;
    effect->profile = new ProfileCommon(kProfileCOMMON);
    effect->profile->technique = new TechniqueTag(kTechnique);
    auto* phong = effect->profile->technique->shading = new PhongTag(kPhong);
    phong->diffuse.color[0] = red;
    phong->opacity = opacity;
    if (!imagePath.empty()) {
      images.push_back(std::make_unique<ImageTag>(kImage));
      images.back()->filePath = String::FromUtf8(imagePath);
      image = images.back().get();
    }
    table.Add(effect);
    imageTable.Add(image);
  }
  // Builds the records for primitives that use the given effects.
  std::unique_ptr<MaterialProperties[]> Build(const std::vector<int>& uses, int& count) {
    for (int e : uses) manager.primitiveEffects.Add(e);
    manager.effects.AttachTo(table);
    manager.effectImages.AttachTo(imageTable);
    return std::unique_ptr<MaterialProperties[]>(BuildMaterials(manager, count));
  }

  CreationManager manager;
  BaseArray<Tag*> table;
  BaseArray<ImageTag*> imageTable;
  std::vector<std::unique_ptr<ImageTag>> images;
};

TEST(BuildMaterials, RecordsFollowTableOrderWithTruncatedFigures) {
  Effects f;
  for (double opacity : {0.9, 0.5, 0.95, 1.0}) f.Add(0.5f, opacity);
  f.Add(1.5f, 1.0);
  f.table.Add(nullptr);  // position 5: fallback colour 5 mod 3
  f.imageTable.Add(nullptr);
  int count = -1;
  auto records = f.Build({5, 4, 2, 0, 2, -1, 3, 5}, count);
  ASSERT_EQ(count, 5);  // effect 1 is unused
  EXPECT_EQ((std::vector<int>(f.manager.primitiveEffects.begin(), f.manager.primitiveEffects.end())),
            (std::vector<int>{4, 3, 1, 0, 1, -1, 2, 4}));
  EXPECT_TRUE(records[0].color[0] == 127 && records[0].transparency == 9);
  EXPECT_EQ(records[1].transparency, 5);
  EXPECT_FALSE(records[2].hasTransparency);
  EXPECT_TRUE(records[3].color[0] == 382 && records[3].cullBackFaces);
  EXPECT_EQ((std::vector<int>(records[4].color, records[4].color + 3)), (std::vector<int>{0, 0, 255}));
  EXPECT_FALSE(records[4].cullBackFaces);

  Effects none;
  EXPECT_NE(none.Build({-1}, count), nullptr);
  EXPECT_EQ(count, 0);
}

TEST(BuildMaterials, TavuIgnoreEdgesOnlyWhenConversionTypeIsNotOne) {
  const wchar_t* names[] = {L"tavu_ignore_roof", L"tavu_ignore", L"  TAVU_Ignore x", L"tavu_ignor",
                            L"my tavu_ignore"};
  for (int type : {1, 2}) {
    Effects f;
    f.manager.conversionType = type;
    for (const wchar_t* name : names) f.Add(1, 1, name);
    int count = 0;
    auto records = f.Build({0, 1, 2, 3, 4}, count);
    for (int i = 0; i < 5; ++i) {
      EXPECT_EQ(records[i].edgeDisplay, type != 1 && i < 3) << type << " " << i;
      EXPECT_EQ(records[i].edgeWidth, records[i].edgeDisplay ? 1 : 0);
    }
  }
}

TEST(BuildMaterials, ImageObjectReadOnceSharedAndClamped) {
  auto png = [](const std::string& name, int width, int height, int channels) {
    std::vector<unsigned char> pixels(static_cast<size_t>(width) * height * channels, 200);
    std::string path = testsupport::ScratchDir() + "/" + name;
    EXPECT_NE(stbi_write_png(path.c_str(), width, height, channels, pixels.data(), width * channels), 0);
    return path;
  };
  Effects f;
  const std::string small = png("small.png", 4, 2, 3);
  f.Add(1, 1, L"", small);  // unused: takes no part in sharing
  ImageTag* shared = f.images.back().get();
  f.Add(1, 1, L"", "", shared);
  f.Add(1, 1, L"", "", shared);
  f.Add(1, 1, L"", small);  // same path, other object: read again
  f.Add(1, 1, L"", testsupport::ScratchDir() + "/missing.png");
  f.Add(1, 1, L"", png("wide.png", 40000, 100, 1));
  int count = 0;
  auto records = f.Build({1, 2, 3, 4, 5}, count);
  ASSERT_EQ(count, 5);
  EXPECT_EQ(records[0].textureWidth * records[0].textureHeight * records[0].textureChannels, 24);
  // The shared index is the table position of the first user (1), not its record index (0).
  EXPECT_TRUE(records[1].sharedTexture == 1 && !records[1].texturePixels);
  EXPECT_NE(records[2].texturePixels, nullptr);
  EXPECT_TRUE(!records[3].texturePixels && records[3].hasColor);
  EXPECT_TRUE(records[4].textureWidth == 32767 && records[4].textureHeight == 100);
  ASSERT_NE(records[4].texturePixels, nullptr);
  EXPECT_EQ(records[4].texturePixels[32767 * 100 - 1], 200);
}

}  // namespace
