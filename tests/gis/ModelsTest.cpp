#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>

#include "gis/Models.h"
#include "gis/PrivateFolder.h"
#include "gis/Zip.h"
#include "support/Documents.h"
#include "support/Outputs.h"

namespace {

using namespace varnel;
using gis::ModelSet;
using pipelinetest::DiagnosticLog;
using ziptest::Zip;

// A triangle textured with the image file `image`.
std::string Textured(const std::string& image) {
  testdoc::Doc doc;
  doc.images = "<image id=\"img\"><init_from>" + image + "</init_from></image>";
  doc.effects = testdoc::Effect("tx", "", "img");
  doc.materials = testdoc::Material("m", "tx");
  doc.geometries = testdoc::Mesh(
      "g",
      testdoc::Primitive("triangles", 1, "m", "0 0 1 1 2 2",
                         "<input semantic=\"TEXCOORD\" source=\"#g-t\" offset=\"1\"/>"),
      testdoc::Source("g-t", "0 0 1 0 0 1", 3, 2));
  doc.scene = testdoc::Node("", "<instance_geometry url=\"#g\"/>");
  return doc.Text();
}

// The first pixel of the first textured material the model's geometry holds; empty for none.
// Confined, the model is read as every reader of a model file reads it (gis::ImportFor).
std::vector<int> TexturePixel(const gis::Model& model, bool extended = true, bool confined = false) {
  ImportOptions options{extended, nullptr};
  if (confined) options = gis::ImportFor(model, options);
  for (const auto& m : pipelinetest::RunGeometry(model.document, options).materials)
    if (!m.firstPixel.empty()) return m.firstPixel;
  return {};
}

// Opens `path`, keeping the set open in `set`.
bool Open(ModelSet& set, const std::string& path, DiagnosticLog& log,
          const gis::ArchiveLimits& limits = {}) {
  return set.Open(path, {{true, &log}, limits});
}

const std::vector<int> kPixel = {10, 20, 30};

TEST(Kmz, EveryPlacemarkModelIsOneModelWithItsPlacement) {
  std::string kml = R"(<?xml version="1.0"?>
<kml:kml xmlns:kml="http://www.opengis.net/kml/2.2" xmlns:gx="http://www.google.com/kml/ext/2.2">
<kml:Document><kml:Folder><kml:Placemark><kml:name>Town hall</kml:name>
  <kml:Model><kml:altitudeMode>absolute</kml:altitudeMode>
    <kml:Location><kml:longitude> -180 </kml:longitude><kml:latitude>+90</kml:latitude>
      <kml:altitude>512.5</kml:altitude></kml:Location>
    <kml:Orientation><kml:heading>90</kml:heading><kml:tilt>-5</kml:tilt><kml:roll>2.5e0</kml:roll></kml:Orientation>
    <kml:Scale><kml:x>2</kml:x><kml:y>3</kml:y><kml:z>4</kml:z></kml:Scale>
    <kml:Link><kml:href>models/hall.dae</kml:href></kml:Link></kml:Model></kml:Placemark></kml:Folder>
<kml:Placemark><kml:MultiGeometry><kml:Model>
    <kml:altitudeMode>absolute</kml:altitudeMode><gx:altitudeMode>relativeToSeaFloor</gx:altitudeMode>
    <kml:altitudeMode>clampToGround</kml:altitudeMode>
    <kml:Location><kml:longitude>1,5</kml:longitude><kml:latitude>91</kml:latitude></kml:Location>
    <kml:Link><kml:href>models/my%20tower.dae</kml:href></kml:Link></kml:Model></kml:MultiGeometry></kml:Placemark>
<kml:Placemark><kml:name>Lost</kml:name><kml:Model><kml:Link><kml:href>gone.dae</kml:href></kml:Link></kml:Model></kml:Placemark>
</kml:Document></kml:kml>)";
  // Names reach outputs that must be UTF-8: a bad byte, an overlong form, a reference to a
  // surrogate and a cut sequence each become U+FFFD.
  kml.replace(kml.find("Town hall"), 9, "Town hall \xFF\xC0\xAF&#xD800;\xE2\x82");
  std::string model = Textured("x.tga");
  std::string path = Zip("kmz/two.kmz", {{"doc.kml", kml},
                                         {"models/hall.dae", model},
                                         {"models/my tower.dae", model}});
  ModelSet set;
  DiagnosticLog log;
  gis::ArchiveLimits limits;
  limits.maxModels = 3;  // exactly the models the KML holds: all read, nothing said
  ASSERT_TRUE(Open(set, path, log, limits));
  ASSERT_EQ(set.models().size(), 2u);
  const gis::Model& hall = set.models()[0];
  EXPECT_EQ(hall.name, "Town hall \xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD");
  EXPECT_EQ(hall.source, path + "!/models/hall.dae");
  const gis::Placement& p = *hall.placement;
  EXPECT_EQ(std::vector<double>({p.location.longitude, p.location.latitude, p.location.altitude,
                                 p.heading, p.tilt, p.roll, p.scale[0], p.scale[1], p.scale[2]}),
            std::vector<double>({-180, 90, 512.5, 90, -5, 2.5, 2, 3, 4}));
  EXPECT_EQ(p.altitudeMode, gis::AltitudeMode::kAbsolute);

  // Numbers at the edges of their ranges are kept; malformed and out-of-range ones give the
  // defaults; the name comes from the file; a gx: altitude mode wins wherever it stands among
  // plain ones.
  const gis::Model& tower = set.models()[1];
  EXPECT_EQ(tower.name, "my tower.dae");
  EXPECT_EQ(tower.placement->location.longitude, 0);
  EXPECT_EQ(tower.placement->location.latitude, 0);
  EXPECT_EQ(tower.placement->scale[2], 1);
  EXPECT_EQ(tower.placement->altitudeMode, gis::AltitudeMode::kRelativeToSeaFloor);  // gx: wins
  EXPECT_EQ(log.lines, (std::vector<std::string>{
      "kml: a placemark: longitude '1,5' is not a number in range: 0 taken",
      "kml: a placemark: latitude '91' is not a number in range: 0 taken",
      "placement: a placemark: no terrain: altitude taken as given (altitudeMode relativeToSeaFloor)",
      "placement: placemark 'Lost': no terrain: altitude taken as given (altitudeMode clampToGround, KML's default)",
      "kml: placemark 'Lost': model 'gone.dae' not found: skipped"}));
  EXPECT_EQ(log.heard[0].line, 13);
  limits.maxModels = 2;
  ASSERT_TRUE(Open(set, path, log, limits));
  EXPECT_EQ(log.lines.back(), "kml: more than 2 models (the cap): the rest not read");
}

TEST(Kmz, TexturesAreFoundInsideTheArchiveAndThroughAliases) {
  std::string kml = R"(<kml xmlns="http://earth.google.com/kml/2.1"><Document>
<Placemark><Model><Link><href>models/direct.dae</href></Link></Model></Placemark>
<Placemark><Model><Link><href>models/aliased.dae</href></Link><ResourceMap>
  <Alias><targetHref>../images/renamed.tga</targetHref><sourceHref>textures/used.tga</sourceHref></Alias>
  <Alias><targetHref>images/renamed.tga</targetHref><sourceHref>../../../out.tga</sourceHref></Alias>
</ResourceMap></Model></Placemark></Document></kml>)";
  std::string path = Zip("kmz/alias.kmz", {{"doc.kml", kml},
                                           {"models/direct.dae", Textured("../images/tex.tga")},
                                           {"images/tex.tga", testdoc::Tga()},
                                           {"models/aliased.dae", Textured("textures/used.tga")},
                                           {"images/renamed.tga", testdoc::Tga()}});
  ModelSet set;
  DiagnosticLog log;
  ASSERT_TRUE(Open(set, path, log));
  ASSERT_EQ(set.models().size(), 2u);
  EXPECT_EQ(log.lines.back(), "archive: alias source '../../../out.tga' leaves the archive's folder: refused");
  // Confined to the archive, "../images" inside it is still in reach.
  for (bool confined : {false, true}) {
    EXPECT_EQ(TexturePixel(set.models()[0], true, confined), kPixel);
    EXPECT_EQ(TexturePixel(set.models()[1], true, confined), kPixel);
  }
}

TEST(Kml, AKmlFileBesideItsModelsPlacesThem) {
  testsupport::WriteFile("beside/models/m.dae", Textured("tex.tga"));
  testsupport::WriteFile("beside/models/tex.tga", testdoc::Tga());
  std::string path = testsupport::WriteFile("beside/site.kml",
      "\xEF\xBB\xBF<?xml version=\"1.0\"?>\n<!-- a site -->\n<kml xmlns=\"http://www.opengis.net/kml/2.2\">"
      "<Placemark><name>Site</name><Model><altitudeMode>absolute</altitudeMode>"
      "<Link><href>models/m.dae</href></Link></Model></Placemark></kml>");
  ModelSet set;
  DiagnosticLog log;
  ASSERT_TRUE(Open(set, path, log));
  ASSERT_EQ(set.models().size(), 1u);
  EXPECT_EQ(set.models()[0].document, testsupport::ScratchDir() + "/beside/models/m.dae");
  EXPECT_EQ(TexturePixel(set.models()[0]), kPixel);
  EXPECT_TRUE(log.lines.empty());

  // Ordinary KML places nothing.
  ASSERT_FALSE(Open(set, testsupport::WriteFile("beside/pin.kml",
      "<kml><Placemark><Point><coordinates>1,2</coordinates></Point></Placemark></kml>"), log));
  EXPECT_EQ(log.lines.back(), "kml: no model in the KML");
}

// A reference reaches a model inside the archive, or inside a plain KML's folder tree, and
// nothing else, however it is spelled; `outside.dae`, a model beside both, is never taken.
TEST(Kml, ReferencesReachOnlyInsideTheArchiveOrTheKmlsFolder) {
  std::string folder = testsupport::ScratchDir() + "/refs/kml";
  std::filesystem::remove_all(folder);
  std::string model = Textured(testsupport::WriteFile("refs/outside.tga", testdoc::Tga()));
  testsupport::WriteFile("refs/outside.dae", model);
  testsupport::WriteFile("refs/kml/in.dae", model);
  std::filesystem::create_symlink("../outside.dae", folder + "/link.dae");
  ASSERT_EQ(mkfifo((folder + "/pipe.dae").c_str(), 0600), 0);
  const std::string out = "leaves the archive: refused", outOfFolder = "leaves the KML's folder: refused";
  const struct { const char* href; std::string inArchive, inFolder; } cases[] = {  // "": taken
      {"sub/../in.dae", "", ""},
      {"../../etc/passwd", out, outOfFolder},
      {"%2e%2e/%2e%2e/x.dae", out, outOfFolder},
      {"/proc/self/environ", out, outOfFolder},
      {"../outside.dae", out, outOfFolder},
      {"link.dae", "not found: skipped", outOfFolder},
      {"pipe.dae", "not found: skipped", "is not a regular file: refused"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.href);
    std::string kml = ziptest::PlacingKml(c.href);
    for (const auto& [path, said] : {std::pair(Zip("refs/site.kmz", {{"doc.kml", kml}, {"in.dae", model}}), c.inArchive),
                                     std::pair(testsupport::WriteFile("refs/kml/site.kml", kml), c.inFolder)}) {
      ModelSet set;
      DiagnosticLog log;
      ASSERT_EQ(Open(set, path, log), said.empty());
      if (!said.empty())
        EXPECT_EQ(log.lines.back(), (said == out ? "archive" : "kml") +
                                        (": a placemark: model '" + (c.href + ("' " + said))));
      else  // its texture lies outside: there to an unconfined read, not as readers of models read
        EXPECT_EQ(std::pair(TexturePixel(set.models()[0]), TexturePixel(set.models()[0], true, true)),
                  std::pair(kPixel, std::vector<int>()));
    }
  }
}

TEST(Zae, TheManifestNamesTheRootElseTheSingleDocument) {
  std::string model = Textured("tex.tga");
  std::string path = Zip("zae/manifest.zae", {{"other.dae", "<COLLADA/>"},
                                              {"in/my model.dae", model},
                                              {"in/tex.tga", testdoc::Tga()},
                                              {"manifest.xml", "<dae_root>./in/my%20model.dae</dae_root>"}});
  ModelSet set;
  DiagnosticLog log;
  ASSERT_TRUE(Open(set, path, log));
  ASSERT_EQ(set.models().size(), 1u);
  EXPECT_EQ(set.models()[0].name, "my model.dae");
  EXPECT_EQ(set.models()[0].source, path + "!/in/my model.dae");
  EXPECT_FALSE(set.models()[0].placement);
  EXPECT_EQ(TexturePixel(set.models()[0]), kPixel);

  // A texture named as a URI is found by the plain reading too.
  path = Zip("zae/bare.zae", {{"my tex.tga", testdoc::Tga()},
                              {"root.dae", Textured("./my%20tex.tga")}});
  ASSERT_TRUE(Open(set, path, log));
  EXPECT_EQ(set.models()[0].source, path + "!/root.dae");
  EXPECT_EQ(TexturePixel(set.models()[0], false), kPixel);
  EXPECT_TRUE(log.lines.empty());

  // A dae_root that leaves the archive is said, and the single document taken instead.
  EXPECT_TRUE(Open(set, Zip("zae/out.zae", {{"r.dae", model}, {"manifest.xml", "<dae_root>%2e%2e/r.dae</dae_root>"}}), log));
  EXPECT_EQ(log.lines, std::vector<std::string>{"archive: manifest.xml's dae_root '%2e%2e/r.dae' leaves the archive: refused"});
}

TEST(Archive, EntriesThatCouldLeaveTheFolderAreRefused) {
  std::string escaped = "varnel-escaped-" + std::to_string(getpid()) + ".txt";
  std::string path = Zip("hostile/slip.zae",
                         {{"../../" + escaped, "x"},
                          {"/tmp/" + escaped, "x"},
                          {"c:\\" + escaped, "x"},
                          {"sub\\..\\..\\" + escaped, "x"},
                          {"link.dae", "/etc/passwd", true},
                          {"model.dae", Textured("tex.tga")}});
  std::string parent = std::filesystem::path(gis::PrivateFolder()).parent_path();
  {
    ModelSet set;
    DiagnosticLog log;
    ASSERT_TRUE(Open(set, path, log));
    EXPECT_EQ(set.models()[0].source, path + "!/model.dae");
    EXPECT_EQ(log.lines, (std::vector<std::string>{
        "archive: entry '../../" + escaped + "' refused: its name leaves the archive's folder",
        "archive: entry '/tmp/" + escaped + "' refused: its name leaves the archive's folder",
        "archive: entry 'c:\\" + escaped + "' refused: its name leaves the archive's folder",
        "archive: entry 'sub\\..\\..\\" + escaped + "' refused: its name leaves the archive's folder",
        "archive: entry 'link.dae' refused: a link"}));
    EXPECT_FALSE(testsupport::DirectoryEntries(gis::PrivateFolder()).empty());
  }
  EXPECT_FALSE(std::filesystem::exists(parent + "/" + escaped));
  EXPECT_FALSE(std::filesystem::exists("/tmp/" + escaped));
  EXPECT_TRUE(testsupport::DirectoryEntries(gis::PrivateFolder()).empty());
}

TEST(Archive, BombsAndDamageGiveClearDiagnostics) {
  ModelSet set;
  DiagnosticLog log;
  std::string model = Textured("tex.tga"), zeros(4 << 20, '\0');  // deflates a thousandfold
  const std::string ratio = "archive: entry 'zeros.bin' refused: it expands more than 200 times "
                            "(the compression-ratio cap)";
  EXPECT_TRUE(Open(set, Zip("bomb/ratio.zae", {{"zeros.bin", zeros}, {"m.dae", model}}), log));
  EXPECT_EQ(log.lines.back(), ratio);
  // Declared sizes that lie (16 bytes, in every header) are caught by counting what comes out.
  auto lying = [](const std::string& name, const std::vector<ziptest::Entry>& entries) {
    std::string zip = testsupport::ReadFile(Zip(name, entries));
    for (const char* header : {"PK\x03\x04", "PK\x01\x02"})
      for (size_t at = zip.find(header); at != std::string::npos; at = zip.find(header, at + 4))
        zip.replace(at + (header[2] == 3 ? 22 : 24), 4, "\x10\0\0\0", 4);
    return testsupport::WriteFile(name, zip);
  };
  EXPECT_FALSE(Open(set, lying("bomb/liar.zae", {{"zeros.bin", zeros}}), log));
  EXPECT_EQ(log.lines[log.lines.size() - 2], ratio);
  gis::ArchiveLimits small;
  small.maxTotalBytes = 3000;
  const std::vector<ziptest::Entry> two = {{"a.bin", std::string(2000, 'a'), false, true},
                                           {"b.bin", std::string(2000, 'b'), false, true}};
  for (const std::string& path : {Zip("bomb/total.zae", two), lying("bomb/lying.zae", two)}) {
    EXPECT_FALSE(Open(set, path, log, small));
    EXPECT_EQ(log.lines.back(), "archive: the cap of 3000 bytes unpacked in all was reached at "
                                "entry 'b.bin': unpacking stopped") << path;
  }
  // Exactly at both caps: all unpacked, nothing said.
  small.maxEntries = 2;
  log.lines.clear();
  EXPECT_TRUE(Open(set, Zip("bomb/edge.zae", {{"a.bin", std::string(1000, 'a'), false, true},
                                              {"m.dae", model + std::string(2000 - model.size(), ' ')}}),
                   log, small));
  EXPECT_EQ(log.lines, std::vector<std::string>{});
  EXPECT_FALSE(Open(set, Zip("bomb/count.zae", {{"a", ""}, {"b", ""}, {"m.dae", model}}), log, small));
  EXPECT_EQ(log.lines.back(), "archive: the archive holds 3 entries, more than the cap of 2: not unpacked");
  // A KML of empty elements: at the element cap it is read (and places nothing), one past it
  // is refused before its tree is built.
  testsupport::WriteFile("bomb/m.dae", model);
  const std::string head = "<kml><Placemark><Model><Link><href>m.dae</href></Link></Model></Placemark>";
  for (size_t empty : {(size_t{1} << 21) - 10, (size_t{1} << 21) - 9}) {  // 10 '<' besides
    std::string kml = head;
    for (size_t i = 0; i < empty; ++i) kml += "<a/>";
    log.lines.clear();
    bool read = Open(set, testsupport::WriteFile("bomb/many.kml", kml + "</kml>"), log);
    EXPECT_EQ(read, empty % 2 == 0) << log.lines.back();
  }
  EXPECT_EQ(log.lines.back(), "limit-reached: the KML holds more than 2097152 elements (the cap): not read");

  std::string whole = testsupport::ReadFile(Zip("bomb/whole.kmz", {{"m.dae", model}}));
  for (size_t keep : {whole.size() - 10, whole.size() / 2}) {
    log.lines.clear();
    EXPECT_FALSE(Open(set, testsupport::WriteFile("bomb/cut.kmz", whole.substr(0, keep)), log));
    ASSERT_EQ(log.lines.size(), 1u);
    EXPECT_EQ(log.lines[0].rfind("archive: not a readable zip archive (truncated or damaged?): ", 0), 0u)
        << log.lines[0];
  }
}

TEST(ModelSet, OtherFilesPassThroughOrSayWhyNot) {
  ModelSet set;
  DiagnosticLog log;
  std::string dae = testsupport::WriteFile("plain/a.dae", Textured("tex.tga"));
  ASSERT_TRUE(Open(set, dae, log));
  EXPECT_EQ(std::tie(set.models()[0].document, set.models()[0].name), std::tie(dae, "a.dae"));
  ASSERT_TRUE(Open(set, "https://example.org/m.dae", log));
  EXPECT_EQ(set.models()[0].source, "https://example.org/m.dae");
  EXPECT_FALSE(Open(set, dae + ".missing", log));
  EXPECT_FALSE(Open(set, testsupport::ScratchDir(), log));
  EXPECT_FALSE(Open(set, testsupport::WriteFile("plain/photo.kmz", "\xff\xd8\xff\xe1"), log));
  EXPECT_EQ(log.lines, (std::vector<std::string>{"file-missing: No such file or directory",
                                                 "folder: Is a directory",
                                                 "archive: not a zip archive"}));
}

TEST(Corpus, EveryArchiveReadsOrSaysWhy) {
  std::string dir = testsupport::CorpusDir();
  if (dir.empty()) GTEST_SKIP() << "no corpus";
  for (const auto& entry : std::filesystem::recursive_directory_iterator(dir)) {
    std::string path = entry.path().string();
    bool zae = entry.path().extension() == ".zae";
    if (!zae && entry.path().extension() != ".kmz") continue;
    SCOPED_TRACE(path);
    ModelSet set;
    DiagnosticLog log;
    bool ok = Open(set, path, log);
    EXPECT_TRUE(ok || !log.lines.empty());
    if (!zae) continue;
    ASSERT_TRUE(ok);
    // The Barrett arm has no image, and the human's primitives name no material, so no texture.
    auto geometry = pipelinetest::RunGeometry(set.models()[0].document, {true, nullptr});
    EXPECT_FALSE(geometry.parts.empty());
    if (path.find("wam") == std::string::npos && path.find("human") == std::string::npos) {
      EXPECT_FALSE(TexturePixel(set.models()[0], false).empty());
    }
  }
}

}  // namespace
