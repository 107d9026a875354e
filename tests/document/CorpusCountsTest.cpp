// What DaeDocument::Load keeps of a few known corpus files, counted by reading the files.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "document/DaeDocument.h"
#include "support/TestSupport.h"
#include "tags/SceneGraph.h"

namespace varnel {
namespace {

TEST(CorpusCounts, KnownDocumentsLoadWhatTheyHold) {
  const struct {
    const char* file;
    int geometries, effects, materials, visualScenes;
    const char* scene;  // "" when no scene is chosen
  } documents[] = {
      {"assimp/duck.dae", 1, 1, 1, 1, "VisualSceneNode"},
      {"assimp/teapots.DAE", 3, 3, 3, 1, "RootNode"},
      {"assimp/Cinema4D.dae", 3, 1, 1, 1, "ID3"},
      {"cts14/scene/multi_visualscene_instantiate_1/multi_visualscene_instantiate_1.dae", 3, 1, 1, 3,
       "VisualSceneNode2"},
      // The first float_array's "digits" attribute is no known name: reading ends there, after
      // the visual scenes (which come first) but before any geometry, effect or the scene.
      {"pycollada/wam.dae", 0, 0, 0, 1, ""},
      // The skin's weights list is skipped unread, so it is not cut into pieces; its 138 kB of
      // text overflow the token buffer and end reading inside the controller library.
      {"cts14/library_nodes/node/SkinController/SkinController.dae", 1, 1, 1, 0, ""},
  };
  std::string corpus = testsupport::CorpusDir();
  if (corpus.empty()) GTEST_SKIP() << "corpus absent";
  for (const auto& expected : documents) {
    std::string path = corpus + "/" + expected.file;
    if (!std::filesystem::exists(path)) GTEST_SKIP() << path << " absent";
    SCOPED_TRACE(expected.file);
    DaeDocument document;
    document.Load(String::FromUtf8(path));
    EXPECT_EQ(document.geometries.count, expected.geometries);
    EXPECT_EQ(document.effects.count, expected.effects);
    EXPECT_EQ(document.materials.count, expected.materials);
    EXPECT_EQ(document.visualScenes.count, expected.visualScenes);
    std::string scene = document.activeScene ? document.activeScene->GetId().ToUtf8() : "";
    EXPECT_EQ(scene, expected.scene);
    EXPECT_EQ(document.stopped, scene.empty());
  }
}

}  // namespace
}  // namespace varnel
