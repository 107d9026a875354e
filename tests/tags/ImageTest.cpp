#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "host/Downloader.h"
#include "tags/Image.h"
#include "tags/SceneFixtures.h"

namespace {

using namespace scenetest;

// The resolved file path of an image whose init_from is `reference`, read for a local
// document at `documentPath`.
std::string Resolve(const std::string& reference, const std::string& documentPath) {
  Fragment f("<image id=\"i\" name=\"n\"><init_from>" + reference + "</init_from></image>", documentPath);
  ImageTag* image = f.As(&Tag::AsImageTag);
  return image ? image->filePath.ToUtf8() : "<failed>";
}

TEST(ImageTagTest, LocalReferencesResolveAroundTheDocument) {
  // The document lies three folders deep: root/a/b/c/doc.dae.
  std::string root = testsupport::ScratchDir() + "/images";
  std::string doc = testsupport::WriteFile("images/a/b/c/doc.dae", "");
  std::string inSub = testsupport::WriteFile("images/a/b/c/sub/x.png", "png");
  std::string twoUp = testsupport::WriteFile("images/a/top.png", "png");
  std::string beside = testsupport::WriteFile("images/a/b/c/beside.png", "png");
  testsupport::WriteFile("images/a/b/y", "png");

  EXPECT_EQ(Resolve("./sub/x.png", doc), inSub);
  EXPECT_EQ(Resolve("sub/x.png", doc), inSub);
  EXPECT_EQ(Resolve("../../top.png", doc), twoUp);
  // Shorter than six characters: appended as it stands.
  EXPECT_EQ(Resolve("../y", doc), root + "/a/b/c/../y");
  EXPECT_EQ(Resolve("textures/beside.png", doc), beside);
  EXPECT_EQ(Resolve("../../../../../beside.png", doc), beside);
  EXPECT_EQ(Resolve(twoUp, doc), twoUp);
  EXPECT_EQ(Resolve("missing.png", doc), "");
  EXPECT_EQ(Resolve("sub", doc), "");  // a folder is not an image
  EXPECT_EQ(Resolve("", doc), "");
}

// Serves every address from a folder of "remote" files: the last part of the address
// names the file. Remembers what it was asked for.
struct FolderDownloader : IDownloader {
  HRESULT QueryInterface(const Guid&, void** object) override {
    *object = static_cast<IDownloader*>(this);
    return S_OK;
  }
  uint32_t AddRef() override { return 1; }
  uint32_t Release() override { return 1; }
  HRESULT SetConnectTimeout(long) override { return S_OK; }
  HRESULT SetTotalTimeout(long) override { return S_OK; }
  HRESULT SetMaxBytes(long long) override { return S_OK; }
  HRESULT SetMaxRedirects(long) override { return S_OK; }
  HRESULT GetLastStatus(long*) override { return S_OK; }
  HRESULT GetBytesReceived(long long*) override { return S_OK; }
  HRESULT CopyUrlToFile(BSTR source, BSTR target) override {
    String address(source);
    sources.push_back(address.ToUtf8());
    std::error_code ec;
    std::filesystem::path from = remote + "/" + FileSystemPath(address).GetFile().ToUtf8();
    std::filesystem::copy_file(from, String(target).ToUtf8(), ec);
    return S_OK;
  }

  std::string remote;
  std::vector<std::string> sources;
};

TEST(ImageTagTest, DownloadedDocumentFetchesIntoTheTemporaryDirectory) {
  static FolderDownloader downloader;
  downloader.remote = testsupport::ScratchDir() + "/remote";
  testsupport::WriteFile("remote/a.png", "png");
  testsupport::WriteFile("remote/evil.png", "png");
  std::string temp = TavuOSDir::GetTempPathW().ToUtf8();
  ASSERT_FALSE(temp.empty());

  auto resolve = [&](const std::string& reference) {
    ElementReader reader("<image><init_from>" + reference + "</init_from></image>");
    reader.document.isDownloaded = true;
    reader.document.sourceUrl = L"http://example.com/models/doc.dae";
    reader.document.downloader = &downloader;
    ImageTag image(reader.id);
    EXPECT_TRUE(image.Parse(reader.document));
    std::string path = image.filePath.ToUtf8();
    EXPECT_EQ(reader.document.tempFiles.GetSize(), path.empty() ? 0 : 1);
    reader.document.DeleteTempFiles();
    reader.document.downloader = nullptr;
    return path;
  };

  auto inTemp = [&](const std::string& path, const char* name) {
    return path.rfind(temp, 0) == 0 && path.size() > temp.size() + std::strlen(name) &&
           path.compare(path.size() - std::strlen(name), std::string::npos, name) == 0;
  };

  std::string fetched = resolve("./tex/a.png");
  EXPECT_PRED2(inTemp, fetched, "/a.png");
  EXPECT_EQ(downloader.sources.back(), "http://example.com/models/tex/a.png");
  EXPECT_FALSE(std::filesystem::exists(fetched));  // deleted with the document

  // A reference that climbs out of the folder still lands inside the temporary directory.
  EXPECT_PRED2(inTemp, resolve("../../evil.png"), "/evil.png");
  EXPECT_EQ(downloader.sources.back(), "http://example.com/models/../../evil.png");
  EXPECT_EQ(resolve("missing.png"), "");
  EXPECT_EQ(resolve(".."), "");
}

}  // namespace
