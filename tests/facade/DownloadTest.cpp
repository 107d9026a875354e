// The entry points on http(s) addresses served by a loopback server inside the test: a fetched
// model with its texture converts exactly like the local copy, and every failure leaves neither
// output nor files behind.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <varnel/Varnel.h>
#include "host/Downloader.h"
#include <varnel/Geometry.h>
#include <varnel/MaterialProperties.h>
#include <varnel/DaeDisplayList.h>
#include "support/LocalHttpServer.h"
#include "support/TestSupport.h"
#include "host/TempDir.h"

namespace fs = std::filesystem;

namespace varnel {
namespace {

using testsupport::LocalHttpServer;

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

// The real download component, made impatient and small so that the stall and the size cap show
// within a test's time. Installed through the component table, as a host would substitute it.
IUnknown* CreateTestDownloader() {
  IUnknown* unknown = CreateDownloaderComponent();
  void* typed = nullptr;
  if (unknown && unknown->QueryInterface(IID_IDownloader, &typed) >= 0) {
    IDownloader* downloader = static_cast<IDownloader*>(typed);
    downloader->SetTotalTimeout(2);
    downloader->SetMaxBytes(kCap);
    downloader->Release();
  }
  return unknown;
}

std::string Sample(const std::string& name) {
  return testsupport::ReadFile(std::string(VARNEL_TEST_DATA) + "/demo/" + name);
}

std::string HouseTexturedWith(const std::string& reference) {
  std::string text = Sample("house.dae");
  const std::string original = "<init_from>brick.png</init_from>";
  size_t at = text.find(original);
  EXPECT_NE(at, std::string::npos);
  return text.replace(at, original.size(), "<init_from>" + reference + "</init_from>");
}

// Every display-list call as one line of text, texture pixels included (as a checksum).
struct Transcript : DaeDisplayList {
  std::string text;
  int textures = 0;
  void SetMaterials(long count, MaterialProperties* materials) override {
    text += "materials " + std::to_string(count) + "\n";
    for (long i = 0; i < count; ++i) {
      const MaterialProperties& m = materials[i];
      char line[200];
      std::snprintf(line, sizeof line,
                    " color %d %d %d cull %d transparency %d shared %d texture %dx%dx%d",
                    m.color[0], m.color[1], m.color[2], m.cullBackFaces, m.transparency,
                    m.sharedTexture, m.textureWidth, m.textureHeight, m.textureChannels);
      text += line;
      unsigned long long hash = 14695981039346656037ull;
      size_t bytes = static_cast<size_t>(m.textureWidth) * m.textureHeight * m.textureChannels;
      for (size_t b = 0; m.texturePixels && b < bytes; ++b)
        hash = (hash ^ m.texturePixels[b]) * 1099511628211ull;
      text += " pixels " + std::to_string(hash) + "\n";
      if (m.texturePixels) ++textures;
    }
    delete[] materials;
  }
  void SetCurrentPart(long material, tavuPatchType type) override {
    text += "part " + std::to_string(material) + " " + std::to_string(type) + "\n";
  }
  void SetCurrentLine(long material, bool strip) override {
    text += "line " + std::to_string(material) + " " + std::to_string(strip) + "\n";
  }
  void SetPartData(long points, bool normals, bool texturePoints, float* data) override {
    text += "data " + std::to_string(points) + " " + std::to_string(normals) +
            std::to_string(texturePoints);
    Floats(data, points * ((normals ? 6 : 3) + (texturePoints ? 2 : 0)));
  }
  void SetLineData(long points, float* data) override {
    text += "line data " + std::to_string(points);
    Floats(data, points * 3);
  }
  void SetExtent(double x0, double y0, double z0, double x1, double y1, double z1) override {
    char line[200];
    std::snprintf(line, sizeof line, "extent %a %a %a %a %a %a\n", x0, y0, z0, x1, y1, z1);
    text += line;
  }

 private:
  void Floats(const float* data, long count) {
    char value[32];
    for (long i = 0; i < count; ++i) {
      std::snprintf(value, sizeof value, " %a", static_cast<double>(data[i]));
      text += value;
    }
    text += "\n";
  }
};

class DownloadTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { LocalHttpServer::BypassProxies(); }

  void SetUp() override {
    ASSERT_NE(server.Port(), 0);
    previousFactory = RegisterComponent(CLSID_Downloader, CreateTestDownloader);
    privateDir = TavuOSDir::GetTempPathW().ToUtf8();
    ASSERT_EQ(fs::path(privateDir).parent_path().parent_path().string(), kTempParent)
        << "the private directory was made before $TMPDIR was set";
    outside = {fs::path(privateDir).parent_path().filename().string()};
    Serve("/models/house.dae", Sample("house.dae"));
    Serve("/models/brick.png", Sample("brick.png"));
  }

  void TearDown() override {
    RegisterComponent(CLSID_Downloader, previousFactory);
    for (const std::string& name : outside)
      if (fs::is_regular_file(kTempParent + "/" + name)) fs::remove(kTempParent + "/" + name);
  }

  // A file beside the private directory that no call may change or remove.
  std::string Sentinel(const std::string& name) {
    std::string path = kTempParent + "/" + name;
    std::FILE* file = std::fopen(path.c_str(), "w");
    EXPECT_NE(file, nullptr);
    if (file) std::fclose(file);
    outside.insert(name);
    return path;
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

  // The display-list stream of `location`; afterwards nothing of the call may remain on disk,
  // neither in the private directory nor beside it.
  Transcript Convert(const String& location) {
    Transcript sink;
    Varnel().CreateDisplayListFromFile(location, &sink);
    ExpectNoFilesLeft();
    return sink;
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

TEST_F(DownloadTest, FetchedModelConvertsLikeTheLocalCopy) {
  String local = String::FromUtf8(std::string(VARNEL_TEST_DATA) + "/demo/house.dae");
  Transcript expected = Convert(local);
  ASSERT_EQ(expected.textures, 1);
  ASSERT_NE(expected.text.find("extent"), std::string::npos);
  TakeRequests();

  for (const char* scheme : {"http", "HTTP", "Http"}) {
    SCOPED_TRACE(scheme);
    Transcript fetched = Convert(Url("/models/house.dae", scheme));
    EXPECT_EQ(fetched.text, expected.text);
    // The texture comes from the document's folder on the server.
    EXPECT_EQ(TakeRequests(), (std::vector<std::string>{"/models/house.dae", "/models/brick.png"}));
  }

  // The other two entry points fetch and clean up the same way; blanks around an address go.
  int32_t localSize = 0, fetchedSize = 0;
  unsigned char *localBuffer = nullptr, *fetchedBuffer = nullptr;
  Varnel().CreateDataBufferFromFile(local, localSize, localBuffer);
  Varnel().CreateDataBufferFromFile(Url("/models/house.dae"), fetchedSize, fetchedBuffer);
  ExpectNoFilesLeft();
  ASSERT_GT(localSize, 0);
  ASSERT_EQ(fetchedSize, localSize);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(fetchedBuffer), static_cast<size_t>(fetchedSize)),
            std::string(reinterpret_cast<char*>(localBuffer), static_cast<size_t>(localSize)));
  ::operator delete(localBuffer);
  ::operator delete(fetchedBuffer);

  IGeometry *localGeometry = nullptr, *fetchedGeometry = nullptr;
  Varnel().CreateGeometryFromFile(local, &localGeometry);
  Varnel().CreateGeometryFromFile(L"  " + Url("/models/house.dae") + L" ", &fetchedGeometry);
  ExpectNoFilesLeft();
  ASSERT_NE(localGeometry, nullptr);
  ASSERT_NE(fetchedGeometry, nullptr);
  EXPECT_EQ(fetchedGeometry->GetMaterialCount(), localGeometry->GetMaterialCount());
  EXPECT_EQ(fetchedGeometry->GetBufferSize(), localGeometry->GetBufferSize());
  localGeometry->Release();
  fetchedGeometry->Release();
}

TEST_F(DownloadTest, ConcurrentCallsKeepTheirOwnFiles) {
  // Same address, same file names: each call must fetch, read and delete only its own copies.
  std::string expected = Convert(Url("/models/house.dae")).text;
  ASSERT_NE(expected.find("extent"), std::string::npos);
  std::vector<std::string> results(4);
  std::vector<std::thread> threads;
  for (std::string& result : results) {
    threads.emplace_back([&] {
      Transcript sink;
      Varnel().CreateDisplayListFromFile(Url("/models/house.dae"), &sink);
      result = sink.text;
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (const std::string& result : results) EXPECT_EQ(result, expected);
  ExpectNoFilesLeft();
}

TEST_F(DownloadTest, FailedDocumentsGiveNoOutput) {
  Serve("/loop.dae", LocalHttpServer::Redirect("/loop.dae"));
  Serve("/stall.dae", LocalHttpServer::Response{
                          "HTTP/1.1 200 OK\r\nContent-Length: 20000\r\n\r\n<COLLADA>", true});
  Serve("/big.dae", Sample("house.dae") + "<!--" + std::string(kCap, ' ') + "-->");
  Serve("/not-a-model.dae", "plain text");

  auto start = std::chrono::steady_clock::now();
  for (const char* path :
       {"/missing.dae", "/loop.dae", "/stall.dae", "/big.dae", "/not-a-model.dae", "/models/"}) {
    SCOPED_TRACE(path);
    EXPECT_EQ(Convert(Url(path)).text, "");
  }
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(15));

  // The secure scheme reaches the component too: it speaks TLS to the plain server and fails.
  int before = server.Requests();
  EXPECT_EQ(Convert(Url("/models/house.dae", "https")).text, "");
  EXPECT_EQ(Convert(Url("/models/house.dae", "HTTPS")).text, "");
  EXPECT_EQ(server.Requests(), before + 2);

  int32_t size = 5;
  unsigned char marker = 0;
  unsigned char* buffer = &marker;
  Varnel().CreateDataBufferFromFile(Url("/missing.dae"), size, buffer);
  EXPECT_EQ(size, 0);
  EXPECT_EQ(buffer, &marker);
  IGeometry* geometry = reinterpret_cast<IGeometry*>(0x1);
  Varnel().CreateGeometryFromFile(Url("/big.dae"), &geometry);
  EXPECT_EQ(geometry, nullptr);
  ExpectNoFilesLeft();
}

TEST_F(DownloadTest, TexturesThatCannotBeFetchedAreLeftOut) {
  Serve("/models/loop.png", LocalHttpServer::Redirect("/models/loop.png"));
  Serve("/models/stall.png",
        LocalHttpServer::Response{"HTTP/1.1 200 OK\r\nContent-Length: 500\r\n\r\n\x89PNG", true});
  Serve("/models/big.png", Sample("brick.png") + std::string(kCap, '\0'));
  Serve("/models/corrupt.png", "not an image");

  for (const char* reference :
       {"missing.png", "loop.png", "stall.png", "big.png", "corrupt.png", "..", "textures/../.."}) {
    SCOPED_TRACE(reference);
    Serve("/models/uses.dae", HouseTexturedWith(reference));
    Transcript fetched = Convert(Url("/models/uses.dae"));
    EXPECT_NE(fetched.text.find("extent"), std::string::npos);
    EXPECT_EQ(fetched.textures, 0);
  }
}

TEST_F(DownloadTest, EscapingReferencesStayInThePrivateDirectory) {
  // The server answers the escaping addresses with the texture, so each download does happen:
  // what matters is where its file lands. A target made by appending the reference to the
  // temporary directory would overwrite (and then delete) the empty sentinels beside it.
  std::string absolute = Sentinel("absolute.png");
  Sentinel("escaped.png");
  Serve("/etc/passwd", Sample("brick.png"));
  Serve("/escaped.png", Sample("brick.png"));
  Serve("/models/" + absolute, Sample("brick.png"));

  for (const std::string& reference :
       {std::string("../../../etc/passwd"), std::string("../escaped.png"), absolute}) {
    SCOPED_TRACE(reference);
    Serve("/models/uses.dae", HouseTexturedWith(reference));
    Transcript fetched = Convert(Url("/models/uses.dae"));
    EXPECT_EQ(fetched.textures, 1);
    for (const std::string& sentinel : {absolute, kTempParent + "/escaped.png"}) {
      std::error_code ec;
      EXPECT_EQ(fs::file_size(sentinel, ec), 0u) << sentinel;
      EXPECT_FALSE(ec) << sentinel;
    }
  }
}

}  // namespace
}  // namespace varnel
