#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <typeinfo>
#include <utility>

#include "tags/Asset.h"
#include "tags/Controller.h"
#include "tags/DataSources.h"
#include "tags/Effects.h"
#include "tags/FragmentReader.h"
#include "tags/Image.h"
#include "tags/MaterialBinding.h"
#include "tags/Mesh.h"
#include "tags/SceneGraph.h"
#include "tags/Transforms.h"
#include "xml/ElementNames.h"

using namespace varnel;
using tagtest::FragmentReader;
using tagtest::ParseAs;

TEST(Factory, BuildsTheClassOfEachOfTheThirtySevenElements) {
  const std::pair<const char*, const std::type_info&> cases[] = {
      {"accessor", typeid(AccessorTag)}, {"asset", typeid(AssetTag)}, {"bind_material", typeid(BindMaterial)},
      {"blinn", typeid(BlinnTag)}, {"controller", typeid(ControllerTag)}, {"effect", typeid(EffectTag)},
      {"float_array", typeid(FloatArray)}, {"geometry", typeid(GeometryTag)}, {"image", typeid(ImageTag)},
      {"input", typeid(InputTag)}, {"instance_controller", typeid(InstanceController)},
      {"instance_effect", typeid(InstanceEffect)}, {"instance_geometry", typeid(InstanceGeometry)},
      {"instance_material", typeid(InstanceMaterial)}, {"instance_node", typeid(InstanceTag)},
      {"instance_visual_scene", typeid(InstanceVisualScene)}, {"lambert", typeid(LambertTag)},
      {"lines", typeid(LinesTag)}, {"material", typeid(MaterialTag)}, {"matrix", typeid(MatrixTag)},
      {"mesh", typeid(MeshTag)}, {"newparam", typeid(NewParamTag)}, {"node", typeid(NodeTag)},
      {"phong", typeid(PhongTag)}, {"polylist", typeid(PolylistTag)}, {"profile_COMMON", typeid(ProfileCommon)},
      {"rotate", typeid(RotateTag)}, {"scale", typeid(ScaleTag)}, {"skin", typeid(SkinTag)},
      {"source", typeid(SourceTag)}, {"technique", typeid(TechniqueTag)},
      {"technique_common", typeid(TechniqueCommon)}, {"texture", typeid(TextureTag)},
      {"translate", typeid(TranslateTag)}, {"triangles", typeid(TrianglesTag)}, {"vertices", typeid(VerticesTag)},
      {"visual_scene", typeid(VisualScene)},
  };
  for (const auto& [name, type] : cases) {
    SCOPED_TRACE(name);
    FragmentReader reader(std::string("<") + name + "/>");
    std::unique_ptr<Tag> tag = reader.Next();
    ASSERT_TRUE(tag);
    const Tag& made = *tag;
    EXPECT_TRUE(typeid(made) == type);
    EXPECT_EQ(tag->elementId, static_cast<uint32_t>(LookupElement(name, std::strlen(name))));
  }
}

TEST(Factory, AttributesAndChildElementsReadAlike) {
  for (const char* text : {"<accessor id='acc' count=\"3\" stride='2' source='#f'><param name='X'/></accessor>",
                           "<accessor><id>acc</id><count>3</count><stride>2</stride></accessor>"}) {
    auto accessor = ParseAs<AccessorTag>(text);
    ASSERT_TRUE(accessor);
    EXPECT_EQ(accessor->GetId(), L"acc");
    EXPECT_EQ(accessor->count, 3);
    EXPECT_EQ(accessor->stride, 2);
  }
}

TEST(Factory, SkipsElementsWithoutClassButStopsAtUnknownNames) {
  FragmentReader reader(
      "<camera><optics><unheard_of a='1'>text</unheard_of></optics></camera><polygons><p>0 1 2</p></polygons>"
      "<geometry id='g'><mesh id='m1'><vertices id='v1'/></mesh><mesh id='m2'><vertices id='v1'/>"
      "<vertices id='v2'/></mesh><znear>1</znear><width>2</width></geometry>"
      "<geometry id='broken'><mesh><source id='s'/><no_such_element/></mesh></geometry><geometry/>");
  EXPECT_FALSE(reader.Next());
  EXPECT_FALSE(reader.Next());
  std::unique_ptr<Tag> geometry = reader.Next();
  ASSERT_TRUE(geometry && geometry->AsGeometryTag()->mesh);
  EXPECT_FALSE(reader.document.stopped);
  // A later single child replaces (and frees) the earlier one.
  EXPECT_EQ(geometry->AsGeometryTag()->mesh->GetId(), L"m2");
  EXPECT_EQ(geometry->AsGeometryTag()->mesh->vertices->GetId(), L"v2");

  EXPECT_FALSE(reader.Next());
  EXPECT_TRUE(reader.document.stopped);
  EXPECT_EQ(reader.document.stream, nullptr);
}

TEST(Factory, NestingBeyondTheLimitFailsTheDocument) {
  auto nested = [](int levels) {
    std::string text;
    for (int i = 0; i < levels; ++i) text += "<node>";
    for (int i = 0; i < levels; ++i) text += "</node>";
    return text + "<lines/>";
  };
  FragmentReader deep(nested(2000));
  EXPECT_TRUE(deep.Next());
  EXPECT_TRUE(deep.Next());
  for (int levels : {2001, 100000}) {
    FragmentReader tooDeep(nested(levels));
    EXPECT_FALSE(tooDeep.Next());
    EXPECT_TRUE(tooDeep.document.stopped);
  }
}
