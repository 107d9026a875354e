#include <gtest/gtest.h>

#include "tags/Effects.h"
#include "tags/Image.h"
#include "tags/SceneFixtures.h"

namespace {

using namespace scenetest;

double OpacityOf(const std::string& members) {
  Fragment f("<phong>" + members + "<shininess><float>20</float></shininess></phong>");
  PhongTag* phong = f.As(&Tag::AsPhongTag);
  return phong ? phong->opacity : -1;
}

std::string Transparency(const char* value) {
  return std::string("<transparency><float sid=\"t\">") + value + "</float></transparency>";
}

std::string Transparent(const char* alpha) {
  return std::string("<transparent opaque=\"A_ONE\"><color>0 0 0 ") + alpha + "</color></transparent>";
}

TEST(PhongTagTest, OpacityRules) {
  EXPECT_DOUBLE_EQ(OpacityOf(""), 1.0);
  EXPECT_DOUBLE_EQ(OpacityOf(Transparency("0.5")), 0.5);
  EXPECT_DOUBLE_EQ(OpacityOf(Transparency("0.0")), 1.0);
  EXPECT_DOUBLE_EQ(OpacityOf(Transparency("1.0")), 1.0);
  EXPECT_FLOAT_EQ(OpacityOf(Transparent("0.3") + Transparency("0.9")), 0.3f);
  EXPECT_DOUBLE_EQ(OpacityOf(Transparent("1.0") + Transparency("0.5")), 0.5);
  // With a transparent colour the lower bound of the transparency is stricter.
  EXPECT_DOUBLE_EQ(OpacityOf(Transparent("1.0") + Transparency("0.1")), 1.0);
  EXPECT_DOUBLE_EQ(OpacityOf(Transparency("0.1")), 0.1);
}

TEST(ColorTagTest, ShortColourKeepsDefaultsAndStopsAtItsEnd) {
  Fragment f(R"(<lambert>
  <diffuse><color sid="d">0.2 0.4</color></diffuse>
  <ambient><color/></ambient>
  <emission><color>0.1 0.2 0.3 0.4 0.5</color></emission>
  <transparency><float>0.5</float></transparency>
</lambert>)");
  PhongTag* shading = f.As(&Tag::AsPhongTag);
  ASSERT_NE(shading, nullptr);
  EXPECT_FLOAT_EQ(shading->diffuse.color[0], 0.2f);
  EXPECT_FLOAT_EQ(shading->diffuse.color[1], 0.4f);
  EXPECT_FLOAT_EQ(shading->diffuse.color[2], 1.0f);
  EXPECT_FLOAT_EQ(shading->diffuse.color[3], 1.0f);
  EXPECT_FLOAT_EQ(shading->ambient.color[0], 1.0f);
  EXPECT_FLOAT_EQ(shading->emission.color[3], 0.4f);
  EXPECT_DOUBLE_EQ(shading->opacity, 0.5);
}

std::string Effect(const std::string& profileContent) {
  return "<effect id=\"e\"><profile_GLSL><technique sid=\"x\"/></profile_GLSL><profile_COMMON>" +
         profileContent + "</profile_COMMON></effect>";
}

std::string Technique(const std::string& extra, const char* texture) {
  return "<technique sid=\"common\">" + extra + "<phong><diffuse><texture texture=\"" + texture +
         "\" texcoord=\"UV0\"/></diffuse></phong></technique>";
}

const char* kSampler = R"(<newparam sid="samp"><sampler2D><source>surf</source></sampler2D></newparam>)";
const char* kSurface = R"(<newparam sid="surf"><surface type="2D"><init_from>img</init_from><format>A8R8G8B8</format></surface></newparam>)";

TEST(ProfileCommonTest, TextureImageIdFollowsNewparamChain) {
  Fragment inProfile(Effect(std::string(kSampler) + kSurface + Technique("", "samp")));
  EffectTag* effect = inProfile.As(&Tag::AsEffectTag);
  ASSERT_NE(effect, nullptr);
  ASSERT_NE(effect->profile, nullptr);
  EXPECT_TRUE(effect->profile->GetTextureImageId() == L"img");
  EXPECT_TRUE(effect->profile->technique->shading->diffuse.texture->texcoord == L"UV0");

  // The sampler lies in the profile but its surface only in the technique: tried again there.
  Fragment split(Effect(std::string(kSampler) + Technique(std::string(kSampler) + kSurface, "samp")));
  ASSERT_NE(split.As(&Tag::AsEffectTag), nullptr);
  EXPECT_TRUE(split.As(&Tag::AsEffectTag)->profile->GetTextureImageId() == L"img");

  // An image written inside the profile and named directly by the texture.
  Fragment direct(Effect(R"(<image id="photo"><init_from>nowhere.png</init_from></image>)" +
                         Technique("", "photo")));
  EffectTag* directEffect = direct.As(&Tag::AsEffectTag);
  ASSERT_NE(directEffect, nullptr);
  EXPECT_TRUE(directEffect->profile->GetTextureImageId() == L"photo");
  EXPECT_TRUE(directEffect->profile->imageIsTexture);
  EXPECT_TRUE(directEffect->profile->image->filePath.IsEmpty());
}

TEST(ProfileCommonTest, OnlyATechniqueInsideExtraControlsCulling) {
  const char* phong = "<phong/>";
  Fragment extra(Effect(std::string("<technique sid=\"t\">") + phong +
                        "</technique><extra><technique profile=\"MAX3D\"><double_sided>1</double_sided>"
                        "</technique></extra>"));
  ASSERT_NE(extra.As(&Tag::AsEffectTag), nullptr);
  EXPECT_FALSE(extra.As(&Tag::AsEffectTag)->cullBackFaces);
  EXPECT_NE(extra.As(&Tag::AsEffectTag)->profile->technique, nullptr);

  Fragment own(Effect(std::string("<technique sid=\"t\"><double_sided>1</double_sided>") + phong +
                      "</technique>"));
  EffectTag* effect = own.As(&Tag::AsEffectTag);
  ASSERT_NE(effect, nullptr);
  EXPECT_TRUE(effect->cullBackFaces);
  EXPECT_TRUE(effect->profile->technique->doubleSided);
  EXPECT_NE(effect->profile->technique->shading, nullptr);
}

}  // namespace
