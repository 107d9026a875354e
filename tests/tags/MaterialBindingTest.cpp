#include <gtest/gtest.h>

#include "tags/DataSources.h"
#include "tags/MaterialBinding.h"
#include "tags/SceneFixtures.h"

namespace {

using namespace scenetest;

TEST(MaterialTagTest, EffectUrlLosesOneLeadingHash) {
  Fragment f(R"(<material id="m"><instance_effect url=" #red "><setparam ref="x"><float>1</float></setparam></instance_effect></material>)");
  ASSERT_NE(f.As(&Tag::AsMaterialTag), nullptr);
  EXPECT_TRUE(f.As(&Tag::AsMaterialTag)->GetEffectUrl() == L"red");
  Fragment lone(R"(<material id="m"><instance_effect url="#"/></material>)");
  ASSERT_NE(lone.As(&Tag::AsMaterialTag), nullptr);
  EXPECT_TRUE(lone.As(&Tag::AsMaterialTag)->GetEffectUrl() == L"#");
}

TEST(InstanceGeometryTest, LastBindMaterialWinsWithItsInstanceMaterials) {
  Fragment f(R"(<instance_geometry url=" #g ">
  <bind_material><technique_common><instance_material symbol="a" target="#first"/></technique_common></bind_material>
  <bind_material><param name="x"/><technique_common>
    <instance_material symbol=" s1" target="#mat1"><bind_vertex_input semantic="UV" input_semantic="TEXCOORD" input_set="0"/></instance_material>
    <instance_material symbol="s2" target="mat2"/>
  </technique_common><technique profile="MAX3D"/></bind_material>
</instance_geometry>)");
  InstanceGeometry* instance = f.As(&Tag::AsInstanceGeometry);
  ASSERT_TRUE(instance && instance->bindMaterial && instance->bindMaterial->techniqueCommon);
  EXPECT_TRUE(instance->url == L"g");
  const auto& list = instance->bindMaterial->techniqueCommon->instanceMaterials;
  ASSERT_EQ(list.count, 2);
  EXPECT_TRUE(list[0]->symbol == L" s1" && list[0]->target == L"mat1");
  EXPECT_TRUE(list[1]->target == L"mat2");
}

}  // namespace
