// Runs the varnel tool as a process: its usage handling, diagnostics, exit statuses and formats.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <regex>
#include <sstream>
#include <string>

#include "support/Documents.h"
#include "support/LocalHttpServer.h"
#include "support/TestSupport.h"

namespace fs = std::filesystem;

namespace {

using testsupport::Quote;
using testsupport::RunShell;
using testsupport::RunTool;
using Result = testsupport::CommandResult;

std::string Sample() { return std::string(VARNEL_TEST_DATA) + "/demo/house.dae"; }

int CountLines(const std::string& text, const std::string& prefix) {
  std::istringstream in(text);
  int count = 0;
  for (std::string line; std::getline(in, line);)
    if (line.rfind(prefix, 0) == 0) ++count;
  return count;
}

TEST(Cli, Help) {
  for (const char* command : {"info", "dump", "buffer", "shp", "obj", "gltf", "batch"}) {
    Result help = RunTool(std::string(command) + " --help");
    EXPECT_EQ(help.status, 0) << command;
    EXPECT_NE(help.out.find(std::string("Usage: varnel ") + command), std::string::npos) << help.out;
  }
  EXPECT_EQ(RunTool("--help").status, 0);
}

// A usage error (no command or file, an option the command does not take, a batch value out of
// range): status 2, nothing written, one line on standard error.
TEST(Cli, UsageErrorsAreOneLine) {
  const std::string dir = testsupport::ScratchDir() + "/unused", batch = " -o " + Quote(dir) + " a.dae";
  for (const std::string& args : std::vector<std::string>{
           "", "frobnicate x.dae", "info", "shp a.dae", "batch a.dae", "info a.dae -o x", "dump a.dae -o x",
           "info a.dae b.dae", "dump -j 2 a.dae", "batch -j 3x" + batch, "batch -j 0" + batch,
           "batch -j ''" + batch, "batch --format png" + batch}) {
    Result usage = RunTool(args);
    EXPECT_EQ(usage.status, 2) << args;
    bool oneLine = std::count(usage.err.begin(), usage.err.end(), '\n') == 1;
    EXPECT_TRUE(usage.err.rfind("varnel: ", 0) == 0 && oneLine) << args << ": " << usage.err;
  }
  EXPECT_FALSE(fs::exists(dir));
}

std::string Utf16(const std::string& text) {
  std::string wide = "\xFF\xFE";
  for (char c : text) wide += std::string(1, c) + '\0';
  return wide;
}

// A file that gives nothing: exit 1 and one line naming it, as given, with the reason.
TEST(Cli, AFileWithoutOutputSaysWhy) {
  using testsupport::WriteFile;
  const std::string scratch = testsupport::ScratchDir();
  const std::string svg = "<?xml version=\"1.0\"?>\n<svg><g/></svg>";
  const std::string prolog = "\xEF\xBB\xBF<?xml version=\"1.0\"?>\n<!-- by hand -> <b> -->\n"
                             "<!DOCTYPE c:COLLADA [<!ENTITY gt '>'>]>\n<c:COLLADA xmlns:c=\"u\"/>";
  std::string declared = testdoc::OneInstance(testdoc::Mesh("g", testdoc::kTriangle)).Text();
  declared.insert(declared.find("<COLLADA"), "<!DOCTYPE COLLADA>\n");
  // `strict`: the reason under --strict, when it differs; a reason "" is output.
  const struct {
    std::string file, shown, reason, strict;
  } cases[] = {
      {scratch + "/missing model.dae", "", "No such file or directory", ""},
      {scratch, "", "Is a directory", ""},
      {WriteFile("cube.dae", "solid cube\nfacet normal 0 0 1\n"), "", "not an XML document", ""},
      {WriteFile("blank.dae", ""), "", "not an XML document", ""},
      {WriteFile("drawing.dae", svg), "", "not a COLLADA document", ""},
      {WriteFile("wide svg.dae", Utf16(svg)), "", "not a COLLADA document", ""},
      // A KML file is read for the models it places, whatever its name.
      {WriteFile("place.dae", "<kml><Document/></kml>"), "", "no model in the KML", ""},
      {WriteFile("prolog.dae", prolog), "", "<c:COLLADA> is skipped at line 4",
       "parsing stopped at line 4: <c:COLLADA> is not read"},
      {WriteFile("wide.dae", Utf16(testdoc::Doc().Text())), "", "the scene places no geometry", ""},
      {WriteFile("declared.dae", declared), "", "",
       "parsing stopped at line 2: <!DOCTYPE> is not read; varnel reads it without --strict"},
      // A name that is not UTF-8, with a terminal's escape sequence in it, is opened as given
      // and shown escaped.
      {WriteFile("caf\xE9\x1B[31m.dae", svg), scratch + "/caf\\xE9\\x1B[31m.dae",
       "not a COLLADA document", ""},
  };
  for (const auto& c : cases) {
    for (const std::string flags : {"", "--strict "}) {
      const std::string& reason = flags.empty() || c.strict.empty() ? c.reason : c.strict;
      Result info = RunTool("info " + flags + Quote(c.file));
      EXPECT_EQ(info.status, reason.empty() ? 0 : 1) << flags << c.file;
      if (reason.empty()) continue;
      EXPECT_TRUE(info.out.empty());
      EXPECT_EQ(info.err, "varnel: " + (c.shown.empty() ? c.file : c.shown) + ": " + reason + "\n");
    }
  }
  Result json = RunTool("info " + Quote(WriteFile("caf\xE9.dae", declared)));
  EXPECT_NE(json.out.find(R"("file":")" + scratch + R"(/caf\\xE9.dae")"), std::string::npos)
      << json.out;
}

// <survey> is outside the element table: the plain reading stops there, the extended one skips it.
std::string SurveyedDocument() {
  testdoc::Doc doc = testdoc::OneInstance(testdoc::Mesh("g", testdoc::kTriangle));
  doc.asset = "<asset>\n<survey/></asset>";
  return doc.Write("batch/covered.dae");
}
const std::string kSurveyStops =
    "parsing stopped at line 3: <survey> is not read; varnel reads it without --strict";

// -v says each kind and message once per document, with a count.
TEST(Cli, ExtendedReadsWhatThePlainReadingStopsAt) {
  std::string file = SurveyedDocument();
  std::string text = testsupport::ReadFile(file);
  text.replace(text.find("<survey/>"), 9, "<survey/><survey/><survey>x</survey><plan/>");
  testsupport::WriteFile("batch/covered.dae", text);
  Result verbose = RunTool("dump -v " + Quote(file));
  EXPECT_EQ(verbose.status, 0);
  EXPECT_EQ(verbose.err, "varnel: " + file + ":3: unknown-name: <survey> is skipped (3 times)\n"
                         "varnel: " + file + ":3: unknown-name: <plan> is skipped\n");
  EXPECT_EQ(verbose.out, RunTool("dump --extended " + Quote(file)).out);
  EXPECT_EQ(CountLines(verbose.out, R"({"call":"SetPartData")"), 1);
}

TEST(Cli, BatchNamesTheFilesItCouldNotConvert) {
  std::string covered = SurveyedDocument();
  std::string missing = testsupport::ScratchDir() + "/batch/missing.dae";
  std::string outDir = testsupport::ScratchDir() + "/batch out";
  Result batch = RunTool("batch --strict -j 2 -o " + Quote(outDir) + " " + Quote(Sample()) + " " + Quote(covered) +
                         " " + Quote(missing) + " " + Quote(Sample()));
  EXPECT_EQ(batch.status, 1);
  EXPECT_EQ(batch.err, "varnel: " + covered + ": " + kSurveyStops + "\n"
                       "varnel: " + missing + ": No such file or directory\n"
                       "varnel batch: 2 converted, 2 without output, 0 failed\n");
  EXPECT_TRUE(fs::exists(outDir + "/house.shp"));
  EXPECT_TRUE(fs::exists(outDir + "/house-2.shp"));
  EXPECT_EQ(RunTool("batch -o " + Quote(outDir) + " " + Quote(covered)).status, 0);

  // A worker killed by a signal (here while it waits on a download that never ends) failed.
  testsupport::LocalHttpServer server([](const std::string&) {
    return testsupport::LocalHttpServer::Response{"HTTP/1.1 200 OK\r\nContent-Length: 20000\r\n\r\n<COLLADA>", true};
  });
  const std::string address = server.Url("/stall.dae");
  Result killed = RunShell("{ no_proxy='*' NO_PROXY='*' " + Quote(VARNEL_TOOL) + " batch -o " + Quote(outDir) + " " +
                           Quote(address) + " & b=$!; for i in $(seq 200); do w=$(cat /proc/$b/task/$b/children) && [ -n \"$w\" ] && break; "
                           "sleep 0.05; done; kill -KILL $w; wait $b; }");
  EXPECT_EQ(killed.status, 1);
  EXPECT_EQ(killed.err, "varnel: " + address + ": worker stopped: Killed\n"
                        "varnel batch: 0 converted, 0 without output, 1 failed\n");
}

// A texture named by an absolute path outside the document's folder: read by the commands on
// one file unless --confine-textures, refused by batch and convert unless --no-confine-textures.
TEST(Cli, TexturesConfinedToTheDocumentsFolder) {
  const std::string dir = testsupport::ScratchDir() + "/confine";
  const std::string secret = testsupport::WriteFile("confine/secret/brick.png",
                                                    testsupport::ReadFile(std::string(VARNEL_TEST_DATA) + "/demo/brick.png"));
  std::string text = testsupport::ReadFile(Sample());
  text.replace(text.find("brick.png"), 9, secret);
  const std::string doc = testsupport::WriteFile("confine/doc/house.dae", text);
  // Each run writes into a folder of its own, "<dir>/<n>".
  const std::pair<std::string, bool> cases[] = {
      {"obj -v DOC -o OUT/m.obj", true},
      {"obj --confine-textures -v DOC -o OUT/m.obj", false},
      {"batch --format obj -v -o OUT DOC", false},
      {"batch --format obj --no-confine-textures -v -o OUT DOC", true},
      {"convert -v --split material DOC -o OUT/m.gpkg", false},
      {"convert --no-confine-textures -v --split material DOC -o OUT/m.gpkg", true},
  };
  int n = 0;
  for (auto [args, textured] : cases) {
    const std::string out = dir + "/" + std::to_string(++n);
    fs::create_directories(out);
    args.replace(args.find("DOC"), 3, Quote(doc));
    args.replace(args.find("OUT"), 3, Quote(out));
    Result run = RunTool(args);
    EXPECT_EQ(run.status, 0) << args << run.err;
    EXPECT_EQ(run.err.find("texture-refused: image \"brick-image\": \"" + secret + "\" lies outside") != std::string::npos,
              !textured) << args << run.err;
    int pngs = 0;
    for (const auto& entry : fs::directory_iterator(out)) pngs += entry.path().extension() == ".png";
    EXPECT_EQ(pngs, textured ? 1 : 0) << args;
  }
}

TEST(Cli, InfoDumpAndBufferOfTheSample) {
  Result info = RunTool("info " + Quote(Sample()));
  EXPECT_EQ(info.status, 0);
  EXPECT_EQ(info.out, R"({"file":")" + Sample() + R"(","parts":17,"points":86,"normals":true,)"
                      R"("texturePoints":26,"materials":3,"partTypes":{"2":16,"6":1},)"
                      R"("extent":[0,0,0,10,8,7],"bytes":5844})" "\n");
  EXPECT_TRUE(info.err.empty());
  std::string dump = RunTool("dump " + Quote(Sample())).out;
  EXPECT_EQ(CountLines(dump, R"({"call":"SetCurrentPart")"), 17);
  EXPECT_EQ(CountLines(dump, R"({"call":"SetPartData")"), 17);
  std::string out = testsupport::ScratchDir() + "/house.mpb";
  ASSERT_EQ(RunTool("buffer " + Quote(Sample()) + " -o " + Quote(out)).status, 0);
  EXPECT_EQ(fs::file_size(out), 5844u);
  // A pipe takes the bytes only in order.
  EXPECT_EQ(RunTool("buffer " + Quote(Sample()) + " -o /dev/stdout").out, testsupport::ReadFile(out));
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

  Result dump = RunTool("dump " + Quote(address), environment);
  ASSERT_EQ(dump.status, 0) << dump.err;
  EXPECT_EQ(dump.out, RunTool("dump " + Quote(Sample())).out);

  std::string gone = server.Url("/demo/missing.dae");
  Result missing = RunTool("info " + Quote(gone), environment);
  EXPECT_EQ(missing.status, 1);
  EXPECT_EQ(missing.err, "varnel: " + gone + ": the download of " + gone + " failed\n");
  EXPECT_TRUE(fs::is_empty(temp));
}

// The sample has 16 polygon rings and one triangle list of two triangles, 86 points in all.
TEST(Cli, ObjOfTheSample) {
  std::string obj = testsupport::ScratchDir() + "/obj test/house.obj";
  fs::create_directories(fs::path(obj).parent_path());
  ASSERT_EQ(RunTool("obj " + Quote(Sample()) + " -o " + Quote(obj)).status, 0);
  std::string text = testsupport::ReadFile(obj);
  EXPECT_EQ(CountLines(text, "f "), 18);
  EXPECT_EQ(CountLines(text, "v "), 86);
  EXPECT_NE(testsupport::ReadFile(fs::path(obj).replace_extension(".mtl").string()).find("map_Kd"),
            std::string::npos);
}

// Numbers print as printf's %.9g (floats) and %.17g (doubles) print them, down to signed zeros,
// subnormals, exponents and what is not finite.
TEST(Cli, NumbersPrintAsPrintfDoes) {
  using namespace testdoc;
  testsupport::WriteFile("numbers/tex.tga", Tga());
  Doc doc = OneInstance(Mesh("g", Primitive("triangles", 2, "tx-m", "0 0 1 1 2 2 3 0 4 1 5 2",
                                            "<input semantic=\"TEXCOORD\" source=\"#g-t\" offset=\"1\"/>"),
                             Source("g-t", "0.1 1e-45 -0 0.3 1e21 -2.5", 3, 2),
                             "-nan -0 1e-45 1e21 1e-7 123456789 3.4028235e38 -1.17549435e-38 0.1 "
                             "nan inf -inf 2.5e-40 1 -1e-30 7 8 9"));
  doc.asset = "<asset><up_axis>Z_UP</up_axis></asset>";
  doc.images = "<image id=\"img\"><init_from>tex.tga</init_from></image>";
  doc.effects = Effect("tx", "", "img");
  doc.materials = Material("tx-m", "tx");
  const std::string path = doc.Write("numbers/doc.dae");
  std::string dump = RunTool("dump " + Quote(path)).out;
  EXPECT_NE(dump.find(R"("data":[1.00000002e+21,3.5,7,8,9,-0,0.699999988,2.50000054e-40,1,-1e-30,)"
                      R"(0.100000001,1,null,null,null,1.00000002e+21,3.5,3.40282347e+38,-1.17549435e-38,)"
                      R"(0.100000001,-0,0.699999988,1.00000002e+21,1.00000001e-07,123456792,)"
                      R"(0.100000001,1,null,-0,1.40129846e-45]})" "\n"
                      R"({"call":"SetExtent","extent":[2.5000005382633331e-40,-1.1754943508222875e-38,)"
                      R"(null,3.4028234663852886e+38,null,123456792]})" "\n"),
            std::string::npos) << dump;
  std::string obj = testsupport::ScratchDir() + "/numbers/doc.obj";
  ASSERT_EQ(RunTool("obj " + Quote(path) + " -o " + Quote(obj)).status, 0);
  EXPECT_NE(testsupport::ReadFile(obj).find(
                "v 7 8 9\nvt 1.00000002e+21 -2.5\nv 2.50000054e-40 1 -1e-30\nvt -0 0.300000012\n"
                "v nan inf -inf\nvt 0.100000001 0\nv 3.40282347e+38 -1.17549435e-38 0.100000001\n"
                "vt 1.00000002e+21 -2.5\nv 1.00000002e+21 1.00000001e-07 123456792\n"
                "vt -0 0.300000012\nv -nan -0 1.40129846e-45\nvt 0.100000001 0\n"
                "f 1/1 2/2 3/3\nf 4/4 5/5 6/6\n"),
            std::string::npos);
}

TEST(Cli, ShapefileOfTheSampleOpensInGdal) {
  std::string shp = testsupport::ScratchDir() + "/shp/house.shp";
  fs::create_directories(fs::path(shp).parent_path());
  ASSERT_EQ(RunTool("shp " + Quote(Sample()) + " -o " + Quote(shp)).status, 0);
  if (std::system("command -v ogrinfo >/dev/null 2>&1") != 0) GTEST_SKIP() << "gdal-bin absent";
  std::string report = RunShell("ogrinfo -ro -al " + Quote(shp)).out;
  EXPECT_NE(report.find("Feature Count: 1"), std::string::npos) << report;
  EXPECT_NE(report.find("Extent: (0.000000, 0.000000) - (10.000000, 8.000000)"), std::string::npos);
  EXPECT_NE(report.find("name (String) = house.dae"), std::string::npos);
  // Every ring and triangle is one polygon of the feature's geometry, with one ring each.
  std::regex ring(R"(\(\(-?[0-9][^()]*\)\))");
  EXPECT_EQ(std::distance(std::sregex_iterator(report.begin(), report.end(), ring), std::sregex_iterator()), 18);
}

}  // namespace

TEST(Cli, PlacedModelsGiveTheirCrsLocationAndPlacedExtent) {
  Result plain = RunTool("info " + Quote(Sample()));
  EXPECT_EQ(plain.out.find("\"crs\""), std::string::npos);
  Result origin = RunTool("info " + Quote(Sample()) + " --origin 9,45,100");
  // 100 m above sea level, where the geoid stands 41.5 m above the ellipsoid.
  EXPECT_NE(origin.out.find(R"("crs":"EPSG:32632","location":[9,45,100],"altitudeMode":"absolute","height":141.50285)"),
            std::string::npos) << origin.out;
  // A false origin in a projected CRS: the extent moves by the offset exactly.
  Result offset = RunTool("info " + Quote(Sample()) + " -a_srs EPSG:25832 --offset 500000,5500000,100");
  EXPECT_NE(offset.out.find(R"("extent":[500000,5500000,100,500010,5500008,107])"), std::string::npos)
      << offset.out;
  // The document's own place on the earth, read by the extended reading.
  testdoc::Doc doc = testdoc::OneInstance(testdoc::Mesh("g", testdoc::kTriangle));
  doc.asset = "<asset><coverage><geographic_location><longitude>-3</longitude><latitude>-40"
              "</latitude><altitude>5</altitude></geographic_location></coverage></asset>";
  Result own = RunTool("info --extended " + Quote(doc.Write("placed/own.dae")));
  EXPECT_NE(own.out.find(R"("crs":"EPSG:32730","location":[-3,-40,5],"altitudeMode":"relativeToGround","height":5})"),
            std::string::npos) << own.out;
}

TEST(Cli, FailedRunsLeaveFilesThatWereThereAlone) {
  // A document that is read and gives nothing.
  const std::string empty = Quote(testsupport::WriteFile("keep/empty.dae", "<COLLADA/>"));
  for (const char* name : {"kept.bin", "kept.obj", "kept.shp"}) {
    std::string kept = testsupport::WriteFile(std::string("keep/") + name, "before");
    std::string command = std::string(name).substr(5);
    if (command == "bin") command = "buffer";
    EXPECT_EQ(RunTool(command + " " + empty + " -o " + Quote(kept)).status, 1) << name;
    EXPECT_EQ(testsupport::ReadFile(kept), "before") << name;
  }
}

// The conversion type comes from the user's settings file: edges show for types 2 to 4.
TEST(Cli, ConversionTypeFromTheUserSettings) {
  testdoc::Doc doc = testdoc::OneInstance(testdoc::Mesh("g", testdoc::kTriangle));
  doc.effects.insert(16, " name=\"tavu_ignore\"");
  const std::string path = doc.Write("settings/edges.dae");
  for (const char* type : {"1", "4"}) {
    testsupport::WriteFile(std::string("settings/") + type + "/TAVU/Settings.ini", std::string("TAVUConversionType=") + type);
    Result dump = RunTool("dump " + Quote(path), "XDG_CONFIG_HOME=" + Quote(testsupport::ScratchDir() + "/settings/" + type) + " ");
    EXPECT_EQ(dump.out.find(R"("edge":{"width":1)") != std::string::npos, *type == '4') << dump.out;
  }
}

// What stops a run, or cuts its model short, is one line naming the file, -v or not.
TEST(Cli, FailuresAndCutsAreOneLineNamingTheFile) {
  testdoc::Doc named = testdoc::OneInstance(testdoc::Mesh("g", testdoc::kTriangle));
  named.scene = "<node name=\"" + std::string(1100, 'n') + "\"><instance_geometry url=\"#g\"/></node>";
  const std::string sample = Sample(), cut = named.Write("limits/named.dae"), surveyed = SurveyedDocument();
  const struct {
    std::string args, file, says;
    int status;
  } rows[] = {
      {"shp " + Quote(sample) + " -o /nonexistent-folder/x.shp", "/nonexistent-folder/x.shp",
       "No such file or directory", 2},
      {"info " + Quote(sample) + " -t_srs EPSG:4326", sample,
       "nothing places the model in -t_srs: give --origin or -a_srs", 1},
      {"buffer --place -o /dev/null " + Quote(sample) + " -a_srs EPSG:1", sample, "EPSG:1 is no CRS PROJ knows", 1},
      {"info --strict " + Quote(surveyed), surveyed, kSurveyStops, 1},
      {"info " + Quote(cut), cut, "<node>: attributes past their first 1022 bytes are not read", 0},
  };
  for (const auto& row : rows) {
    Result run = RunTool(row.args);
    EXPECT_EQ(run.status, row.status) << row.args;
    EXPECT_EQ(run.err, "varnel: " + row.file + ": " + row.says + "\n");
    EXPECT_EQ(run.out.empty(), row.status != 0) << row.args;
  }
}
