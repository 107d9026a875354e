#include <gtest/gtest.h>

#include "tags/DataSources.h"
#include "tags/MaterialBinding.h"
#include "tags/SceneFixtures.h"

namespace {

using namespace scenetest;

TEST(MaterialTagTest, EffectUrlLosesOneLeadingHash) {
  Fragment f(R"(<material id="m" name="Red"><instance_effect url=" #red "><setparam ref="x"><float>1</float></setparam></instance_effect></material>)");
  MaterialTag* material = f.As(&Tag::AsMaterialTag);
  ASSERT_NE(material, nullptr);
  EXPECT_TRUE(material->GetId() == L"m");
  EXPECT_TRUE(material->GetName() == L"Red");
  EXPECT_TRUE(material->GetEffectUrl() == L"red");

  Fragment lone(R"(<material id="m"><instance_effect url="#"/></material>)");
  ASSERT_NE(lone.As(&Tag::AsMaterialTag), nullptr);
  EXPECT_TRUE(lone.As(&Tag::AsMaterialTag)->GetEffectUrl() == L"#");

  Fragment bare(R"(<material id="m"/>)");
  ASSERT_NE(bare.As(&Tag::AsMaterialTag), nullptr);
  EXPECT_TRUE(bare.As(&Tag::AsMaterialTag)->GetEffectUrl().IsEmpty());
}

TEST(BindMaterialTest, InstanceMaterialsKeepSymbolAndStripTarget) {
  Fragment f(R"(<bind_material><param name="x"/><technique_common>
  <instance_material symbol=" s1" target="#mat1"><bind_vertex_input semantic="UV" input_semantic="TEXCOORD" input_set="0"/></instance_material>
  <instance_material symbol="s2" target="mat2"/>
</technique_common><technique profile="MAX3D"/></bind_material>)");
  BindMaterial* binding = f.As(&Tag::AsBindMaterial);
  ASSERT_NE(binding, nullptr);
  ASSERT_NE(binding->techniqueCommon, nullptr);
  const auto& list = binding->techniqueCommon->instanceMaterials;
  ASSERT_EQ(list.count, 2);
  EXPECT_TRUE(list[0]->symbol == L" s1");
  EXPECT_TRUE(list[0]->target == L"mat1");
  EXPECT_TRUE(list[1]->target == L"mat2");
}

}  // namespace
