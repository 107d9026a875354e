#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "tags/Asset.h"
#include "tags/Controller.h"
#include "tags/DataSources.h"
#include "tags/Effects.h"
#include "tags/Image.h"
#include "tags/MaterialBinding.h"
#include "tags/FragmentReader.h"
#include "tags/Mesh.h"
#include "tags/SceneGraph.h"
#include "tags/Transforms.h"
#include "xml/ElementNames.h"

using namespace varnel;
using tagtest::FragmentReader;
using tagtest::ParseAs;

TEST(Factory, BuildsTheClassOfEachGeometryElement) {
  struct Case {
    const char* name;
    bool (*matches)(Tag&);
  };
  const Case cases[] = {
      {"accessor", [](Tag& t) { return t.AsAccessorTag() != nullptr; }},
      {"float_array", [](Tag& t) { return t.AsFloatArray() != nullptr; }},
      {"input", [](Tag& t) { return t.AsInputTag() != nullptr; }},
      {"geometry", [](Tag& t) { return t.AsGeometryTag() != nullptr; }},
      {"mesh", [](Tag& t) { return t.AsMeshTag() != nullptr; }},
      {"source", [](Tag& t) { return t.AsSourceTag() != nullptr; }},
      {"technique_common", [](Tag& t) { return t.AsTechniqueCommon() != nullptr; }},
      {"vertices", [](Tag& t) { return t.AsVerticesTag() != nullptr; }},
      {"triangles", [](Tag& t) { return dynamic_cast<TrianglesTag*>(t.AsPrimitiveTag()) != nullptr; }},
      {"polylist", [](Tag& t) { return dynamic_cast<PolylistTag*>(t.AsPrimitiveTag()) != nullptr; }},
      {"lines", [](Tag& t) { return dynamic_cast<LinesTag*>(t.AsPrimitiveTag()) != nullptr; }},
      {"translate", [](Tag& t) { return dynamic_cast<TranslateTag*>(t.AsTransformTag()) != nullptr; }},
      {"rotate", [](Tag& t) { return dynamic_cast<RotateTag*>(t.AsTransformTag()) != nullptr; }},
      {"matrix", [](Tag& t) { return dynamic_cast<MatrixTag*>(t.AsTransformTag()) != nullptr; }},
      {"scale", [](Tag& t) { return dynamic_cast<ScaleTag*>(t.AsTransformTag()) != nullptr; }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FragmentReader reader(std::string("<") + c.name + "/>");
    std::unique_ptr<Tag> tag = reader.Next();
    ASSERT_TRUE(tag);
    EXPECT_TRUE(c.matches(*tag));
    EXPECT_EQ(tag->elementId, static_cast<uint32_t>(LookupElement(c.name, std::strlen(c.name))));
    EXPECT_FALSE(reader.document.stopped);
  }
}

TEST(Factory, AttributesAndChildElementsReadAlike) {
  auto fromAttributes = ParseAs<AccessorTag>(
      "<accessor id='acc' count=\"3\" stride='2' offset=\"1\" source=\"#f\"><param name='X'/></accessor>");
  auto fromChildren = ParseAs<AccessorTag>(
      "<accessor><id>acc</id><count>3</count><stride>2</stride><offset>1</offset></accessor>");
  for (AccessorTag* accessor : {fromAttributes.get(), fromChildren.get()}) {
    ASSERT_TRUE(accessor);
    EXPECT_EQ(accessor->GetId(), L"acc");
    EXPECT_EQ(accessor->count, 3);
    EXPECT_EQ(accessor->stride, 2);
    EXPECT_EQ(accessor->offset, 1);
  }
  // Elements without a NamedTag base answer with the shared placeholder.
  auto input = ParseAs<InputTag>("<input id='x'/>");
  ASSERT_TRUE(input);
  EXPECT_EQ(input->GetId(), L"No Name");
}

TEST(Factory, SkipsElementsWithoutClassAndKeepsReading) {
  FragmentReader reader(
      "<camera><optics><unheard_of a='1'>text</unheard_of></optics></camera>"
      "<polygons count='1'><p>0 1 2</p></polygons>"
      "<geometry id='g'><znear>1</znear><width>2</width></geometry>");
  EXPECT_FALSE(reader.Next());
  EXPECT_FALSE(reader.document.stopped);
  EXPECT_FALSE(reader.Next());
  EXPECT_FALSE(reader.document.stopped);
  std::unique_ptr<Tag> geometry = reader.Next();
  ASSERT_TRUE(geometry && geometry->AsGeometryTag());
  EXPECT_EQ(geometry->GetId(), L"g");
  EXPECT_FALSE(reader.document.stopped);
}

TEST(Factory, UnknownNameInsideParsedElementStopsTheDocument) {
  FragmentReader reader(
      "<geometry id='first'><mesh/></geometry>"
      "<geometry id='second'><mesh><source id='s'/><no_such_element/></mesh></geometry>"
      "<geometry id='third'/>");
  std::unique_ptr<Tag> first = reader.Next();
  ASSERT_TRUE(first);
  EXPECT_EQ(first->GetId(), L"first");
  EXPECT_FALSE(reader.Next());
  EXPECT_TRUE(reader.document.stopped);
  EXPECT_EQ(reader.document.stream, nullptr);
}

TEST(Factory, SecondSingleChildReplacesTheFirst) {
  auto geometry = ParseAs<GeometryTag>(
      "<geometry><mesh id='m1'><vertices id='v1'/></mesh>"
      "<mesh id='m2'><vertices id='v1'/><vertices id='v2'/></mesh></geometry>");
  ASSERT_TRUE(geometry && geometry->mesh);
  EXPECT_EQ(geometry->mesh->GetId(), L"m2");
  ASSERT_TRUE(geometry->mesh->vertices);
  EXPECT_EQ(geometry->mesh->vertices->GetId(), L"v2");
}

TEST(Factory, BuildsTheClassOfEverySceneAndEffectElement) {
  const struct {
    const char* name;
    bool (*matches)(Tag&);
  } cases[] = {
      {"asset", [](Tag& t) { return t.AsAssetTag() != nullptr; }},
      {"bind_material", [](Tag& t) { return t.AsBindMaterial() != nullptr; }},
      {"blinn", [](Tag& t) { return dynamic_cast<BlinnTag*>(t.AsPhongTag()) != nullptr; }},
      {"controller", [](Tag& t) { return t.AsControllerTag() != nullptr; }},
      {"effect", [](Tag& t) { return t.AsEffectTag() != nullptr; }},
      {"image", [](Tag& t) { return t.AsImageTag() != nullptr; }},
      {"instance_controller", [](Tag& t) { return t.AsInstanceController() && t.AsInstanceGeometry() && t.AsUrlTag(); }},
      {"instance_effect", [](Tag& t) { return t.AsInstanceEffect() != nullptr; }},
      {"instance_geometry", [](Tag& t) { return t.AsInstanceGeometry() && !t.AsInstanceTag() && !t.AsInstanceController(); }},
      {"instance_material", [](Tag& t) { return t.AsInstanceMaterial() != nullptr; }},
      {"instance_node", [](Tag& t) { return t.AsInstanceTag() && t.AsInstanceGeometry(); }},
      {"instance_visual_scene", [](Tag& t) { return t.AsUrlTag() && !t.AsInstanceGeometry(); }},
      {"lambert", [](Tag& t) { return dynamic_cast<LambertTag*>(t.AsPhongTag()) != nullptr; }},
      {"material", [](Tag& t) { return t.AsMaterialTag() != nullptr; }},
      {"newparam", [](Tag& t) { return t.AsNewParamTag() != nullptr; }},
      {"node", [](Tag& t) { return t.AsNodeTag() != nullptr; }},
      {"phong", [](Tag& t) { return t.AsPhongTag() && !dynamic_cast<LambertTag*>(&t) && !dynamic_cast<BlinnTag*>(&t); }},
      {"profile_COMMON", [](Tag& t) { return t.AsProfileCommon() != nullptr; }},
      {"skin", [](Tag& t) { return t.AsSkinTag() != nullptr; }},
      {"technique", [](Tag& t) { return t.AsTechniqueTag() != nullptr; }},
      {"texture", [](Tag& t) { return t.AsTextureTag() != nullptr; }},
      {"visual_scene", [](Tag& t) { return t.AsVisualScene() != nullptr; }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FragmentReader reader(std::string("<") + c.name + "/>");
    std::unique_ptr<Tag> tag = reader.Next();
    ASSERT_TRUE(tag);
    EXPECT_TRUE(c.matches(*tag));
    EXPECT_EQ(tag->elementId, static_cast<uint32_t>(LookupElement(c.name, std::strlen(c.name))));
  }
}

namespace {
std::string NestedNodes(int levels) {
  std::string text;
  for (int i = 0; i < levels; ++i) text += "<node>";
  for (int i = 0; i < levels; ++i) text += "</node>";
  return text + "<lines/>";
}
}  // namespace

TEST(Factory, NestingBeyondTheLimitFailsTheDocument) {
  FragmentReader deep(NestedNodes(2000));
  EXPECT_TRUE(deep.Next());
  EXPECT_TRUE(deep.Next());  // the element after it is read as usual
  EXPECT_FALSE(deep.document.stopped);

  for (int levels : {2001, 100000}) {
    FragmentReader tooDeep(NestedNodes(levels));
    EXPECT_FALSE(tooDeep.Next());
    EXPECT_TRUE(tooDeep.document.stopped);
    EXPECT_EQ(tooDeep.document.stream, nullptr);
  }
}
