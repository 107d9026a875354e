// The extended reading and the diagnostics, through the entry points with import options.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "support/Documents.h"
#include "support/Outputs.h"

namespace {

using namespace testdoc;
using pipelinetest::DataBuffer;
using pipelinetest::DiagnosticLog;
using varnel::DiagnosticKind;

const std::string kPlaced = Node("", "<instance_geometry url=\"#g\"/>");

Doc Placed() {
  Doc doc;
  doc.geometries = Mesh("g", kTriangle);
  doc.scene = kPlaced;
  return doc;
}

TEST(ExtendedReading, UnknownNamesStopThePlainReadingAndAreSkippedWhole) {
  Doc doc = Placed();
  const std::string plain = DataBuffer(doc.Write("ext/plain.dae"), {});
  ASSERT_FALSE(plain.empty());
  // Line 4: an element outside the table holding one of its own name and a text longer than a
  // token may be; an unknown attribute; animations nested in animations.
  doc.asset = "<asset>\n<up_axis>Z_UP</up_axis>\n<survey><survey/><survey>" +
              std::string(140000, 'x') + "</survey><geo a=\"1\"/></survey></asset>";
  doc.nodes = "<node id=\"n\" proxy=\"p\"/>";
  doc.controllers = "</library_controllers><library_animations><animation><animation><source/>"
                    "</animation><float_array count=\"1\">1</float_array></animation>"
                    "</library_animations><library_controllers>";
  const std::string path = doc.Write("ext/unknown.dae");

  DiagnosticLog heard;
  EXPECT_EQ(DataBuffer(path, {false, &heard}), "");
  const DiagnosticLog::Entry* stop = heard.First(DiagnosticKind::kUnknownName);
  ASSERT_NE(stop, nullptr);
  EXPECT_EQ(stop->line, 4);
  EXPECT_TRUE(stop->extendedReads);
  EXPECT_NE(stop->message.find("<survey> is not read"), std::string::npos) << stop->message;

  DiagnosticLog extended;
  EXPECT_TRUE(DataBuffer(path, {true, &extended}) == plain);
  EXPECT_NE(extended.First(DiagnosticKind::kUnknownName), nullptr);
}

TEST(Diagnostics, WhatIsNoCOLLADADocument) {
  const std::string folder = testsupport::ScratchDir() + "/diag";
  std::filesystem::create_directories(folder);
  struct Case {
    std::string path;
    DiagnosticKind kind;
  } cases[] = {
      {folder + "/missing.dae", DiagnosticKind::kFileMissing},
      {folder, DiagnosticKind::kFolder},
      {testsupport::WriteFile("diag/empty.dae", ""), DiagnosticKind::kNotXml},
      {testsupport::WriteFile("diag/text.dae", "solid cube\nfacet normal 0 0 1\n"), DiagnosticKind::kNotXml},
      {testsupport::WriteFile("diag/kml.dae", "<?xml version=\"1.0\"?>\n<kml><Placemark/></kml>"),
       DiagnosticKind::kNotCollada},
  };
  for (const Case& c : cases) {
    DiagnosticLog heard;
    EXPECT_EQ(DataBuffer(c.path, {false, &heard}), "") << c.path;
    ASSERT_FALSE(heard.heard.empty()) << c.path;
    EXPECT_EQ(heard.heard.front().kind, c.kind) << c.path << ": " << heard.heard.front().message;
  }
}

TEST(Diagnostics, LongTextEndsThePlainReadingOnlyWhereNothingIsRead) {
  Doc doc = Placed();
  doc.images = "</library_images><library_cameras><camera>" + std::string(140000, 'y') +
               "</camera></library_cameras><library_images>";
  const std::string path = doc.Write("diag/long.dae");
  DiagnosticLog heard;
  EXPECT_EQ(DataBuffer(path, {false, &heard}), "");
  ASSERT_NE(heard.First(DiagnosticKind::kTokenTooLong), nullptr);
  EXPECT_EQ(heard.First(DiagnosticKind::kTokenTooLong)->line, 2);
  EXPECT_NE(DataBuffer(path, {true, nullptr}), "");
}

TEST(Diagnostics, NoSceneAndLimitsThatCutTheSceneShort) {
  Doc unplaced = Placed();
  unplaced.hasScene = false;
  DiagnosticLog heard;
  EXPECT_EQ(DataBuffer(unplaced.Write("diag/noscene.dae"), {false, &heard}), "");
  EXPECT_NE(heard.First(DiagnosticKind::kNoScene), nullptr);

  // Library nodes that each instance the next twice, 21 levels: 2^21 node visits.
  Doc wide = Placed();
  for (int i = 0; i < 21; ++i) {
    const std::string next = "<instance_node url=\"#n" + std::to_string(i + 1) + "\"/>";
    wide.nodes += "<node id=\"n" + std::to_string(i) + "\">" + (i ? "" : "<instance_geometry url=\"#g\"/>") +
                  next + next + "</node>";
  }
  wide.nodes += "<node id=\"n21\"/>";
  wide.scene = Node("", "<instance_node url=\"#n0\"/>");
  DiagnosticLog limits;
  EXPECT_NE(DataBuffer(wide.Write("diag/wide.dae"), {false, &limits}), "");
  const DiagnosticLog::Entry* limit = limits.First(DiagnosticKind::kLimitReached);
  ASSERT_NE(limit, nullptr);
  EXPECT_NE(limit->message.find("more than 1048576 times"), std::string::npos) << limit->message;

  // Library nodes that each instance the one before twice: 2^10 triangles from a few lines.
  Doc doubling = Placed();
  for (int i = 1; i <= 10; ++i)
    doubling.nodes += "<node id=\"n" + std::to_string(i) + "\">" +
                      (i == 1 ? std::string("<instance_geometry url=\"#g\"/>")
                              : "<instance_node url=\"#n" + std::to_string(i - 1) + "\"/>") +
                      "<node>" + (i == 1 ? "" : "<instance_node url=\"#n" + std::to_string(i - 1) + "\"/>") +
                      "</node></node>";
  doubling.scene = "<node><instance_node url=\"#n10\"/></node>";
  const std::string path = doubling.Write("diag/doubling.dae");
  EXPECT_GT(DataBuffer(path).size(), 40000u);
  varnel::ImportOptions bounded;
  DiagnosticLog bound;
  bounded.diagnostics = &bound;
  bounded.maxOutputBytes = 10000;
  EXPECT_TRUE(DataBuffer(path, bounded).empty());
  ASSERT_NE(bound.First(DiagnosticKind::kLimitReached), nullptr);
  EXPECT_NE(bound.First(DiagnosticKind::kLimitReached)->message.find("more than the 10000 allowed"),
            std::string::npos);

  // A start tag's attributes are read up to 1022 bytes.
  Doc named = Placed();
  named.scene = "<node name=\"" + std::string(1100, 'n') + "\"><instance_geometry url=\"#g\"/></node>";
  DiagnosticLog cut;
  EXPECT_NE(DataBuffer(named.Write("diag/named.dae"), {false, &cut}), "");
  EXPECT_EQ(cut.lines, std::vector<std::string>{"limit-reached: <node>: attributes past their first 1022 bytes are not read"});
}

TEST(ExtendedReading, VertexCountsLongerThanATokenReadWhole) {
  const int polygons = 70000;  // "3 " each: past the longest token
  std::string vcount, p;
  for (int i = 0; i < polygons; ++i) vcount += "3 ", p += "0 1 2 ";
  Doc doc = Placed();
  doc.geometries = Mesh("g", Primitive("polylist", polygons, "m", p, "", vcount));
  const std::string path = doc.Write("ext/longvcount.dae");
  EXPECT_TRUE(DataBuffer(path, {}).empty());
  EXPECT_EQ(pipelinetest::RunGeometry(path, {true, nullptr}).parts.size(), size_t(polygons));
}

// Where the plain reading meets nothing the extended one reads differently, both give the same
// bytes.
TEST(ExtendedReading, CorpusDocumentsWithoutExtendedConstructsReadAlike) {
  const auto documents = testsupport::CorpusDocuments();
  if (documents.empty()) GTEST_SKIP() << "no corpus";
  int compared = 0;
  for (const std::string& path : documents) {
    DiagnosticLog heard;
    const std::string plain = DataBuffer(path, {false, &heard});
    bool differs = false;
    for (const DiagnosticLog::Entry& h : heard.heard) differs = differs || h.extendedReads;
    if (differs) continue;
    ++compared;
    EXPECT_TRUE(DataBuffer(path, {true, nullptr}) == plain) << path;
  }
  EXPECT_GT(compared, 100);
}

}  // namespace

TEST(ExtendedReading, GeographicLocationOfTheAsset) {
  Doc doc = Placed();
  doc.asset = "<asset><coverage><geographic_location><longitude>-105.2</longitude>"
              "<latitude>40.01</latitude><altitude mode=\"absolute\">1655.5</altitude>"
              "</geographic_location></coverage><up_axis>Z_UP</up_axis></asset>";
  const std::string path = doc.Write("ext/located.dae");
  varnel::GeographicLocation plain, extended;
  // The plain reading stops at <coverage>, as it stops at any name outside its table.
  EXPECT_EQ(DataBuffer(path, {false, nullptr, &plain}), "");
  EXPECT_FALSE(plain.found);
  EXPECT_NE(DataBuffer(path, {true, nullptr, &extended}), "");
  EXPECT_TRUE(extended.found);
  EXPECT_EQ(std::tie(extended.longitude, extended.latitude, extended.altitude),
            std::make_tuple(-105.2, 40.01, 1655.5));
}

TEST(ImportOptions, TheSceneObserverHearsTheNodeOfEveryPart) {
  struct Spans : varnel::SceneObserver {
    std::string heard;
    void NodeParts(int32_t first, int32_t instance, const char* name) override {
      heard += std::to_string(first) + ":" + std::to_string(instance) + ":" + name + " ";
    }
  } spans;
  Doc doc = Placed();
  const std::string g = "<instance_geometry url=\"#g\"/>";
  doc.scene = "<node name=\"a\" id=\"x\">" + g + "<node id=\"b\">" + g + "</node></node><node>" +
              g + "</node>";
  varnel::ImportOptions options;
  options.sceneObserver = &spans;
  EXPECT_EQ(pipelinetest::RunGeometry(doc.Write("ext/nodes.dae"), options).parts.size(), 3u);
  EXPECT_EQ(spans.heard, "0:1:a 1:2:b 2:1:a 2:0: 2:3: 3:0: ");
}

TEST(ImportOptions, TheTextureObserverHearsFilesReadAtTheirOwnSize) {
  struct Files : varnel::TextureObserver {
    std::string heard;
    void TextureRead(int32_t material, const char* path) override {
      heard += std::to_string(material) + ":" + std::filesystem::path(path).filename().string() + " ";
    }
  };
  // The house's bricks are 16 x 16 pixels: fitted into 64 they are the file's no longer.
  for (int64_t pixels : {int64_t{256}, int64_t{64}}) {
    Files files;
    varnel::ImportOptions options;
    options.textureObserver = &files;
    options.maxTexturePixels = pixels;
    EXPECT_TRUE(pipelinetest::RunGeometry(VARNEL_TEST_DATA "/demo/house.dae", options).present);
    EXPECT_EQ(files.heard, pixels == 256 ? "0:brick.png " : "");
  }
}
