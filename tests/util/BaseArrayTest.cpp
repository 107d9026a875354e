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

const double kBlock[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};

// Capacities are part of the contract: growth by half, 64-byte first blocks, rounded reserves.
TEST(BaseArray, Capacities) {
  BaseArray<void*> pointers;
  EXPECT_EQ(pointers.reserved, 8);
  for (int i = 0; i < 9; ++i) pointers.Add(&pointers);
  EXPECT_EQ(pointers.reserved, 13);  // ((8 + 1) * 3) / 2
  BaseArray<int> ints;
  for (int i = 0; i < 17; ++i) ints.Add(i);
  EXPECT_TRUE(ints.reserved == 25 && ints[16] == 16);

  EXPECT_EQ(BaseArray<int>(10).reserved, 16);    // 44 bytes rounded to 64
  EXPECT_EQ(BaseArray<int>(256).reserved, 272);  // 1028 bytes rounded to 1088
  EXPECT_EQ(BaseArray<int>(300).reserved, 512);  // 1204 bytes rounded to 2048
  EXPECT_EQ(Thrown([] { BaseArray<int> a(-1); }), "range: value out of range of the long");
  EXPECT_EQ(Thrown([] { BaseArray<int> a(0x7FFFFFFF); }), "range: BaseArray cReservedElements");

  BaseArray<double> stack;  // the matrix stack: a first block takes 192 bytes
  stack.AppendBlock(kBlock);
  EXPECT_EQ(stack.reserved, 24);
  stack.AppendBlock(kBlock);
  EXPECT_EQ(stack.reserved, 60);  // (24 + 16) * 3 / 2
  EXPECT_EQ(stack.count, 32);
}

// Near the 31-bit cap growth goes at once to where steps of two elements would end.
TEST(BaseArray, GrowthNearTheCapTakesOneStep) {
  EXPECT_EQ(BaseArray<double>::GrownBytes(8), 13 * 8);
  EXPECT_EQ(BaseArray<double>::GrownBytes(200000000), int64_t{268435454} * 8);
  EXPECT_EQ(BaseArray<double>::GrownBytes(200000001), int64_t{268435455} * 8);
}

TEST(BaseArray, RemoveBlockMovesClampsShrinksAndChecks) {
  BaseArray<int> a;
  for (int i = 0; i < 10; ++i) a.Add(i);
  a.RemoveBlock(2, 3);
  a.RemoveBlock(6, 2);  // past the end: the last two go
  EXPECT_EQ(std::vector<int>(a.begin(), a.end()), (std::vector<int>{0, 1, 5, 6, 7}));
  for (auto [index, n] : {std::pair{-1, 1}, {0, 6}})
    EXPECT_EQ(Thrown([&] { a.RemoveBlock(index, n); }), "range: value outside of BaseArray bounds");
  a.count = 0;
  EXPECT_EQ(Thrown([&] { a.RemoveBlock(0, 1); }), "Cannot call Remove on empty BaseArray");

  // 300 doubles with `filled` in use lose their last 16; much too large storage shrinks.
  auto reservedAfterRemoval = [](int filled) {
    BaseArray<double> d(NoStorage{});
    d.data = static_cast<double*>(std::calloc(300, sizeof(double)));
    d.reserved = 300;
    d.count = filled;
    d.data[filled - 17] = 7;
    d.RemoveBlock(d.count - 1, 16);
    EXPECT_EQ(d[d.count - 1], 7);
    return d.reserved;
  };
  EXPECT_EQ(reservedAfterRemoval(176), 256);  // 160 + 128 < 300 and 240 < 300: 1288 -> 2048 bytes
  EXPECT_EQ(reservedAfterRemoval(188), 300);  // 172 + 128 >= 300: kept
  EXPECT_EQ(reservedAfterRemoval(20), 8);     // small: rounded to 64 bytes
}

TEST(BaseArray, ViewsNeverGrowOrFree) {
  BaseArray<double> owner, full, empty;
  owner.AppendBlock(kBlock);
  {
    BaseArray<double> view;
    view.Attach(owner.data, 16);
    view[0] = 7;
    view.Add(9);  // full view: dropped without a report
    EXPECT_EQ(view.count, 16);
  }  // the view's destruction leaves the storage to its owner
  EXPECT_EQ(owner[0], 7);

  full.Attach(owner.data, 16);
  empty.Attach(owner.data, 0);
  EXPECT_EQ(Thrown([&] { full.AppendBlock(kBlock); }), "You do not own the buffer!");
  EXPECT_EQ(Thrown([&] { empty.Add(1.0); }), "Reserved is less than elements");
  EXPECT_EQ(Thrown([&] { empty.AppendBlock(kBlock); }), "Reserved is less than elements");
  EXPECT_EQ(Thrown([&] { empty.Attach(owner.data, -1); }), "range: value cannot be negative");
  full.RemoveAll();  // owning again
  full.Add(2.0);
  EXPECT_TRUE(full.ownsBuffer);
  EXPECT_EQ(owner[1], 0.0);
}

}  // namespace
}  // namespace varnel
