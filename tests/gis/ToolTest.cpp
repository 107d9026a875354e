// The varnel tool on archives: one info line per model, placed where its KML puts it.
#include <gtest/gtest.h>

#include <gdal_priv.h>
#include <ogrsf_frmts.h>

#include <filesystem>
#include <map>
#include <memory>
#include <string>

#include "gis/Zip.h"
#include "support/Documents.h"
#include "support/LocalHttpServer.h"
#include "support/TestSupport.h"

namespace {

namespace fs = std::filesystem;
using testsupport::Quote;
using testsupport::RunShell;
using testsupport::RunTool;

std::string TwoModelKmz() {
  std::string placemark = R"(<Placemark><name>%N</name><Model><altitudeMode>absolute</altitudeMode>
<Location><longitude>%X</longitude><latitude>45</latitude><altitude>10</altitude></Location>
<Link><href>%N.dae</href></Link></Model></Placemark>)";
  auto at = [&](const std::string& name, const std::string& longitude) {
    std::string p = placemark;
    for (size_t i; (i = p.find("%N")) != std::string::npos;) p.replace(i, 2, name);
    return p.replace(p.find("%X"), 2, longitude);
  };
  std::string kml = "<kml><Document>" + at("a", "9") + at("b", "15") + "</Document></kml>";
  std::string model = testdoc::OneInstance(testdoc::Mesh("g", testdoc::kTriangle)).Text();
  return ziptest::Zip("tool/site.kmz", {{"doc.kml", kml}, {"a.dae", model}, {"b.dae", model}});
}

TEST(Tool, InfoGivesEveryModelOfAnArchivePlaced) {
  std::string kmz = TwoModelKmz();
  testsupport::CommandResult info = RunTool("info " + Quote(kmz));
  EXPECT_EQ(info.status, 0) << info.err;
  // Each in the UTM zone of its own location, unless -t_srs names one.
  EXPECT_NE(info.out.find(R"("model":"a","source":")" + kmz + R"(!/a.dae")"), std::string::npos);
  EXPECT_NE(info.out.find(R"("crs":"EPSG:32632","location":[9,45,10],"altitudeMode":"absolute")"), std::string::npos);
  EXPECT_NE(info.out.find(R"("crs":"EPSG:32633","location":[15,45,10],"altitudeMode":"absolute")"), std::string::npos);
  testsupport::CommandResult second = RunTool("info --model 2 -t_srs EPSG:4979 " + Quote(kmz));
  EXPECT_EQ(second.out.find("\"model\":\"a\""), std::string::npos);
  EXPECT_NE(second.out.find(R"("extent":[14.99999999)"), std::string::npos) << second.out;
  EXPECT_NE(second.out.find(R"("crs":"EPSG:4979","location":[15,45,10],"altitudeMode":"absolute")"), std::string::npos);
  testsupport::CommandResult third = RunTool("dump --model 3 " + Quote(kmz));
  EXPECT_EQ(third.status, 1);
  EXPECT_EQ(third.err, "varnel: " + kmz + ": no model 3: the file holds 2\n");
}

// A model that gives nothing is named after the file the user gave: its placemark and where
// it is, inside the archive or beside the KML.
TEST(Tool, AModelThatGivesNothingIsNamedInTheFileGiven) {
  std::string kml = "<kml><Document><Placemark><name>hall</name><Model><Link><href>m/hall.dae</href>"
                    "</Link></Model></Placemark><Placemark><Model><Link><href>m/bad.dae</href></Link>"
                    "</Model></Placemark></Document></kml>";
  std::string model = testdoc::OneInstance(testdoc::Mesh("g", testdoc::kTriangle)).Text();
  std::string kmz = ziptest::Zip("tool/named.kmz", {{"doc.kml", kml}, {"m/hall.dae", model}, {"m/bad.dae", "<a/>"}});
  std::string beside = testsupport::WriteFile("tool/named/doc.kml", kml);
  testsupport::WriteFile("tool/named/m/hall.dae", model);
  testsupport::WriteFile("tool/named/m/bad.dae", "<a/>");
  const std::string out = testsupport::ScratchDir() + "/tool/named.gpkg";
  for (const auto& [file, entry] : {std::pair{kmz, std::string("m/bad.dae")},
                                    std::pair{beside, fs::path(beside).parent_path().string() + "/m/bad.dae"}}) {
    const std::string line = "varnel: " + file + ": model 'bad.dae' (" + entry + "): not a COLLADA document\n";
    EXPECT_EQ(RunTool("convert -overwrite -o " + Quote(out) + " " + Quote(file)).err, line);
    EXPECT_EQ(RunTool("dump --model 2 " + Quote(file)).err, line);
  }
}

// A model a local KMZ names by its address is fetched only with --allow-network, which batch
// passes on to its workers.
TEST(Tool, AModelsAddressIsFetchedOnlyWithAllowNetwork) {
  testsupport::LocalHttpServer::BypassProxies();
  testsupport::LocalHttpServer server(testsupport::LocalHttpServer::Always(
      testdoc::OneInstance(testdoc::Mesh("g", testdoc::kTriangle)).Text()));
  std::string url = server.Url("/m.dae");
  std::string kmz = ziptest::Zip("tool/net.kmz", {{"doc.kml", ziptest::PlacingKml(url)}});
  EXPECT_EQ(RunTool("info " + Quote(kmz)).err, "varnel: " + kmz + ": a placemark at line 1: model '" +
                                                   url + "' is on the network, which is not allowed: refused\n");
  EXPECT_EQ(RunTool("batch --allow-network -o " + Quote(testsupport::ScratchDir() + "/tool/net") + " " +
                    Quote(kmz)).status, 0);
  EXPECT_EQ(server.Requests(), 1);
}

// Alone in a folder, without its modules, the tool still reads: only what needs GDAL or PROJ
// loads them, and then names the module it cannot find.
TEST(Tool, WithoutItsModulesStillReads) {
  std::string doc = testsupport::WriteFile("alone/house.dae",
      testdoc::OneInstance(testdoc::Mesh("g", testdoc::kTriangle)).Text());
  std::string tool = testsupport::ScratchDir() + "/alone/varnel";
  ASSERT_EQ(testsupport::RunShell("cp " + Quote(VARNEL_TOOL) + " " + Quote(tool)).status, 0);
  EXPECT_EQ(testsupport::RunShell(Quote(tool) + " info " + Quote(doc)).status, 0);
  testsupport::CommandResult convert =
      testsupport::RunShell(Quote(tool) + " convert " + Quote(doc) + " -o " + Quote(doc + ".gpkg"));
  EXPECT_EQ(convert.status, 2);
  EXPECT_NE(convert.err.find("varnel-convert.so"), std::string::npos) << convert.err;
  testsupport::CommandResult placed = testsupport::RunShell(Quote(tool) + " info --origin 9,45 " + Quote(doc));
  EXPECT_EQ(placed.status, 1);
  EXPECT_NE(placed.err.find("varnel-place.so"), std::string::npos) << placed.err;
}

std::string Triangles(const std::string& name, int n) {
  return testsupport::WriteFile(name, testdoc::Triangles(n));
}

int64_t Features(const std::string& dataset, int64_t* counted = nullptr);

// Every file below `dir` (hidden ones too) with the hash of its bytes; a GeoPackage, which a
// rolled-back run may leave with other bytes, by its features, as its layer counts them and as
// they are.
std::map<std::string, size_t> Snapshot(const std::string& dir) {
  std::map<std::string, size_t> files;
  for (const auto& entry : fs::recursive_directory_iterator(dir)) {
    size_t& value = files[fs::relative(entry.path(), dir).string()];
    int64_t counted = 0;
    if (entry.path().extension() == ".gpkg")
      value = size_t(Features(entry.path().string(), &counted)) * 1000 + size_t(counted);
    else if (entry.is_regular_file())
      value = std::hash<std::string>()(testsupport::ReadFile(entry.path()));
  }
  return files;
}

std::string Folder(const std::string& name) {
  std::string dir = testsupport::ScratchDir() + "/" + name;
  fs::create_directories(dir);
  return dir;
}

int64_t Features(const std::string& dataset, int64_t* counted) {
  std::unique_ptr<GDALDataset> opened(GDALDataset::Open(dataset.c_str(), GDAL_OF_VECTOR));
  if (!opened) return -1;
  OGRLayer* layer = opened->GetLayer(0);
  if (counted) {
    *counted = 0;
    for (auto& feature : *layer) *counted += feature ? 1 : 0;
  }
  return layer->GetFeatureCount();
}

TEST(Tool, StandardOutputIntoAFullDeviceIsAFailedWrite) {
  if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  std::string doc = Triangles("full/doc.dae", 10);
  for (const char* command : {"dump ", "info ", "buffer -o - "}) {
    testsupport::CommandResult run = RunTool(command + Quote(doc) + " >/dev/full");
    EXPECT_EQ(run.status, 2) << command;
    EXPECT_EQ(run.err, "varnel: standard output: No space left on device\n") << command;
  }
}

// A file size limit (what a full disk does to a write, without needing one) fails the run with the
// system's reason: a new output leaves nothing, an old one stays byte for byte.
TEST(Tool, AWriteRefusedMidwayLeavesTheFolderAsItWas) {
  std::string small = Triangles("limit/small.dae", 2), large = Triangles("limit/large.dae", 6000);
  const std::pair<const char*, const char*> rows[] = {
      {"buffer", "out.bin"},          {"obj", "out.obj"},
      {"convert -overwrite", "out.geojson"}, {"convert -overwrite", "out.fgb"},
      {"convert -overwrite", "out.shp"},     {"convert -overwrite", "out.gdb"},
      {"convert -overwrite", "out.gpkg"},    {"convert -append", "out.gpkg"},
  };
  int serial = 0;
  for (const auto& [command, name] : rows) {
    SCOPED_TRACE(std::string(command) + " " + name);
    std::string dir = Folder("limit/" + std::to_string(++serial)), out = dir + "/" + name;
    auto run = [&](const std::string& input, const char* limit) {
      return RunTool(std::string(command) + " " + Quote(input) + " -o " + Quote(out), limit);
    };
    const char* limited = "ulimit -f 200; ";  // 200 KiB: the large model's outputs are beyond
    testsupport::CommandResult fresh = run(large, limited);
    EXPECT_EQ(fresh.status, 2);
    EXPECT_EQ(fresh.err, "varnel: " + out + ": File too large\n");
    EXPECT_EQ(Snapshot(dir).size(), 0u);
    ASSERT_EQ(run(small, "").status, 0);
    std::map<std::string, size_t> before = Snapshot(dir);
    testsupport::CommandResult replacing = run(large, limited);
    EXPECT_EQ(replacing.status, 2);
    EXPECT_EQ(replacing.err, "varnel: " + out + ": File too large\n");
    EXPECT_EQ(Snapshot(dir), before);
  }
}

// A KMZ of a large model (the archive is unpacked into the private folder), given many times.
std::string LongRun() {
  std::string kml = R"(<kml><Placemark><Model><Location><longitude>9</longitude>
<latitude>45</latitude></Location><Link><href>large.dae</href></Link></Model></Placemark></kml>)";
  std::string model = testsupport::ReadFile(Triangles("interrupted/large.dae", 20000));
  std::string kmz = ziptest::Zip("interrupted/large.kmz", {{"doc.kml", kml}, {"large.dae", model}});
  std::string inputs;
  for (int i = 0; i < 60; ++i) inputs += " " + Quote(kmz);
  return inputs;
}

TEST(Tool, AnInterruptedConvertLeavesTheOutputAsItWasAndNothingBehind) {
  std::string inputs = LongRun();
  struct Row {
    const char* signal;
    int status;
    const char* mode;
    const char* destination;
  };
  const Row rows[] = {{"INT", 130, "-append", "old.gpkg"}, {"TERM", 143, "-overwrite", "old.gpkg"},
                      {"TERM", 143, "", "new.geojson"},    {"INT", 130, "", "new.gdb"}};
  int serial = 0;
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.signal) + " " + row.mode + " " + row.destination);
    std::string dir = Folder("interrupted/" + std::to_string(++serial));
    fs::create_directories(dir + "/tmp");
    std::string tool = "TMPDIR=tmp " + Quote(VARNEL_TOOL) + " convert -j 2 " + row.mode + inputs;
    if (std::string(row.destination) == "old.gpkg") {
      ASSERT_EQ(RunShell("cd " + Quote(dir) + " && " + tool.substr(0, tool.find(".kmz") + 5) +
                         " -o old.gpkg").status, 0);
    }
    std::map<std::string, size_t> before = Snapshot(dir);
    testsupport::CommandResult run = RunShell(
        "cd " + Quote(dir) + " && { " + tool + " -o " + row.destination + " & pid=$!; sleep 0.5; " +
        "kill -" + row.signal + " $pid; wait $pid; }");
    EXPECT_EQ(run.status, row.status);
    EXPECT_EQ(run.err, std::string("varnel: ") + row.destination +
                           ": left as it was, interrupted by SIG" + row.signal + "\n");
    EXPECT_EQ(Snapshot(dir), before);  // no temporary file, no varnel-gis-* folder in tmp
  }
}

// Two runs appending to one destination at once take turns: every feature lands, and the
// layer's own count agrees.
TEST(Tool, ConcurrentAppendsTakeTurns) {
  std::string large = " " + Quote(Triangles("turns/large.dae", 5000)), inputs;
  for (int i = 0; i < 4; ++i) inputs += large;
  for (const char* name : {"shared.gpkg", "shared.shp"}) {
    SCOPED_TRACE(name);
    std::string out = Folder("turns") + "/" + name;
    std::string one = Quote(Triangles("turns/one.dae", 1));
    ASSERT_EQ(RunTool("convert " + one + " -o " + Quote(out)).status, 0);
    std::string append = Quote(VARNEL_TOOL) + " convert -append" + inputs + " -o " + Quote(out);
    testsupport::CommandResult run = RunShell(append + " & a=$!; " + append + " & b=$!; " +
                                              "wait $a; x=$?; wait $b; echo $x $?");
    EXPECT_EQ(run.out, "0 0\n") << run.err;
    int64_t counted = 0;
    EXPECT_EQ(Features(out, &counted), 9);
    EXPECT_EQ(counted, 9);
  }
}

}  // namespace
