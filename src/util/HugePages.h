// Large buffers that are filled once from start to end fault in far faster as huge pages: a
// hint to the kernel (where it takes hints), with no effect on what the memory holds.
#pragma once

#include <cstddef>
#include <cstdint>

#include <sys/mman.h>

namespace varnel {

inline void AdviseHugePages(void* memory, size_t bytes) {
#ifdef MADV_HUGEPAGE
  constexpr uintptr_t kHugePage = uintptr_t{1} << 21;
  if (!memory || bytes < 2 * kHugePage) return;
  const uintptr_t start = (reinterpret_cast<uintptr_t>(memory) + kHugePage - 1) & ~(kHugePage - 1);
  const uintptr_t end = (reinterpret_cast<uintptr_t>(memory) + bytes) & ~(kHugePage - 1);
  if (end > start) madvise(reinterpret_cast<void*>(start), end - start, MADV_HUGEPAGE);
#else
  (void)memory;
  (void)bytes;
#endif
}

// Faults in memory that is about to be written in full, in one pass of the kernel's (which
// clears it, as it would on each first touch): faults taken one at a time amid other work cost
// several times as much. A hint, like the one above.
inline void Prefault(void* memory, size_t bytes) {
#ifdef MADV_POPULATE_WRITE
  constexpr uintptr_t kPage = 4096;
  const uintptr_t start = (reinterpret_cast<uintptr_t>(memory) + kPage - 1) & ~(kPage - 1);
  const uintptr_t end = (reinterpret_cast<uintptr_t>(memory) + bytes) & ~(kPage - 1);
  if (memory && end > start) madvise(reinterpret_cast<void*>(start), end - start, MADV_POPULATE_WRITE);
#else
  (void)memory;
  (void)bytes;
#endif
}

}  // namespace varnel
