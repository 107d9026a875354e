// Where every field of the multipatch byte buffer lies, computed from its counts in this one place
// for the library's writer and reader and for whoever reads the buffers it hands out
// (docs/multipatch-buffer.md says what each field means).
//
// For every constant and function here:
// - offsets and sizes are in bytes; an offset counts from the buffer's first byte, except the
//   k*Ext* fields (from the extension header's first byte) and the kMat* fields (from the
//   material record's first byte);
// - P (`parts`), N (`points`) and T (`texturePoints`) count values as the headers store them,
//   not bytes; D (`textureDimension`) counts doubles per texture point, 0 or 2;
// - every field is little-endian and unaligned: read and write it with Load and Store below, never
//   through a cast pointer;
// - counts are 0 to INT32_MAX, which keeps every result exact in int64_t.
// Everything is constexpr and allocates nothing: with counts known at compile time it folds to
// constants, otherwise to a few multiply-adds.
//
//   using namespace varnel::multipatch;
//   Layout at = ComputeLayout(Load<int32_t>(buffer + kPartCountOffset),
//                             Load<int32_t>(buffer + kPointCountOffset));
//   double y3 = Load<double>(buffer + at.xy + kXyBytes * 3 + 8);  // Y of point 3
//   double z3 = Load<double>(buffer + at.z + kZBytes * 3);
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace varnel::multipatch {

// ---- 1. Shapefile MultiPatch record content, from the buffer's start ----

constexpr int32_t kShapeType = 31;  // shapefile MultiPatch, the first field

constexpr int64_t kShapeTypeOffset = 0;   // int32: kShapeType
constexpr int64_t kBoxOffset = 4;         // 4 doubles: xMin, yMin, xMax, yMax
constexpr int64_t kPartCountOffset = 36;  // int32: P
constexpr int64_t kPointCountOffset = 40;  // int32: N
constexpr int64_t kHeaderBytes = 44;      // the fields above; the part starts follow

// Bytes of one value of each per-part and per-point section.
constexpr int64_t kPartStartBytes = 4;   // int32: the part's first point
constexpr int64_t kPartTypeBytes = 4;    // int32: 6 triangle list, 2 outer ring, 3 inner ring, ...
constexpr int64_t kXyBytes = 16;         // 2 doubles: X, then Y
constexpr int64_t kZRangeBytes = 16;     // 2 doubles: zMin, zMax, once for the whole buffer
constexpr int64_t kZBytes = 8;           // double: Z

// ---- 2. Extension block, right after the Z values ----

constexpr unsigned char kMagic[4] = {'V', 'M', 'P', 'X'};
constexpr uint32_t kVersion = 1;

// Extension header fields, from the header's first byte; the header is kExtensionHeaderBytes.
constexpr int64_t kExtMagic = 0;             // 4 bytes: kMagic
constexpr int64_t kExtVersion = 4;           // uint32: kVersion
constexpr int64_t kExtBytes = 8;             // uint32: the whole block's size, header included
constexpr int64_t kExtFlags = 12;            // uint32: kExtHasNormals
constexpr int64_t kExtTextureDimension = 16;  // int32: D
constexpr int64_t kExtTexturePoints = 20;    // int32: T, as declared even when D is 0
constexpr int64_t kExtMaterials = 24;        // int32: K, material records at the end
constexpr int64_t kExtensionHeaderBytes = 32;  // with 4 reserved bytes (0) after K
constexpr uint32_t kExtHasNormals = 1;       // flag: the normals section is there

constexpr int64_t kNormalBytes = 24;           // 3 doubles: X, Y, Z of a point's normal
constexpr int64_t kTextureCoordinateBytes = 8;  // double: s or t; a texture point has D of them
constexpr int64_t kPartMaterialBytes = 4;      // int32: material index, -1 for none
constexpr int64_t kPartTextureStartBytes = 4;  // int32: the part's first texture point

// Bytes of one stored texture point: 0 when D is 0 (nothing is stored), 16 when it is 2.
constexpr int64_t TexturePointBytes(int64_t textureDimension) {
  return kTextureCoordinateBytes * textureDimension;
}

// Material record fields, from the record's first byte; the pixels follow the header.
constexpr int64_t kMatBytes = 0;             // uint32: MaterialRecordBytes of this record
constexpr int64_t kMatFlags = 4;             // uint32: MaterialFlag bits
constexpr int64_t kMatColor = 8;             // 3 int32: R, G, B
constexpr int64_t kMatEdgeWidth = 20;        // int32
constexpr int64_t kMatEdgeColor = 24;        // 3 int32: R, G, B
constexpr int64_t kMatTransparency = 36;     // int32: percent
constexpr int64_t kMatSharedTexture = 40;    // int32: -1 for none
constexpr int64_t kMatTextureWidth = 44;     // int32: W, 0 without a texture map
constexpr int64_t kMatTextureHeight = 48;    // int32: H
constexpr int64_t kMatTextureChannels = 52;  // int32: C, 1 to 4
constexpr int64_t kMaterialHeaderBytes = 56;

enum MaterialFlag : uint32_t {
  kHasColor = 1u << 0,
  kHasEdgeDisplay = 1u << 1,
  kEdgeDisplay = 1u << 2,
  kHasEdgeWidth = 1u << 3,
  kHasEdgeColor = 1u << 4,
  kCullBackFaces = 1u << 5,
  kHasTransparency = 1u << 6,
  kHasSharedTexture = 1u << 7,
  kHasTextureMap = 1u << 8,  // W × H × C pixel bytes follow the record header
};

// Bytes of one material record: its header and W × H × C pixel bytes (top row first, channels
// interleaved); pass 0s for a record without a texture map.
constexpr int64_t MaterialRecordBytes(int64_t width, int64_t height, int64_t channels) {
  return kMaterialHeaderBytes + width * height * channels;
}

// ---- Sections ----

// Offset of the first byte of each section. A section holds one value per part (partStarts,
// partTypes, partMaterials, partTextureStarts), per point (xy, z, normals) or per stored texture
// point (texturePoints); value i of a section lies at its offset + i × the value's bytes above.
struct Layout {
  int64_t partStarts = 0, partTypes = 0, xy = 0, zRange = 0, z = 0;
  // The extension header; also the byte size of the shapefile record content before it.
  int64_t extension = 0;
  int64_t normals = 0, texturePoints = 0, partMaterials = 0, partTextureStarts = 0;
  int64_t materials = 0;  // the first material record; the records run to the buffer's end
};

// The sections of a buffer of P parts and N points, with normals or not and T texture points of
// D doubles each. The shapefile record content depends on P and N alone, so a reader may call
// ComputeLayout(P, N) before it has read the extension header, and use the fields up to
// `extension`.
constexpr Layout ComputeLayout(int64_t parts, int64_t points, bool hasNormals = false,
                               int64_t textureDimension = 0, int64_t texturePoints = 0) {
  Layout l;
  l.partStarts = kHeaderBytes;
  l.partTypes = l.partStarts + kPartStartBytes * parts;
  l.xy = l.partTypes + kPartTypeBytes * parts;
  l.zRange = l.xy + kXyBytes * points;
  l.z = l.zRange + kZRangeBytes;
  l.extension = l.z + kZBytes * points;
  l.normals = l.extension + kExtensionHeaderBytes;
  l.texturePoints = l.normals + (hasNormals ? kNormalBytes * points : 0);
  l.partMaterials = l.texturePoints + TexturePointBytes(textureDimension) * texturePoints;
  l.partTextureStarts = l.partMaterials + kPartMaterialBytes * parts;
  l.materials = l.partTextureStarts + kPartTextureStartBytes * parts;
  return l;
}

static_assert(ComputeLayout(2, 3).extension == 60 + 8 * 2 + 24 * 3);

// ---- Fields ----

// `value` in little-endian byte order from the machine's (the same value where they agree).
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

// Writes `value` (int32_t, uint32_t or double) as sizeof(T) little-endian bytes at `at`, which
// need not be aligned.
template <typename T>
inline void Store(unsigned char* at, T value) {
  value = FromLittle(value);
  std::memcpy(at, &value, sizeof(T));
}

// Reads the sizeof(T) little-endian bytes at `at`, which need not be aligned.
template <typename T>
inline T Load(const unsigned char* at) {
  T value;
  std::memcpy(&value, at, sizeof(T));
  return FromLittle(value);
}

}  // namespace varnel::multipatch
