// Byte layout of the multipatch buffer, shared by its writer (MultiPatchBuffMgr) and its reader
// (the multipatch geometry's import). docs/multipatch-buffer.md describes it for other readers.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

namespace varnel::multipatch {

constexpr int32_t kShapeType = 31;  // shapefile MultiPatch
constexpr unsigned char kMagic[4] = {'V', 'M', 'P', 'X'};
constexpr uint32_t kVersion = 1;

// Shape type, box and the two counts of the shapefile record content.
constexpr int64_t kHeaderBytes = 44;
constexpr int64_t kExtensionHeaderBytes = 32;
constexpr int64_t kMaterialHeaderBytes = 56;

// Extension header fields (offsets from the extension start).
constexpr int64_t kExtVersion = 4, kExtBytes = 8, kExtFlags = 12, kExtTextureDimension = 16,
                  kExtTexturePoints = 20, kExtMaterials = 24;
constexpr uint32_t kExtHasNormals = 1;

// Material record fields (offsets from the record start) and its flag bits.
constexpr int64_t kMatBytes = 0, kMatFlags = 4, kMatColor = 8, kMatEdgeWidth = 20,
                  kMatEdgeColor = 24, kMatTransparency = 36, kMatSharedTexture = 40,
                  kMatTextureWidth = 44, kMatTextureHeight = 48, kMatTextureChannels = 52;
enum MaterialFlag : uint32_t {
  kHasColor = 1u << 0,
  kHasEdgeDisplay = 1u << 1,
  kEdgeDisplay = 1u << 2,
  kHasEdgeWidth = 1u << 3,
  kHasEdgeColor = 1u << 4,
  kCullBackFaces = 1u << 5,
  kHasTransparency = 1u << 6,
  kHasSharedTexture = 1u << 7,
  kHasTextureMap = 1u << 8,
};

// Byte offsets of every section, from the counts.
struct Layout {
  int64_t partStarts = 0, partTypes = 0, xy = 0, zRange = 0, z = 0;
  int64_t extension = 0;  // also the byte size of the shapefile-compatible prefix
  int64_t normals = 0, texturePoints = 0, partMaterials = 0, partTextureStarts = 0, materials = 0;
};

// Counts must be non-negative and at most INT32_MAX; the arithmetic cannot overflow in 64 bits.
inline Layout ComputeLayout(int64_t parts, int64_t points, bool hasNormals,
                            int64_t textureDimension, int64_t texturePoints) {
  Layout l;
  l.partStarts = kHeaderBytes;
  l.partTypes = l.partStarts + 4 * parts;
  l.xy = l.partTypes + 4 * parts;
  l.zRange = l.xy + 16 * points;
  l.z = l.zRange + 16;
  l.extension = l.z + 8 * points;
  l.normals = l.extension + kExtensionHeaderBytes;
  l.texturePoints = l.normals + (hasNormals ? 24 * points : 0);
  l.partMaterials = l.texturePoints + 8 * textureDimension * texturePoints;
  l.partTextureStarts = l.partMaterials + 4 * parts;
  l.materials = l.partTextureStarts + 4 * parts;
  return l;
}

// Little-endian loads and stores at any alignment.
template <typename T>
inline T FromLittle(T value) {
  if constexpr (std::endian::native == std::endian::big) {
    unsigned char bytes[sizeof(T)];
    std::memcpy(bytes, &value, sizeof(T));
    for (size_t i = 0; i < sizeof(T) / 2; ++i) {
      unsigned char t = bytes[i];
      bytes[i] = bytes[sizeof(T) - 1 - i];
      bytes[sizeof(T) - 1 - i] = t;
    }
    std::memcpy(&value, bytes, sizeof(T));
  }
  return value;
}

template <typename T>
inline void Store(unsigned char* at, T value) {
  value = FromLittle(value);
  std::memcpy(at, &value, sizeof(T));
}

template <typename T>
inline T Load(const unsigned char* at) {
  T value;
  std::memcpy(&value, at, sizeof(T));
  return FromLittle(value);
}

}  // namespace varnel::multipatch
