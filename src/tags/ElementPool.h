// Where element objects live: per-thread pools of slots in 64 KiB slabs. A document holds
// hundreds of thousands of small element objects, and the general allocator's header and
// rounding cost a sixth of their size. A pool returns its slabs once its thread holds no
// element object any more, so memory does not outlive the documents.
//
// An element object is deleted on the thread that made it: a document lives within one call.
#pragma once

#include <cstddef>

namespace varnel::ElementPool {

void* Allocate(size_t size);
void Free(void* slot, size_t size);

}  // namespace varnel::ElementPool
