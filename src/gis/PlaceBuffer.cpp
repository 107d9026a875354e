// Placing a multipatch buffer: the fields are unaligned little-endian, so every value is copied
// out, placed, and copied back.
#include <algorithm>
#include <cstring>
#include <vector>

#include "gis/Placement.h"
#include "gis/Unaligned.h"

namespace varnel::gis {

namespace {

constexpr char kExtensionMagic[4] = {'V', 'M', 'P', 'X'};

}  // namespace

bool PlaceBuffer(unsigned char* buffer, int32_t size, const Placer& placer) {
  if (!buffer || size < 44) return false;
  int64_t parts = Load<int32_t>(buffer + 36), points = Load<int32_t>(buffer + 40);
  if (parts < 0 || points < 0) return false;
  int64_t xy = 44 + 8 * parts, zRange = xy + 16 * points, z = zRange + 16;
  int64_t extension = z + 8 * points;
  if (extension > size) return false;
  size_t n = static_cast<size_t>(points);
  std::vector<double> coordinates(3 * n);
  for (size_t i = 0; i < n; ++i) {
    coordinates[3 * i] = Load<double>(buffer + xy + 16 * i);
    coordinates[3 * i + 1] = Load<double>(buffer + xy + 16 * i + 8);
    coordinates[3 * i + 2] = Load<double>(buffer + z + 8 * i);
  }
  bool placed = placer.PlacePoints(&coordinates[0], &coordinates[1], &coordinates[2], 3, n);
  double low[3] = {0, 0, 0}, high[3] = {0, 0, 0};
  for (size_t i = 0; i < n; ++i) {
    for (int c = 0; c < 3; ++c) {
      double v = coordinates[3 * i + c];
      low[c] = i ? std::min(low[c], v) : v;
      high[c] = i ? std::max(high[c], v) : v;
    }
    Store(buffer + xy + 16 * i, coordinates[3 * i]);
    Store(buffer + xy + 16 * i + 8, coordinates[3 * i + 1]);
    Store(buffer + z + 8 * i, coordinates[3 * i + 2]);
  }
  const double box[4] = {low[0], low[1], high[0], high[1]};
  std::memcpy(buffer + 4, box, sizeof box);
  Store(buffer + zRange, low[2]);
  Store(buffer + zRange + 8, high[2]);

  bool hasNormals = extension + 32 <= size &&
                    std::memcmp(buffer + extension, kExtensionMagic, 4) == 0 &&
                    (Load<uint32_t>(buffer + extension + 12) & 1u) != 0;
  if (hasNormals) {
    int64_t normals = extension + 32;
    if (normals + 24 * points > size) return false;
    for (size_t i = 0; i < n; ++i) {
      unsigned char* at = buffer + normals + 24 * i;
      double x = Load<double>(at), y = Load<double>(at + 8), w = Load<double>(at + 16);
      placer.PlaceNormal(x, y, w);
      Store(at, x), Store(at + 8, y), Store(at + 16, w);
    }
  }
  return placed;
}

}  // namespace varnel::gis
