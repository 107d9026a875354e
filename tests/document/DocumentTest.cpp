#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <string>

#include "document/DaeDocument.h"
#include "support/Documents.h"
#include "tags/SceneGraph.h"

namespace varnel {
namespace {

// Two visual scenes; the scene element instantiates `url`.
std::string TwoScenes(const std::string& url, const std::string& libraries = "") {
  testdoc::Doc doc;
  doc.asset = "<asset><unit name=\"inch\" meter=\"0.0254\"/><up_axis>Z_UP</up_axis></asset>";
  doc.geometries = libraries;
  doc.hasScene = false;
  std::string text = doc.Text();
  const std::string one = "<visual_scene id=\"s\"></visual_scene>";
  text.replace(text.find(one), one.size(), "<visual_scene id=\"first\"/><visual_scene id=\"second\"/>");
  return text.replace(text.rfind("</COLLADA>"), 10,
                      "<scene><instance_visual_scene url=\"" + url + "\"/></scene></COLLADA>");
}

// What a load kept: visual scenes and effects, the active scene, whether reading stopped early.
std::string Loaded(const std::string& path) {
  DaeDocument document;
  document.Load(String::FromUtf8(path));
  return std::to_string(document.visualScenes.count) + " scenes, " + std::to_string(document.effects.count) +
         " effects, " + (document.activeScene ? document.activeScene->GetId().ToUtf8() : "none") +
         (document.stopped ? ", stopped" : "");
}

std::string Written(const std::string& text) {
  static int serial = 0;
  return testsupport::WriteFile("document/" + std::to_string(++serial) + ".dae", text);
}

TEST(Document, SceneSelectionAndWhatALoadKeeps) {
  const std::pair<std::string, std::string> cases[] = {
      {"  " + Written(TwoScenes("#second")) + " \t", "2 scenes, 1 effects, second"},  // path trimmed
      {Written(TwoScenes("#nowhere")), "2 scenes, 1 effects, first"},
      {Written(TwoScenes("")), "2 scenes, 1 effects, none"},
      // An unknown name ends reading; what was read before stays.
      {Written(TwoScenes("#second", "<geometry id=\"g\"><mesh><bogus/></mesh></geometry>")),
       "0 scenes, 1 effects, none, stopped"},
      // So does input that ends inside a number list.
      {Written(TwoScenes("#second").substr(0, TwoScenes("#second").find("1 0 0 1</color>") + 3)),
       "0 scenes, 0 effects, none, stopped"},
      {testsupport::ScratchDir() + "/does-not-exist.dae", "0 scenes, 0 effects, none"},
      {testsupport::ScratchDir(), "0 scenes, 0 effects, none"},
  };
  for (const auto& [path, expected] : cases) EXPECT_EQ(Loaded(path), expected) << path;
}

TEST(Document, NumbersReadInCConventionsWhateverTheCallerLocale) {
  const char* german = std::setlocale(LC_ALL, "de_DE.UTF-8");
  if (!german) german = std::setlocale(LC_ALL, "de_DE");
  if (!german) GTEST_SKIP() << "no German locale installed";
  std::string before = std::setlocale(LC_ALL, nullptr);
  DaeDocument document;
  document.Load(String::FromUtf8(Written(TwoScenes("#second"))));
  EXPECT_DOUBLE_EQ(document.unitScale, 0.0254);
  EXPECT_EQ(before, std::setlocale(LC_ALL, nullptr));
  EXPECT_EQ(std::strtod("1,5", nullptr), 1.5);  // the caller keeps its decimal comma
  std::setlocale(LC_ALL, "C");
}

}  // namespace
}  // namespace varnel
