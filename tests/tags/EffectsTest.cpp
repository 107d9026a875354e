// What the effect elements, the asset and the image references make of one material record.
#include <gtest/gtest.h>

#include <climits>
#include <filesystem>
#include <string>

#include "support/Documents.h"
#include "support/Outputs.h"

namespace pipelinetest {
namespace {

using namespace testdoc;
namespace fs = std::filesystem;

// The record of the effect "red" (written from `body`) that the document's triangle uses.
MaterialRecord RecordOf(const std::string& body, const std::string& asset = "",
                        const std::string& folder = "effects") {
  static int serial = 0;
  testsupport::WriteFile(folder + "/tex.tga", Tga());
  Doc doc = OneInstance(Mesh("g", kTriangle));
  doc.images = "<image id=\"img\"><init_from>tex.tga</init_from></image>";
  doc.effects = "<effect id=\"red\">" + body + "</effect>";
  if (!asset.empty()) doc.asset = asset;
  Output g = RunBoth(doc.Write(folder + "/" + std::to_string(++serial) + ".dae")).geometry;
  EXPECT_EQ(g.materials.size(), 1u) << body;
  return g.materials.empty() ? MaterialRecord{} : g.materials[0];
}

std::string Common(const std::string& technique, const std::string& profile = "") {
  return "<profile_COMMON>" + profile + "<technique sid=\"c\">" + technique + "</technique></profile_COMMON>";
}

TEST(Effects, OpacityFromTransparentAlphaAndTransparency) {
  const struct {
    const char* alpha;
    const char* transparency;
    int percent;  // -1: opaque, no transparency set
  } cases[] = {
      {"", "0.5", 50},     {"", "0.0", -1},    {"", "1.0", -1},    {"", "0.1", 90},
      {"0.25", "0.9", 75}, {"1.0", "0.5", 50}, {"1.0", "0.1", -1},  // stricter beside a colour
  };
  for (const auto& c : cases) {
    std::string phong = std::string("<phong>") +
                        (*c.alpha ? "<transparent opaque=\"A_ONE\"><color>0 0 0 " + std::string(c.alpha) + "</color></transparent>" : "") +
                        "<transparency><float sid=\"t\">" + c.transparency + "</float></transparency>"
                        "<shininess><float>20</float></shininess></phong>";
    EXPECT_EQ(RecordOf(Common(phong)).transparency, c.percent) << phong;
  }
}

TEST(Effects, ColourShadingAndCulling) {
  using Rgb = std::array<int, 3>;
  const Rgb white{255, 255, 255};
  const struct {
    std::string body, asset;
    Rgb color;
    bool cull;
  } cases[] = {
      {Common("<blinn><diffuse><color sid=\"d\">0.2 0.4 0.6 1</color></diffuse></blinn>"), "", {51, 102, 153}, true},
      {Common("<phong><diffuse><color>1 0 0 1</color></diffuse></phong><lambert><diffuse><color>0 1 0 1"
              "</color></diffuse></lambert>"), "", {0, 255, 0}, true},  // the second shading replaces the first
      {Common("<constant><emission><color>1 0 0 1</color></emission></constant>"), "", white, true},
      // Truncated, not clamped; beyond the int range INT_MIN.
      {Common("<lambert><diffuse><color>1e10 -1 0.999 1</color></diffuse></lambert>"), "", {INT_MIN, -255, 254}, true},
      {"<profile_GLSL><technique sid=\"x\"/></profile_GLSL>", "", white, true},
      // Only a technique inside "extra" makes an effect double-sided.
      {Common("<lambert/>", "<extra><technique profile=\"MAX3D\"><double_sided>1</double_sided></technique></extra>"),
       "", white, false},
      {Common("<lambert/><double_sided>1</double_sided>"), "", white, true},
      // "ColladaMaya" after other text turns culling off for the whole document.
      {Common("<lambert/>"), "<asset><contributor><authoring_tool>Maya 2009 | ColladaMaya v3.05B</authoring_tool>"
                             "</contributor><up_axis>Z_UP</up_axis></asset>", white, false},
      {Common("<lambert/>"), "<asset><contributor><authoring_tool>ColladaMaya v3.05B</authoring_tool>"
                             "</contributor><up_axis>Z_UP</up_axis></asset>", white, true},
  };
  for (const auto& c : cases) {
    MaterialRecord record = RecordOf(c.body, c.asset);
    EXPECT_EQ(record.color, c.color) << c.body;
    EXPECT_EQ(record.cull, c.cull) << c.body << c.asset;
  }
}

// A diffuse texture names a sampler, the sampler a surface, the surface the image.
TEST(Effects, TextureImageFollowsTheNewparamChain) {
  const std::string sampler = "<newparam sid=\"samp\"><sampler2D><source>surf</source></sampler2D></newparam>";
  const std::string surface =
      "<newparam sid=\"surf\"><surface type=\"2D\"><init_from>img</init_from><format>A8R8G8B8</format></surface></newparam>";
  auto textured = [](const std::string& texture, const std::string& technique = "") {
    return "<phong><diffuse><texture texture=\"" + texture + "\" texcoord=\"UV0\"/></diffuse></phong>" + technique;
  };
  const struct {
    std::string body;
    bool hasTexture;
  } cases[] = {
      {Common(textured("samp"), sampler + surface), true},
      {Common(textured("samp", sampler + surface), sampler), true},  // broken in the profile
      {Common(textured("img")), true},
      {Common(textured("photo"), "<image id=\"photo\"><init_from>tex.tga</init_from></image>"), true},
      {Common(textured("samp"), sampler), false},
      {Common(textured("nothing")), false},
  };
  for (const auto& c : cases) {
    MaterialRecord record = RecordOf(c.body);
    EXPECT_EQ(record.firstPixel, (c.hasTexture ? std::vector<int>{10, 20, 30} : std::vector<int>{})) << c.body;
  }
}

// A local reference is looked for around the document, and by its file name beside it. A
// folder counts as found, and then gives no texture.
TEST(Effects, ImageReferencesResolveAroundTheDocument) {
  const std::string c = "images/a/b/c";
  testsupport::WriteFile(c + "/sub/x.tga", Tga());
  const std::string top = testsupport::WriteFile("images/a/top.tga", Tga());
  testsupport::WriteFile(c + "/beside.tga", Tga());
  testsupport::WriteFile(c + "/folder/beside.tga/inside", "");
  const std::pair<std::string, bool> cases[] = {
      {"./sub/x.tga", true}, {"../../top.tga", true},  {"textures/beside.tga", true},
      {top, true},           {"missing.tga", false},   {"sub", false},  // a folder is no image
      {"folder/beside.tga", false},  // not the file beside the document either
  };
  for (const auto& [reference, found] : cases) {
    std::string body = Common("<lambert><diffuse><texture texture=\"own\" texcoord=\"uv\"/></diffuse></lambert>",
                              "<image id=\"own\"><init_from>" + reference + "</init_from></image>");
    EXPECT_EQ(RecordOf(body, "", c).firstPixel.empty(), !found) << reference;
  }
}

// Confined, textures come only from the document's folder tree (or the root given), links
// resolved; a file outside is refused and said, and the one of its name beside the document
// still counts.
TEST(Effects, ConfinedTexturesStayInsideTheirFolderTree) {
  const std::string dir = testsupport::ScratchDir() + "/confined/a/b";
  testsupport::WriteFile("confined/a/b/sub/x.tga", Tga());
  const std::string top = testsupport::WriteFile("confined/a/top.tga", Tga());
  const std::string elsewhere = testsupport::WriteFile("confined/a/other/beside.tga", Tga());
  testsupport::WriteFile("confined/a/b/beside.tga", Tga());
  std::error_code ec;
  fs::create_symlink(top, dir + "/link.tga", ec);
  const std::string root = testsupport::ScratchDir() + "/confined/a";
  const struct {
    std::string reference;
    const char* textureRoot;
    bool found, refused;
  } cases[] = {
      {"./sub/x.tga", nullptr, true, false}, {"../top.tga", nullptr, false, true},
      {top, nullptr, false, true},           {"link.tga", nullptr, false, true},
      {elsewhere, nullptr, true, true},  // refused, then found beside the document
      {"../top.tga", root.c_str(), true, false}, {"link.tga", root.c_str(), true, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.reference);
    Doc doc = OneInstance(Mesh("g", kTriangle));
    doc.images = "<image id=\"img\"><init_from>" + c.reference + "</init_from></image>";
    doc.effects = Effect("red", "", "img");
    DiagnosticLog log;
    ImportOptions options{false, &log};
    options.confineTextures = true;
    options.textureRoot = c.textureRoot;
    Output g = RunGeometry(doc.Write("confined/a/b/doc.dae"), options);
    ASSERT_EQ(g.materials.size(), 1u);
    EXPECT_EQ(!g.materials[0].firstPixel.empty(), c.found);
    EXPECT_EQ(log.First(DiagnosticKind::kTextureRefused) != nullptr, c.refused);
    // Unconfined, every one of them is read.
    EXPECT_FALSE(RunGeometry(doc.Write("confined/a/b/doc.dae")).materials[0].firstPixel.empty());
  }
}

}  // namespace
}  // namespace pipelinetest
