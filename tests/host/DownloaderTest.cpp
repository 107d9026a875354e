#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "host/Downloader.h"
#include "host/SafeName.h"
#include "support/LocalHttpServer.h"
#include "support/TestSupport.h"

namespace varnel {
namespace {

using testsupport::LocalHttpServer;

const std::string kModel = "<COLLADA>model</COLLADA>";

LocalHttpServer::Response Route(const std::string& path) {
  using Server = LocalHttpServer;
  if (path == "/model.dae" || path == "/x.png") return Server::Reply(200, kModel);
  if (path == "/a/model.dae" || path == "/b/model.dae") return Server::Reply(200, path.substr(1, 1));
  if (path == "/loop") return Server::Redirect("/loop");
  if (path.starts_with("/hop/")) {  // a chain of n redirects before the body
    int left = std::atoi(path.c_str() + 5);
    return left <= 0 ? Server::Reply(200, "arrived") : Server::Redirect("/hop/" + std::to_string(left - 1));
  }
  if (path == "/to-file") return Server::Redirect("file:///etc/passwd");
  if (path == "/to-ftp") return Server::Redirect("ftp://127.0.0.1/model.dae");
  if (path == "/moved-nowhere") return Server::Reply(302, "no location");
  if (path == "/big") return Server::Reply(200, std::string(5000, 'x'));
  if (path == "/big-unannounced") return {"HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n" + std::string(5000, 'x')};
  if (path == "/stall") return {"HTTP/1.1 200 OK\r\nContent-Length: 100\r\nConnection: close\r\n\r\npartial", true};
  return Server::Reply(404, "not here");
}

std::set<std::string> Entries(const String& dir) {
  return testsupport::DirectoryEntries(dir.ToUtf8());
}

IDownloader* NewDownloader() {
  IDownloader* downloader = nullptr;
  HalvexCreateInstance(CLSID_Downloader, nullptr, CLSCTX_ALL, IID_IDownloader, reinterpret_cast<void**>(&downloader));
  return downloader;
}

class DownloaderTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { LocalHttpServer::BypassProxies(); }
  void SetUp() override {
    ASSERT_NE(server.Port(), 0);
    downloader = NewDownloader();
    ASSERT_NE(downloader, nullptr);
    dir = MakeDownloadDir();
    ASSERT_FALSE(dir.IsEmpty());
    target = FileSystemPath(dir);
    target.AppendFile(L"model.dae");
  }
  void TearDown() override {
    if (downloader) downloader->Release();
    DeleteDownloadedFile(target);
    EXPECT_FALSE(FileSystemPath(dir).Exists());
  }
  HRESULT Copy(const std::string& url, const String& to) {
    return downloader->CopyUrlToFile(BString(String::FromUtf8(url)), BString(to));
  }
  HRESULT Copy(const std::string& url) { return Copy(url, target); }
  std::string Fetched() { return testsupport::ReadFile(target.GetString().ToUtf8()); }

  LocalHttpServer server{Route};
  IDownloader* downloader = nullptr;
  String dir;
  FileSystemPath target;
};

TEST_F(DownloaderTest, FetchesTheBodyIntoTheTarget) {
  for (const char* scheme : {"http", "HTTP"}) {
    ASSERT_EQ(Copy(server.Url("/model.dae", scheme)), S_OK) << scheme;
    EXPECT_EQ(Fetched(), kModel);
  }
  long status = 0;
  long long bytes = 0;
  downloader->GetLastStatus(&status);
  downloader->GetBytesReceived(&bytes);
  EXPECT_EQ(status, 200);
  EXPECT_EQ(bytes, static_cast<long long>(kModel.size()));
  // Five redirects are followed; a body exactly at the cap is accepted, with or without a length.
  ASSERT_EQ(Copy(server.Url("/hop/5")), S_OK);
  EXPECT_EQ(Fetched(), "arrived");
  downloader->SetMaxBytes(5000);
  EXPECT_EQ(Copy(server.Url("/big")), S_OK);
  EXPECT_EQ(Copy(server.Url("/big-unannounced")), S_OK);
  EXPECT_EQ(Entries(dir), std::set<std::string>{"model.dae"});  // no partial file beside it
}

TEST_F(DownloaderTest, FailedOrRefusedTransfersLeaveNoFile) {
  ASSERT_EQ(downloader->SetTotalTimeout(1), S_OK);
  ASSERT_EQ(downloader->SetMaxBytes(4999), S_OK);
  EXPECT_LT(downloader->SetMaxBytes(0), 0);
  EXPECT_LT(downloader->SetTotalTimeout(-1), 0);
  std::vector<std::string> refused = {"", "file:///etc/passwd", server.Url("/model.dae", "ftp"),
                                      server.Url("/model.dae", "https")};  // a plain server: no handshake
  for (const char* path : {"/missing", "/loop", "/hop/6", "/to-file", "/to-ftp", "/moved-nowhere", "/big",
                           "/big-unannounced", "/stall"})
    refused.push_back(server.Url(path));
  auto start = std::chrono::steady_clock::now();
  for (const std::string& url : refused) {
    // An older file under the target name must not pass for this call's result.
    testsupport::WriteFile("stale", "stale");
    std::filesystem::copy_file(testsupport::ScratchDir() + "/stale", target.GetString().ToUtf8());
    EXPECT_LT(Copy(url), 0) << url;
    EXPECT_TRUE(Entries(dir).empty()) << url;
  }
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
  long status = 0;
  Copy(server.Url("/missing"));
  downloader->GetLastStatus(&status);
  EXPECT_EQ(status, 404);

  // Targets that name no file are refused without touching the folder.
  for (const String& bad : {dir, dir + L".", dir + L"..", String()})
    EXPECT_LT(Copy(server.Url("/model.dae"), bad), 0);
  EXPECT_TRUE(FileSystemPath(dir).IsDirectory());
  EXPECT_TRUE(Entries(dir).empty());
}

}  // namespace
}  // namespace varnel
