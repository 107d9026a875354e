// Runs the varnel tool as a process and checks its formats and exit statuses.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>

#include "support/LocalHttpServer.h"
#include "support/TestSupport.h"

namespace fs = std::filesystem;

namespace {

struct Result {
  int status = -1;  // exit status, or 128 + signal
  std::string out;
  std::string err;
};

std::string Quote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

// Runs the tool with a time limit, so a hang fails the test instead of stalling the suite.
// `environment` holds shell assignments ("NAME=value ") for the tool's process.
Result RunTool(const std::string& args, const std::string& environment = "") {
  std::string errFile = testsupport::ScratchDir() + "/stderr.txt";
  std::string command = environment + "timeout 120 " + Quote(VARNEL_TOOL) + " " + args + " 2>" +
                        Quote(errFile);
  Result result;
  std::FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return result;
  char buffer[65536];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) result.out.append(buffer, n);
  int status = pclose(pipe);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  result.err = testsupport::ReadFile(errFile);
  return result;
}

std::string Sample() { return std::string(VARNEL_TEST_DATA) + "/demo/house.dae"; }

int CountLines(const std::string& text, const std::string& prefix) {
  std::istringstream in(text);
  int count = 0;
  for (std::string line; std::getline(in, line);)
    if (line.rfind(prefix, 0) == 0) ++count;
  return count;
}

TEST(Cli, InfoDumpAndBufferAgree) {
  Result info = RunTool("info " + Quote(Sample()));
  ASSERT_EQ(info.status, 0) << info.err;
  EXPECT_TRUE(info.err.empty());
  std::regex shape(
      R"(\{"file":"[^"]*house\.dae","parts":(\d+),"points":(\d+),"normals":(true|false),)"
      R"("texturePoints":\d+,"materials":\d+,"partTypes":\{"2":(\d+),"6":(\d+)\},)"
      R"("extent":\[[^,\]]+(,[^,\]]+){5}\],"bytes":(\d+)\}\n)");
  std::smatch match;
  ASSERT_TRUE(std::regex_match(info.out, match, shape)) << info.out;
  EXPECT_GT(std::stoi(match[4]), 0) << "the sample has a polygon ring";

  Result dump = RunTool("dump " + Quote(Sample()));
  ASSERT_EQ(dump.status, 0) << dump.err;
  EXPECT_EQ(dump.out.rfind("{\"call\":\"SetMaterials\",", 0), 0u);
  EXPECT_EQ(CountLines(dump.out, "{\"call\":\"SetMaterials\""), 1);
  EXPECT_EQ(CountLines(dump.out, "{\"call\":\"SetCurrentPart\""), std::stoi(match[1]));
  EXPECT_EQ(CountLines(dump.out, "{\"call\":\"SetPartData\""), std::stoi(match[1]));
  EXPECT_EQ(CountLines(dump.out, "{\"call\":\"SetExtent\""), 1);
  std::string last = dump.out.substr(dump.out.rfind('\n', dump.out.size() - 2) + 1);
  EXPECT_EQ(last.rfind("{\"call\":\"SetExtent\",\"extent\":[", 0), 0u) << last;

  std::string out = testsupport::ScratchDir() + "/house.mpb";
  Result buffer = RunTool("buffer " + Quote(Sample()) + " -o " + Quote(out));
  ASSERT_EQ(buffer.status, 0) << buffer.err;
  EXPECT_TRUE(buffer.out.empty());
  EXPECT_EQ(std::to_string(fs::file_size(out)), match[7].str());
}

TEST(Cli, AddressesWorkLikeFiles) {
  using testsupport::LocalHttpServer;
  LocalHttpServer server([](const std::string& path) {
    bool known = path == "/demo/house.dae" || path == "/demo/brick.png";
    return known ? LocalHttpServer::Reply(200, testsupport::ReadFile(VARNEL_TEST_DATA + path))
                 : LocalHttpServer::Reply(404, "");
  });
  ASSERT_NE(server.Port(), 0);
  // The tool's private temporary directory goes below `temp`, which must be empty once it exits.
  std::string temp = testsupport::ScratchDir() + "/cli-temp";
  fs::create_directories(temp);
  std::string environment = "TMPDIR=" + Quote(temp) + " no_proxy='*' NO_PROXY='*' ";
  std::string address = server.Url("/demo/house.dae");

  Result local = RunTool("info " + Quote(Sample()));
  Result fetched = RunTool("info " + Quote(address), environment);
  ASSERT_EQ(fetched.status, 0) << fetched.err;
  EXPECT_EQ(fetched.out.rfind("{\"file\":\"" + address + "\",", 0), 0u) << fetched.out;
  auto afterName = [](const std::string& line) { return line.substr(line.find(",\"parts\":")); };
  EXPECT_EQ(afterName(fetched.out), afterName(local.out));

  Result dump = RunTool("dump " + Quote(address), environment);
  ASSERT_EQ(dump.status, 0) << dump.err;
  EXPECT_EQ(dump.out, RunTool("dump " + Quote(Sample())).out);

  std::string shp = testsupport::ScratchDir() + "/fetched/house.shp";
  fs::create_directories(fs::path(shp).parent_path());
  EXPECT_EQ(RunTool("shp " + Quote(address) + " -o " + Quote(shp), environment).status, 0);
  EXPECT_TRUE(fs::exists(shp));

  Result missing = RunTool("info " + Quote(server.Url("/demo/missing.dae")), environment);
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.err.find("/demo/missing.dae"), std::string::npos) << missing.err;
  EXPECT_TRUE(fs::is_empty(temp));
}

TEST(Cli, ExitStatusesAndDiagnostics) {
  EXPECT_EQ(RunTool("").status, 2);
  Result help = RunTool("--help");
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("usage: varnel"), std::string::npos);
  EXPECT_EQ(RunTool("--version").out.rfind("varnel ", 0), 0u);
  EXPECT_EQ(RunTool("frobnicate x.dae").status, 2);
  EXPECT_EQ(RunTool("shp " + Quote(Sample())).status, 2) << "shp needs -o";

  std::string missing = testsupport::ScratchDir() + "/missing model.dae";
  Result none = RunTool("info " + Quote(missing));
  EXPECT_EQ(none.status, 1);
  EXPECT_TRUE(none.out.empty());
  EXPECT_EQ(CountLines(none.err, "varnel: "), 1);
  EXPECT_NE(none.err.find("missing model.dae"), std::string::npos) << none.err;

  Result unwritable = RunTool("shp " + Quote(Sample()) + " -o /nonexistent-folder/x.shp");
  EXPECT_EQ(unwritable.status, 2);
  EXPECT_NE(unwritable.err.find("/nonexistent-folder/x.shp"), std::string::npos);
}

TEST(Cli, PathsWithSpaces) {
  fs::path folder = fs::path(testsupport::ScratchDir()) / "a folder with spaces";
  fs::create_directories(folder);
  for (const auto& entry : fs::directory_iterator(fs::path(Sample()).parent_path()))
    fs::copy_file(entry.path(), folder / entry.path().filename(),
                  fs::copy_options::overwrite_existing);
  fs::rename(folder / "house.dae", folder / "my house.dae");
  Result info = RunTool("info " + Quote((folder / "my house.dae").string()));
  EXPECT_EQ(info.status, 0) << info.err;
  Result obj = RunTool("obj " + Quote((folder / "my house.dae").string()) + " -o " +
                   Quote((folder / "out model.obj").string()));
  EXPECT_EQ(obj.status, 0) << obj.err;
  EXPECT_TRUE(fs::exists(folder / "out model.mtl"));
}

TEST(Cli, ObjCountsMatchTheDisplayList) {
  std::string obj = testsupport::ScratchDir() + "/objtest/house.obj";
  fs::create_directories(fs::path(obj).parent_path());
  ASSERT_EQ(RunTool("obj " + Quote(Sample()) + " -o " + Quote(obj)).status, 0);
  std::string dump = RunTool("dump " + Quote(Sample())).out;
  // Expected faces: a triangle part gives points/3 faces, a ring gives one.
  int faces = 0, vertices = 0;
  std::regex part(R"(\{"call":"SetCurrentPart","material":-?\d+,"type":(\d+)\}\n\{"call":"SetPartData","points":(\d+))");
  for (auto it = std::sregex_iterator(dump.begin(), dump.end(), part); it != std::sregex_iterator(); ++it) {
    int points = std::stoi((*it)[2]);
    faces += (*it)[1] == "2" ? 1 : points / 3;
    vertices += points;
  }
  std::string text = testsupport::ReadFile(obj);
  EXPECT_EQ(CountLines(text, "f "), faces);
  EXPECT_EQ(CountLines(text, "v "), vertices);
  EXPECT_NE(testsupport::ReadFile(fs::path(obj).replace_extension(".mtl").string()).find("map_Kd"),
            std::string::npos);
}

TEST(Cli, ShapefileOpensInGdal) {
  std::string shp = testsupport::ScratchDir() + "/shp/house.shp";
  fs::create_directories(fs::path(shp).parent_path());
  ASSERT_EQ(RunTool("shp " + Quote(Sample()) + " -o " + Quote(shp)).status, 0);
  EXPECT_TRUE(fs::exists(fs::path(shp).replace_extension(".shx")));
  EXPECT_TRUE(fs::exists(fs::path(shp).replace_extension(".dbf")));
  if (std::system("command -v ogrinfo >/dev/null 2>&1") != 0) GTEST_SKIP() << "gdal-bin absent";

  std::string dump = RunTool("dump " + Quote(Sample())).out;
  int polygons = 0;
  std::regex part(R"(\{"call":"SetCurrentPart","material":-?\d+,"type":(\d+)\}\n\{"call":"SetPartData","points":(\d+))");
  for (auto it = std::sregex_iterator(dump.begin(), dump.end(), part); it != std::sregex_iterator(); ++it)
    polygons += (*it)[1] == "2" ? 1 : std::stoi((*it)[2]) / 3;

  std::FILE* pipe = popen(("ogrinfo -ro -al " + Quote(shp) + " 2>&1").c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::string report;
  char buffer[65536];
  for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) report.append(buffer, n);
  pclose(pipe);
  EXPECT_NE(report.find("Feature Count: 1"), std::string::npos) << report;
  std::smatch box;
  std::regex extentLine(R"(\{"file".*"extent":\[([^,]+),([^,]+),[^,]+,([^,]+),([^,]+),)");
  std::string info = RunTool("info " + Quote(Sample())).out;
  ASSERT_TRUE(std::regex_search(info, box, extentLine)) << info;
  char expected[200];
  std::snprintf(expected, sizeof expected, "Extent: (%f, %f) - (%f, %f)", std::stod(box[1]),
                std::stod(box[2]), std::stod(box[3]), std::stod(box[4]));
  EXPECT_NE(report.find(expected), std::string::npos) << expected << "\n" << report;
  EXPECT_NE(report.find("name (String)"), std::string::npos) << report;
  EXPECT_NE(report.find("house.dae"), std::string::npos);
  // Every triangle and ring is one polygon of the feature's geometry (one ring each).
  size_t geometry = report.find("GEOMETRYCOLLECTION");
  if (geometry == std::string::npos) geometry = report.find("MULTIPOLYGON");
  ASSERT_NE(geometry, std::string::npos) << report;
  std::string wkt = report.substr(geometry, report.find('\n', geometry) - geometry);
  std::regex ring(R"(\(\(-?[0-9][^()]*\)\))");
  int opened = static_cast<int>(std::distance(std::sregex_iterator(wkt.begin(), wkt.end(), ring),
                                              std::sregex_iterator()));
  EXPECT_EQ(opened, polygons);
}

TEST(Cli, BatchKeepsGoingPastBadFiles) {
  std::string bad = testsupport::WriteFile("batch/broken.dae", "<COLLADA><library_geometries>");
  std::string outDir = testsupport::ScratchDir() + "/batch-out";
  Result batch = RunTool("batch -j 2 -o " + Quote(outDir) + " " + Quote(Sample()) + " " + Quote(bad) +
                     " " + Quote(Sample()));
  EXPECT_EQ(batch.status, 1);
  EXPECT_NE(batch.err.find("2 converted, 1 without output, 0 failed"), std::string::npos)
      << batch.err;
  EXPECT_TRUE(fs::exists(outDir + "/house.shp"));
  EXPECT_TRUE(fs::exists(outDir + "/house-2.shp"));
}

TEST(Cli, CorpusInfoAndDumpNeverCrash) {
  std::vector<std::string> documents = testsupport::CorpusDocuments();
  if (documents.empty()) GTEST_SKIP() << "corpus absent";
#ifdef VARNEL_SANITIZED_BUILD
  // 1260 instrumented processes take too long; the in-process corpus tests cover the sanitizers.
  GTEST_SKIP() << "process-per-document corpus run is left to the normal build";
#endif
  int produced = 0, crashed = 0;
  for (const std::string& document : documents) {
    Result info = RunTool("info " + Quote(document));
    Result dump = RunTool("dump " + Quote(document) + " >/dev/null");
    if (info.status > 1 || dump.status > 1) {
      ++crashed;
      ADD_FAILURE() << document << ": info " << info.status << ", dump " << dump.status;
    }
    if (info.status == 0) ++produced;
    EXPECT_EQ(info.status, dump.status) << document;
  }
  RecordProperty("documents", static_cast<int>(documents.size()));
  RecordProperty("produced", produced);
  std::printf("corpus: %d of %zu documents produced output, %d crashed\n", produced,
              documents.size(), crashed);
}

}  // namespace
