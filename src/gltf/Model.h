// One imported model as the glTF writer needs it, taken from the multipatch buffer as the
// library hands it out piece by piece (docs/multipatch-buffer.md): the buffer itself is never
// held whole, and its doubles become floats around the model's first point as they come.
#pragma once

#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include <varnel/DataBufferWriter.h>
#include <varnel/ImportOptions.h>
#include <varnel/MultipatchLayout.h>


namespace varnel::gltf {

struct Part {
  int32_t first = 0, count = 0, type = 0;
  int32_t material = -1;
  int32_t firstTexture = 0;
};

struct Material {
  bool hasColor = false;
  int32_t color[3] = {255, 255, 255};
  bool cull = false;
  int32_t transparency = 0;  // percent, 0 when not set
  int32_t textureOf = -1;    // the material holding the pixels it shows
  int32_t width = 0, height = 0, channels = 0;
  const unsigned char* pixels = nullptr;  // inside the model's material bytes
};

// From part `firstPart` on, to the next one, parts come from the node visit `instance`.
struct NodeSpan {
  int32_t firstPart = 0, instance = 0;
  std::string name;
};

// An IEEE half-precision float (as meshopt_quantizeHalf makes them) as a float.
inline float FromHalf(uint16_t half) {
  const uint32_t sign = uint32_t(half & 0x8000) << 16, exponent = (half >> 10) & 31, mantissa = half & 1023;
  if (exponent == 0) return (sign ? -1.0f : 1.0f) * float(mantissa) * 5.9604645e-8f;  // 2^-24
  uint32_t bits = sign | (exponent == 31 ? 0x7f800000u : (exponent + 112) << 23) | mantissa << 13;
  float value;
  std::memcpy(&value, &bits, 4);
  return value;
}

// Image files larger than this are re-encoded from their pixels rather than read again whole.
inline constexpr int64_t kMaxTextureFileBytes = int64_t{256} << 20;

class Model : public DataBufferWriter, public SceneObserver, public TextureObserver {
 public:
  bool Begin(int32_t size) override;
  void Write(int32_t offset, const unsigned char* data, int32_t size) override;
  void NodeParts(int32_t firstPart, int32_t instance, const char* name) override;
  // Keeps the bytes of a PNG or JPEG file, to be written unchanged.
  void TextureRead(int32_t material, const char* path) override;
  // After the import: false when nothing usable came.
  bool Finish();

  std::vector<Part> parts;
  // Per point: x, y, z minus `origin` (the first point); s, t per texture point.
  std::vector<float> positions, texture;
  // Per point, its normal as half floats (a direction to within 0.03 degrees): they would
  // otherwise take a quarter of what a large model costs.
  std::vector<uint16_t> normals;
  double origin[3] = {0, 0, 0};
  double min[3], max[3];  // the extent of the points as read
  std::vector<Material> materials;
  std::vector<NodeSpan> nodes;
  std::map<int32_t, std::pair<std::string, const char*>> files;  // material -> bytes, MIME type

 private:
  void Take(int64_t offset, const unsigned char* data, int64_t size);
  bool begun_ = false, failed_ = false;
  int64_t size_ = 0;
  int32_t partCount_ = -1, pointCount_ = -1, textureCount_ = 0, materialCount_ = 0;
  bool hasNormals_ = false;
  int32_t dimension_ = 0;
  // Section starts, from the record header, then whole once the extension header came.
  multipatch::Layout layout_;
  bool extended_ = false;
  std::string materialBytes_;
};

}  // namespace varnel::gltf
