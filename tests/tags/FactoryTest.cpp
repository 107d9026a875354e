#include <gtest/gtest.h>

#include "tags/DataSources.h"
#include "tags/Mesh.h"
#include "tags/Transforms.h"
#include "tags/FragmentReader.h"
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
