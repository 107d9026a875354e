#include "materials/BuildMaterials.h"

#include <gtest/gtest.h>
#include <stb_image_write.h>

#include <memory>
#include <string>
#include <vector>

#include "facade/Settings.h"
#include "host/MaterialProperties.h"
#include "output/CreationManager.h"
#include "support/TestSupport.h"
#include "tags/Effects.h"
#include "tags/Image.h"
#include "xml/ElementNames.h"

using namespace varnel;

namespace {

struct Shading {
  float red = 1, green = 1, blue = 1;
  double opacity = 1.0;
};

// The effect table of a manager, owning its effects and images.
class Fixture {
 public:
  ~Fixture() {
    for (Tag* effect : effects_) delete effect;
  }

  int AddEffect(Shading s = {}, const wchar_t* name = L"", bool cull = true,
                ImageTag* image = nullptr) {
    auto* effect = new EffectTag(kEffect);
    effect->name = name;
    effect->cullBackFaces = cull;
    effect->profile = new ProfileCommon(kProfileCOMMON);
    effect->profile->technique = new TechniqueTag(kTechnique);
    auto* phong = new PhongTag(kPhong);
    effect->profile->technique->shading = phong;
    phong->diffuse.color[0] = s.red;
    phong->diffuse.color[1] = s.green;
    phong->diffuse.color[2] = s.blue;
    phong->opacity = s.opacity;
    return Add(effect, image);
  }
  int AddNull() { return Add(nullptr, nullptr); }

  ImageTag* Image(const std::string& path) {
    images_.push_back(std::make_unique<ImageTag>(kImage));
    images_.back()->filePath = String::FromUtf8(path);
    return images_.back().get();
  }

  // Primitives using the given effects, then the records.
  std::unique_ptr<MaterialProperties[]> Build(std::vector<int> uses, int& count) {
    for (int e : uses) manager.primitiveEffects.Add(e);
    manager.effects.AttachTo(effectTable_);
    manager.effectImages.AttachTo(imageTable_);
    count = -1;
    return std::unique_ptr<MaterialProperties[]>(BuildMaterials(manager, count));
  }

  CreationManager manager;

 private:
  int Add(EffectTag* effect, ImageTag* image) {
    effects_.push_back(effect);
    effectTable_.Add(effect);
    imageTable_.Add(image);
    return effectTable_.count - 1;
  }
  std::vector<Tag*> effects_;
  std::vector<std::unique_ptr<ImageTag>> images_;
  BaseArray<Tag*> effectTable_;
  BaseArray<ImageTag*> imageTable_;
};

std::vector<int> Entries(const BaseArray<int32_t>& a) { return {a.begin(), a.end()}; }
std::vector<int> Color(const MaterialProperties& m) { return {m.color, m.color + 3}; }

std::string WritePng(const std::string& name, int width, int height, int channels,
                     unsigned char value) {
  std::vector<unsigned char> pixels(static_cast<size_t>(width) * height * channels, value);
  std::string path = testsupport::ScratchDir() + "/" + name;
  EXPECT_NE(stbi_write_png(path.c_str(), width, height, channels, pixels.data(), width * channels), 0);
  return path;
}

TEST(BuildMaterials, RecordsFollowTableOrderNotFirstUse) {
  Fixture f;
  f.AddEffect({0.5f, 1.0f, 1.5f, 0.9});
  f.AddEffect();
  f.AddEffect({0, 0, 0, 1.0}, L"", false);
  int count = 0;
  auto records = f.Build({2, 0, 2, -1}, count);
  ASSERT_EQ(count, 2);
  EXPECT_EQ(Entries(f.manager.primitiveEffects), (std::vector<int>{1, 0, 1, -1}));
  EXPECT_EQ(Color(records[0]), (std::vector<int>{127, 255, 382}));
  EXPECT_TRUE(records[0].hasTransparency);
  EXPECT_EQ(records[0].transparency, 9);
  EXPECT_TRUE(records[0].cullBackFaces);
  EXPECT_EQ(Color(records[1]), (std::vector<int>{0, 0, 0}));
  EXPECT_FALSE(records[1].hasTransparency);
  EXPECT_FALSE(records[1].cullBackFaces);
}

TEST(BuildMaterials, TransparencyAndFallbackColours) {
  Fixture f;
  for (double opacity : {0.5, 0.95, 0.98, 1.0}) f.AddEffect({1, 1, 1, opacity});
  for (int i = 0; i < 3; ++i) f.AddNull();  // positions 4, 5, 6: 4 mod 3 is 1
  int count = 0;
  auto records = f.Build({0, 1, 2, 3, 4, 5, 6}, count);
  ASSERT_EQ(count, 7);
  EXPECT_EQ(records[0].transparency, 50);
  EXPECT_EQ(records[1].transparency, 5);
  EXPECT_FALSE(records[2].hasTransparency);
  EXPECT_FALSE(records[3].hasTransparency);
  EXPECT_EQ(Color(records[3]), (std::vector<int>{255, 255, 255}));
  EXPECT_EQ(Color(records[4]), (std::vector<int>{0, 255, 0}));
  EXPECT_EQ(Color(records[5]), (std::vector<int>{0, 0, 255}));
  EXPECT_EQ(Color(records[6]), (std::vector<int>{255, 0, 0}));
  EXPECT_FALSE(records[6].cullBackFaces);
}

TEST(BuildMaterials, TavuIgnoreNamesGetBlackEdgesUnlessConversionTypeIsOne) {
  const wchar_t* names[] = {L"tavu_ignore_roof", L"tavu_ignore", L"  TAVU_Ignore x",
                            L"tavu_ignor", L"my tavu_ignore"};
  const bool edged[] = {true, true, true, false, false};
  const int saved = conversionType;
  for (int type : {1, 2}) {
    conversionType = type;
    Fixture f;
    for (const wchar_t* name : names) f.AddEffect({}, name);
    int count = 0;
    auto records = f.Build({0, 1, 2, 3, 4}, count);
    ASSERT_EQ(count, 5);
    for (int i = 0; i < 5; ++i) {
      const bool expected = type != 1 && edged[i];
      EXPECT_EQ(records[i].hasEdgeDisplay, expected) << type << " " << i;
      if (expected) {
        EXPECT_TRUE(records[i].edgeDisplay);
        EXPECT_EQ(records[i].edgeWidth, 1);
        EXPECT_TRUE(records[i].hasEdgeColor);
        EXPECT_EQ((std::vector<int>{records[i].edgeColor, records[i].edgeColor + 3}),
                  (std::vector<int>{0, 0, 0}));
      }
    }
  }
  conversionType = saved;
}

TEST(BuildMaterials, OneImageObjectIsReadOnceAndShared) {
  Fixture f;
  const std::string path = WritePng("shared.png", 4, 2, 3, 90);
  ImageTag* a = f.Image(path);
  ImageTag* samePathOtherObject = f.Image(path);
  ImageTag* missing = f.Image(testsupport::ScratchDir() + "/missing.png");
  f.AddEffect({}, L"", true, a);  // unused: does not take part in sharing
  f.AddEffect({}, L"", true, a);
  f.AddEffect({}, L"", true, a);
  f.AddEffect({}, L"", true, samePathOtherObject);
  f.AddEffect({0, 0, 0}, L"", true, missing);
  int count = 0;
  auto records = f.Build({1, 2, 3, 4}, count);
  ASSERT_EQ(count, 4);
  EXPECT_EQ(records[0].textureWidth, 4);
  EXPECT_EQ(records[0].textureHeight, 2);
  EXPECT_EQ(records[0].textureChannels, 3);
  ASSERT_NE(records[0].texturePixels, nullptr);
  EXPECT_EQ(records[0].texturePixels[23], 90);
  EXPECT_EQ(records[0].sharedTexture, -1);
  // The shared index is the effect's table position (1), not its record index (0).
  EXPECT_EQ(records[1].sharedTexture, 1);
  EXPECT_EQ(records[1].texturePixels, nullptr);
  EXPECT_NE(records[2].texturePixels, nullptr);
  EXPECT_EQ(records[3].texturePixels, nullptr);
  EXPECT_EQ(Color(records[3]), (std::vector<int>{0, 0, 0}));
}

TEST(BuildMaterials, OversizedTextureIsClampedSideBySide) {
  Fixture f;
  f.AddEffect({}, L"", true, f.Image(WritePng("wide.png", 40000, 100, 1, 200)));
  int count = 0;
  auto records = f.Build({0}, count);
  ASSERT_EQ(count, 1);
  EXPECT_EQ(records[0].textureWidth, 32767);
  EXPECT_EQ(records[0].textureHeight, 100);
  EXPECT_EQ(records[0].textureChannels, 1);
  ASSERT_NE(records[0].texturePixels, nullptr);
  EXPECT_EQ(records[0].texturePixels[32767 * 100 - 1], 200);
}

TEST(BuildMaterials, NoEffectsStillReturnsAnArray) {
  Fixture f;
  int count = 0;
  auto records = f.Build({-1, -1}, count);
  EXPECT_EQ(count, 0);
  EXPECT_NE(records, nullptr);
  EXPECT_EQ(Entries(f.manager.primitiveEffects), (std::vector<int>{-1, -1}));
}

}  // namespace
