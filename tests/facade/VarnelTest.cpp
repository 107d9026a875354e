// The three entry points end to end on small documents.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include <varnel/Varnel.h>
#include <varnel/Geometry.h>
#include <varnel/DaeDisplayList.h>
#include "support/TestSupport.h"

namespace varnel {
namespace {

// One triangle (0,0,0) (1,0,0) (0,1,0), Z up, in a node translated by (10, 0, 0).
const char* kTriangle = R"(<?xml version="1.0"?>
<COLLADA version="1.4.1">
 <asset><unit meter="2"/><up_axis>Z_UP</up_axis></asset>
 <library_effects><effect id="red"><profile_COMMON><technique sid="c"><lambert>
   <diffuse><color>1 0 0 1</color></diffuse></lambert></technique></profile_COMMON></effect>
 </library_effects>
 <library_materials><material id="m"><instance_effect url="#red"/></material></library_materials>
 <library_geometries><geometry id="g"><mesh>
   <source id="p"><float_array id="pa" count="9">0 0 0 1 0 0 0 1 0</float_array>
     <technique_common><accessor source="#pa" count="3" stride="3"/></technique_common></source>
   <vertices id="v"><input semantic="POSITION" source="#p"/></vertices>
   <triangles count="1" material="m"><input semantic="VERTEX" source="#v" offset="0"/>
     <p>0 1 2</p></triangles>
 </mesh></geometry></library_geometries>
 <library_visual_scenes><visual_scene id="s"><node><translate>10 0 0</translate>
   <instance_geometry url="#g"/></node></visual_scene></library_visual_scenes>
 <scene><instance_visual_scene url="#s"/></scene>
</COLLADA>
)";

String Write(const std::string& name, const std::string& text) {
  return String::FromUtf8(testsupport::WriteFile(name, text));
}

struct Recorder : DaeDisplayList {
  std::vector<std::string> calls;
  std::vector<float> lastPart;
  double extent[6] = {};
  ~Recorder() override { delete[] materials; }
  void SetMaterials(long count, MaterialProperties* m) override {
    materials = m;
    calls.push_back("materials " + std::to_string(count));
  }
  void SetCurrentPart(long material, tavuPatchType type) override {
    calls.push_back("part " + std::to_string(material) + " " + std::to_string(type));
  }
  void SetPartData(long n, bool normals, bool textures, float* data) override {
    calls.push_back("data " + std::to_string(n) + std::to_string(normals) + std::to_string(textures));
    lastPart.assign(data, data + 3 * n);
  }
  void SetExtent(double a, double b, double c, double d, double e, double f) override {
    calls.push_back("extent");
    const double v[6] = {a, b, c, d, e, f};
    std::memcpy(extent, v, sizeof v);
  }
  MaterialProperties* materials = nullptr;
};

TEST(Varnel, DisplayListStreamsMaterialsPartsThenExtent) {
  Recorder sink;
  Varnel().CreateDisplayListFromFile(Write("tri.dae", kTriangle), &sink);
  ASSERT_EQ(sink.calls, (std::vector<std::string>{"materials 1", "part 0 6", "data 300", "extent"}));
  EXPECT_EQ(sink.materials[0].color[0], 255);
  // Reversed vertex order, translated by 10 and scaled by the 2 m unit.
  EXPECT_EQ(sink.lastPart, (std::vector<float>{20, 2, 0, 22, 0, 0, 20, 0, 0}));
  EXPECT_EQ(sink.extent[0], 20);
  EXPECT_EQ(sink.extent[4], 2);
}

TEST(Varnel, GeometryCarriesTheExtentTheBufferDoesNot) {
  IGeometry* geometry = reinterpret_cast<IGeometry*>(0x1);  // stale value must be replaced
  Varnel().CreateGeometryFromFile(Write("tri-g.dae", kTriangle), &geometry);
  ASSERT_NE(geometry, nullptr);
  EXPECT_EQ(geometry->GetPartCount(), 1);
  EXPECT_EQ(geometry->GetPointCount(), 3);
  GeometryExtent extent = geometry->GetExtent();
  EXPECT_EQ(extent.xMin, 20);
  EXPECT_EQ(extent.xMax, 22);
  EXPECT_EQ(extent.yMax, 2);

  int32_t size = -5;
  unsigned char* buffer = nullptr;
  Varnel().CreateDataBufferFromFile(Write("tri-b.dae", kTriangle), size, buffer);
  ASSERT_GT(size, 60);
  EXPECT_EQ(size, geometry->GetBufferSize());
  double box[4];
  std::memcpy(box, buffer + 4, sizeof box);
  EXPECT_EQ(box[0], 0.0);  // no extent was written into the handed-out buffer
  EXPECT_EQ(box[2], 0.0);
  ::operator delete(buffer);
  geometry->Release();

  Varnel().CreateGeometryFromFile(Write("tri-g2.dae", kTriangle), nullptr);  // must not crash
}

TEST(Varnel, NoSceneMeansNoOutputAndUntouchedBuffer) {
  std::string text = kTriangle;
  text.erase(text.find(" <scene>"), text.find("</scene>") + 9 - text.find(" <scene>"));
  String path = Write("noscene.dae", text);

  int32_t size = 7;
  unsigned char marker = 0;
  unsigned char* buffer = &marker;
  Varnel().CreateDataBufferFromFile(path, size, buffer);
  EXPECT_EQ(size, 0);
  EXPECT_EQ(buffer, &marker);

  IGeometry* geometry = reinterpret_cast<IGeometry*>(0x1);
  Varnel().CreateGeometryFromFile(path, &geometry);
  EXPECT_EQ(geometry, nullptr);

  Recorder sink;
  Varnel().CreateDisplayListFromFile(path, &sink);
  EXPECT_TRUE(sink.calls.empty());
  Varnel().CreateDisplayListFromFile(path, nullptr);
}

TEST(Varnel, LinesOnlyProduceNothing) {
  std::string text = kTriangle;
  text.replace(text.find("<triangles count=\"1\""), 20, "<lines count=\"1\"    ");
  text.replace(text.find("</triangles>"), 12, "</lines>");
  Recorder sink;
  Varnel().CreateDisplayListFromFile(Write("lines.dae", text), &sink);
  EXPECT_TRUE(sink.calls.empty());
}

// Library nodes that each instance the next one twice: 2^40 paths without any cycle.
TEST(Varnel, ExponentialInstanceNodeFanOutEnds) {
  std::string text = kTriangle;
  std::string nodes = "<library_nodes>";
  for (int i = 0; i < 40; ++i)
    nodes += "<node id=\"n" + std::to_string(i) + "\"><instance_node url=\"#n" +
             std::to_string(i + 1) + "\"/><instance_node url=\"#n" + std::to_string(i + 1) +
             "\"/></node>";
  nodes += "<node id=\"n40\"><instance_geometry url=\"#g\"/></node></library_nodes>";
  text.insert(text.find(" <library_visual_scenes>"), nodes);
  const std::string direct = "<instance_geometry url=\"#g\"/></node></visual_scene>";
  text.replace(text.find(direct), direct.size(), "<instance_node url=\"#n0\"/></node></visual_scene>");
  Recorder sink;
  Varnel().CreateDisplayListFromFile(Write("fanout.dae", text), &sink);
  ASSERT_FALSE(sink.calls.empty());
  EXPECT_EQ(sink.calls.back(), "extent");
}

}  // namespace
}  // namespace varnel
