// Placing a multipatch buffer: the fields are unaligned little-endian, so every value is copied
// out, placed, and copied back.
#include <algorithm>
#include <cstring>
#include <vector>

#include <varnel/MultipatchLayout.h>

#include "gis/Placement.h"

namespace varnel::gis {

using namespace multipatch;

bool PlaceBuffer(unsigned char* buffer, int32_t size, const Placer& placer) {
  if (!buffer || size < kHeaderBytes) return false;
  int64_t parts = Load<int32_t>(buffer + kPartCountOffset);
  int64_t points = Load<int32_t>(buffer + kPointCountOffset);
  if (parts < 0 || points < 0) return false;
  const Layout at = ComputeLayout(parts, points);
  if (at.extension > size) return false;
  size_t n = static_cast<size_t>(points);
  std::vector<double> coordinates(3 * n);
  for (size_t i = 0; i < n; ++i) {
    coordinates[3 * i] = Load<double>(buffer + at.xy + kXyBytes * i);
    coordinates[3 * i + 1] = Load<double>(buffer + at.xy + kXyBytes * i + 8);
    coordinates[3 * i + 2] = Load<double>(buffer + at.z + kZBytes * i);
  }
  bool placed = placer.PlacePoints(&coordinates[0], &coordinates[1], &coordinates[2], 3, n);
  double low[3] = {0, 0, 0}, high[3] = {0, 0, 0};
  for (size_t i = 0; i < n; ++i) {
    for (int c = 0; c < 3; ++c) {
      double v = coordinates[3 * i + c];
      low[c] = i ? std::min(low[c], v) : v;
      high[c] = i ? std::max(high[c], v) : v;
    }
    Store(buffer + at.xy + kXyBytes * i, coordinates[3 * i]);
    Store(buffer + at.xy + kXyBytes * i + 8, coordinates[3 * i + 1]);
    Store(buffer + at.z + kZBytes * i, coordinates[3 * i + 2]);
  }
  const double box[4] = {low[0], low[1], high[0], high[1]};
  for (int i = 0; i < 4; ++i) Store(buffer + kBoxOffset + 8 * i, box[i]);
  Store(buffer + at.zRange, low[2]);
  Store(buffer + at.zRange + 8, high[2]);

  const unsigned char* extension = buffer + at.extension;
  bool hasNormals = at.extension + kExtensionHeaderBytes <= size &&
                    std::memcmp(extension + kExtMagic, kMagic, sizeof kMagic) == 0 &&
                    (Load<uint32_t>(extension + kExtFlags) & kExtHasNormals) != 0;
  if (hasNormals) {
    if (at.normals + kNormalBytes * points > size) return false;
    for (size_t i = 0; i < n; ++i) {
      unsigned char* normal = buffer + at.normals + kNormalBytes * i;
      double x = Load<double>(normal), y = Load<double>(normal + 8), w = Load<double>(normal + 16);
      placer.PlaceNormal(x, y, w);
      Store(normal, x), Store(normal + 8, y), Store(normal + 16, w);
    }
  }
  return placed;
}

}  // namespace varnel::gis
