#include <gtest/gtest.h>

#include "assembly/SceneBuilder.h"
#include "support/TestSupport.h"

namespace assemblytest {
namespace {

void OneTriangle(SceneBuilder& b, const wchar_t* id) {
  b.AddPrimitive(b.AddGeometry(id, {1, 0, 0, 0, 1, 0, 0, 0, 1}), kTriangles, 1, {0, 1, 2});
}

TEST(Collector, OutputNeedsOnePartOfThreePoints) {
  SceneBuilder b;
  OneTriangle(b, L"g");
  b.AddNode({L"#g", L"g"});  // "#g" names nothing: ids are compared whole
  b.Run();
  EXPECT_EQ(b.collector.manager, &b.manager);
  EXPECT_EQ(b.collector.pass, TraversalPass::Idle);
  ASSERT_EQ(b.manager.parts.size(), 1u);
  EXPECT_EQ(b.manager.parts[0].points.size(), 3u);

  SceneBuilder lines;
  lines.AddPrimitive(lines.AddGeometry(L"g", {0, 0, 0, 1, 0, 0}), kLines, 1, {0, 1});
  lines.AddNode({L"g"});
  lines.Run(true);
  EXPECT_EQ(lines.collector.manager, nullptr);
  EXPECT_EQ(lines.manager.creations, 0);

  SceneBuilder empty;  // one part without points
  empty.AddPrimitive(empty.AddGeometry(L"g", {0, 0, 0}), kTriangles, 0, {});
  empty.AddNode({L"g"});
  empty.Run();
  EXPECT_EQ(empty.manager.partCount, 1);
  EXPECT_EQ(empty.collector.manager, nullptr);

  SceneBuilder refused;
  OneTriangle(refused, L"g");
  refused.AddNode({L"g"});
  refused.manager.acceptCreation = false;
  refused.Run();
  EXPECT_EQ(refused.collector.manager, nullptr);
  EXPECT_TRUE(refused.manager.parts.empty());
}

TEST(Collector, NestedTransformsAndInstancesBeforeChildren) {
  SceneBuilder b;
  b.AddPrimitive(b.AddGeometry(L"g", {1, 0, 0, 1, 0, 0, 1, 0, 0}), kTriangles, 1, {0, 1, 2});
  NodeTag* parent = b.AddNode({L"g"});
  SceneBuilder::AddTransform(parent, kTranslate, 10, 0, 0);
  SceneBuilder::AddTransform(b.AddNode({L"g"}, parent), kScale, 2, 2, 2);
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
  c.pass = TraversalPass::Creating;
  for (double x : {1, 2}) {
    c.currentMatrix[12] = x;
    c.PushMatrix();
  }
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
  EXPECT_EQ(c.ResolveEffect(L"twin", nullptr), 0);  // a later material of the same id
  EXPECT_EQ(c.ResolveEffect(L"Red", nullptr), 1);   // first material with a usable effect

  BindMaterial bind(kBindMaterial);
  bind.techniqueCommon = new TechniqueCommon(kTechniqueCommon);
  for (const wchar_t* target : {L"twin", L"red"}) {
    auto* entry = new InstanceMaterial(kInstanceMaterial);
    entry->symbol = L"s";
    entry->target = target;
    bind.techniqueCommon->instanceMaterials.Add(entry);
  }
  EXPECT_EQ(c.ResolveEffect(L"s", &bind), 0);  // the first entry for the symbol counts

  SceneBuilder none;
  none.AddEffect(L"fx0");
  none.AddMaterial(L"m", L"#fx0");
  none.LendTables();
  EXPECT_EQ(none.collector.ResolveEffect(L"m", nullptr), -1);
}

TEST(Collector, EffectImagesNeedAnExistingFile) {
  String file = String::FromUtf8(testsupport::WriteFile("tex.png", "x"));
  SceneBuilder b;
  b.AddImage(L"img", file);
  b.AddImage(L"dup", String::FromUtf8(testsupport::ScratchDir() + "/missing.png"));
  b.AddImage(L"dup", file);
  b.AddImage(L"dir", String::FromUtf8(testsupport::ScratchDir()));
  b.AddImage(L"short", L"a/b");
  b.AddEffect(L"plain");
  for (const wchar_t* image : {L"img", L"dup", L"dir", L"short"}) b.AddEffect(image, image);
  ProfileCommon* own = b.AddEffect(L"own", L"inner")->profile;
  own->image = new ImageTag(kImage);
  own->imageIsTexture = true;
  b.LendTables();
  b.collector.DeriveEffectImages();

  // Only the first image of an id counts; the profile's own image needs no file.
  std::vector<ImageTag*> expected = {nullptr, b.images[0]->AsImageTag(), nullptr, nullptr, nullptr,
                                     own->image};
  EXPECT_EQ(std::vector<ImageTag*>(b.collector.effectImages.begin(), b.collector.effectImages.end()),
            expected);
}

TEST(Collector, TexturedPrimitivesFlipTAndRecordTheirEffect) {
  SceneBuilder b;
  b.AddImage(L"wood", String::FromUtf8(testsupport::WriteFile("wood.png", "x")));
  b.AddEffect(L"fx", L"wood");
  b.AddMaterial(L"m", L"fx");
  MeshTag* mesh = b.AddGeometry(L"g", {0, 0, 0, 1, 0, 0, 0, 1, 0});
  SceneBuilder::AddSource(mesh, L"uv", {0.25f, 0.75f}, 2);
  b.AddPrimitive(mesh, kTriangles, 1, {0, 0, 1, 0, 2, 0}, L"m")
      ->inputs.Add(SceneBuilder::Input(L"TEXCOORD", L"uv", 1));
  b.AddPrimitive(mesh, kTriangles, 1, {0, 1, 2}, L"m");
  b.AddNode({L"g"});
  b.Run();

  EXPECT_EQ(b.manager.texturePointCount, 3);
  ASSERT_EQ(b.manager.primitiveTextureEffects.count, 2);
  EXPECT_EQ(b.manager.primitiveTextureEffects[1], 0);  // untextured, still names the effect
  ASSERT_EQ(b.manager.parts.size(), 2u);
  ASSERT_EQ(b.manager.parts[0].texturePoints.size(), 3u);
  EXPECT_EQ(b.manager.parts[0].texturePoints[0], (std::array<double, 2>{0.25, 0.25}));
  EXPECT_FALSE(b.manager.parts[1].hasTextures);
}

}  // namespace
}  // namespace assemblytest
