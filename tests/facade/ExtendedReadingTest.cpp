// The extended reading and the diagnostics, through the entry points with import options.
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <string>

#include "document/Linked.h"
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
      // Text that is no XML: ImportResult.SaysWhatHappenedWithTheLineAsAField.
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

  // Library nodes that each instance the next twice, 19 levels, instanced twice by the scene's
  // first node: with its second node that is exactly the limit of 2^20 node visits; a third node
  // is one past it, said and left out.
  Doc wide = Placed();
  for (int i = 0; i < 19; ++i) {
    const std::string next = "<instance_node url=\"#n" + std::to_string(i + 1) + "\"/>";
    wide.nodes += "<node id=\"n" + std::to_string(i) + "\">" + next + next + "</node>";
  }
  wide.nodes += "<node id=\"n19\"/>";
  wide.scene = Node("", "<instance_geometry url=\"#g\"/><instance_node url=\"#n0\"/><instance_node url=\"#n0\"/>");
  for (bool past : {false, true}) {
    wide.scene += kPlaced;
    DiagnosticLog limits;
    EXPECT_EQ(pipelinetest::RunGeometry(wide.Write("diag/wide.dae"), {false, &limits}).parts.size(), 2u) << past;
    EXPECT_EQ(limits.lines, past ? std::vector<std::string>{"limit-reached: the scene visits nodes more "
                                                            "than 1048576 times: the rest is passed over"}
                                 : std::vector<std::string>{});
  }

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

  // A start tag's attributes past 1022 bytes: Cli.FailuresAndCutsAreOneLineNamingTheFile.
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
// bytes; every document it gives up on saying the extended reading reads it, that reading reads
// (the corpus's documents of unknown elements, long texts, polygons, strips and fans, morphs,
// library nodes and UTF-16).
TEST(ExtendedReading, CorpusDocumentsReadAlikeOrOnlyExtended) {
  const auto documents = testsupport::CorpusDocuments();
  if (documents.empty()) GTEST_SKIP() << "no corpus";
  int compared = 0, gained = 0;
  for (const std::string& path : documents) {
    DiagnosticLog heard;
    const std::string plain = DataBuffer(path, {false, &heard});
    bool differs = false;
    for (const DiagnosticLog::Entry& h : heard.heard) differs = differs || h.extendedReads;
    const std::string extended = DataBuffer(path, {true, nullptr});
    if (!differs) {
      ++compared;
      EXPECT_TRUE(extended == plain) << path;
    } else if (plain.empty()) {
      ++gained;
      EXPECT_FALSE(extended.empty()) << path;
    }
  }
  EXPECT_GT(compared, 100);
  EXPECT_GT(gained, 90);
}

// A convex_mesh holding its own mesh reads like <mesh>; one that only names another geometry
// (convex_hull_of) gives that geometry's mesh.
TEST(ExtendedReading, ConvexMeshReadsLikeMesh) {
  const std::string expected = DataBuffer(Placed().Write("ext/mesh.dae"), {});
  Doc convex = Placed(), hull = Placed();
  convex.geometries = std::regex_replace(Mesh("g", kTriangle), std::regex("mesh>"), "convex_mesh>");
  hull.geometries = "<geometry id=\"g\"><convex_mesh convex_hull_of=\"#h\"/></geometry>" + Mesh("h", kTriangle);
  for (const Doc& doc : {convex, hull}) {
    const std::string path = doc.Write("ext/convex.dae");
    EXPECT_TRUE(DataBuffer(path, {true, nullptr}) == expected);
    EXPECT_TRUE(DataBuffer(path, {}).empty());
  }
}

// Documents linked by url: "b.dae#id" takes an element of b.dae, "b.dae" its whole scene, each
// document read once; b's ids never meet a's (both have a geometry "g" and a material "m").
TEST(ExtendedReading, InstancesTakeElementsOfOtherDocuments) {
  Doc b;
  b.asset = "<asset><up_axis>Z_UP</up_axis><survey/></asset>";
  b.effects = Effect("blue", "0 0 1");
  b.materials = Material("m", "blue");
  b.geometries = Mesh("g", kTriangle, "", "0 0 1 1 0 1 0 1 1");
  b.nodes = "<node id=\"n\"><instance_geometry url=\"#g\"><bind_material><technique_common><instance_material "
            "symbol=\"m\" target=\"#m\"/></technique_common></bind_material></instance_geometry></node>";
  b.scene = "<node><instance_node url=\"#n\"/></node>";
  b.Write("linked/parts/b x.dae");
  Doc a = Placed();
  a.geometries = Mesh("g", kTriangle, "", "0 0 2 1 0 2 0 1 2");
  a.scene = Node("", "<instance_geometry url=\"parts/b%20x.dae#g\"/><instance_node url=\"parts/b%20x.dae#n\"/>"
                     "<instance_geometry url=\"#g\"/>") +
            Node("<translate>5 0 0</translate>", "<instance_geometry url=\"./parts/b%20x.dae\"/>");
  DiagnosticLog heard;
  const pipelinetest::Output out = pipelinetest::RunGeometry(a.Write("linked/a.dae"), {true, &heard});
  ASSERT_EQ(out.parts.size(), 4u);
  const double x[] = {0, 0, 0, 5}, z[] = {1, 1, 2, 1};
  const bool blue[] = {false, true, false, true};  // else a's red
  for (size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(out.parts[i].points[2], (pipelinetest::Vec3{x[i], 0, z[i]})) << i;
    EXPECT_EQ(out.parts[i].material == out.parts[1].material, blue[i]) << i;
  }
  EXPECT_EQ(heard.lines, std::vector<std::string>{"unknown-name: b x.dae:2: <survey> is skipped (extended)"});
}

// Every document that gives nothing says why in its first diagnostic. Beside them, b.dae and
// in/b.dae hold the triangle under a scene; in/c.dae instances in/a.dae whole.
TEST(Diagnostics, EveryDocumentWithoutOutputSaysWhy) {
  const std::string folder = std::filesystem::weakly_canonical(testsupport::ScratchDir() + "/why").string();
  auto write = [](const std::string& name, const std::string& instance, const std::string& geometries = Mesh("g", kTriangle)) {
    Doc doc = Placed();
    doc.geometries = geometries;
    doc.scene = instance.empty() ? "<node/><node><node/></node>" : Node("", instance);
    return doc.Write("why/" + name);
  };
  write("b.dae", "<instance_geometry url=\"#g\"/>");
  write("in/b.dae", "<instance_geometry url=\"#g\"/>");
  write("in/c.dae", "<instance_node url=\"a.dae\"/>");
  const std::string convex = write("convex.dae", "<instance_geometry url=\"#g\"/>",
                                   "<geometry id=\"g\"><convex_mesh convex_hull_of=\"#h\"/></geometry>");
  const std::string unread = "\" names another document, which is not read";
  const struct Case {
    std::string path;
    int reading;  // 0 plain, 1 extended, 2 extended with confined textures
    DiagnosticKind kind;
    std::string message;
  } cases[] = {
      {convex, 0, DiagnosticKind::kUnreadPrimitive, "convex_mesh geometry \"g\" is not read"},
      {convex, 1, DiagnosticKind::kUnresolvedReference, "convex_hull_of \"#h\" names no geometry with a mesh"},
      {write("other.dae", "<instance_geometry url=\"b.dae#g\"/>"), 0, DiagnosticKind::kUnresolvedReference,
       "instance_geometry \"b.dae#g" + unread},
      {write("whole.dae", "<instance_node url=\"b.dae\"/>"), 0, DiagnosticKind::kUnresolvedReference,
       "instance_node \"b.dae" + unread},
      {write("missing.dae", "<instance_geometry url=\"none.dae#g\"/>"), 1, DiagnosticKind::kUnresolvedReference,
       "instance_geometry \"none.dae#g\" names no document (" + folder + "/none.dae)"},
      {write("lacks.dae", "<instance_geometry url=\"b.dae#x\"/>"), 1, DiagnosticKind::kUnresolvedReference,
       "instance_geometry \"" + folder + "/b.dae#x\" names no geometry"},
      {write("in/a.dae", "<instance_node url=\"c.dae\"/>"), 1, DiagnosticKind::kUnresolvedReference,
       "instance_node \"a.dae\" names the document it lies in: a cycle, not followed"},
      {write("http.dae", "<instance_node url=\"http://127.0.0.1:9/b.dae\"/>"), 1, DiagnosticKind::kUnresolvedReference,
       "instance_node \"http://127.0.0.1:9/b.dae\" names a document at an address, which is not fetched"},
      {write("in/up.dae", "<instance_geometry url=\"../b.dae#g\"/>"), 2, DiagnosticKind::kUnresolvedReference,
       "instance_geometry \"../b.dae#g\" names a document outside the folder textures and documents are confined to: not read"},
      {write("empty.dae", "<instance_geometry url=\"#g\"/>", Mesh("g", Primitive("triangles", 0, "unbound", ""))), 0,
       DiagnosticKind::kEmptyScene, "the geometry the scene places holds no triangles or polygons"},
      {write("nodes.dae", ""), 1, DiagnosticKind::kEmptyScene, "the scene places no geometry"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    DiagnosticLog heard;
    varnel::ImportOptions options{c.reading > 0, &heard};
    options.confineTextures = c.reading == 2;
    EXPECT_EQ(DataBuffer(c.path, options), "");
    ASSERT_FALSE(heard.heard.empty());
    EXPECT_EQ(heard.heard[0].kind, c.kind);
    EXPECT_EQ(heard.heard[0].message, c.message);
    EXPECT_EQ(heard.heard[0].extendedReads, c.reading == 0 && c.kind != DiagnosticKind::kEmptyScene);
  }
}

// Exactly the limit of linked documents reads them all; one more is refused and said.
TEST(ExtendedReading, LinkedDocumentsStopAtTheirLimit) {
  for (int count : {varnel::kMaxLinkedDocuments, varnel::kMaxLinkedDocuments + 1}) {
    for (int i = count; i >= 0; --i) {
      Doc doc = Placed();
      if (i < count) doc.scene += Node("", "<instance_node url=\"" + std::to_string(i + 1) + ".dae\"/>");
      doc.Write("limit" + std::to_string(count) + "/" + std::to_string(i) + ".dae");
    }
    DiagnosticLog heard;
    const auto out = pipelinetest::RunGeometry(testsupport::ScratchDir() + "/limit" + std::to_string(count) + "/0.dae", {true, &heard});
    EXPECT_EQ(out.parts.size(), size_t(std::min(count, varnel::kMaxLinkedDocuments) + 1));
    EXPECT_EQ(heard.First(DiagnosticKind::kLimitReached) != nullptr, count > varnel::kMaxLinkedDocuments);
  }
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
