#include <gtest/gtest.h>

#include "tags/Effects.h"
#include "tags/Image.h"
#include "tags/SceneFixtures.h"

namespace {

using namespace scenetest;

double Opacity(const char* alpha, const char* transparency) {
  std::string members;
  if (alpha) members += std::string("<transparent opaque=\"A_ONE\"><color>0 0 0 ") + alpha + "</color></transparent>";
  if (transparency) members += std::string("<transparency><float sid=\"t\">") + transparency + "</float></transparency>";
  Fragment f("<phong>" + members + "<shininess><float>20</float></shininess></phong>");
  return f.As(&Tag::AsPhongTag) ? f.As(&Tag::AsPhongTag)->opacity : -1;
}

TEST(PhongTagTest, OpacityRules) {
  EXPECT_DOUBLE_EQ(Opacity(nullptr, "0.5"), 0.5);
  EXPECT_DOUBLE_EQ(Opacity(nullptr, "0.0"), 1.0);
  EXPECT_DOUBLE_EQ(Opacity(nullptr, "1.0"), 1.0);
  EXPECT_DOUBLE_EQ(Opacity(nullptr, "0.1"), 0.1);
  EXPECT_FLOAT_EQ(Opacity("0.3", "0.9"), 0.3f);
  EXPECT_DOUBLE_EQ(Opacity("1.0", "0.5"), 0.5);
  EXPECT_DOUBLE_EQ(Opacity("1.0", "0.1"), 1.0);  // stricter lower bound beside a colour
}

TEST(ColorTagTest, ShortColourKeepsDefaultsAndStopsAtItsEnd) {
  Fragment f(R"(<lambert><diffuse><color sid="d">0.2 0.4</color></diffuse><ambient><color/></ambient>
<emission><color>0.1 0.2 0.3 0.4 0.5</color></emission><transparency><float>0.5</float></transparency></lambert>)");
  PhongTag* shading = f.As(&Tag::AsPhongTag);
  ASSERT_NE(shading, nullptr);
  const float* d = shading->diffuse.color;
  EXPECT_TRUE(d[0] == 0.2f && d[1] == 0.4f && d[2] == 1.0f && d[3] == 1.0f);
  EXPECT_EQ(shading->ambient.color[0], 1.0f);
  EXPECT_EQ(shading->emission.color[3], 0.4f);
  EXPECT_DOUBLE_EQ(shading->opacity, 0.5);
}

ProfileCommon* Profile(Fragment& f) {
  EffectTag* effect = f.As(&Tag::AsEffectTag);
  return effect ? effect->profile : nullptr;
}

// An effect whose profile holds `content` and a technique with `techniqueContent` and a
// diffuse texture named `texture`.
std::string Effect(const std::string& content, const std::string& techniqueContent, const char* texture) {
  return "<effect id=\"e\"><profile_GLSL><technique sid=\"x\"/></profile_GLSL><profile_COMMON>" + content +
         "<technique sid=\"common\">" + techniqueContent + "<phong><diffuse><texture texture=\"" + texture +
         "\" texcoord=\"UV0\"/></diffuse></phong></technique></profile_COMMON></effect>";
}
const std::string kSampler = R"(<newparam sid="samp"><sampler2D><source>surf</source></sampler2D></newparam>)";
const std::string kSurface = R"(<newparam sid="surf"><surface type="2D"><init_from>img</init_from><format>A8R8G8B8</format></surface></newparam>)";

TEST(ProfileCommonTest, TextureImageIdFollowsNewparamChain) {
  Fragment inProfile(Effect(kSampler + kSurface, "", "samp"));
  ASSERT_NE(Profile(inProfile), nullptr);
  EXPECT_TRUE(Profile(inProfile)->GetTextureImageId() == L"img");

  // Broken after its first step in the profile: tried again in the technique.
  Fragment split(Effect(kSampler, kSampler + kSurface, "samp"));
  ASSERT_NE(Profile(split), nullptr);
  EXPECT_TRUE(Profile(split)->GetTextureImageId() == L"img");

  Fragment direct(Effect(R"(<image id="photo"><init_from>nowhere.png</init_from></image>)", "", "photo"));
  ASSERT_NE(Profile(direct), nullptr);
  EXPECT_TRUE(Profile(direct)->GetTextureImageId() == L"photo");
  EXPECT_TRUE(Profile(direct)->imageIsTexture);
}

TEST(ProfileCommonTest, OnlyATechniqueInsideExtraControlsCulling) {
  Fragment extra(Effect("<extra><technique profile=\"MAX3D\"><double_sided>1</double_sided></technique></extra>", "", "t"));
  ASSERT_NE(Profile(extra), nullptr);
  EXPECT_FALSE(extra.As(&Tag::AsEffectTag)->cullBackFaces);
  EXPECT_NE(Profile(extra)->technique, nullptr);

  Fragment own(Effect("", "<double_sided>1</double_sided>", "t"));
  ASSERT_NE(Profile(own), nullptr);
  EXPECT_TRUE(own.As(&Tag::AsEffectTag)->cullBackFaces);
  EXPECT_TRUE(Profile(own)->technique->doubleSided);
}

}  // namespace
