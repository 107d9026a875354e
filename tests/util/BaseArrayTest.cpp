#include <gtest/gtest.h>

#include <cstdlib>
#include <stdexcept>
#include <string>

#include "util/BaseArray.h"

namespace varnel {
namespace {

// The text of a thrown character string, "" when nothing of that kind was thrown.
template <class F>
std::string ThrownText(F action) {
  try {
    action();
  } catch (const char* text) {
    return text;
  }
  return "";
}

template <class F>
std::string OutOfRangeText(F action) {
  try {
    action();
  } catch (const std::out_of_range& e) {
    return e.what();
  }
  return "";
}

const double kIdentity[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};

TEST(BaseArray, DefaultStorageAndGrowth) {
  BaseArray<void*> pointers;
  EXPECT_EQ(pointers.reserved, 8);
  int slots[9];
  for (int i = 0; i < 8; ++i) pointers.Add(&slots[i]);
  EXPECT_EQ(pointers.reserved, 8);
  pointers.Add(&slots[8]);  // ((8 + 1) * 3) / 2
  EXPECT_EQ(pointers.reserved, 13);
  EXPECT_EQ(pointers.count, 9);
  for (int i = 0; i < 9; ++i) EXPECT_EQ(pointers[i], &slots[i]);

  BaseArray<int> ints;
  EXPECT_EQ(ints.reserved, 16);
  for (int i = 0; i < 17; ++i) ints.Add(i);
  EXPECT_EQ(ints.reserved, 25);
  EXPECT_EQ(ints[16], 16);

  // After RemoveAll the first Add brings back a 64-byte block.
  ints.RemoveAll();
  EXPECT_EQ(ints.data, nullptr);
  ints.Add(5);
  EXPECT_EQ(ints.reserved, 16);
  EXPECT_EQ(ints.count, 1);
}

TEST(BaseArray, ReservingConstructionRoundsUp) {
  EXPECT_EQ(BaseArray<int>(300).reserved, 512);  // 1204 bytes -> 2048
  EXPECT_EQ(BaseArray<int>(10).reserved, 16);    // 44 bytes -> 64
  EXPECT_EQ(BaseArray<int>(256).reserved, 272);  // 1028 bytes -> 1088
  EXPECT_EQ(BaseArray<int>(0).count, 0);

  EXPECT_EQ(OutOfRangeText([] { BaseArray<int> a(-1); }), "value out of range of the long");
  EXPECT_EQ(OutOfRangeText([] { BaseArray<int> a(0x7FFFFFFF); }), "BaseArray cReservedElements");
}

TEST(BaseArray, ViewsNeverGrowOrFree) {
  BaseArray<int> owner;
  for (int i = 0; i < 4; ++i) owner.Add(i);
  {
    BaseArray<int> view;
    view.Attach(owner.data, 4);
    EXPECT_FALSE(view.ownsBuffer);
    view[0] = 7;
    view.Add(9);  // full view: dropped without a report
    EXPECT_EQ(view.count, 4);
  }  // the view's destruction leaves the storage to its owner
  EXPECT_EQ(owner[0], 7);
  EXPECT_EQ(owner.count, 4);

  BaseArray<double> matrices;
  matrices.AppendBlock(kIdentity);
  BaseArray<double> full;
  full.Attach(matrices.data, 16);
  EXPECT_EQ(ThrownText([&] { full.AppendBlock(kIdentity); }), "You do not own the buffer!");

  BaseArray<double> empty;
  empty.Attach(matrices.data, 0);
  EXPECT_EQ(ThrownText([&] { empty.Add(1.0); }), "Reserved is less than elements");
  EXPECT_EQ(ThrownText([&] { empty.AppendBlock(kIdentity); }), "Reserved is less than elements");
  EXPECT_EQ(OutOfRangeText([&] { empty.Attach(matrices.data, -1); }), "value cannot be negative");

  // RemoveAll turns a view back into an empty owning array.
  full.RemoveAll();
  EXPECT_TRUE(full.ownsBuffer);
  full.Add(2.0);
  EXPECT_EQ(full.count, 1);
  EXPECT_EQ(matrices[0], 1.0);
}

TEST(BaseArray, MatrixStackPushAndPop) {
  BaseArray<double> stack;
  stack.AppendBlock(kIdentity);
  EXPECT_EQ(stack.reserved, 24);  // the preallocated 8 are too few: 192 bytes
  double scaled[16];
  for (int i = 0; i < 16; ++i) scaled[i] = kIdentity[i] * 2;
  stack.AppendBlock(scaled);
  EXPECT_EQ(stack.reserved, 60);  // ((24 + 16) * 3 / 2)
  EXPECT_EQ(stack.count, 32);
  EXPECT_EQ(stack[16], 2.0);
  EXPECT_EQ(stack[15], 1.0);

  stack.RemoveBlock(stack.count - 1, 16);
  EXPECT_EQ(stack.count, 16);
  stack.RemoveBlock(stack.count - 1, 16);
  EXPECT_EQ(stack.count, 0);
  EXPECT_EQ(ThrownText([&] { stack.RemoveBlock(stack.count - 1, 16); }), "Cannot call Remove on empty BaseArray");
}

TEST(BaseArray, RemoveBlockMovesTheTailAndChecksBounds) {
  BaseArray<int> a;
  for (int i = 0; i < 10; ++i) a.Add(i);
  a.RemoveBlock(2, 3);
  ASSERT_EQ(a.count, 7);
  EXPECT_EQ(a[2], 5);
  EXPECT_EQ(a[6], 9);
  // A run past the end is clamped to the last n elements.
  a.RemoveBlock(6, 2);
  ASSERT_EQ(a.count, 5);
  EXPECT_EQ(a[4], 7);

  EXPECT_EQ(OutOfRangeText([&] { a.RemoveBlock(-1, 1); }), "value outside of BaseArray bounds");
  EXPECT_EQ(OutOfRangeText([&] { a.RemoveBlock(0, 6); }), "value outside of BaseArray bounds");
  EXPECT_EQ(OutOfRangeText([&] { a.RemoveBlock(0, -2); }), "value outside of BaseArray bounds");
  EXPECT_EQ(a.count, 5);

  a.count = -1;
  EXPECT_EQ(OutOfRangeText([&] { a.Add(1); }), "value outside of BaseArray bounds");
  EXPECT_EQ(OutOfRangeText([&] { BaseArray<double> d; d.count = -1; d.AppendBlock(kIdentity); }),
            "value outside of BaseArray bounds");
  a.count = 0;
}

// An owning array of 8-byte elements with 300 slots, `filled` of them in use.
void FillOwned(BaseArray<double>& a, int filled) {
  a.RemoveAll();
  a.data = static_cast<double*>(std::malloc(300 * sizeof(double)));
  a.reserved = 300;
  for (int i = 0; i < filled; ++i) a.data[i] = i;
  a.count = filled;
}

TEST(BaseArray, ShrinksWhenMuchTooLarge) {
  BaseArray<double> a(NoStorage{});
  FillOwned(a, 176);
  a.RemoveBlock(a.count - 1, 16);  // 160 left: 160 + 128 < 300 and 240 < 300
  EXPECT_EQ(a.count, 160);
  EXPECT_EQ(a.reserved, 256);  // 1288 bytes -> 2048
  EXPECT_EQ(a[159], 159.0);

  FillOwned(a, 188);
  a.RemoveBlock(a.count - 1, 16);  // 172 + 128 >= 300: kept
  EXPECT_EQ(a.reserved, 300);

  FillOwned(a, 20);
  a.RemoveBlock(a.count - 1, 16);  // 4 left, small: rounded to 64 bytes
  EXPECT_EQ(a.reserved, 8);
  EXPECT_EQ(a[3], 3.0);
}

}  // namespace
}  // namespace varnel
