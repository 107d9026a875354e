#include <gtest/gtest.h>

#include <filesystem>

#include "host/Downloader.h"
#include "tags/Image.h"
#include "tags/SceneFixtures.h"

namespace {

using namespace scenetest;

// The file path an image with init_from `reference` resolves to; `setUp` may adjust the
// document before the element is read.
template <class SetUp>
std::string Resolve(const std::string& reference, const std::string& documentPath, SetUp setUp) {
  tagtest::FragmentReader reader("<image id=\"i\"><init_from>" + reference + "</init_from></image>");
  reader.document.path = String::FromUtf8(documentPath);
  setUp(reader.document);
  ImageTag image(reader.document.IdentifyTag());
  if (!image.Parse(reader.document)) return "<failed>";
  EXPECT_EQ(reader.document.tempFiles.GetSize(), reader.document.isDownloaded && !image.filePath.IsEmpty());
  reader.document.DeleteTempFiles();
  reader.document.downloader = nullptr;
  return image.filePath.ToUtf8();
}

std::string Resolve(const std::string& reference, const std::string& documentPath) {
  return Resolve(reference, documentPath, [](DaeDocument&) {});
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

// Serves addresses from a folder of "remote" files named by the address's last part.
struct FolderDownloader : IDownloader {
  HRESULT QueryInterface(const Guid&, void** object) override { return *object = this, S_OK; }
  uint32_t AddRef() override { return 1; }
  uint32_t Release() override { return 1; }
  HRESULT SetConnectTimeout(long) override { return S_OK; }
  HRESULT SetTotalTimeout(long) override { return S_OK; }
  HRESULT SetMaxBytes(long long) override { return S_OK; }
  HRESULT SetMaxRedirects(long) override { return S_OK; }
  HRESULT GetLastStatus(long*) override { return S_OK; }
  HRESULT GetBytesReceived(long long*) override { return S_OK; }
  HRESULT CopyUrlToFile(BSTR source, BSTR target) override {
    lastSource = String(source).ToUtf8();
    std::error_code ec;
    std::filesystem::copy_file(remote + "/" + FileSystemPath(String(source)).GetFile().ToUtf8(),
                               String(target).ToUtf8(), ec);
    return S_OK;
  }
  std::string remote = testsupport::ScratchDir() + "/remote";
  std::string lastSource;
};

TEST(ImageTagTest, DownloadedDocumentFetchesIntoTheTemporaryDirectory) {
  FolderDownloader downloader;
  testsupport::WriteFile("remote/a.png", "png");
  testsupport::WriteFile("remote/evil.png", "png");
  std::string temp = TavuOSDir::GetTempPathW().ToUtf8();
  auto downloaded = [&](DaeDocument& document) {
    document.isDownloaded = true;
    document.sourceUrl = L"http://example.com/models/doc.dae";
    document.downloader = &downloader;
  };
  auto fetched = [&](const std::string& reference, const std::string& name) {
    std::string path = Resolve(reference, "", downloaded);
    return path.rfind(temp, 0) == 0 && path.size() > name.size() &&
           path.compare(path.size() - name.size(), name.size(), name) == 0 &&
           !std::filesystem::exists(path);  // deleted with the document
  };

  EXPECT_TRUE(fetched("./tex/a.png", "/a.png"));
  EXPECT_EQ(downloader.lastSource, "http://example.com/models/tex/a.png");
  // A reference that climbs out of the folder still lands inside the temporary directory.
  EXPECT_TRUE(fetched("../../evil.png", "/evil.png"));
  EXPECT_EQ(downloader.lastSource, "http://example.com/models/../../evil.png");
  EXPECT_EQ(Resolve("missing.png", "", downloaded), "");
}

}  // namespace
