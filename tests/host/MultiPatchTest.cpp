#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <memory>
#include <vector>

#include <varnel/MaterialProperties.h>
#include "host/MultiPatchBuffMgr.h"

namespace varnel {
namespace {

struct BufferDeleter {
  void operator()(unsigned char* p) const { ::operator delete(p); }
};
using Buffer = std::unique_ptr<unsigned char, BufferDeleter>;

template <class T>
T At(const unsigned char* raw, size_t offset) {
  T v;
  std::memcpy(&v, raw + offset, sizeof v);
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

  // Shape type, box, counts, part starts and types; extension magic, version, size; material -1.
  std::vector<int32_t> ints;
  for (size_t offset : {0, 36, 40, 44, 48, 52, 56, 248, 252, 276}) ints.push_back(At<int32_t>(raw, offset));
  EXPECT_EQ(ints, (std::vector<int32_t>{31, 2, 7, 0, 3, 6, 2, 1, 48, -1}));
  std::vector<double> doubles;
  for (size_t offset : {4, 12, 20, 28, 172, 180}) doubles.push_back(At<double>(raw, offset));
  EXPECT_EQ(doubles, (std::vector<double>{0.5, -6, 6.5, 0, 0, 60}));
  for (int i = 0; i < 7; ++i) {
    EXPECT_EQ(At<double>(raw, 60 + 16 * i), i + 0.5);
    EXPECT_EQ(At<double>(raw, 68 + 16 * i), -i);
    EXPECT_EQ(At<double>(raw, 188 + 8 * i), 10.0 * i);
  }
  EXPECT_EQ(std::memcmp(raw + 244, "VMPX", 4), 0);
}

TEST(MultiPatchTest, BadCountsAllocateNothingAndBadIndicesWriteNothing) {
  MaterialProperties material;
  const struct {
    int parts, points, dimension, texturePoints, materials;
  } refused[] = {
      {-1, 3, 0, 0, 0}, {1, -3, 0, 0, 0}, {1, 3, 2, -1, 0}, {1, 3, 0, 0, -1},
      {1, 3, 3, 3, 0},  // only 0 or 2 texture coordinates per point
      {1, 3, 0, 0, 1},  // a material count without records
      {INT_MAX, 3, 0, 0, 0}, {1, INT_MAX / 16, 0, 0, 0}, {1, 3, 2, INT_MAX / 8, 1},
  };
  for (const auto& k : refused) {
    MultiPatchBuffMgr writer;
    unsigned char* raw = nullptr;
    EXPECT_LT(writer.Init(k.parts, k.points, false, false, true, k.dimension, k.texturePoints,
                          k.materials, k.materials && k.texturePoints ? &material : nullptr, raw), 1);
    EXPECT_EQ(raw, nullptr);
    writer.SetPoint(0, 1, 2, 3);  // a writer without buffer ignores every call
  }

  MultiPatchBuffMgr writer;
  unsigned char* raw = nullptr;
  int size = writer.Init(1, 3, false, false, false, 0, 2, 0, nullptr, raw);
  Buffer buffer(raw);
  ASSERT_GT(size, 0);
  const std::vector<unsigned char> before(raw, raw + size);
  for (int index : {-1, 3, INT_MAX, INT_MIN}) {
    writer.SetPoint(index, 1, 1, 1);
    writer.SetTexturePoint(index, 1, 1);
  }
  for (int part : {-1, 1, INT_MAX}) {
    writer.SetPartType(part, 6);
    writer.SetMaterialType(part, 0);
    writer.SetPointIndex(part, 0);
    writer.SetTexturePointIndex(part, 0);
  }
  writer.SetNormal(0, 1, 1, 1);     // no normals in this buffer
  writer.SetTexturePoint(0, 1, 1);  // dimension 0 stores no texture points
  EXPECT_EQ(std::vector<unsigned char>(raw, raw + size), before);
}

}  // namespace
}  // namespace varnel
