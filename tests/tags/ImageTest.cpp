#include <gtest/gtest.h>

#include "tags/Image.h"
#include "tags/SceneFixtures.h"

namespace {

using namespace scenetest;

// The file path an image with init_from `reference` resolves to beside `documentPath`.
std::string Resolve(const std::string& reference, const std::string& documentPath) {
  tagtest::FragmentReader reader("<image id=\"i\"><init_from>" + reference + "</init_from></image>");
  reader.document.path = String::FromUtf8(documentPath);
  ImageTag image(reader.document.IdentifyTag());
  if (!image.Parse(reader.document)) return "<failed>";
  EXPECT_EQ(reader.document.tempFiles.GetSize(), 0);
  return image.filePath.ToUtf8();
}

TEST(ImageTagTest, LocalReferencesResolveAroundTheDocument) {
  std::string doc = testsupport::WriteFile("images/a/b/c/doc.dae", "");
  std::string inSub = testsupport::WriteFile("images/a/b/c/sub/x.png", "png");
  std::string twoUp = testsupport::WriteFile("images/a/top.png", "png");
  std::string beside = testsupport::WriteFile("images/a/b/c/beside.png", "png");
  testsupport::WriteFile("images/a/b/y", "png");

  EXPECT_EQ(Resolve("./sub/x.png", doc), inSub);
  EXPECT_EQ(Resolve("../../top.png", doc), twoUp);
  // Shorter than six characters: appended as it stands.
  EXPECT_EQ(Resolve("../y", doc), testsupport::ScratchDir() + "/images/a/b/c/../y");
  EXPECT_EQ(Resolve("textures/beside.png", doc), beside);
  EXPECT_EQ(Resolve(twoUp, doc), twoUp);
  EXPECT_EQ(Resolve("missing.png", doc), "");
  EXPECT_EQ(Resolve("sub", doc), "");  // a folder is not an image
}

}  // namespace
