#include "host/MultiPatchReader.h"

namespace varnel::multipatch {
namespace {

constexpr uint32_t kKnownMaterialFlags = (kHasTextureMap << 1) - 1;

// Part starts begin at 0, never decrease and never pass the point count (a part may be empty);
// part types are the shapefile's 0 to 5 or 6 for a triangle list.
bool PartsValid(const unsigned char* data, const Layout& layout, int32_t parts, int32_t points) {
  int32_t previous = 0;
  for (int32_t p = 0; p < parts; ++p) {
    int32_t start = Load<int32_t>(data + layout.partStarts + kPartStartBytes * p);
    int32_t type = Load<int32_t>(data + layout.partTypes + kPartTypeBytes * p);
    if ((p == 0 && start != 0) || start < previous || start > points) return false;
    if (type < 0 || type > 6) return false;
    previous = start;
  }
  return true;
}

bool PartExtrasValid(const unsigned char* data, const Layout& layout, int32_t parts,
                     int32_t materials, int32_t texturePoints) {
  for (int32_t p = 0; p < parts; ++p) {
    int32_t material = Load<int32_t>(data + layout.partMaterials + kPartMaterialBytes * p);
    int32_t firstTexture =
        Load<int32_t>(data + layout.partTextureStarts + kPartTextureStartBytes * p);
    if (material < -1 || material >= materials) return false;
    if (firstTexture < 0 || firstTexture > texturePoints) return false;
  }
  return true;
}

// Checks the record at `at` against `end`; returns its size, or -1 when it is not valid.
int64_t MaterialRecordSize(const unsigned char* data, int64_t at, int64_t end) {
  if (end - at < kMaterialHeaderBytes) return -1;
  const unsigned char* record = data + at;
  int64_t bytes = Load<uint32_t>(record + kMatBytes);
  uint32_t flags = Load<uint32_t>(record + kMatFlags);
  int64_t width = Load<int32_t>(record + kMatTextureWidth);
  int64_t height = Load<int32_t>(record + kMatTextureHeight);
  int64_t channels = Load<int32_t>(record + kMatTextureChannels);
  if (flags & ~kKnownMaterialFlags) return -1;
  int64_t pixels = 0;
  if (flags & kHasTextureMap) {
    if (width < 1 || height < 1 || channels < 1 || channels > 4) return -1;
    if (width * height > end - at) return -1;  // both below 2^31: no overflow
    pixels = width * height * channels;
  } else if (width != 0 || height != 0 || channels != 0) {
    return -1;
  }
  if (bytes != kMaterialHeaderBytes + pixels || bytes > end - at) return -1;
  return bytes;
}

bool ParseExtension(const unsigned char* data, int64_t size, ParsedBuffer& parsed) {
  int64_t start = parsed.layout.extension;
  if (size - start < kExtensionHeaderBytes) return false;
  const unsigned char* header = data + start;
  for (size_t i = 0; i < sizeof kMagic; ++i)
    if (header[kExtMagic + i] != kMagic[i]) return false;
  if (Load<uint32_t>(header + kExtVersion) != kVersion) return false;
  int64_t extensionBytes = Load<uint32_t>(header + kExtBytes);
  uint32_t flags = Load<uint32_t>(header + kExtFlags);
  int32_t dimension = Load<int32_t>(header + kExtTextureDimension);
  int32_t texturePoints = Load<int32_t>(header + kExtTexturePoints);
  int32_t materials = Load<int32_t>(header + kExtMaterials);
  if (extensionBytes > size - start || (flags & ~kExtHasNormals) != 0) return false;
  if ((dimension != 0 && dimension != 2) || texturePoints < 0 || materials < 0) return false;

  int64_t end = start + extensionBytes;
  Layout layout = ComputeLayout(parsed.parts, parsed.points, flags & kExtHasNormals, dimension,
                                texturePoints);
  if (layout.materials > end || (end - layout.materials) / kMaterialHeaderBytes < materials)
    return false;
  if (!PartExtrasValid(data, layout, parsed.parts, materials, texturePoints)) return false;

  parsed.materialRecords.clear();
  parsed.materialRecords.reserve(size_t(materials));
  int64_t at = layout.materials;
  for (int32_t m = 0; m < materials; ++m) {
    int64_t bytes = MaterialRecordSize(data, at, end);
    if (bytes < 0) return false;
    parsed.materialRecords.push_back(at);
    at += bytes;
  }
  if (at != end) return false;

  parsed.extended = true;
  parsed.hasNormals = flags & kExtHasNormals;
  parsed.textureDimension = dimension;
  parsed.texturePoints = texturePoints;
  parsed.layout = layout;
  parsed.bytes = end;
  return true;
}

}  // namespace

bool ParseBuffer(const unsigned char* data, int64_t size, bool extended, ParsedBuffer& parsed) {
  parsed = ParsedBuffer();
  if (!data || size < kHeaderBytes) return false;
  if (Load<int32_t>(data + kShapeTypeOffset) != kShapeType) return false;
  int32_t parts = Load<int32_t>(data + kPartCountOffset);
  int32_t points = Load<int32_t>(data + kPointCountOffset);
  if (parts < 0 || points < 0) return false;
  Layout layout = ComputeLayout(parts, points);
  if (layout.extension > size) return false;
  if (!PartsValid(data, layout, parts, points)) return false;

  parsed.parts = parts;
  parsed.points = points;
  parsed.layout = layout;
  parsed.bytes = layout.extension;
  if (extended && !ParseExtension(data, size, parsed)) {
    parsed = ParsedBuffer();
    return false;
  }
  return true;
}

}  // namespace varnel::multipatch
