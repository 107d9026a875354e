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

// Elements survive growth; sizes past what a count can hold are refused.
TEST(BaseArray, GrowsKeepingElementsAndRefusesImpossibleSizes) {
  BaseArray<int> ints;
  for (int i = 0; i < 17; ++i) ints.Add(i);
  EXPECT_EQ(std::vector<int>(ints.begin(), ints.end()).back(), 16);
  EXPECT_EQ(ints.count, 17);
  EXPECT_EQ(Thrown([] { BaseArray<int> a(-1); }), "range: value out of range of the long");
  EXPECT_EQ(Thrown([] { BaseArray<int> a(0x7FFFFFFF); }), "range: BaseArray cReservedElements");

  BaseArray<double> stack;  // the matrix stack
  stack.AppendBlock(kBlock);
  stack.AppendBlock(kBlock);
  EXPECT_EQ(stack.count, 32);
  EXPECT_EQ(stack[21], 1.0);
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

  // Removing from much too large storage shrinks it and keeps what stays.
  BaseArray<double> d(NoStorage{});
  d.data = static_cast<double*>(std::calloc(300, sizeof(double)));
  d.reserved = 300;
  d.count = 176;
  d.data[159] = 7;
  d.RemoveBlock(d.count - 1, 16);
  EXPECT_EQ(d.count, 160);
  EXPECT_EQ(d[159], 7);
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
