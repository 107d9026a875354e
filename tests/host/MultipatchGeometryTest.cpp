#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <vector>

#include <varnel/Geometry.h>
#include <varnel/MaterialProperties.h>
#include "host/MultiPatchBuffMgr.h"

namespace varnel {
namespace {

using Bytes = std::vector<unsigned char>;

// Two parts: a triangle list of 3 points and a closed ring of 5, with normals, 8 texture points,
// a textured material and one that shares its texture and draws edges.
Bytes SampleBuffer() {
  MaterialProperties materials[2];
  materials[0].SetColor(200, 100, 50);
  materials[0].SetTransparency(9);
  materials[0].SetCullBackFaces(true);
  auto* pixels = static_cast<unsigned char*>(::operator new(2 * 2 * 4));
  for (int i = 0; i < 16; ++i) pixels[i] = static_cast<unsigned char>(i * 16);
  materials[0].SetTextureMap(2, 2, 4, pixels);
  materials[1].SetColor(1, 2, 3);
  materials[1].SetEdgeDisplay(true);
  materials[1].SetEdgeWidth(1);
  materials[1].SetEdgeColor(0, 0, 0);
  materials[1].SetSharedTexture(0);

  MultiPatchBuffMgr writer;
  unsigned char* raw = nullptr;
  int size = writer.Init(2, 8, false, false, true, 2, 8, 2, materials, raw);
  for (int part : {0, 1}) {
    writer.SetPartType(part, part ? 2 : 6);
    writer.SetMaterialType(part, 1 - part);
    writer.SetPointIndex(part, 3 * part);
    writer.SetTexturePointIndex(part, 3 * part);
  }
  for (int i = 0; i < 8; ++i) {
    writer.SetPoint(i, i, 2.0 * i, -1.0 * i);
    writer.SetNormal(i, 0, 1, i);
    writer.SetTexturePoint(i, 0.125 * i, 1 - 0.125 * i);
  }
  writer.SetXYExtents(0, 0, 7, 14);
  writer.SetZExtents(-7, 0);
  Bytes bytes(raw, raw + (size > 0 ? size : 0));
  ::operator delete(raw);
  return bytes;
}

constexpr int32_t kRecordSize = 60 + 8 * 2 + 24 * 8;  // the shapefile part before the extension

// One geometry component with all three interfaces, released at the end of the test.
struct Component {
  IGeometry* geometry = nullptr;
  IShapeImport* import = nullptr;
  IGeometryState* state = nullptr;

  Component() {
    void* unknown = nullptr;
    EXPECT_EQ(HalvexCreateInstance(CLSID_MultipatchGeometry, nullptr, CLSCTX_ALL, IID_IUnknown, &unknown), S_OK);
    auto* object = static_cast<IUnknown*>(unknown);
    object->QueryInterface(IID_IGeometry, reinterpret_cast<void**>(&geometry));
    object->QueryInterface(IID_IShapeImport, reinterpret_cast<void**>(&import));
    object->QueryInterface(IID_IGeometryState, reinterpret_cast<void**>(&state));
    object->Release();
  }
  ~Component() {
    geometry->Release();
    import->Release();
    state->Release();
  }
  // Through the virtual slot callers bind to, not the method name; a refusal reads nothing.
  HRESULT Import(Bytes bytes, int32_t flags = kShapeImportExtended, int32_t* read = nullptr) {
    using Slot = HRESULT (*)(IShapeImport*, int32_t, int32_t, unsigned char*, int32_t*);
    int32_t got = -1;
    void** table = *reinterpret_cast<void***>(import);
    HRESULT result = reinterpret_cast<Slot>(table[16])(import, flags, int32_t(bytes.size()), bytes.data(), &got);
    if (result != S_OK) {
      EXPECT_EQ(got, 0);
    }
    if (read) *read = got;
    return result;
  }
  void ExpectEmpty() {
    WKSPointZ p;
    EXPECT_TRUE(geometry->IsEmpty() && !geometry->GetPoint(0, &p) && !geometry->HasNormals());
    IGeometry* g = geometry;
    EXPECT_EQ((std::vector<int32_t>{g->GetPartCount(), g->GetPointCount(), g->GetTexturePointCount(),
                                    g->GetMaterialCount(), g->GetBufferSize()}),
              std::vector<int32_t>(5, 0));
  }
};

TEST(MultipatchGeometryTest, ImportAnswersRangesEdgesAndTheRecord) {
  const Bytes buffer = SampleBuffer();
  Component c;
  c.ExpectEmpty();
  using Slot = HRESULT (*)(IGeometryState*, VariantBool);
  EXPECT_EQ(reinterpret_cast<Slot>((*reinterpret_cast<void***>(c.state))[4])(c.state, VARIANT_TRUE), S_OK);
  int32_t read = 0;
  ASSERT_EQ(c.Import(buffer, kShapeImportExtended, &read), S_OK);
  EXPECT_EQ(read, int32_t(buffer.size()));
  VariantBool simple = VARIANT_TRUE;
  EXPECT_EQ(c.state->GetKnownSimple(&simple), S_OK);
  EXPECT_EQ(simple, VARIANT_FALSE);  // an import clears it
  // Parts, points, normals, texture points and colours are read back by the pipeline tests; here
  // what they do not reach: ranges, clamped queries, edge settings and the record export.
  IGeometry* g = c.geometry;
  EXPECT_EQ(g->GetBufferSize(), int32_t(buffer.size()));
  EXPECT_EQ(g->GetPartType(2), -1);
  EXPECT_EQ(g->GetPartPointCount(-1), 0);
  WKSPointZ points[10];
  EXPECT_EQ(g->QueryPoints(6, 10, points), 2);
  EXPECT_TRUE(points[1].X == 7 && points[1].Y == 14 && points[1].Z == -7);
  EXPECT_FALSE(g->GetNormal(8, &points[0]));
  double s = 0, t = 0;  // the pipeline's texture points read the same either way round
  EXPECT_TRUE(g->GetTexturePoint(2, &s, &t) && s == 0.25 && t == 0.75);
  GeometryMaterial m;
  EXPECT_FALSE(g->GetMaterial(2, &m));
  ASSERT_TRUE(g->GetMaterial(1, &m));
  EXPECT_TRUE(m.hasEdgeDisplay && m.edgeDisplay && m.hasEdgeWidth && m.edgeWidth == 1 && m.hasEdgeColor);

  // The shapefile record content comes back byte for byte.
  int32_t recordSize = 0, written = 0;
  EXPECT_EQ(c.import->GetShapeRecordSize(&recordSize), S_OK);
  ASSERT_EQ(recordSize, kRecordSize);
  Bytes record(static_cast<size_t>(kRecordSize));
  EXPECT_EQ(c.import->ExportShapeRecord(kRecordSize - 1, record.data(), &written), GEOMETRY_E_SMALLBUFFER);
  EXPECT_EQ(c.import->ExportShapeRecord(kRecordSize, record.data(), &written), S_OK);
  EXPECT_EQ(written, kRecordSize);
  EXPECT_TRUE(std::equal(record.begin(), record.end(), buffer.begin()));

  constexpr Guid IID_Unknown = {0x3E9A7CFF, 0x5B2D, 0x4F61, {0, 0, 0, 0, 0, 0, 0, 0}};
  void* other = reinterpret_cast<void*>(1);
  EXPECT_EQ(g->QueryInterface(IID_Unknown, &other), E_NOINTERFACE);
  EXPECT_EQ(other, nullptr);
}

TEST(MultipatchGeometryTest, RecordWithoutExtensionImportsAloneUnlessTheFlagAsksForIt) {
  Bytes buffer = SampleBuffer();
  Component c;
  int32_t read = 0;
  ASSERT_EQ(c.Import(buffer, 0, &read), S_OK);
  EXPECT_EQ(read, kRecordSize);
  EXPECT_EQ(c.geometry->GetPointCount(), 8);
  EXPECT_FALSE(c.geometry->HasNormals());
  EXPECT_EQ(c.geometry->GetMaterialCount(), 0);
  EXPECT_EQ(c.geometry->GetPartMaterial(0), -1);
  buffer.resize(size_t(kRecordSize));
  EXPECT_EQ(c.Import(buffer), GEOMETRY_E_BADBUFFER);
}

void Put(Bytes& bytes, size_t at, int32_t value) { std::memcpy(bytes.data() + at, &value, 4); }

// Every refusal also empties the geometry of what an earlier import left.
TEST(MultipatchGeometryTest, TruncatedOrInconsistentBuffersAreRefused) {
  const Bytes good = SampleBuffer();
  Component c;
  for (size_t length = 0; length < good.size(); ++length) {
    ASSERT_EQ(c.Import(good), S_OK);
    EXPECT_EQ(c.Import(Bytes(good.begin(), good.begin() + long(length))), GEOMETRY_E_BADBUFFER) << length;
    c.ExpectEmpty();
  }
  int32_t read = 7;
  EXPECT_EQ(c.import->ImportFromShapeBuffer(1, 100, nullptr, &read), GEOMETRY_E_BADBUFFER);
  EXPECT_EQ(read, 0);
  EXPECT_EQ(c.import->ImportFromShapeBuffer(1, -5, Bytes(good).data(), nullptr), GEOMETRY_E_BADBUFFER);

  const size_t ext = 60 + 16 + 24 * 8;                // 268
  const size_t partMaterials = ext + 32 + 192 + 128;  // after normals and texture points
  const size_t record0 = partMaterials + 16;
  const int32_t extSize = int32_t(good.size() - ext);
  const struct {
    size_t at;
    int32_t value;
  } cases[] = {
      {0, 15},                                                           // shape type
      {36, 3}, {36, -1}, {36, INT_MAX},                                  // part count
      {40, 9}, {40, 7}, {40, INT_MAX},                                   // point count
      {44, 1}, {48, 9}, {48, -1},                                        // part starts
      {52, 7}, {56, -1},                                                 // part types
      {ext, 0}, {ext + 4, 2}, {ext + 8, extSize + 1}, {ext + 8, extSize - 1},  // magic, version, size
      {ext + 12, 3}, {ext + 12, 0},                                      // flags; normals dropped
      {ext + 16, 3}, {ext + 20, 9}, {ext + 20, -1},                      // texture dimension, points
      {ext + 24, 3}, {ext + 24, INT_MAX},                                // material count
      {partMaterials, 2}, {partMaterials + 4, -2}, {partMaterials + 8, 9},  // part material, texture
      {record0, 56}, {record0 + 4, 1 << 12}, {record0 + 4, 1},          // record size; flags
      {record0 + 44, 3}, {record0 + 44, INT_MAX}, {record0 + 48, INT_MAX}, {record0 + 52, 5},  // texture
  };
  for (const auto& k : cases) {
    Bytes bad = good;
    Put(bad, k.at, k.value);
    EXPECT_EQ(c.Import(bad), GEOMETRY_E_BADBUFFER) << "offset " << k.at << " value " << k.value;
    c.ExpectEmpty();
  }
}

volatile unsigned char sink;

TEST(MultipatchGeometryTest, FlippedBytesNeverLeadOutOfBounds) {
  const Bytes good = SampleBuffer();
  Component c;
  for (size_t at = 0; at < good.size(); ++at) {
    for (unsigned char mask : {0x01, 0x80, 0xFF}) {
      Bytes bad = good;
      bad[at] ^= mask;
      if (c.Import(bad) != S_OK) continue;
      // Accepted (a coordinate or colour changed): every accessor stays within the buffer.
      IGeometry* g = c.geometry;
      WKSPointZ p;
      double s, t;
      GeometryMaterial m;
      for (int32_t i = 0; i < g->GetPartCount(); ++i)
        EXPECT_LE(g->GetPartFirstPoint(i) + g->GetPartPointCount(i), g->GetPointCount());
      for (int32_t i = 0; i < g->GetPointCount(); ++i) g->GetPoint(i, &p), g->GetNormal(i, &p);
      for (int32_t i = 0; i < g->GetTexturePointCount(); ++i) g->GetTexturePoint(i, &s, &t);
      for (int32_t i = 0; i < g->GetMaterialCount(); ++i) {
        ASSERT_TRUE(g->GetMaterial(i, &m));
        size_t pixels = size_t(m.textureWidth) * size_t(m.textureHeight) * size_t(m.textureChannels);
        for (size_t k = 0; m.texturePixels && k < pixels; ++k) sink = m.texturePixels[k];
      }
    }
  }
}

}  // namespace
}  // namespace varnel
