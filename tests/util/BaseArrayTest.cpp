#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include "util/BaseArray.h"

namespace varnel {
namespace {

const double kBlock[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};

// Elements survive growth; sizes past what a count can hold are refused. Misuse throws (what it
// throws is caught whole at the entry points).
TEST(BaseArray, GrowsKeepingElementsAndRefusesImpossibleSizes) {
  BaseArray<int> ints;
  for (int i = 0; i < 17; ++i) ints.Add(i);
  EXPECT_EQ(std::vector<int>(ints.begin(), ints.end()).back(), 16);
  EXPECT_EQ(ints.count, 17);
  EXPECT_ANY_THROW(BaseArray<int>(-1));
  EXPECT_ANY_THROW(BaseArray<int>(0x7FFFFFFF));

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
    EXPECT_ANY_THROW(a.RemoveBlock(index, n));
  a.count = 0;
  EXPECT_ANY_THROW(a.RemoveBlock(0, 1));

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
  EXPECT_ANY_THROW(full.AppendBlock(kBlock));
  EXPECT_ANY_THROW(empty.Add(1.0));
  EXPECT_ANY_THROW(empty.AppendBlock(kBlock));
  EXPECT_ANY_THROW(empty.Attach(owner.data, -1));
  full.RemoveAll();  // owning again
  full.Add(2.0);
  EXPECT_TRUE(full.ownsBuffer);
  EXPECT_EQ(owner[1], 0.0);
}

}  // namespace
}  // namespace varnel
