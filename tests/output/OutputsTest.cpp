// What the two part-producing outputs make of the same document: axes and units, and the
// display list's record layouts.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include <varnel/DataBufferWriter.h>
#include <varnel/MultipatchLayout.h>

#include "support/Documents.h"
#include "support/Outputs.h"

namespace pipelinetest {
namespace {

using namespace testdoc;

TEST(Outputs, AxesAndUnitsMovePointsAndTurnNormals) {
  const struct {
    const char* asset;
    Vec3 point, normal;
    const char* transforms;
  } cases[] = {
      {"", {1, -3, 2}, {0, -1, 0}, ""},  // no asset: Y up, in meters
      {"<asset><unit meter=\"0.5\"/></asset>", {0.5, -1.5, 1}, {0, -1, 0}, ""},  // normals keep their length
      // The node moves the point before the axes turn: (1, 2, 7) becomes (x, -z, y) times 0.5.
      {"<asset><unit meter=\"0.5\"/></asset>", {0.5, -3.5, 1}, {0, -1, 0}, "<translate>0 0 4</translate>"},
      {"<asset><up_axis>Y_UP</up_axis></asset>", {1, -3, 2}, {0, -1, 0}, ""},
      {"<asset><up_axis>y_up</up_axis></asset>", {1, 2, 3}, {0, 0, 1}, ""},
      {"<asset><unit meter=\"0.0254\"/><up_axis>Z_UP</up_axis></asset>", {0.0254, 0.0508, 0.0762}, {0, 0, 1}, ""},
      {"<asset><up_axis>X_UP</up_axis></asset>", {1, 2, 3}, {0, 0, 1}, ""},
      {"<asset><unit meter=\"abc\"/><up_axis>Z_UP</up_axis></asset>", {0, 0, 0}, {0, 0, 1}, ""},
  };
  for (const auto& c : cases) {
    Doc doc = OneInstance(Mesh("g", Primitive("triangles", 1, "m", "0 0 1 0 2 0",
                                              "<input semantic=\"NORMAL\" source=\"#g-n\" offset=\"1\"/>"),
                               Source("g-n", "0 0 1", 1, 3), "1 2 3 1 2 3 1 2 3"),
                          c.transforms);
    doc.asset = c.asset;
    Outputs out = RunAgreeing(doc.Text());
    ASSERT_EQ(out.geometry.parts.size(), 1u) << c.asset;
    ExpectNear(out.geometry.parts[0].points, {c.point, c.point, c.point}, 1e-15, c.asset);
    ExpectNear(out.geometry.parts[0].normals, {c.normal, c.normal, c.normal}, 0, c.asset);
    for (const Output* o : {&out.geometry, &out.display})
      ExpectNear(std::vector<Vec3>{{o->extent[0], o->extent[1], o->extent[2]}, {o->extent[3], o->extent[4], o->extent[5]}},
                 {c.point, c.point}, 1e-15, c.asset);
  }
}

// Display-list records hold s, t first, then the normal, the position last; normals there are
// unit length whatever the document holds. Lines, three floats a point, reach only the display list.
TEST(Outputs, DisplayListRecordLayouts) {
  testsupport::WriteFile("layouts/tex.tga", Tga());
  for (bool normals : {false, true}) {
    std::string inputs = "<input semantic=\"TEXCOORD\" source=\"#g-t\" offset=\"1\"/>", p = "0 0 1 1 2 2";
    if (normals) inputs += "<input semantic=\"NORMAL\" source=\"#g-n\" offset=\"2\"/>", p = "0 0 0 1 1 0 2 2 0";
    Doc doc = OneInstance(Mesh("g", Primitive("triangles", 1, "tx-m", p, inputs) +
                                        Primitive("triangles", 1, "plain-m", p, inputs) +
                                        Primitive("lines", 1, "tx-m", p, inputs),
                               Source("g-t", "0.25 0.75 1 0 0 1", 3, 2) + Source("g-n", "0 0 2", 1, 3)));
    doc.images = "<image id=\"img\"><init_from>tex.tga</init_from></image>";
    doc.effects = Effect("plain", "1 0 0") + Effect("tx", "", "img");
    doc.materials = Material("plain-m", "plain") + Material("tx-m", "tx");
    const std::string path = doc.Write("layouts/doc.dae");
    Outputs out = RunBoth(path);
    ASSERT_EQ(out.display.parts.size(), 3u);
    const Part line = out.display.parts[2];
    EXPECT_TRUE(line.type == -1 && line.material == 1 && line.stride == 3);
    ExpectNear(line.points, {{1, 0, 0}, {0, 0, 0}}, 0, "line, last point first");
    out.display.parts.pop_back();
    ExpectSameParts(out.geometry, out.display, false);
    EXPECT_EQ(out.display.parts[0].stride, normals ? 8 : 5);
    EXPECT_EQ(out.display.parts[1].stride, normals ? 6 : 3);
    ExpectNear(out.display.parts[0].texturePoints, {{0, 0}, {1, 1}, {0.25, 0.25}}, 0, "t flipped");
    if (normals) {
      ExpectNear(out.geometry.parts[1].normals, {{0, 0, 2}, {0, 0, 2}, {0, 0, 2}}, 0, "as read");
      ExpectNear(out.display.parts[1].normals, {{0, 0, 1}, {0, 0, 1}, {0, 0, 1}}, 0, "unit length");
    }
  }
}

// A writer gets the headers first, then every byte once, the whole making the buffer the memory
// entry point gives; sections longer than a window come in several pieces.
TEST(Outputs, BufferPiecesCoverTheBufferOnce) {
  struct Pieces : DataBufferWriter {
    bool Begin(int32_t size) override {
      bytes.assign(size_t(size), '\0');
      times.assign(size_t(size), 0);
      return true;
    }
    void Write(int32_t offset, const unsigned char* data, int32_t size) override {
      offsets.push_back(offset);
      bytes.replace(size_t(offset), size_t(size), reinterpret_cast<const char*>(data), size_t(size));
      for (int32_t i = 0; i < size; ++i) ++times[size_t(offset + i)];
    }
    std::string bytes;
    std::vector<int> times;
    std::vector<int32_t> offsets;
  } pieces;
  std::string p, inputs = "<input semantic=\"TEXCOORD\" source=\"#g-t\" offset=\"1\"/>";
  for (int i = 0; i < 5000; ++i) p += " 0 0 1 1 2 2";
  testsupport::WriteFile("pieces/tex.tga", Tga());
  Doc doc = OneInstance(Mesh("g", Primitive("triangles", 5000, "tx-m", p, inputs) + kTriangle,
                             Source("g-t", "0.25 0.75 1 0 0 1", 3, 2)));
  doc.images = "<image id=\"img\"><init_from>tex.tga</init_from></image>";
  doc.effects = Effect("tx", "", "img");
  doc.materials = Material("tx-m", "tx");
  const std::string path = doc.Write("pieces/doc.dae");
  Varnel().CreateDataBufferFromFile(String::FromUtf8(path), pieces);
  ASSERT_GE(pieces.offsets.size(), 2u);
  EXPECT_EQ(pieces.offsets[0], 0);
  EXPECT_EQ(pieces.bytes.substr(size_t(pieces.offsets[1]), 4), "VMPX");
  EXPECT_EQ(std::count(pieces.times.begin(), pieces.times.end(), 1), std::ssize(pieces.times));
  const auto layout = varnel::multipatch::ComputeLayout(2, 15003);  // two parts
  EXPECT_EQ(std::count_if(pieces.offsets.begin(), pieces.offsets.end(),
                          [&](int32_t at) { return at >= layout.xy && at < layout.zRange; }), 2);
  EXPECT_EQ(pieces.bytes, DataBuffer(path));
}

}  // namespace
}  // namespace pipelinetest
