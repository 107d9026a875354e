#include <gtest/gtest.h>

#include <clocale>
#include <cstring>
#include <filesystem>
#include <string>

#include "document/DaeDocument.h"
#include "support/TestSupport.h"
#include "tags/Effects.h"
#include "tags/SceneGraph.h"

namespace varnel {
namespace {

const char* kTwoScenes = R"(<?xml version="1.0" encoding="utf-8"?>
<COLLADA xmlns="http://www.collada.org/2005/11/COLLADASchema" version="1.4.1">
  <asset><contributor><authoring_tool>Exporter ColladaMaya v3</authoring_tool></contributor>
    <unit name="inch" meter="0.0254"/><up_axis>Z_UP</up_axis></asset>
  <library_effects><effect id="fx"><profile_COMMON><technique sid="t"><phong/></technique>
  </profile_COMMON></effect></library_effects>
  <library_visual_scenes>
    <visual_scene id="first"><node id="a"/></visual_scene>
    <visual_scene id="second"><node id="b"/></visual_scene>
  </library_visual_scenes>
  <scene><instance_visual_scene url="#SCENE"/></scene>
</COLLADA>
)";

std::string WithScene(const std::string& url) {
  std::string text = kTwoScenes;
  text.replace(text.find("#SCENE"), 6, url);
  return text;
}

String Wide(const std::string& path) { return String::FromUtf8(path); }

TEST(Document, SceneSelectionAssetAndTrimmedPath) {
  DaeDocument second;
  second.Load(Wide("  " + testsupport::WriteFile("scene2.dae", WithScene("#second")) + " \t"));
  ASSERT_NE(second.activeScene, nullptr);
  EXPECT_EQ(second.activeScene->GetId(), L"second");
  EXPECT_EQ(second.visualScenes.count, 2);
  EXPECT_FALSE(second.yUp);
  EXPECT_DOUBLE_EQ(second.unitScale, 0.0254);
  // "ColladaMaya" after other text turns culling off for every effect.
  ASSERT_EQ(second.effects.count, 1);
  EXPECT_FALSE(second.effects[0]->AsEffectTag()->cullBackFaces);

  DaeDocument unknown;
  unknown.Load(Wide(testsupport::WriteFile("scene-none.dae", WithScene("#nowhere"))));
  ASSERT_NE(unknown.activeScene, nullptr);
  EXPECT_EQ(unknown.activeScene->GetId(), L"first");

  DaeDocument empty;
  empty.Load(Wide(testsupport::WriteFile("scene-empty.dae", WithScene(""))));
  EXPECT_EQ(empty.activeScene, nullptr);
  EXPECT_EQ(empty.visualScenes.count, 2);
}

TEST(Document, MissingFileAndDirectoryLeaveItEmpty) {
  DaeDocument document;
  document.Load(Wide(testsupport::ScratchDir() + "/does-not-exist.dae"));
  EXPECT_EQ(document.activeScene, nullptr);
  EXPECT_EQ(document.visualScenes.count, 0);
  document.Load(Wide(testsupport::ScratchDir()));
  EXPECT_EQ(document.visualScenes.count, 0);
}

// Summary of what a load kept, to compare encodings and prologs.
std::string Summary(const std::string& path) {
  DaeDocument document;
  document.Load(Wide(path));
  std::string text = std::to_string(document.visualScenes.count) + "/" +
                     std::to_string(document.effects.count) + "/" +
                     std::to_string(document.yUp) + "/" + std::to_string(document.unitScale);
  if (document.activeScene) text += "/" + document.activeScene->GetId().ToUtf8();
  return text;
}

std::string Utf16(const std::string& ascii, bool bigEndian) {
  std::string out = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
  for (char c : ascii) {
    if (bigEndian) out.push_back('\0');
    out.push_back(c);
    if (!bigEndian) out.push_back('\0');
  }
  return out;
}

TEST(Document, EncodingsAndPrologReadTheSame) {
  std::string plain = WithScene("#second");
  std::string expected = Summary(testsupport::WriteFile("enc-plain.dae", plain));
  EXPECT_EQ(expected, "2/1/0/0.025400/second");
  EXPECT_EQ(Summary(testsupport::WriteFile("enc-bom.dae", "\xEF\xBB\xBF" + plain)), expected);
  EXPECT_EQ(Summary(testsupport::WriteFile("enc-le.dae", Utf16(plain, false))), expected);
  EXPECT_EQ(Summary(testsupport::WriteFile("enc-be.dae", Utf16(plain, true))), expected);
  std::string noProlog = plain.substr(plain.find("<COLLADA"));
  EXPECT_EQ(Summary(testsupport::WriteFile("enc-noprolog.dae", noProlog)), expected);
}

TEST(Document, UnknownElementEndsTheParseKeepingWhatWasRead) {
  std::string text = WithScene("#second");
  text.insert(text.find("<library_visual_scenes>"), "<library_geometries><bogus/></library_geometries>");
  DaeDocument document;
  document.Load(Wide(testsupport::WriteFile("unknown.dae", text)));
  EXPECT_TRUE(document.stopped);
  EXPECT_EQ(document.effects.count, 1);
  EXPECT_EQ(document.visualScenes.count, 0);
  EXPECT_EQ(document.activeScene, nullptr);
}

TEST(Document, NumbersReadInCConventionsWhateverTheCallerLocale) {
  const char* german = std::setlocale(LC_ALL, "de_DE.UTF-8");
  if (!german) german = std::setlocale(LC_ALL, "de_DE");
  if (!german) GTEST_SKIP() << "no German locale installed";
  std::string before = std::setlocale(LC_ALL, nullptr);
  DaeDocument document;
  std::string text = WithScene("#second");
  text.replace(text.find("0.0254"), 6, "1.5");
  document.Load(Wide(testsupport::WriteFile("locale.dae", text)));
  EXPECT_DOUBLE_EQ(document.unitScale, 1.5);
  EXPECT_EQ(before, std::setlocale(LC_ALL, nullptr));
  EXPECT_EQ(std::strtod("1,5", nullptr), 1.5);  // the caller still has its decimal comma
  std::setlocale(LC_ALL, "C");
}

}  // namespace
}  // namespace varnel
