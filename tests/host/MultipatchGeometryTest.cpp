#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <vector>

#include "host/Geometry.h"
#include "host/MaterialProperties.h"
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
  EXPECT_GT(size, 0);
  writer.SetPartType(0, 6);
  writer.SetMaterialType(0, 1);
  writer.SetPointIndex(0, 0);
  writer.SetTexturePointIndex(0, 0);
  writer.SetPartType(1, 2);
  writer.SetMaterialType(1, 0);
  writer.SetPointIndex(1, 3);
  writer.SetTexturePointIndex(1, 3);
  for (int i = 0; i < 8; ++i) {
    writer.SetPoint(i, i, 2.0 * i, -1.0 * i);
    writer.SetNormal(i, 0, 1, i);
    writer.SetTexturePoint(i, 0.125 * i, 1 - 0.125 * i);
  }
  writer.SetXYExtents(0, 0, 7, 14);
  writer.SetZExtents(-7, 0);
  Bytes bytes(raw, raw + size);
  ::operator delete(raw);
  return bytes;
}

// One geometry component with all three interfaces, released at the end of the test.
struct Component {
  IGeometry* geometry = nullptr;
  IShapeImport* import = nullptr;
  IGeometryState* state = nullptr;

  Component() {
    void* unknown = nullptr;
    EXPECT_EQ(HalvexCreateInstance(CLSID_MultipatchGeometry, nullptr, CLSCTX_ALL, IID_IUnknown,
                                   &unknown),
              S_OK);
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
  // Through the virtual slot callers bind to, not the method name.
  HRESULT ImportBySlot(int32_t flags, Bytes& bytes, int32_t size, int32_t* read) {
    using Slot = HRESULT (*)(IShapeImport*, int32_t, int32_t, unsigned char*, int32_t*);
    void** table = *reinterpret_cast<void***>(import);
    return reinterpret_cast<Slot>(table[16])(import, flags, size, bytes.data(), read);
  }
  HRESULT Import(const Bytes& bytes, int32_t flags = kShapeImportExtended) {
    Bytes copy = bytes;
    int32_t read = -1;
    HRESULT result = import->ImportFromShapeBuffer(flags, int32_t(copy.size()), copy.data(), &read);
    EXPECT_EQ(read, result == S_OK ? read : 0);
    return result;
  }
};

void ExpectEmpty(IGeometry* g) {
  EXPECT_TRUE(g->IsEmpty());
  EXPECT_EQ(g->GetPartCount(), 0);
  EXPECT_EQ(g->GetPointCount(), 0);
  EXPECT_FALSE(g->HasNormals());
  EXPECT_EQ(g->GetTexturePointCount(), 0);
  EXPECT_EQ(g->GetMaterialCount(), 0);
  EXPECT_EQ(g->GetBufferSize(), 0);
  WKSPointZ p;
  EXPECT_FALSE(g->GetPoint(0, &p));
}

TEST(MultipatchGeometryTest, ImportedBufferReadsBackThroughEveryAccessor) {
  Bytes buffer = SampleBuffer();
  Component c;
  ExpectEmpty(c.geometry);
  int32_t read = 0;
  ASSERT_EQ(c.ImportBySlot(kShapeImportExtended, buffer, int32_t(buffer.size()), &read), S_OK);
  EXPECT_EQ(read, int32_t(buffer.size()));
  IGeometry* g = c.geometry;
  EXPECT_FALSE(g->IsEmpty());
  EXPECT_EQ(g->GetBufferSize(), int32_t(buffer.size()));

  ASSERT_EQ(g->GetPartCount(), 2);
  EXPECT_EQ(g->GetPartType(0), kPatchTriangles);
  EXPECT_EQ(g->GetPartType(1), kPatchOuterRing);
  EXPECT_EQ(g->GetPartFirstPoint(1), 3);
  EXPECT_EQ(g->GetPartPointCount(0), 3);
  EXPECT_EQ(g->GetPartPointCount(1), 5);
  EXPECT_EQ(g->GetPartMaterial(0), 1);
  EXPECT_EQ(g->GetPartMaterial(1), 0);
  EXPECT_EQ(g->GetPartFirstTexturePoint(1), 3);
  EXPECT_EQ(g->GetPartType(2), -1);
  EXPECT_EQ(g->GetPartPointCount(-1), 0);

  ASSERT_EQ(g->GetPointCount(), 8);
  WKSPointZ points[10];
  EXPECT_EQ(g->QueryPoints(6, 10, points), 2);
  EXPECT_EQ(points[1].X, 7);
  EXPECT_EQ(points[1].Y, 14);
  EXPECT_EQ(points[1].Z, -7);
  ASSERT_TRUE(g->HasNormals());
  WKSPointZ normal;
  EXPECT_TRUE(g->GetNormal(5, &normal));
  EXPECT_EQ(normal.Z, 5);
  EXPECT_FALSE(g->GetNormal(8, &normal));

  EXPECT_EQ(g->GetTextureDimension(), 2);
  ASSERT_EQ(g->GetTexturePointCount(), 8);
  double s = 0, t = 0;
  EXPECT_TRUE(g->GetTexturePoint(2, &s, &t));
  EXPECT_EQ(s, 0.25);
  EXPECT_EQ(t, 0.75);

  ASSERT_EQ(g->GetMaterialCount(), 2);
  GeometryMaterial m;
  ASSERT_TRUE(g->GetMaterial(0, &m));
  EXPECT_TRUE(m.hasColor);
  EXPECT_EQ(m.color[0], 200);
  EXPECT_TRUE(m.hasTransparency);
  EXPECT_EQ(m.transparency, 9);
  EXPECT_TRUE(m.cullBackFaces);
  EXPECT_FALSE(m.hasEdgeDisplay);
  EXPECT_FALSE(m.hasSharedTexture);
  EXPECT_EQ(m.textureWidth, 2);
  EXPECT_EQ(m.textureChannels, 4);
  ASSERT_NE(m.texturePixels, nullptr);
  EXPECT_EQ(m.texturePixels[15], 240);
  ASSERT_TRUE(g->GetMaterial(1, &m));
  EXPECT_TRUE(m.hasEdgeDisplay && m.edgeDisplay && m.hasEdgeWidth && m.hasEdgeColor);
  EXPECT_EQ(m.edgeWidth, 1);
  EXPECT_TRUE(m.hasSharedTexture);
  EXPECT_EQ(m.sharedTexture, 0);
  EXPECT_EQ(m.texturePixels, nullptr);
  EXPECT_FALSE(m.cullBackFaces);
  EXPECT_FALSE(g->GetMaterial(2, &m));

  GeometryExtent e = g->GetExtent();
  EXPECT_EQ(e.xMax, 7);
  EXPECT_EQ(e.yMax, 14);
  EXPECT_EQ(e.zMin, -7);
  EXPECT_EQ(e.zMax, 0);

  // The shapefile record content comes back byte for byte.
  int32_t recordSize = 0;
  EXPECT_EQ(c.import->GetShapeRecordSize(&recordSize), S_OK);
  EXPECT_EQ(recordSize, 60 + 8 * 2 + 24 * 8);
  Bytes record(static_cast<size_t>(recordSize));
  int32_t written = 0;
  EXPECT_EQ(c.import->ExportShapeRecord(recordSize - 1, record.data(), &written),
            GEOMETRY_E_SMALLBUFFER);
  EXPECT_EQ(c.import->ExportShapeRecord(recordSize, record.data(), &written), S_OK);
  EXPECT_EQ(written, recordSize);
  EXPECT_TRUE(std::equal(record.begin(), record.end(), buffer.begin()));
}

TEST(MultipatchGeometryTest, KnownSimpleIsSlotFourAndClearedByImport) {
  Component c;
  using Slot = HRESULT (*)(IGeometryState*, VariantBool);
  void** table = *reinterpret_cast<void***>(c.state);
  EXPECT_EQ(reinterpret_cast<Slot>(table[4])(c.state, VARIANT_TRUE), S_OK);
  VariantBool simple = VARIANT_FALSE;
  EXPECT_EQ(c.state->GetKnownSimple(&simple), S_OK);
  EXPECT_EQ(simple, VARIANT_TRUE);
  EXPECT_EQ(c.Import(SampleBuffer()), S_OK);
  c.state->GetKnownSimple(&simple);
  EXPECT_EQ(simple, VARIANT_FALSE);
  constexpr Guid IID_Unknown = {0x3E9A7CFF, 0x5B2D, 0x4F61, {0, 0, 0, 0, 0, 0, 0, 0}};
  void* other = reinterpret_cast<void*>(1);
  EXPECT_EQ(c.geometry->QueryInterface(IID_Unknown, &other), E_NOINTERFACE);
  EXPECT_EQ(other, nullptr);
}

TEST(MultipatchGeometryTest, RecordWithoutExtensionImportsAlone) {
  Bytes buffer = SampleBuffer();
  Component c;
  int32_t read = 0;
  ASSERT_EQ(c.ImportBySlot(0, buffer, int32_t(buffer.size()), &read), S_OK);
  EXPECT_EQ(read, 60 + 8 * 2 + 24 * 8);
  EXPECT_EQ(c.geometry->GetPointCount(), 8);
  EXPECT_FALSE(c.geometry->HasNormals());
  EXPECT_EQ(c.geometry->GetMaterialCount(), 0);
  EXPECT_EQ(c.geometry->GetPartMaterial(0), -1);
  // The extension is required when the flag says so.
  buffer.resize(size_t(read));
  EXPECT_EQ(c.ImportBySlot(kShapeImportExtended, buffer, read, &read), GEOMETRY_E_BADBUFFER);
}

TEST(MultipatchGeometryTest, EveryTruncationIsRefusedAndEmptiesTheGeometry) {
  Bytes buffer = SampleBuffer();
  Component c;
  for (size_t length = 0; length < buffer.size(); ++length) {
    ASSERT_EQ(c.Import(buffer), S_OK);
    Bytes prefix(buffer.begin(), buffer.begin() + long(length));
    EXPECT_EQ(c.Import(prefix), GEOMETRY_E_BADBUFFER) << length;
    ExpectEmpty(c.geometry);
  }
  int32_t read = 7;
  EXPECT_EQ(c.import->ImportFromShapeBuffer(1, 100, nullptr, &read), GEOMETRY_E_BADBUFFER);
  EXPECT_EQ(read, 0);
  EXPECT_EQ(c.import->ImportFromShapeBuffer(1, -5, buffer.data(), nullptr), GEOMETRY_E_BADBUFFER);
}

void Put(Bytes& bytes, size_t at, int32_t value) { std::memcpy(bytes.data() + at, &value, 4); }

TEST(MultipatchGeometryTest, InconsistentFieldsAreRefused) {
  const Bytes good = SampleBuffer();
  const size_t ext = 60 + 16 + 24 * 8;                  // 268
  const size_t partMaterials = ext + 32 + 192 + 128;    // after normals and texture points
  const size_t record0 = partMaterials + 16;
  struct Case {
    const char* what;
    size_t at;
    int32_t value;
  } cases[] = {
      {"shape type", 0, 15},
      {"part count up", 36, 3},
      {"part count negative", 36, -1},
      {"part count huge", 36, INT_MAX},
      {"point count up", 40, 9},
      {"point count down", 40, 7},
      {"point count huge", 40, INT_MAX},
      {"first part start", 44, 1},
      {"part start past the points", 48, 9},
      {"part start decreasing", 44 + 4, -1},
      {"part type", 52, 7},
      {"part type negative", 56, -1},
      {"magic", ext, 0},
      {"version", ext + 4, 2},
      {"extension size", ext + 8, int32_t(good.size() - ext + 1)},
      {"extension size short", ext + 8, int32_t(good.size() - ext - 1)},
      {"extension flags", ext + 12, 3},
      {"normals dropped", ext + 12, 0},
      {"texture dimension", ext + 16, 3},
      {"texture points", ext + 20, 9},
      {"texture points negative", ext + 20, -1},
      {"material count", ext + 24, 3},
      {"material count huge", ext + 24, INT_MAX},
      {"part material", partMaterials, 2},
      {"part material negative", partMaterials + 4, -2},
      {"first texture point", partMaterials + 8, 9},
      {"record size", record0, 56},
      {"record flags", record0 + 4, 1 << 12},
      {"texture dropped", record0 + 4, 1},
      {"texture width", record0 + 44, 3},
      {"texture width huge", record0 + 44, INT_MAX},
      {"texture height huge", record0 + 48, INT_MAX},
      {"texture channels", record0 + 52, 5},
  };
  Component c;
  for (const Case& k : cases) {
    Bytes bad = good;
    Put(bad, k.at, k.value);
    EXPECT_EQ(c.Import(bad), GEOMETRY_E_BADBUFFER) << k.what;
    ExpectEmpty(c.geometry);
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
