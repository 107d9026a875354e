// Receives the multipatch buffer in pieces, for a host that writes it out (to a file, a pipe)
// without ever holding all of it: the library then keeps only a small window of each section.
#pragma once

#include <cstdint>

#include <varnel/Export.h>

namespace varnel {

class VARNEL_API DataBufferWriter {
 public:
  virtual ~DataBufferWriter();
  // The byte size of the whole buffer, before any piece; false gives up (nothing is produced).
  virtual bool Begin(int32_t size) = 0;
  // `size` bytes at `offset`. Every byte of the buffer comes in exactly one piece. The record
  // header (offset 0) and the extension header come first; after them, the pieces of each
  // section (docs/multipatch-buffer.md) come in ascending order, whole values only, while the
  // sections interleave.
  virtual void Write(int32_t offset, const unsigned char* data, int32_t size) = 0;
};

}  // namespace varnel
