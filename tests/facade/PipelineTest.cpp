// The entry points end to end on small documents, each expectation worked out by hand and
// checked against the geometry and the display list alike.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <string>

#include <varnel/Varnel.h>
#include "support/Outputs.h"
#include <varnel/Com.h>
#include "host/TempDir.h"
#include "support/Documents.h"
#include "support/LocalHttpServer.h"

namespace pipelinetest {
namespace {

using namespace testdoc;

TEST(Pipeline, TrianglesAndPolygonRingsArriveReversed) {
  // a b c d, then e f g for the polygons.
  Doc doc;
  doc.geometries = Mesh("g",
                        Primitive("triangles", 2, "m", "0 1 2 0 2 3") +
                            Primitive("polylist", 3, "m", "0 1 2 3 4 5 4 5 6", "", "4 2 3"),
                        "", "0 0 0 1 0 0 1 1 0 0 1 0 2 0 0 3 0 0 2 1 0");
  doc.scene = Node("", "<instance_geometry url=\"#g\"/>");
  Outputs out = RunBoth(doc.Write("reversed.dae"));
  ASSERT_TRUE(out.geometry.present);
  ExpectSameParts(out.geometry, out.display, true);
  const std::vector<Part>& parts = out.geometry.parts;
  ASSERT_EQ(parts.size(), 3u);  // the two-vertex polygon makes no part
  EXPECT_EQ(parts[0].type, 6);
  ExpectNear(parts[0].points, {{0, 1, 0}, {1, 1, 0}, {0, 0, 0}, {1, 1, 0}, {1, 0, 0}, {0, 0, 0}},
             0, "triangles d c a c b a");
  EXPECT_EQ(parts[1].type, 2);
  ExpectNear(parts[1].points, {{0, 1, 0}, {1, 1, 0}, {1, 0, 0}, {0, 0, 0}, {0, 1, 0}}, 0,
             "ring d c b a d");
  EXPECT_EQ(parts[2].type, 6);  // the third polygon starts after the second's two vertices
  ExpectNear(parts[2].points, {{2, 1, 0}, {3, 0, 0}, {2, 0, 0}}, 0, "triangle g f e");
  for (const Part& part : out.display.parts) EXPECT_EQ(part.stride, 3);
}

TEST(Pipeline, TransformsApplyInnermostFirstAndInstancedNodesFollowTheirParent) {
  Doc doc;
  doc.geometries = Mesh("g", kTriangle);
  doc.nodes = "<node id=\"lib\"><translate>0 0 1</translate><instance_geometry url=\"#g\"/></node>";
  doc.scene = Node("<translate>1 0 0</translate><rotate>0 0 1 90</rotate>",
                   "<instance_geometry url=\"#g\"/>") +
              Node("<rotate>0 0 1 90</rotate><translate>1 0 0</translate>",
                   "<instance_geometry url=\"#g\"/>") +
              Node("<translate>5 0 0</translate>", "<instance_node url=\"#lib\"/>") +
              Node("<translate>0 5 0</translate>", "<instance_node url=\"#lib\"/>");
  Outputs out = RunBoth(doc.Write("transforms.dae"));
  ExpectSameParts(out.geometry, out.display, true);
  const std::vector<Part>& parts = out.geometry.parts;
  ASSERT_EQ(parts.size(), 4u);
  // Vertices arrive 2 1 0: (0,1,0) (1,0,0) (0,0,0). Rotating first sends (1,0,0) to (1,1,0).
  ExpectNear(parts[0].points, {{0, 0, 0}, {1, 1, 0}, {1, 0, 0}}, 1e-12, "translate, rotate");
  ExpectNear(parts[1].points, {{-1, 1, 0}, {0, 2, 0}, {0, 1, 0}}, 1e-12, "rotate, translate");
  ExpectNear(parts[2].points, {{5, 1, 1}, {6, 0, 1}, {5, 0, 1}}, 0, "library node, first use");
  ExpectNear(parts[3].points, {{0, 6, 1}, {1, 5, 1}, {0, 5, 1}}, 0, "library node, second use");
  const std::array<double, 6> extent{-1, 0, 0, 6, 6, 1};
  for (int k = 0; k < 6; ++k) {
    EXPECT_NEAR(out.geometry.extent[k], extent[k], 1e-12);
    EXPECT_NEAR(out.display.extent[k], extent[k], 1e-12);
  }
}

TEST(Pipeline, DeepNestingStaysWithinItsLimits) {
  auto nested = [](int levels) {
    std::string open, close;
    for (int i = 0; i < levels; ++i) {
      open += "<node><translate>1 0 0</translate>";
      close += "</node>";
    }
    return open + "<instance_geometry url=\"#g\"/>" + close;
  };
  Doc doc;
  doc.geometries = Mesh("g", kTriangle);
  doc.scene = nested(200);
  Outputs out = RunBoth(doc.Write("nested-200.dae"));
  ASSERT_EQ(out.geometry.parts.size(), 1u);
  ExpectNear(out.geometry.parts[0].points, {{200, 1, 0}, {201, 0, 0}, {200, 0, 0}}, 0, "moved");
  // Read but too deep to traverse, and too deep to read: no output, and no stack exhausted.
  for (int levels : {1990, 5000}) {
    doc.scene = nested(levels);
    out = RunBoth(doc.Write("nested.dae"));
    EXPECT_FALSE(out.geometry.present);
    EXPECT_FALSE(out.display.present);
  }
}

TEST(Pipeline, YUpDocumentsTurnZUpAndScaleByTheirUnit) {
  Doc doc;
  doc.asset = "<asset><unit meter=\"0.5\"/></asset>";  // no up axis: Y up
  doc.geometries = Mesh("g",
                        Primitive("triangles", 1, "m", "0 0 1 0 2 0",
                                  "<input semantic=\"NORMAL\" source=\"#g-n\" offset=\"1\"/>"),
                        Source("g-n", "0 1 0", 1, 3), "0 0 0 2 0 0 0 2 0");
  doc.scene = Node("<translate>0 0 4</translate>", "<instance_geometry url=\"#g\"/>");
  Outputs out = RunBoth(doc.Write("yup.dae"));
  ExpectSameParts(out.geometry, out.display, true);
  ASSERT_EQ(out.geometry.parts.size(), 1u);
  // (x, y, z) becomes (x, -z, y) times 0.5, after the node moved it by 4 along z.
  ExpectNear(out.geometry.parts[0].points, {{0, -2, 1}, {1, -2, 0}, {0, -2, 0}}, 0, "points");
  // Normals turn with the axes but are not scaled.
  ExpectNear(out.geometry.parts[0].normals, {{0, 0, 1}, {0, 0, 1}, {0, 0, 1}}, 0, "normals");
  EXPECT_EQ(out.geometry.extent, (std::array<double, 6>{0, -2, 0, 1, -2, 1}));
  EXPECT_EQ(out.display.extent, out.geometry.extent);
}

// The triangle with the normal (1, 1, 0) at every vertex.
std::string NormalMesh(const std::string& id, const std::string& material) {
  return Mesh(id,
              Primitive("triangles", 1, material, "0 0 1 0 2 0",
                        "<input semantic=\"NORMAL\" source=\"#" + id + "-n\" offset=\"1\"/>"),
              Source(id + "-n", "1 1 0", 1, 3));
}

TEST(Pipeline, NormalsAreNormalisedOnlyUnderATransformAndSkinsUseTheirBindShape) {
  Doc doc;
  doc.effects = Effect("red", "1 0 0") + Effect("blue", "0 0 1");
  doc.materials = Material("red-m", "red") + Material("blue-m", "blue");
  doc.geometries = NormalMesh("g", "sym");
  doc.controllers =
      "<controller id=\"c\"><skin source=\"#g\"><bind_shape_matrix>1 0 0 0 0 1 0 0 0 0 1 5 "
      "0 0 0 1</bind_shape_matrix><joints/></skin></controller>";
  std::string bind =
      "<bind_material><technique_common><instance_material symbol=\"sym\" target=\"#blue-m\"/>"
      "</technique_common></bind_material>";
  // "sym" names no material: without a binding the first usable material stands in.
  doc.scene = Node("", "<instance_geometry url=\"#g\"/>") +
              Node("<scale>2 1 1</scale>", "<instance_geometry url=\"#g\"/>") +
              Node("", "<instance_controller url=\"#c\">" + bind + "</instance_controller>") +
              Node("", "<instance_controller url=\"#c\"/>");
  Outputs out = RunBoth(doc.Write("normals.dae"));
  ExpectSameParts(out.geometry, out.display, false);
  const std::vector<Part>& g = out.geometry.parts;
  ASSERT_EQ(g.size(), 4u);
  const double r2 = 1 / std::sqrt(2.0), r5 = 1 / std::sqrt(5.0);
  ExpectNear(g[0].normals, {{1, 1, 0}, {1, 1, 0}, {1, 1, 0}}, 0, "untransformed, as read");
  ExpectNear(g[1].normals, {{2 * r5, r5, 0}, {2 * r5, r5, 0}, {2 * r5, r5, 0}}, 1e-12, "scaled");
  ExpectNear(g[1].points, {{0, 1, 0}, {2, 0, 0}, {0, 0, 0}}, 0, "scaled points");
  ExpectNear(g[2].normals, {{r2, r2, 0}, {r2, r2, 0}, {r2, r2, 0}}, 1e-12, "skin");
  ExpectNear(g[2].points, {{0, 1, 5}, {1, 0, 5}, {0, 0, 5}}, 0, "bind shape lifts by 5");
  EXPECT_EQ(g[0].material, 0);
  EXPECT_EQ(g[1].material, 0);
  EXPECT_EQ(g[2].material, 1);  // the controller's binding
  EXPECT_EQ(g[3].material, 0);  // gone once that controller was left
  // The display list always hands over unit normals, six floats a record.
  for (const Part& part : out.display.parts) {
    EXPECT_EQ(part.stride, 6);
    ASSERT_EQ(part.normals.size(), 3u);
    EXPECT_NEAR(part.normals[0][0] * part.normals[0][0] + part.normals[0][1] * part.normals[0][1],
                1.0, 1e-6);
  }
  ExpectNear(out.display.parts[0].normals, {{r2, r2, 0}, {r2, r2, 0}, {r2, r2, 0}}, 1e-6, "dl");

  // One primitive without normals takes them from every part of the document.
  doc.geometries += Mesh("plain", kTriangle);
  doc.scene += Node("", "<instance_geometry url=\"#plain\"/>");
  out = RunBoth(doc.Write("some-normals.dae"));
  ASSERT_EQ(out.geometry.parts.size(), 5u);
  for (size_t p = 0; p < 5; ++p) {
    EXPECT_TRUE(out.geometry.parts[p].normals.empty());
    EXPECT_EQ(out.display.parts[p].stride, 3);
  }
}

// A 2 x 2 RGB image whose first pixel is (10, 20, 30).
std::string Tga() {
  std::string header = {0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 0, 2, 0, 24, 0x20};
  return header + std::string("\x1e\x14\x0a" "\x00\x00\x00" "\x00\x00\x00" "\x00\x00\x00", 12);
}

// Effects in table order: plain, unused, tx, tx2 (tx and tx2 share one image). The mesh uses
// tx, plain, tx2, each primitive with texture coordinates.
Doc TexturedDoc(const std::string& folder, bool withNormals) {
  testsupport::WriteFile(folder + "/tex.tga", Tga());
  Doc doc;
  doc.images = "<image id=\"img\"><init_from>tex.tga</init_from></image>";
  doc.effects = Effect("plain", "0.5 0.25 1.5", "", "0.9") + Effect("unused", "0 1 0") +
                Effect("tx", "", "img") + Effect("tx2", "", "img", "0.5", true);
  doc.materials = Material("plain-m", "plain") + Material("unused-m", "unused") +
                  Material("tx-m", "tx") + Material("tx2-m", "tx2");
  std::string inputs = "<input semantic=\"TEXCOORD\" source=\"#g-t\" offset=\"1\"/>";
  std::string p = "0 0 1 1 2 2";
  std::string sources = Source("g-t", "0.25 0.75 1 0 0 1", 3, 2);
  if (withNormals) {
    inputs += "<input semantic=\"NORMAL\" source=\"#g-n\" offset=\"2\"/>";
    p = "0 0 0 1 1 0 2 2 0";
    sources += Source("g-n", "0 0 1", 1, 3);
  }
  doc.geometries = Mesh("g", Primitive("triangles", 1, "tx-m", p, inputs) +
                                 Primitive("triangles", 1, "plain-m", p, inputs) +
                                 Primitive("triangles", 1, "tx2-m", p, inputs),
                        sources);
  doc.scene = Node("", "<instance_geometry url=\"#g\"/>");
  return doc;
}

TEST(Pipeline, MaterialsFollowTheEffectTableAndTexturesFlipAndShare) {
  Outputs out = RunBoth(TexturedDoc("tex", false).Write("tex/doc.dae"));
  ExpectSameParts(out.geometry, out.display, true);
  const std::vector<Part>& parts = out.geometry.parts;
  ASSERT_EQ(parts.size(), 3u);
  // Records in table order for the used effects only: plain 0, tx 1, tx2 2.
  EXPECT_EQ(parts[0].material, 1);
  EXPECT_EQ(parts[1].material, 0);
  EXPECT_EQ(parts[2].material, 2);
  // Vertices 2 1 0: (0, 1) (1, 0) (0.25, 0.75) with t flipped.
  std::vector<Vec2> flipped = {{0, 0}, {1, 1}, {0.25, 0.25}};
  ExpectNear(parts[0].texturePoints, flipped, 0, "tx");
  EXPECT_TRUE(parts[1].texturePoints.empty());  // coordinates but no texture
  ExpectNear(parts[2].texturePoints, flipped, 0, "tx2");
  EXPECT_EQ(out.display.parts[0].stride, 5);
  EXPECT_EQ(out.display.parts[1].stride, 3);
  EXPECT_EQ(out.display.parts[2].stride, 5);

  for (const Output* o : {&out.geometry, &out.display}) {
    SCOPED_TRACE(o == &out.geometry ? "geometry" : "display list");
    ASSERT_EQ(o->materials.size(), 3u);
    const MaterialRecord& plain = o->materials[0];
    EXPECT_EQ(plain.color, (std::array<int, 3>{127, 63, 382}));  // truncated, not clamped
    EXPECT_EQ(plain.transparency, 9);  // (1 - 0.9) x 100 is just below 10
    EXPECT_TRUE(plain.firstPixel.empty());
    const MaterialRecord& tx = o->materials[1];
    EXPECT_EQ(tx.color, (std::array<int, 3>{255, 255, 255}));
    EXPECT_EQ(tx.transparency, -1);
    EXPECT_EQ(tx.width * 100 + tx.height * 10 + tx.channels, 223);
    EXPECT_EQ(tx.firstPixel, (std::vector<int>{10, 20, 30}));
    const MaterialRecord& tx2 = o->materials[2];
    EXPECT_EQ(tx2.transparency, 50);
    EXPECT_FALSE(tx2.cull);  // double-sided
    EXPECT_TRUE(tx.cull);
    EXPECT_EQ(tx2.sharedTexture, 2);  // the table position of tx, the image's first user
    EXPECT_TRUE(tx2.firstPixel.empty());
  }

  out = RunBoth(TexturedDoc("tex-n", true).Write("tex-n/doc.dae"));
  ExpectSameParts(out.geometry, out.display, true);
  ASSERT_EQ(out.display.parts.size(), 3u);
  EXPECT_EQ(out.display.parts[0].stride, 8);
  EXPECT_EQ(out.display.parts[1].stride, 6);
  EXPECT_EQ(out.display.parts[2].stride, 8);
  ExpectNear(out.display.parts[0].texturePoints, flipped, 0, "s, t before the normal");
  ExpectNear(out.display.parts[0].normals, {{0, 0, 1}, {0, 0, 1}, {0, 0, 1}}, 0, "normal");
}

TEST(Pipeline, LinesReachOnlyTheDisplayList) {
  Doc doc;
  doc.geometries = Mesh("g", kTriangle + Primitive("lines", 1, "m", "0 1"));
  doc.scene = Node("<translate>0 0 3</translate>", "<instance_geometry url=\"#g\"/>");
  Outputs out = RunBoth(doc.Write("lines.dae"));
  ASSERT_EQ(out.geometry.parts.size(), 1u);
  ASSERT_EQ(out.display.parts.size(), 2u);
  const Part& line = out.display.parts[1];
  EXPECT_EQ(line.type, -1);
  EXPECT_EQ(line.material, 0);
  EXPECT_EQ(line.stride, 3);
  ExpectNear(line.points, {{1, 0, 3}, {0, 0, 3}}, 0, "line, last point first");
}

TEST(Pipeline, NothingProducedLeavesEveryOutputAlone) {
  Doc doc;
  // Only two-vertex polygons: nothing is counted, so not even the materials are handed over.
  doc.geometries = Mesh("g", Primitive("polylist", 2, "m", "0 1 1 2", "", "2 2"));
  doc.scene = Node("", "<instance_geometry url=\"#g\"/>");
  for (const std::string& path :
       {doc.Write("short-polygons.dae"), testsupport::ScratchDir() + "/missing.dae"}) {
    SCOPED_TRACE(path);
    int32_t size = 99;
    unsigned char marker = 7;
    unsigned char* buffer = &marker;
    Varnel().CreateDataBufferFromFile(String::FromUtf8(path), size, buffer);
    EXPECT_EQ(size, 0);
    EXPECT_EQ(buffer, &marker);
    IGeometry* geometry = reinterpret_cast<IGeometry*>(&marker);
    Varnel().CreateGeometryFromFile(String::FromUtf8(path), &geometry);
    EXPECT_EQ(geometry, nullptr);
    RecordingSink sink;
    Varnel().CreateDisplayListFromFile(String::FromUtf8(path), &sink);
    EXPECT_EQ(sink.materialCalls + sink.extentCalls + sink.output.parts.size(), 0u);
  }
}

// A component that offers nothing but IUnknown.
class Opaque final : public ComObject, public IUnknown {
 public:
  HRESULT QueryInterface(const Guid& iid, void** object) override {
    if (iid == IID_IUnknown) return QueryOne(static_cast<IUnknown*>(this), object);
    return NoInterface(object);
  }
  uint32_t AddRef() override { return AddRefObject(); }
  uint32_t Release() override { return ReleaseObject(); }
};

TEST(Pipeline, NoGeometryWithoutTheHostGeometryClass) {
  Doc doc;
  doc.geometries = Mesh("g", kTriangle);
  doc.scene = Node("", "<instance_geometry url=\"#g\"/>");
  String path = String::FromUtf8(doc.Write("no-class.dae"));
  ComponentFactory opaque = []() -> IUnknown* { return new Opaque; };
  for (ComponentFactory factory : {ComponentFactory(nullptr), opaque}) {
    ComponentFactory real = RegisterComponent(CLSID_MultipatchGeometry, factory);
    IGeometry* geometry = reinterpret_cast<IGeometry*>(&factory);
    Varnel().CreateGeometryFromFile(path, &geometry);
    RegisterComponent(CLSID_MultipatchGeometry, real);
    EXPECT_EQ(geometry, nullptr);  // and the buffer was released (the leak check sees it)
  }
  IGeometry* geometry = nullptr;
  Varnel().CreateGeometryFromFile(path, &geometry);
  ASSERT_NE(geometry, nullptr);
  geometry->Release();
}

TEST(Pipeline, DownloadedDocumentAndTextureLeaveNoTemporaryFiles) {
  std::string text = TexturedDoc("unused-folder", false).Text();
  std::string tga = Tga();
  testsupport::LocalHttpServer server([&](const std::string& path) {
    if (path == "/models/doc.dae") return testsupport::LocalHttpServer::Reply(200, text);
    if (path == "/models/tex.tga") return testsupport::LocalHttpServer::Reply(200, tga);
    return testsupport::LocalHttpServer::Reply(404, "");
  });
  ASSERT_NE(server.Port(), 0);
  std::string url = server.Url("/models/doc.dae");
  std::filesystem::path temp = TavuOSDir::GetTempPathW().ToUtf8();
  auto leftovers = [&temp] {
    std::error_code ec;
    int files = 0;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(temp, ec))
      files += entry.is_regular_file();
    return files;
  };

  RecordingSink sink;
  Varnel().CreateDisplayListFromFile(String::FromUtf8(url), &sink);
  const Output& display = sink.output;
  ASSERT_EQ(display.materials.size(), 3u);
  EXPECT_EQ(display.materials[1].firstPixel, (std::vector<int>{10, 20, 30}));
  EXPECT_EQ(leftovers(), 0);

  int32_t size = 0;
  unsigned char* buffer = nullptr;
  Varnel().CreateDataBufferFromFile(String::FromUtf8(url), size, buffer);
  EXPECT_GT(size, 0);
  ::operator delete(buffer);
  EXPECT_EQ(leftovers(), 0);

  text.erase(text.find("<scene>"));  // nothing produced: the downloads still go
  text += "</COLLADA>";
  IGeometry* geometry = nullptr;
  Varnel().CreateGeometryFromFile(String::FromUtf8(url), &geometry);
  EXPECT_EQ(geometry, nullptr);
  EXPECT_EQ(leftovers(), 0);
}

}  // namespace
}  // namespace pipelinetest
