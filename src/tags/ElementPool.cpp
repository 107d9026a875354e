#include "tags/ElementPool.h"

#include <cstdlib>
#include <new>
#include <vector>

// Under AddressSanitizer free slots are poisoned, so that a use after delete is still caught.
#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VARNEL_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(VARNEL_ASAN)
#include <sanitizer/asan_interface.h>
#define VARNEL_POISON(at, size) ASAN_POISON_MEMORY_REGION(at, size)
#define VARNEL_UNPOISON(at, size) ASAN_UNPOISON_MEMORY_REGION(at, size)
#else
#define VARNEL_POISON(at, size) ((void)(at), (void)(size))
#define VARNEL_UNPOISON(at, size) ((void)(at), (void)(size))
#endif

namespace varnel::ElementPool {

namespace {

constexpr size_t kGrain = 8;         // every element object is pointer-aligned
constexpr size_t kLargest = 512;     // larger objects go to the general allocator
constexpr size_t kSlabBytes = 64 << 10;

struct Pool {
  std::vector<void*> slabs;
  char* at = nullptr;  // unused room of the newest slab
  char* end = nullptr;
  void* freeSlots[kLargest / kGrain + 1] = {};  // by size class, linked through the slots
  size_t live = 0;

  // Slabs that still hold live objects at thread exit are left to the leak checker.
  ~Pool() {
    if (live == 0) Release();
  }
  void Release() {
    for (void* slab : slabs) {
      VARNEL_UNPOISON(slab, kSlabBytes);
      std::free(slab);
    }
    slabs.clear();
    at = end = nullptr;
    for (void*& slot : freeSlots) slot = nullptr;
  }
};

thread_local Pool pool;

size_t ClassOf(size_t size) { return (size + kGrain - 1) / kGrain; }

}  // namespace

void* Allocate(size_t size) {
  if (size == 0 || size > kLargest) return ::operator new(size);
  const size_t sizeClass = ClassOf(size), bytes = sizeClass * kGrain;
  void* slot = pool.freeSlots[sizeClass];
  if (slot) {
    VARNEL_UNPOISON(slot, bytes);
    pool.freeSlots[sizeClass] = *static_cast<void**>(slot);
  } else {
    if (static_cast<size_t>(pool.end - pool.at) < bytes) {
      void* slab = std::malloc(kSlabBytes);
      if (!slab) throw std::bad_alloc();
      pool.slabs.push_back(slab);
      pool.at = static_cast<char*>(slab);
      pool.end = pool.at + kSlabBytes;
      VARNEL_POISON(slab, kSlabBytes);
    }
    slot = pool.at;
    pool.at += bytes;
    VARNEL_UNPOISON(slot, bytes);
  }
  ++pool.live;
  return slot;
}

void Free(void* slot, size_t size) {
  if (!slot) return;
  if (size == 0 || size > kLargest) return ::operator delete(slot);
  const size_t sizeClass = ClassOf(size);
  *static_cast<void**>(slot) = pool.freeSlots[sizeClass];
  pool.freeSlots[sizeClass] = slot;
  VARNEL_POISON(slot, sizeClass * kGrain);
  if (--pool.live == 0) pool.Release();
}

}  // namespace varnel::ElementPool
