// Validates a multipatch buffer and locates its sections, so that readers can then load any
// field without further checks.
#pragma once

#include <cstdint>
#include <vector>

#include <varnel/MultipatchLayout.h>

namespace varnel::multipatch {

struct ParsedBuffer {
  int32_t parts = 0;
  int32_t points = 0;
  bool extended = false;  // the extension block is present; the fields below are valid only then
  bool hasNormals = false;
  int32_t textureDimension = 0;
  int32_t texturePoints = 0;  // as declared; stored only when textureDimension is 2
  Layout layout;
  int64_t bytes = 0;                     // consumed: the record, plus the extension when present
  std::vector<int64_t> materialRecords;  // offset of each material record
};

// True when `size` bytes at `data` hold a complete, consistent multipatch (with the extension
// block when `extended`). Reads nothing outside [data, data + size).
bool ParseBuffer(const unsigned char* data, int64_t size, bool extended, ParsedBuffer& parsed);

}  // namespace varnel::multipatch
