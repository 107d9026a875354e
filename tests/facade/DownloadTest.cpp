// The entry points on http(s) addresses served by a loopback server inside the test: a fetched
// model with its texture converts exactly like the local copy, and every failure leaves neither
// output nor files behind.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "host/Downloader.h"
#include "host/TempDir.h"
#include "support/LocalHttpServer.h"
#include "support/Outputs.h"

namespace fs = std::filesystem;

namespace pipelinetest {
namespace {

using testsupport::LocalHttpServer;
using namespace std::string_literals;

// The process's private temporary directory is made below $TMPDIR on first use. Pointing $TMPDIR
// at a folder of this test before anything asks for it lets the tests see every file a download
// might write beside the private directory.
const std::string kTempParent = [] {
  std::string parent = testsupport::ScratchDir() + "/tmp";
  fs::create_directories(parent);
  ::setenv("TMPDIR", parent.c_str(), 1);
  return parent;
}();

constexpr long long kCap = 32 << 10;  // above the sample model, below the oversized responses

// The real download component, made impatient and small so that the stall, the size cap and the
// time limits show within a test's time. Installed through the component table, as a host would
// substitute it.
IUnknown* CreateTestDownloader() {
  IUnknown* unknown = CreateDownloaderComponent();
  void* typed = nullptr;
  if (unknown && unknown->QueryInterface(IID_IDownloader, &typed) >= 0) {
    IDownloader* downloader = static_cast<IDownloader*>(typed);
    downloader->SetTotalTimeout(2);
    downloader->SetMaxBytes(kCap);
    downloader->SetLowSpeedLimit(1024, 1);
    downloader->SetCallTimeout(3);
    downloader->Release();
  }
  return unknown;
}

const std::string kLocalHouse = std::string(VARNEL_TEST_DATA) + "/demo/house.dae";

std::string Sample(const std::string& name) {
  return testsupport::ReadFile(std::string(VARNEL_TEST_DATA) + "/demo/" + name);
}

std::string HouseWith(const std::string& original, const std::string& replacement) {
  std::string text = Sample("house.dae");
  size_t at = text.find(original);
  EXPECT_NE(at, std::string::npos);
  return text.replace(at, original.size(), replacement);
}

std::string HouseTexturedWith(const std::string& reference) {
  return HouseWith("<init_from>brick.png</init_from>", "<init_from>" + reference + "</init_from>");
}

int Textures(const Output& output) {
  int n = 0;
  for (const MaterialRecord& m : output.materials) n += !m.firstPixel.empty();
  return n;
}

class DownloadTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { LocalHttpServer::BypassProxies(); }

  void SetUp() override {
    ASSERT_NE(server.Port(), 0);
    previousFactory = RegisterComponent(CLSID_Downloader, CreateTestDownloader);
    privateDir = TavuOSDir::GetTempPathW().ToUtf8();
    ASSERT_EQ(fs::path(privateDir).parent_path().parent_path().string(), kTempParent)
        << "the private directory was made before $TMPDIR was set";
    outside = testsupport::DirectoryEntries(kTempParent);
    Serve("/models/house.dae", Sample("house.dae"));
    Serve("/models/brick.png", Sample("brick.png"));
  }
  void TearDown() override { RegisterComponent(CLSID_Downloader, previousFactory); }

  // An empty file beside the private directory that no call may change or remove.
  std::string Sentinel(const std::string& name) {
    outside.insert(name);
    return testsupport::WriteFile("tmp/" + name, "");
  }

  void Serve(const std::string& path, const std::string& body) {
    Serve(path, LocalHttpServer::Reply(200, body));
  }
  void Serve(const std::string& path, LocalHttpServer::Response response) {
    std::lock_guard<std::mutex> hold(lock);
    routes[path] = std::move(response);
  }
  std::vector<std::string> TakeRequests() {
    std::lock_guard<std::mutex> hold(lock);
    return std::exchange(requested, {});
  }

  String Url(const std::string& path, const std::string& scheme = "http") const {
    return String::FromUtf8(server.Url(path, scheme));
  }

  // The display list of `location`; afterwards nothing of the call may remain on disk, neither
  // in the private directory nor beside it.
  Output Convert(const String& location, const ImportOptions& options = {}) {
    RecordingSink sink;
    Varnel().CreateDisplayListFromFile(location, &sink, options);
    ExpectNoFilesLeft();
    return sink.output;
  }
  void ExpectNoFilesLeft() {
    EXPECT_EQ(testsupport::DirectoryEntries(privateDir), std::set<std::string>{});
    EXPECT_EQ(testsupport::DirectoryEntries(kTempParent), outside);
  }

  std::mutex lock;
  std::map<std::string, LocalHttpServer::Response> routes;
  std::vector<std::string> requested;
  LocalHttpServer server{[this](const std::string& path) {
    std::lock_guard<std::mutex> hold(lock);
    requested.push_back(path);
    auto found = routes.find(path);
    return found != routes.end() ? found->second : LocalHttpServer::Reply(404, "not here");
  }};
  ComponentFactory previousFactory = nullptr;
  std::string privateDir;
  std::set<std::string> outside;  // what kTempParent holds: the private directory, sentinels
};

void ExpectSameOutput(const Output& a, const Output& b) {
  ASSERT_TRUE(a.present && b.present);
  ExpectSameParts(a, b, true);
  ExpectSameMaterials(a, b);
  EXPECT_EQ(a.extent, b.extent);
}

TEST_F(DownloadTest, FetchedModelConvertsLikeTheLocalCopy) {
  Outputs local = RunBoth(kLocalHouse);
  ASSERT_EQ(Textures(local.display), 1);
  Serve("/models/moved.dae", LocalHttpServer::Redirect("/models/house.dae"));
  TakeRequests();
  for (const char* scheme : {"http", "HTTP", "Http"}) {
    SCOPED_TRACE(scheme);
    ExpectSameOutput(Convert(Url("/models/house.dae", scheme)), local.display);
    // The texture comes from the document's folder on the server.
    EXPECT_EQ(TakeRequests(), (std::vector<std::string>{"/models/house.dae", "/models/brick.png"}));
  }
  ExpectSameOutput(Convert(Url("/models/moved.dae")), local.display);

  // The other two entry points fetch and clean up the same way; blanks around an address go.
  ExpectSameOutput(RunBoth("  " + server.Url("/models/house.dae") + " ").geometry, local.geometry);
  ExpectNoFilesLeft();
  std::string buffer = DataBuffer(server.Url("/models/house.dae"));
  ExpectNoFilesLeft();
  EXPECT_FALSE(buffer.empty());
  EXPECT_EQ(buffer, DataBuffer(kLocalHouse));
}

TEST_F(DownloadTest, ConcurrentCallsKeepTheirOwnFiles) {
  // Same address, same file names: each call must fetch, read and delete only its own copies.
  Output expected = Convert(Url("/models/house.dae"));
  std::vector<Output> results(4);
  std::vector<std::thread> threads;
  for (Output& result : results)
    threads.emplace_back([&] {
      RecordingSink sink;
      Varnel().CreateDisplayListFromFile(Url("/models/house.dae"), &sink);
      result = sink.output;
    });
  for (std::thread& thread : threads) thread.join();
  for (const Output& result : results) ExpectSameOutput(result, expected);
  ExpectNoFilesLeft();
}

TEST_F(DownloadTest, FailedDocumentsGiveNoOutput) {
  Serve("/loop.dae", LocalHttpServer::Redirect("/loop.dae"));
  // Only http and https are spoken, after redirects too.
  Serve("/to-file.dae", LocalHttpServer::Redirect("file://" + kLocalHouse));
  Serve("/stall.dae", LocalHttpServer::Response{
                          "HTTP/1.1 200 OK\r\nContent-Length: 20000\r\n\r\n<COLLADA>", true});
  Serve("/big.dae", Sample("house.dae") + "<!--" + std::string(kCap, ' ') + "-->");
  Serve("/not-a-model.dae", "plain text");
  // Fetched with its texture but without a scene: the downloads are deleted all the same.
  Serve("/models/no-scene.dae", HouseWith("<instance_visual_scene url=\"#house-scene\"/>", ""));

  auto start = std::chrono::steady_clock::now();
  for (const char* path : {"/missing.dae", "/loop.dae", "/to-file.dae", "/stall.dae", "/big.dae",
                           "/not-a-model.dae", "/models/", "/models/no-scene.dae"}) {
    SCOPED_TRACE(path);
    EXPECT_FALSE(Convert(Url(path)).present);
  }
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(15));
  EXPECT_EQ(TakeRequests().back(), "/models/brick.png");

  // The secure scheme reaches the component too: it speaks TLS to the plain server and fails.
  int before = server.Requests();
  EXPECT_FALSE(Convert(Url("/models/house.dae", "https")).present);
  EXPECT_FALSE(Convert(Url("/models/house.dae", "HTTPS")).present);
  EXPECT_EQ(server.Requests(), before + 2);
  EXPECT_EQ(DataBuffer(server.Url("/models/no-scene.dae")), "");
  ExpectNoFilesLeft();
}

TEST_F(DownloadTest, TexturesAreFetchedOnlyIntoThePrivateDirectory) {
  // References that leave the document's folder on the server are not fetched at all; the
  // server would answer each with the texture. A target made by appending the reference to the
  // temporary directory would overwrite (and then delete) the empty sentinels beside it.
  const std::string absolute = Sentinel("absolute.png"), escaped = Sentinel("escaped.png");
  for (const std::string& path : {"/etc/passwd"s, "/escaped.png"s, "/models/" + absolute})
    Serve(path, Sample("brick.png"));
  Serve("/models/loop.png", LocalHttpServer::Redirect("/models/loop.png"));
  Serve("/models/stall.png",
        LocalHttpServer::Response{"HTTP/1.1 200 OK\r\nContent-Length: 500\r\n\r\n\x89PNG", true});
  Serve("/models/big.png", Sample("brick.png") + std::string(kCap, '\0'));
  Serve("/models/corrupt.png", "not an image");
  const std::pair<std::string, int> cases[] = {
      {"textures/../brick.png", 1},
      {"../../../etc/passwd", 0}, {"../escaped.png", 0}, {"textures/%2E%2e/../escaped.png", 0},
      {absolute, 0}, {"http://127.0.0.1/x.png", 0},
      // Left out, the model still converts.
      {"missing.png", 0}, {"loop.png", 0}, {"stall.png", 0}, {"big.png", 0}, {"corrupt.png", 0},
      {"..", 0}, {"textures/../..", 0}};
  for (const auto& [reference, textures] : cases) {
    SCOPED_TRACE(reference);
    Serve("/models/uses.dae", HouseTexturedWith(reference));
    TakeRequests();
    Output fetched = Convert(Url("/models/uses.dae"));
    EXPECT_TRUE(fetched.present);
    EXPECT_EQ(Textures(fetched), textures);
    for (const std::string& request : TakeRequests())
      EXPECT_EQ(request.rfind("/models/", 0), 0u) << request;
    for (const std::string& sentinel : {absolute, escaped}) {
      std::error_code ec;
      EXPECT_EQ(fs::file_size(sentinel, ec), 0u) << sentinel;
      EXPECT_FALSE(ec) << sentinel;
    }
  }
}

// A transfer below the low-speed limit (1024 bytes a second here) is abandoned, and a document
// with its textures shares one allowance of time (3 s here): what is past it is not fetched.
// Every cut is said.
TEST_F(DownloadTest, SlowTransfersStopAtTheirLimits) {
  Serve("/slow.dae", LocalHttpServer::Drip(Sample("house.dae"), 10, 100));
  Serve("/models/slow.png", LocalHttpServer::Drip(Sample("brick.png"), 10, 100));
  Serve("/models/textured-slowly.dae", HouseTexturedWith("slow.png"));
  // 10,000 bytes a second: far above the low-speed limit, but each texture takes 1.6 s.
  std::string images;
  for (const char* name : {"t1", "t2", "t3", "t4"}) {
    Serve("/models/"s + name + ".png", LocalHttpServer::Drip(Sample("brick.png") + std::string(16000, '\0'), 1000, 100));
    images += "<image id=\""s + name + "\"><init_from>" + name + ".png</init_from></image>";
  }
  Serve("/models/many.dae", HouseWith("<library_images>", "<library_images>" + images));

  DiagnosticLog log;
  EXPECT_FALSE(Convert(Url("/slow.dae"), {false, &log}).present);
  Output untextured = Convert(Url("/models/textured-slowly.dae"), {false, &log});
  EXPECT_TRUE(untextured.present);
  EXPECT_EQ(Textures(untextured), 0);
  TakeRequests();
  EXPECT_TRUE(Convert(Url("/models/many.dae"), {false, &log}).present);
  std::vector<std::string> requested = TakeRequests();
  EXPECT_LE(requested.size(), 3u);  // the document, t1 and the t2 that is cut
  EXPECT_EQ(std::count(requested.begin(), requested.end(), "/models/t4.png"), 0);
  std::vector<std::string> limits;
  for (const DiagnosticLog::Entry& e : log.heard)
    if (e.kind == DiagnosticKind::kLimitReached) limits.push_back(e.message.substr(e.message.find("stopped: ")));
  EXPECT_EQ(limits, (std::vector<std::string>{"stopped: slower than the low-speed limit",
                                              "stopped: slower than the low-speed limit",
                                              "stopped: past the time allowed for the document and its textures"}));
}

}  // namespace
}  // namespace pipelinetest
