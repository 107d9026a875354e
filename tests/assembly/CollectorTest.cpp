#include <gtest/gtest.h>

#include "assembly/SceneBuilder.h"
#include "support/TestSupport.h"

namespace assemblytest {
namespace {

MeshTag* OneTriangle(SceneBuilder& b, const wchar_t* id, const wchar_t* material = L"") {
  MeshTag* mesh = b.AddGeometry(id, {1, 0, 0, 0, 1, 0, 0, 0, 1});
  b.AddPrimitive(mesh, kTriangles, 1, {0, 1, 2}, material);
  return mesh;
}

TEST(Collector, OneTriangleGivesOnePartOfThreePoints) {
  SceneBuilder b;
  OneTriangle(b, L"g");
  b.Instance(b.AddNode(), L"#g");  // names nothing: ids are compared whole
  b.Instance(b.AddNode(), L"g");
  b.Run();

  EXPECT_EQ(b.collector.manager, &b.manager);
  EXPECT_EQ(b.manager.creations, 1);
  EXPECT_EQ(b.manager.pass, 2);
  EXPECT_EQ(b.collector.pass, 0);
  ASSERT_EQ(b.manager.parts.size(), 1u);
  EXPECT_EQ(b.manager.parts[0].points.size(), 3u);
  EXPECT_EQ(b.manager.primitiveIndex, 1);
}

TEST(Collector, TooLittleGeometryProducesNothing) {
  SceneBuilder lines;
  MeshTag* mesh = lines.AddGeometry(L"g", {0, 0, 0, 1, 0, 0});
  lines.AddPrimitive(mesh, kLines, 1, {0, 1});
  lines.Instance(lines.AddNode(), L"g");
  lines.Run(true);
  EXPECT_EQ(lines.collector.manager, nullptr);
  EXPECT_EQ(lines.manager.creations, 0);

  SceneBuilder empty;  // a part without points
  empty.AddPrimitive(empty.AddGeometry(L"g", {0, 0, 0}), kTriangles, 0, {});
  empty.Instance(empty.AddNode(), L"g");
  empty.Run();
  EXPECT_EQ(empty.manager.partCount, 1);
  EXPECT_EQ(empty.collector.manager, nullptr);

  SceneBuilder refused;
  OneTriangle(refused, L"g");
  refused.Instance(refused.AddNode(), L"g");
  refused.manager.acceptCreation = false;
  refused.Run();
  EXPECT_EQ(refused.manager.creations, 1);
  EXPECT_EQ(refused.collector.manager, nullptr);
  EXPECT_TRUE(refused.manager.parts.empty());
}

TEST(Collector, NestedTransformsAndInstancesBeforeChildren) {
  SceneBuilder b;
  b.AddPrimitive(b.AddGeometry(L"g", {1, 0, 0, 1, 0, 0, 1, 0, 0}), kTriangles, 1, {0, 1, 2});
  NodeTag* parent = b.AddNode();
  SceneBuilder::AddTransform<TranslateTag>(parent, kTranslate, 10, 0, 0);
  NodeTag* child = b.AddNode(parent);  // listed before the parent's own instance
  SceneBuilder::AddTransform<ScaleTag>(child, kScale, 2, 2, 2);
  b.Instance(child, L"g");
  b.Instance(parent, L"g");
  b.Run();

  ASSERT_EQ(b.manager.parts.size(), 2u);
  EXPECT_DOUBLE_EQ(b.manager.parts[0].points[0][0], 11);
  EXPECT_DOUBLE_EQ(b.manager.parts[1].points[0][0], 12);
  EXPECT_EQ(b.collector.depth, 0);
  EXPECT_EQ(b.collector.matrixStack.count, 0);
}

TEST(Collector, MatrixStackOnlyMovesWhileCreating) {
  SceneCollector c;
  c.PushMatrix();
  EXPECT_EQ(c.depth, 0);
  EXPECT_EQ(c.matrixStack.count, 0);

  c.pass = 2;
  c.currentMatrix[12] = 1;
  c.PushMatrix();
  c.currentMatrix[12] = 2;
  c.PushMatrix();
  c.currentMatrix[12] = 3;
  EXPECT_EQ(c.depth, 2);
  c.PopMatrix();
  EXPECT_EQ(c.currentMatrix[12], 2);
  c.PopMatrix();
  EXPECT_EQ(c.currentMatrix[12], 1);
  EXPECT_EQ(c.matrixStack.count, 0);
  c.PopMatrix();  // one too many: identity
  EXPECT_EQ(c.depth, 0);
  EXPECT_EQ(c.currentMatrix[12], 0);
}

TEST(Collector, EffectResolution) {
  SceneBuilder b;
  b.AddEffect(L"fx0");
  b.AddEffect(L"fx1");
  b.AddMaterial(L"broken", L"nothing");
  b.AddMaterial(L"red", L"fx1");
  b.AddMaterial(L"twin", nullptr);
  b.AddMaterial(L"twin", L"fx0");
  b.LendTables();
  SceneCollector& c = b.collector;

  EXPECT_EQ(c.ResolveEffect(L"red", nullptr), 1);
  EXPECT_EQ(c.ResolveEffect(L"twin", nullptr), 0);     // a later material of the same id
  EXPECT_EQ(c.ResolveEffect(L"unknown", nullptr), 1);  // first material with a usable effect
  EXPECT_EQ(c.ResolveEffect(L"Red", nullptr), 1);

  BindMaterial bind(kBindMaterial);
  bind.techniqueCommon = new TechniqueCommon(kTechniqueCommon);
  for (auto [symbol, target] : {std::pair{L"s", L"twin"}, std::pair{L"s", L"red"}}) {
    auto* entry = new InstanceMaterial(kInstanceMaterial);
    entry->symbol = symbol;
    entry->target = target;
    bind.techniqueCommon->instanceMaterials.Add(entry);
  }
  EXPECT_EQ(c.ResolveEffect(L"s", &bind), 0);  // the first entry for the symbol counts
  EXPECT_EQ(c.ResolveEffect(L"red", &bind), 1);

  SceneBuilder none;
  none.AddEffect(L"fx0");
  none.AddMaterial(L"m", L"#fx0");
  none.LendTables();
  EXPECT_EQ(none.collector.ResolveEffect(L"m", nullptr), -1);
}

TEST(Collector, EffectImagesNeedAnExistingFile) {
  std::string file = testsupport::WriteFile("tex.png", "x");
  std::string missing = testsupport::ScratchDir() + "/missing.png";
  SceneBuilder b;
  b.AddImage(L"img", String::FromUtf8(file));
  b.AddImage(L"dup", String::FromUtf8(missing));
  b.AddImage(L"dup", String::FromUtf8(file));
  b.AddImage(L"dir", String::FromUtf8(testsupport::ScratchDir()));
  b.AddImage(L"short", L"a/b");
  b.AddEffect(L"plain");
  b.AddEffect(L"textured", L"img");
  b.AddEffect(L"second", L"dup");
  b.AddEffect(L"folder", L"dir");
  b.AddEffect(L"tiny", L"short");
  EffectTag* own = b.AddEffect(L"own", L"inner");
  own->profile->image = new ImageTag(kImage);
  own->profile->image->id = L"inner";
  own->profile->imageIsTexture = true;
  b.LendTables();
  b.collector.DeriveEffectImages();

  const BaseArray<ImageTag*>& images = b.collector.effectImages;
  ASSERT_EQ(images.count, 6);
  EXPECT_EQ(images[0], nullptr);
  EXPECT_EQ(images[1], b.images[0]);
  EXPECT_EQ(images[2], nullptr);  // only the first image of an id is considered
  EXPECT_EQ(images[3], nullptr);
  EXPECT_EQ(images[4], nullptr);
  EXPECT_EQ(images[5], own->profile->image);  // no file needed
}

TEST(Collector, TexturedPrimitivesFlipTAndRecordTheirEffect) {
  std::string file = testsupport::WriteFile("wood.png", "x");
  SceneBuilder b;
  b.AddImage(L"wood", String::FromUtf8(file));
  b.AddEffect(L"fx", L"wood");
  b.AddMaterial(L"m", L"fx");
  MeshTag* mesh = b.AddGeometry(L"g", {0, 0, 0, 1, 0, 0, 0, 1, 0});
  SceneBuilder::AddSource(mesh, L"uv", {0.25f, 0.75f}, 2);
  b.AddPrimitive(mesh, kTriangles, 1, {0, 0, 1, 0, 2, 0}, L"m")
      ->inputs.Add(SceneBuilder::Input(L"TEXCOORD", L"uv", 1));
  b.AddPrimitive(mesh, kTriangles, 1, {0, 1, 2}, L"m");
  b.Instance(b.AddNode(), L"g");
  b.Run();

  EXPECT_EQ(b.manager.texturePointCount, 3);
  ASSERT_EQ(b.manager.primitiveTextureEffects.count, 2);
  EXPECT_EQ(b.manager.primitiveTextureEffects[1], 0);  // untextured, still names the effect
  EXPECT_EQ(b.manager.effectImages.count, 1);
  ASSERT_EQ(b.manager.parts.size(), 2u);
  EXPECT_TRUE(b.manager.parts[0].hasTextures);
  ASSERT_EQ(b.manager.parts[0].texturePoints.size(), 3u);
  EXPECT_DOUBLE_EQ(b.manager.parts[0].texturePoints[0][0], 0.25);
  EXPECT_DOUBLE_EQ(b.manager.parts[0].texturePoints[0][1], 0.25);
  EXPECT_FALSE(b.manager.parts[1].hasTextures);
  EXPECT_EQ(b.manager.texturePointIndex, 3);
}

}  // namespace
}  // namespace assemblytest
