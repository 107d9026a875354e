// The entry points end to end on small documents, each expectation worked out by hand and
// checked against the geometry and the display list alike.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <string>

#include "host/Downloader.h"
#include "support/Documents.h"
#include "support/Outputs.h"

namespace pipelinetest {
namespace {

using namespace testdoc;

const std::string kPlaced = Node("", "<instance_geometry url=\"#g\"/>");

// Floats a display-list record takes, part by part.
std::vector<int> Strides(const Output& display) {
  std::vector<int> strides;
  for (const Part& part : display.parts) strides.push_back(part.stride);
  return strides;
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
  doc.scene = kPlaced + Node("<scale>2 1 1</scale>", "<instance_geometry url=\"#g\"/>") +
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
  // The controller's binding, gone once that controller was left.
  EXPECT_EQ((std::vector<long>{g[0].material, g[1].material, g[2].material, g[3].material}),
            (std::vector<long>{0, 0, 1, 0}));
  // The display list always hands over unit normals, six floats a record.
  EXPECT_EQ(Strides(out.display), (std::vector<int>{6, 6, 6, 6}));
  ExpectNear(out.display.parts[0].normals, {{r2, r2, 0}, {r2, r2, 0}, {r2, r2, 0}}, 1e-6, "dl");
  ExpectNear(out.display.parts[1].normals, g[1].normals, 1e-6, "dl scaled");

  // One primitive without normals takes them from every part of the document.
  doc.geometries += Mesh("plain", kTriangle);
  doc.scene += Node("", "<instance_geometry url=\"#plain\"/>");
  out = RunBoth(doc.Write("some-normals.dae"));
  ASSERT_EQ(Strides(out.display), (std::vector<int>{3, 3, 3, 3, 3}));
  for (const Part& part : out.geometry.parts) EXPECT_TRUE(part.normals.empty());
}

// Effects in table order: plain, unused, tx, tx2 (tx and tx2 share one image). The mesh uses
// tx, plain, tx2, each primitive with texture coordinates and normals.
Doc TexturedDoc(const std::string& folder) {
  testsupport::WriteFile(folder + "/tex.tga", Tga());
  Doc doc;
  doc.images = "<image id=\"img\"><init_from>tex.tga</init_from></image>";
  doc.effects = Effect("plain", "0.5 0.25 1.5", "", "0.9") + Effect("unused", "0 1 0") +
                Effect("tx", "", "img") + Effect("tx2", "", "img", "0.5", true);
  doc.materials = Material("plain-m", "plain") + Material("unused-m", "unused") +
                  Material("tx-m", "tx") + Material("tx2-m", "tx2");
  const std::string inputs = "<input semantic=\"TEXCOORD\" source=\"#g-t\" offset=\"1\"/>"
                             "<input semantic=\"NORMAL\" source=\"#g-n\" offset=\"2\"/>";
  const std::string p = "0 0 0 1 1 0 2 2 0";
  const std::string sources = Source("g-t", "0.25 0.75 1 0 0 1", 3, 2) + Source("g-n", "0 0 1", 1, 3);
  doc.geometries = Mesh("g", Primitive("triangles", 1, "tx-m", p, inputs) +
                                 Primitive("triangles", 1, "plain-m", p, inputs) +
                                 Primitive("triangles", 1, "tx2-m", p, inputs),
                        sources);
  doc.scene = kPlaced;
  return doc;
}

// The buffer handed out is the one the geometry imports, without the extent.
TEST(Pipeline, DataBufferImportsAsTheGeometry) {
  std::vector<std::string> files = {TexturedDoc("buffer").Write("buffer/doc.dae")};
  // The duck as triangles and as polygons (rings through the buffer too).
  for (const char* name : {"/assimp/duck.dae", "/pycollada/duck_polylist.dae"})
    if (std::filesystem::exists(testsupport::CorpusDir() + name))
      files.push_back(testsupport::CorpusDir() + name);
  for (const std::string& file : files) {
    SCOPED_TRACE(file);
    std::string buffer = DataBuffer(file);
    ASSERT_FALSE(buffer.empty());
    IGeometry* imported = ImportBuffer(int32_t(buffer.size()), reinterpret_cast<unsigned char*>(buffer.data()));
    ASSERT_NE(imported, nullptr);
    Output fromBuffer = ReadGeometry(imported);
    EXPECT_EQ(imported->GetBufferSize(), int32_t(buffer.size()));
    imported->Release();
    Outputs direct = RunBoth(file);

    ExpectSameParts(fromBuffer, direct.geometry, true);
    // Display-list records hold s, t before the normal, the normal before the position.
    if (file == files[0]) {
      EXPECT_EQ(Strides(direct.display), (std::vector<int>{8, 6, 8}));
    }
    ExpectSameParts(direct.display, direct.geometry, false);
    ExpectSameMaterials(fromBuffer, direct.geometry);
    ExpectSameMaterials(direct.display, direct.geometry);
    EXPECT_EQ(fromBuffer.extent, (std::array<double, 6>{}));
    EXPECT_EQ(direct.display.extent, direct.geometry.extent);
    EXPECT_LT(direct.geometry.extent[0], direct.geometry.extent[3]);
  }
}

TEST(Pipeline, NothingProducedLeavesEveryOutputAlone) {
  Doc shortPolygons, lines, noScene;
  // Only two-vertex polygons: nothing is counted, so not even the materials are handed over.
  shortPolygons.geometries = Mesh("g", Primitive("polylist", 2, "m", "0 1 1 2", "", "2 2"));
  lines.geometries = Mesh("g", Primitive("lines", 1, "m", "0 1"));
  noScene.geometries = Mesh("g", kTriangle);
  shortPolygons.scene = lines.scene = noScene.scene = kPlaced;
  noScene.hasScene = false;
  for (const std::string& path :
       {shortPolygons.Write("short-polygons.dae"), lines.Write("lines-only.dae"),
        noScene.Write("no-scene.dae"), testsupport::ScratchDir() + "/missing.dae"}) {
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
  // Without a place for the result there is nothing to do.
  Varnel().CreateGeometryFromFile(String::FromUtf8(noScene.Write("null.dae")), nullptr);
  Varnel().CreateDisplayListFromFile(String::FromUtf8(noScene.Write("null.dae")), nullptr);
}

TEST(Pipeline, NoGeometryWithoutTheHostGeometryClass) {
  Doc doc;
  doc.geometries = Mesh("g", kTriangle);
  doc.scene = kPlaced;
  String path = String::FromUtf8(doc.Write("no-class.dae"));
  // No class at all, and one that is not a geometry.
  for (ComponentFactory factory : {ComponentFactory(nullptr), CreateDownloaderComponent}) {
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

}  // namespace
}  // namespace pipelinetest
