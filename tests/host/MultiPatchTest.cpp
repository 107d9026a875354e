#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <memory>

#include "host/MaterialProperties.h"
#include "host/MultiPatchBuffMgr.h"

namespace varnel {
namespace {

struct BufferDeleter {
  void operator()(unsigned char* p) const { ::operator delete(p); }
};
using Buffer = std::unique_ptr<unsigned char, BufferDeleter>;

int32_t I32(const unsigned char* at) {
  int32_t v;
  std::memcpy(&v, at, 4);
  return v;
}
double F64(const unsigned char* at) {
  double v;
  std::memcpy(&v, at, 8);
  return v;
}

TEST(MultiPatchTest, PrefixIsAShapefileMultiPatchRecord) {
  MultiPatchBuffMgr writer;
  unsigned char* raw = nullptr;
  int size = writer.Init(2, 7, false, false, false, 0, 0, 0, nullptr, raw);
  Buffer buffer(raw);
  ASSERT_NE(raw, nullptr);
  // 44 + 4*2 + 4*2 + 16*7 + 16 + 8*7 = 244 bytes of record, then the 32-byte extension header
  // and two per-part ints twice.
  EXPECT_EQ(size, 244 + 32 + 16);

  writer.SetPartType(0, 6);
  writer.SetPointIndex(0, 0);
  writer.SetPartType(1, 2);
  writer.SetPointIndex(1, 3);
  for (int i = 0; i < 7; ++i) writer.SetPoint(i, i + 0.5, -i, 10.0 * i);
  writer.SetXYExtents(0.5, -6, 6.5, 0);
  writer.SetZExtents(0, 60);

  EXPECT_EQ(I32(raw), 31);
  EXPECT_EQ(F64(raw + 4), 0.5);
  EXPECT_EQ(F64(raw + 12), -6);
  EXPECT_EQ(F64(raw + 20), 6.5);
  EXPECT_EQ(F64(raw + 28), 0);
  EXPECT_EQ(I32(raw + 36), 2);
  EXPECT_EQ(I32(raw + 40), 7);
  EXPECT_EQ(I32(raw + 44), 0);
  EXPECT_EQ(I32(raw + 48), 3);
  EXPECT_EQ(I32(raw + 52), 6);
  EXPECT_EQ(I32(raw + 56), 2);
  for (int i = 0; i < 7; ++i) {
    EXPECT_EQ(F64(raw + 60 + 16 * i), i + 0.5);
    EXPECT_EQ(F64(raw + 68 + 16 * i), -i);
    EXPECT_EQ(F64(raw + 188 + 8 * i), 10.0 * i);
  }
  EXPECT_EQ(F64(raw + 172), 0);
  EXPECT_EQ(F64(raw + 180), 60);
  EXPECT_EQ(std::memcmp(raw + 244, "VMPX", 4), 0);
  EXPECT_EQ(I32(raw + 248), 1);        // version
  EXPECT_EQ(I32(raw + 252), 32 + 16);  // extension bytes
  EXPECT_EQ(I32(raw + 276), -1);       // part 0 has no material until one is set
}

TEST(MultiPatchTest, BadCountsAllocateNothing) {
  MaterialProperties material;
  auto refuse = [](int parts, int points, int dimension, int texturePoints, int materialCount,
                   MaterialProperties* materials) {
    MultiPatchBuffMgr writer;
    unsigned char* raw = nullptr;
    int size = writer.Init(parts, points, false, false, true, dimension, texturePoints,
                           materialCount, materials, raw);
    EXPECT_LT(size, 1);
    EXPECT_EQ(raw, nullptr);
    // A writer without buffer ignores every call.
    writer.SetPoint(0, 1, 2, 3);
    writer.SetXYExtents(0, 0, 1, 1);
  };
  refuse(-1, 3, 0, 0, 0, nullptr);
  refuse(1, -3, 0, 0, 0, nullptr);
  refuse(1, 3, 2, -1, 0, nullptr);
  refuse(1, 3, 0, 0, -1, nullptr);
  refuse(1, 3, 3, 3, 0, nullptr);  // only 0 or 2 texture coordinates per point
  refuse(1, 3, 0, 0, 1, nullptr);
  refuse(INT_MAX, 3, 0, 0, 0, nullptr);
  refuse(1, INT_MAX / 16, 0, 0, 0, nullptr);
  refuse(1, 3, 2, INT_MAX / 8, 1, &material);
}

TEST(MultiPatchTest, OutOfRangeIndicesAreIgnored) {
  MultiPatchBuffMgr writer;
  unsigned char* raw = nullptr;
  int size = writer.Init(1, 3, false, false, false, 0, 2, 0, nullptr, raw);
  Buffer buffer(raw);
  ASSERT_GT(size, 0);
  std::unique_ptr<unsigned char[]> before(new unsigned char[size_t(size)]);
  std::memcpy(before.get(), raw, size_t(size));
  for (int index : {-1, 3, INT_MAX, INT_MIN}) {
    writer.SetPoint(index, 1, 1, 1);
    writer.SetNormal(index, 1, 1, 1);  // also: no normals in this buffer
    writer.SetTexturePoint(index, 1, 1);
  }
  for (int part : {-1, 1, INT_MAX}) {
    writer.SetPartType(part, 6);
    writer.SetMaterialType(part, 0);
    writer.SetPointIndex(part, 0);
    writer.SetTexturePointIndex(part, 0);
  }
  writer.SetNormal(0, 1, 1, 1);
  writer.SetTexturePoint(0, 1, 1);  // dimension 0 stores no texture points
  EXPECT_EQ(std::memcmp(before.get(), raw, size_t(size)), 0);
}

}  // namespace
}  // namespace varnel
