// First position of each id in a borrowed table of elements, so that resolving a reference costs
// the same however many elements a document holds (a scan per reference made documents with
// tens of thousands of instances take minutes). The index remembers which table it was built
// over; asked about another table, or one that changed since, it scans the table.
#pragma once

#include <cstdint>
#include <string_view>
#include <unordered_map>

#include "tags/Tag.h"
#include "util/BaseArray.h"

namespace varnel {

template <class T>
class BasicIdIndex {
 public:
  // Indexes the entries that `keep(entry)` accepts; the first accepted entry of an id wins.
  template <class Keep>
  void Build(const BaseArray<T*>& table, Keep&& keep) {
    first_.clear();
    first_.reserve(static_cast<size_t>(table.count > 0 ? table.count : 0));
    for (int32_t i = 0; i < table.count; ++i)
      if (table[i] && keep(table[i])) first_.emplace(std::wstring_view(table[i]->GetId()), i);
    data_ = table.data;
    count_ = table.count;
  }
  void Build(const BaseArray<T*>& table) {
    Build(table, [](T*) { return true; });
  }
  // True when the index describes `table` as it is now.
  bool Covers(const BaseArray<T*>& table) const {
    return count_ >= 0 && table.data == data_ && table.count == count_;
  }
  // Position of the first indexed entry with `id`, or -1. Only meaningful when Covers(table).
  int32_t Position(const String& id) const {
    auto found = first_.find(std::wstring_view(id));
    return found == first_.end() ? -1 : found->second;
  }
  // First entry of `table` whose id equals `id`, or null.
  T* Find(const BaseArray<T*>& table, const String& id) const {
    if (!Covers(table)) {
      for (T* entry : table)
        if (entry && entry->GetId() == id) return entry;
      return nullptr;
    }
    const int32_t i = Position(id);
    return i >= 0 ? table[i] : nullptr;
  }

 private:
  std::unordered_map<std::wstring_view, int32_t> first_;
  T* const* data_ = nullptr;
  int32_t count_ = -1;
};

using IdIndex = BasicIdIndex<Tag>;

}  // namespace varnel
