#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <thread>
#include <vector>

#include "tags/ElementPool.h"

namespace varnel {
namespace {

// Slots of every size class, freed in another order and taken again, never overlap; a thread
// has its own pool, and sizes beyond the pooled ones still work.
TEST(ElementPool, SlotsNeverOverlapAcrossSizesAndThreads) {
  auto churn = [] {
    std::vector<std::pair<char*, size_t>> live;
    for (size_t i = 0; i < 3000; ++i) {
      size_t size = 8 + (i * 40) % 600;
      live.emplace_back(static_cast<char*>(ElementPool::Allocate(size)), size);
      std::memset(live.back().first, int(i), size);
      if (i % 3 == 0) {
        ElementPool::Free(live[i / 2].first, live[i / 2].second);
        live[i / 2].first = nullptr;
      }
    }
    std::set<std::pair<char*, char*>> spans;
    for (auto [at, size] : live)
      if (at) {
        auto next = spans.lower_bound({at, at});
        EXPECT_TRUE(next == spans.end() || next->first >= at + size);
        EXPECT_TRUE(next == spans.begin() || std::prev(next)->second <= at);
        spans.insert({at, at + size});
      }
    for (auto [at, size] : live) ElementPool::Free(at, size);
  };
  std::thread other(churn);
  churn();
  other.join();
}

}  // namespace
}  // namespace varnel
