#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>
#include <thread>

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
  if (path == "/a/model.dae") return Server::Reply(200, "first");
  if (path == "/b/model.dae") return Server::Reply(200, "second");
  if (path == "/loop") return Server::Redirect("/loop");
  if (path.starts_with("/hop/")) {  // a chain of n redirects before the body
    int left = std::atoi(path.c_str() + 5);
    return left <= 0 ? Server::Reply(200, "arrived")
                     : Server::Redirect("/hop/" + std::to_string(left - 1));
  }
  if (path == "/to-file") return Server::Redirect("file:///etc/passwd");
  if (path == "/to-ftp") return Server::Redirect("ftp://127.0.0.1/model.dae");
  if (path == "/moved-nowhere") return Server::Reply(302, "no location");
  if (path == "/big") return Server::Reply(200, std::string(5000, 'x'));
  if (path == "/big-unannounced")
    return {"HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n" + std::string(5000, 'x'), false};
  if (path == "/stall")
    return {"HTTP/1.1 200 OK\r\nContent-Length: 100\r\nConnection: close\r\n\r\npartial", true};
  return Server::Reply(404, "not here");
}

std::set<std::string> Entries(const String& dir) {
  return testsupport::DirectoryEntries(dir.ToUtf8());
}

IDownloader* NewDownloader() {
  IDownloader* downloader = nullptr;
  HalvexCreateInstance(CLSID_Downloader, nullptr, CLSCTX_ALL, IID_IDownloader,
                       reinterpret_cast<void**>(&downloader));
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
  HRESULT Copy(const std::string& url) {
    return downloader->CopyUrlToFile(BString(String::FromUtf8(url)), BString(target));
  }

  LocalHttpServer server{Route};
  IDownloader* downloader = nullptr;
  String dir;
  FileSystemPath target;
};

TEST_F(DownloaderTest, FetchesTheBodyIntoTheTarget) {
  for (const char* scheme : {"http", "HTTP", "Http"}) {
    SCOPED_TRACE(scheme);
    ASSERT_EQ(Copy(server.Url("/model.dae", scheme)), S_OK);
    EXPECT_EQ(testsupport::ReadFile(target.GetString().ToUtf8()), kModel);
    long status = 0;
    long long bytes = 0;
    downloader->GetLastStatus(&status);
    downloader->GetBytesReceived(&bytes);
    EXPECT_EQ(status, 200);
    EXPECT_EQ(bytes, static_cast<long long>(kModel.size()));
    EXPECT_EQ(Entries(dir), std::set<std::string>{"model.dae"});  // no partial file beside it
  }
  // Five redirects are followed; a body exactly at the cap is accepted, with or without a length.
  ASSERT_EQ(Copy(server.Url("/hop/5")), S_OK);
  EXPECT_EQ(testsupport::ReadFile(target.GetString().ToUtf8()), "arrived");
  downloader->SetMaxBytes(5000);
  EXPECT_EQ(Copy(server.Url("/big")), S_OK);
  EXPECT_EQ(Copy(server.Url("/big-unannounced")), S_OK);
  EXPECT_EQ(Entries(dir), std::set<std::string>{"model.dae"});
}

TEST_F(DownloaderTest, FailedOrRefusedTransfersLeaveNoFile) {
  ASSERT_EQ(downloader->SetTotalTimeout(1), S_OK);
  ASSERT_EQ(downloader->SetMaxBytes(4999), S_OK);
  EXPECT_LT(downloader->SetMaxBytes(0), 0);
  EXPECT_LT(downloader->SetTotalTimeout(-1), 0);
  const std::string refused[] = {
      server.Url("/missing"),
      server.Url("/loop"),
      server.Url("/hop/6"),
      server.Url("/to-file"),
      server.Url("/to-ftp"),
      server.Url("/moved-nowhere"),
      server.Url("/big"),
      server.Url("/big-unannounced"),
      server.Url("/stall"),
      server.Url("/model.dae", "https"),  // a plain server: the handshake fails
      server.Url("/model.dae", "ftp"),
      "file:///etc/passwd",
      "",
  };
  auto start = std::chrono::steady_clock::now();
  for (const std::string& url : refused) {
    SCOPED_TRACE(url);
    // An older file under the target name must not pass for this call's result.
    testsupport::WriteFile("stale", "stale");
    std::filesystem::copy_file(testsupport::ScratchDir() + "/stale", target.GetString().ToUtf8());
    EXPECT_LT(Copy(url), 0);
    EXPECT_FALSE(target.Exists());
    EXPECT_TRUE(Entries(dir).empty());
  }
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
  long status = 0;
  Copy(server.Url("/missing"));
  downloader->GetLastStatus(&status);
  EXPECT_EQ(status, 404);

  // Targets that name no file are refused without touching the folder.
  for (const String& bad : {dir, dir + L".", dir + L"..", String()}) {
    EXPECT_LT(downloader->CopyUrlToFile(BString(String::FromUtf8(server.Url("/model.dae"))),
                                        BString(bad)),
              0);
  }
  EXPECT_TRUE(FileSystemPath(dir).IsDirectory());
  EXPECT_TRUE(Entries(dir).empty());
}

TEST_F(DownloaderTest, TempFilesStayInTheirOwnFolders) {
  String temp = TavuOSDir::GetTempPathW();
  std::set<std::string> before = Entries(temp);

  // Two documents fetching the same file name at the same time keep their own copies.
  String first, second;
  std::thread a([&] {
    IDownloader* own = NewDownloader();
    first = DownloadToTempFile(own, String::FromUtf8(server.Url("/a/model.dae")),
                               L"http://x/a/model.dae");
    own->Release();
  });
  std::thread b([&] {
    IDownloader* own = NewDownloader();
    second = DownloadToTempFile(own, String::FromUtf8(server.Url("/b/model.dae")),
                                L"http://x/b/model.dae");
    own->Release();
  });
  a.join();
  b.join();
  ASSERT_FALSE(first.IsEmpty());
  ASSERT_FALSE(second.IsEmpty());
  EXPECT_EQ(FileSystemPath(first).GetFile(), L"model.dae");
  EXPECT_EQ(testsupport::ReadFile(first.ToUtf8()), "first");
  EXPECT_EQ(testsupport::ReadFile(second.ToUtf8()), "second");

  // A reference that climbs out is fetched under its last component, inside a download folder.
  String climbed = DownloadToTempFile(downloader, String::FromUtf8(server.Url("/dir/../../x.png")),
                                      L"../../x.png");
  ASSERT_FALSE(climbed.IsEmpty());
  EXPECT_EQ(FileSystemPath(FileSystemPath(climbed).GetPath(false)).GetPath(true), temp);
  EXPECT_EQ(testsupport::ReadFile(climbed.ToUtf8()), kModel);

  // Refused names, failed fetches and a missing component leave no folder behind.
  String modelUrl = String::FromUtf8(server.Url("/model.dae"));
  EXPECT_TRUE(DownloadToTempFile(downloader, modelUrl, L"..").IsEmpty());
  EXPECT_TRUE(DownloadToTempFile(downloader, String::FromUtf8(server.Url("/missing")), L"missing")
                  .IsEmpty());
  EXPECT_TRUE(DownloadToTempFile(nullptr, modelUrl, L"model.dae").IsEmpty());

  for (const String& file : {first, second, climbed}) DeleteDownloadedFile(file);
  EXPECT_EQ(Entries(temp), before);
}

}  // namespace
}  // namespace varnel
