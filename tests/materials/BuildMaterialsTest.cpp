#include "materials/BuildMaterials.h"

#include <gtest/gtest.h>
#include <stb_image_write.h>

#include <memory>
#include <string>
#include <vector>

#include <varnel/Varnel.h>
#include "facade/Settings.h"
#include "output/CreationManager.h"
#include "support/Documents.h"
#include "support/Outputs.h"

namespace pipelinetest {
namespace {

using namespace testdoc;

// One triangle a material, in the order given.
std::string Triangles(const std::vector<std::string>& materials) {
  std::string primitives;
  for (const std::string& m : materials) primitives += Primitive("triangles", 1, m, "0 1 2");
  return Mesh("g", primitives);
}

// Records follow the effect table, for the used effects only; figures are truncated, not
// rounded or clamped; an image is read once per image element and shared by later users.
TEST(BuildMaterials, RecordsFollowTheEffectTable) {
  testsupport::WriteFile("materials/tex.tga", Tga());
  testsupport::WriteFile("materials/t\"q.tga", Tga());
  std::vector<unsigned char> pixels(40000 * 100, 200);
  ASSERT_NE(stbi_write_png((testsupport::ScratchDir() + "/materials/wide.png").c_str(), 40000, 100, 1,
                           pixels.data(), 40000), 0);
  Doc doc = OneInstance(Triangles({"missing", "tx", "plain", "tx2", "again", "wide"}));
  doc.images = "<image id=\"img\"><init_from>tex.tga</init_from></image><image id=\"img2\">"
               "<init_from>t&quot;q.tga</init_from></image><image id=\"wide\"><init_from>wide.png</init_from></image>"
               "<image id=\"gone\"><init_from>gone.png</init_from></image>";
  doc.effects = Effect("plain", "0.5 0.25 1.5", "", "0.9") + Effect("unused", "", "img") + Effect("tx", "", "img") +
                Effect("tx2", "", "img", "0.5", true) + Effect("again", "", "img2", "0.95") +
                Effect("wide", "", "wide") + Effect("missing", "0 1 0", "gone");
  doc.materials.clear();
  for (const char* name : {"plain", "unused", "tx", "tx2", "again", "wide", "missing"})
    doc.materials += Material(name, name);
  Outputs out = RunBoth(doc.Write("materials/doc.dae"));
  ExpectSameParts(out.geometry, out.display, true);
  std::vector<long> used;
  for (const Part& part : out.geometry.parts) used.push_back(part.material);
  EXPECT_EQ(used, (std::vector<long>{5, 1, 0, 2, 3, 4}));

  for (const Output* o : {&out.geometry, &out.display}) {
    SCOPED_TRACE(o == &out.geometry ? "geometry" : "display list");
    ASSERT_EQ(o->materials.size(), 6u);
    const MaterialRecord &plain = o->materials[0], &tx = o->materials[1], &tx2 = o->materials[2],
                         &again = o->materials[3], &wide = o->materials[4], &missing = o->materials[5];
    EXPECT_EQ(plain.color, (std::array<int, 3>{127, 63, 382}));
    EXPECT_EQ(plain.transparency, 9);  // (1 - 0.9) x 100 is just below 10
    EXPECT_TRUE(plain.cull && !tx2.cull);
    EXPECT_EQ(tx.color, (std::array<int, 3>{255, 255, 255}));
    EXPECT_EQ(tx.width * 100 + tx.height * 10 + tx.channels, 223);
    EXPECT_EQ(tx.firstPixel, (std::vector<int>{10, 20, 30}));
    EXPECT_EQ(tx2.transparency, 50);
    EXPECT_EQ(tx2.sharedTexture, 2);  // the table position of tx, the image's first user
    EXPECT_TRUE(tx2.firstPixel.empty());
    EXPECT_EQ(again.sharedTexture, -1);  // the same bytes under another image: read again
    EXPECT_EQ(again.firstPixel, tx.firstPixel);
    EXPECT_EQ(again.transparency, 5);
    EXPECT_EQ(wide.width * 1000 + wide.height, 32767100);  // each side clamped on its own
    EXPECT_EQ(wide.firstPixel, std::vector<int>{200});
    EXPECT_TRUE(missing.firstPixel.empty() && missing.color[1] == 255);
  }
}

// Effect slots hold no effect only when built by hand; the colour then follows the slot.
// Textures fit the import's pixel budgets: one image is resampled to at most `maxTexturePixels`,
// the document's together take at most `maxDocumentTexturePixels`, and what does not fit in
// that is not read. Each is said.
TEST(BuildMaterials, TexturesFitThePixelBudgets) {
  testsupport::WriteFile("budget/b.tga", Tga());
  std::vector<unsigned char> pixels(300 * 200, 90);
  for (const char* name : {"a", "c"})
    ASSERT_NE(stbi_write_png((testsupport::ScratchDir() + "/budget/" + name + ".png").c_str(), 300, 200, 1,
                             pixels.data(), 300), 0);
  Doc doc = OneInstance(Triangles({"a", "b", "c", "d"}));
  doc.images = doc.effects = doc.materials = "";
  for (std::string name : {"a", "b", "c", "d"}) {
    doc.images += "<image id=\"" + name + "\"><init_from>" + (name == "b" ? "b.tga" : name == "d" ? "a.png" : name + ".png") +
                  "</init_from></image>";
    doc.effects += Effect(name, "", name);
    doc.materials += Material(name, name);
  }
  DiagnosticLog log;
  ImportOptions options{false, &log};
  options.maxTexturePixels = 10000;
  options.maxDocumentTexturePixels = 12000;
  Output out = RunGeometry(doc.Write("budget/doc.dae"), options);
  ASSERT_EQ(out.materials.size(), 4u);
  std::vector<int> sizes;
  for (const MaterialRecord& m : out.materials) sizes.push_back(m.width * 1000 + m.height);
  // 122 x 81 fits 10000; with the 4 pixels of b, 2114 of 12000 are left: too few for c.
  EXPECT_EQ(sizes, (std::vector<int>{122081, 2002, 0, 0}));
  EXPECT_EQ(out.materials[0].firstPixel, std::vector<int>{90});
  EXPECT_EQ(log.lines, (std::vector<std::string>{
      "limit-reached: image \"a\": 300 x 200 pixels resampled to 122 x 81 to fit 10000, the most a texture may have",
      "limit-reached: image \"c\": 122 x 81 pixels are more than the 2114 the document's textures have left: not read",
      "limit-reached: image \"d\": the document's textures have used their pixel budget: not read"}));

  // Not decoding at all: the same records without pixels, and nothing to say.
  DiagnosticLog quiet;
  ImportOptions undecoded{false, &quiet};
  undecoded.decodeTextures = false;
  Output bare = RunGeometry(testsupport::ScratchDir() + "/budget/doc.dae", undecoded);
  ASSERT_EQ(bare.materials.size(), 4u);
  for (size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(bare.materials[i].width, 0);
    EXPECT_EQ(bare.materials[i].color, out.materials[i].color);
  }
  EXPECT_TRUE(quiet.lines.empty());
}

TEST(BuildMaterials, AnEmptyEffectSlotGetsAColourByItsPosition) {
  varnel::BaseArray<varnel::Tag*> table;
  for (int i = 0; i < 5; ++i) table.Add(nullptr);
  varnel::CreationManager manager;
  manager.effects.AttachTo(table);
  for (int e : {4, 2, -1}) manager.primitiveEffects.Add(e);
  int count = 0;
  std::unique_ptr<MaterialProperties[]> records(varnel::BuildMaterials(manager.MaterialInputs(), count));
  ASSERT_EQ(count, 2);
  EXPECT_EQ(std::vector<int>(records[0].color, records[0].color + 3), (std::vector<int>{0, 0, 255}));
  EXPECT_EQ(std::vector<int>(records[1].color, records[1].color + 3), (std::vector<int>{0, 255, 0}));
  EXPECT_EQ(std::vector<int>(manager.primitiveEffects.begin(), manager.primitiveEffects.end()),
            (std::vector<int>{1, 0, -1}));
}

TEST(BuildMaterials, TavuIgnoreNamesShowEdgesUnlessConversionTypeIsOne) {
  const char* names[] = {"tavu_ignore_roof", "tavu_ignore", "  TAVU_Ignore x", "tavu_ignor", "my tavu_ignore"};
  Doc doc = OneInstance(Triangles({"m0", "m1", "m2", "m3", "m4"}));
  doc.effects = doc.materials = "";
  for (int i = 0; i < 5; ++i) {
    std::string id = "e" + std::to_string(i);
    doc.effects += Effect(id, "1 1 1").insert(13 + id.size(), std::string(" name=\"") + names[i] + "\"");
    doc.materials += Material("m" + std::to_string(i), id);
  }
  const String path = String::FromUtf8(doc.Write("materials/edges.dae"));
  const int saved = varnel::conversionType;
  for (int type : {1, 2}) {
    varnel::conversionType = type;
    IGeometry* geometry = nullptr;
    Varnel().CreateGeometryFromFile(path, &geometry);
    ASSERT_NE(geometry, nullptr);
    ASSERT_EQ(geometry->GetMaterialCount(), 5);
    for (int i = 0; i < 5; ++i) {
      GeometryMaterial m;
      geometry->GetMaterial(i, &m);
      EXPECT_EQ(m.edgeDisplay, type != 1 && i < 3) << type << " " << names[i];
      EXPECT_EQ(m.edgeWidth, m.edgeDisplay ? 1 : 0);
    }
    geometry->Release();
  }
  varnel::conversionType = saved;
}

}  // namespace
}  // namespace pipelinetest
