#include <gtest/gtest.h>

#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

#include "util/BaseArray.h"

namespace varnel {
namespace {

// What `action` threw: a character string as it is, an out_of_range as "range: <what>".
template <class F>
std::string Thrown(F action) {
  try {
    action();
  } catch (const char* text) {
    return text;
  } catch (const std::out_of_range& e) {
    return std::string("range: ") + e.what();
  }
  return "";
}

const double kIdentity[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};

TEST(BaseArray, CapacitiesOfConstructionAndGrowth) {
  BaseArray<void*> pointers;
  int slots[9];
  EXPECT_EQ(pointers.reserved, 8);
  for (int i = 0; i < 9; ++i) pointers.Add(&slots[i]);
  EXPECT_EQ(pointers.reserved, 13);  // ((8 + 1) * 3) / 2
  for (int i = 0; i < 9; ++i) EXPECT_EQ(pointers[i], &slots[i]);

  BaseArray<int> ints;
  EXPECT_EQ(ints.reserved, 16);
  for (int i = 0; i < 17; ++i) ints.Add(i);
  EXPECT_EQ(ints.reserved, 25);
  EXPECT_EQ(ints[16], 16);
  ints.RemoveAll();  // the next Add brings back a 64-byte block
  ints.Add(5);
  EXPECT_EQ(ints.reserved, 16);

  // (n + 1) elements rounded up to 64 bytes up to 256 elements, to 1024 above.
  EXPECT_EQ(BaseArray<int>(300).reserved, 512);
  EXPECT_EQ(BaseArray<int>(10).reserved, 16);
  EXPECT_EQ(BaseArray<int>(256).reserved, 272);
  EXPECT_EQ(Thrown([] { BaseArray<int> a(-1); }), "range: value out of range of the long");
  EXPECT_EQ(Thrown([] { BaseArray<int> a(0x7FFFFFFF); }), "range: BaseArray cReservedElements");

  // The matrix stack: 8 preallocated doubles are too few for a block, so 192 bytes.
  BaseArray<double> stack;
  stack.AppendBlock(kIdentity);
  EXPECT_EQ(stack.reserved, 24);
  double twice[16];
  for (int i = 0; i < 16; ++i) twice[i] = 2 * kIdentity[i];
  stack.AppendBlock(twice);
  EXPECT_EQ(stack.reserved, 60);  // ((24 + 16) * 3 / 2)
  EXPECT_EQ(stack.count, 32);
  EXPECT_EQ(stack[15] + stack[16], 3.0);
  stack.RemoveBlock(stack.count - 1, 16);
  stack.RemoveBlock(stack.count - 1, 16);
  EXPECT_EQ(Thrown([&] { stack.RemoveBlock(-1, 16); }), "Cannot call Remove on empty BaseArray");
}

TEST(BaseArray, ViewsNeverGrowOrFree) {
  BaseArray<int> owner;
  for (int i = 0; i < 4; ++i) owner.Add(i);
  {
    BaseArray<int> view;
    view.Attach(owner.data, 4);
    view[0] = 7;
    view.Add(9);  // full view: dropped without a report
    EXPECT_EQ(view.count, 4);
  }  // the view's destruction leaves the storage to its owner
  EXPECT_EQ(owner[0], 7);

  BaseArray<double> matrices, full, empty;
  matrices.AppendBlock(kIdentity);
  full.Attach(matrices.data, 16);
  empty.Attach(matrices.data, 0);
  EXPECT_EQ(Thrown([&] { full.AppendBlock(kIdentity); }), "You do not own the buffer!");
  EXPECT_EQ(Thrown([&] { empty.Add(1.0); }), "Reserved is less than elements");
  EXPECT_EQ(Thrown([&] { empty.AppendBlock(kIdentity); }), "Reserved is less than elements");
  EXPECT_EQ(Thrown([&] { empty.Attach(matrices.data, -1); }), "range: value cannot be negative");
  full.RemoveAll();  // owning again
  full.Add(2.0);
  EXPECT_TRUE(full.ownsBuffer);
  EXPECT_EQ(matrices[0], 1.0);
}

TEST(BaseArray, RemoveBlockMovesClampsAndChecksBounds) {
  BaseArray<int> a;
  for (int i = 0; i < 10; ++i) a.Add(i);
  a.RemoveBlock(2, 3);
  EXPECT_EQ(std::vector<int>(a.begin(), a.end()), (std::vector<int>{0, 1, 5, 6, 7, 8, 9}));
  a.RemoveBlock(6, 2);  // past the end: the last two go
  EXPECT_EQ(std::vector<int>(a.begin(), a.end()), (std::vector<int>{0, 1, 5, 6, 7}));
  for (auto [index, n] : {std::pair{-1, 1}, {0, 6}, {0, -2}})
    EXPECT_EQ(Thrown([&] { a.RemoveBlock(index, n); }), "range: value outside of BaseArray bounds");
  EXPECT_EQ(a.count, 5);
  a.count = -1;
  EXPECT_EQ(Thrown([&] { a.Add(1); }), "range: value outside of BaseArray bounds");
  EXPECT_EQ(Thrown([] { BaseArray<double> d; d.count = -1; d.AppendBlock(kIdentity); }),
            "range: value outside of BaseArray bounds");
  a.count = 0;
}

TEST(BaseArray, ShrinksWhenMuchTooLarge) {
  // An owning array of 300 doubles, `filled` in use, loses its last 16.
  auto reservedAfterRemoval = [](int filled) {
    BaseArray<double> a(NoStorage{});
    a.data = static_cast<double*>(std::malloc(300 * sizeof(double)));
    a.reserved = 300;
    for (int i = 0; i < filled; ++i) a.data[i] = i;
    a.count = filled;
    a.RemoveBlock(a.count - 1, 16);
    EXPECT_EQ(a[a.count - 1], a.count - 1.0);
    return a.reserved;
  };
  EXPECT_EQ(reservedAfterRemoval(176), 256);  // 160 + 128 < 300 and 240 < 300: 1288 bytes -> 2048
  EXPECT_EQ(reservedAfterRemoval(188), 300);  // 172 + 128 >= 300: kept
  EXPECT_EQ(reservedAfterRemoval(20), 8);     // small: rounded to 64 bytes
}

}  // namespace
}  // namespace varnel
