#include "gltf/Model.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

#include <meshoptimizer.h>

namespace varnel::gltf {

using namespace multipatch;

bool Model::Begin(int32_t size) {
  begun_ = true;
  size_ = size;
  return size >= kHeaderBytes;
}

void Model::NodeParts(int32_t firstPart, int32_t instance, const char* name) {
  if (!nodes.empty() && nodes.back().firstPart == firstPart) nodes.pop_back();
  nodes.push_back({firstPart, instance, name ? name : ""});
}

namespace {

uint32_t BigEndian(const std::string& bytes, size_t at, int width) {
  uint32_t value = 0;
  for (int k = 0; k < width; ++k) value = value << 8 | uint8_t(bytes[at + size_t(k)]);
  return value;
}

// Whether an image shows as its pixels read: no colour profile, gamma or chromaticities, square
// pixels, no animation, no CMYK or orientation tag. glTF clients ignore such things or refuse
// them (the Khronos validator warns); an image that has them is re-encoded from its pixels.
bool Plain(const std::string& bytes, bool png) {
  if (png) {
    for (size_t at = 8; at + 12 <= bytes.size(); at += 12 + BigEndian(bytes, at, 4)) {
      const std::string type = bytes.substr(at + 4, 4);
      if (type == "iCCP" || type == "sRGB" || type == "gAMA" || type == "cHRM" || type == "acTL")
        return false;
      if (type == "pHYs" && at + 16 <= bytes.size() && BigEndian(bytes, at + 8, 4) != BigEndian(bytes, at + 12, 4))
        return false;
      if (type == "IDAT") return true;
    }
    return false;
  }
  for (size_t at = 2; at + 4 <= bytes.size() && uint8_t(bytes[at]) == 0xff; at += 2 + BigEndian(bytes, at + 2, 2)) {
    const uint8_t marker = uint8_t(bytes[at + 1]);
    if (marker == 0xda) return true;  // the scan starts
    if (marker == 0xe1 || marker == 0xe2 || marker == 0xee) return false;  // Exif, ICC, Adobe
    if (marker == 0xe0 && at + 16 <= bytes.size() && BigEndian(bytes, at + 12, 2) != BigEndian(bytes, at + 14, 2))
      return false;  // JFIF density: pixels not square
    if (marker >= 0xc0 && marker <= 0xcf && marker != 0xc4 && marker != 0xc8 && marker != 0xcc &&
        at + 10 <= bytes.size() && uint8_t(bytes[at + 9]) == 4)
      return false;  // four components: CMYK
  }
  return false;
}

}  // namespace

void Model::TextureRead(int32_t material, const char* path) {
  std::FILE* file = std::fopen(path, "rb");
  if (!file) return;
  std::string bytes;
  char chunk[1 << 16];
  for (size_t n; int64_t(bytes.size()) <= kMaxTextureFileBytes && (n = std::fread(chunk, 1, sizeof chunk, file)) > 0;)
    bytes.append(chunk, n);
  const bool whole = !std::ferror(file) && int64_t(bytes.size()) <= kMaxTextureFileBytes;
  std::fclose(file);
  const char* type = bytes.starts_with("\x89PNG\r\n\x1a\n") ? "image/png"
                     : bytes.starts_with("\xff\xd8\xff")       ? "image/jpeg"
                                                                 : nullptr;
  if (whole && type && Plain(bytes, type[6] == 'p')) files[material] = {std::move(bytes), type};
}

void Model::Write(int32_t offset, const unsigned char* data, int32_t size) {
  if (failed_ || offset < 0 || size < 0 || int64_t(offset) + size > size_) {
    failed_ = true;
    return;
  }
  if (offset == 0 && partCount_ < 0) {
    partCount_ = Load<int32_t>(data + kPartCountOffset);
    pointCount_ = Load<int32_t>(data + kPointCountOffset);
    if (partCount_ < 0 || pointCount_ < 0) return void(failed_ = true);
    const int64_t p = partCount_, n = pointCount_;
    layout_ = ComputeLayout(p, n);
    parts.resize(static_cast<size_t>(p));
    positions.resize(static_cast<size_t>(3 * n));
    std::fill(min, min + 3, std::numeric_limits<double>::infinity());
    std::fill(max, max + 3, -std::numeric_limits<double>::infinity());
    return;
  }
  if (partCount_ < 0) return void(failed_ = true);
  if (offset == layout_.extension && !extended_) {
    if (size < kExtensionHeaderBytes || std::memcmp(data + kExtMagic, kMagic, sizeof kMagic) != 0)
      return void(failed_ = true);
    hasNormals_ = Load<uint32_t>(data + kExtFlags) & kExtHasNormals;
    dimension_ = Load<int32_t>(data + kExtTextureDimension);
    textureCount_ = Load<int32_t>(data + kExtTexturePoints);
    materialCount_ = Load<int32_t>(data + kExtMaterials);
    if ((dimension_ != 0 && dimension_ != 2) || textureCount_ < 0 || materialCount_ < 0)
      return void(failed_ = true);
    const int64_t n = pointCount_, p = partCount_;
    layout_ = ComputeLayout(p, n, hasNormals_, dimension_, textureCount_);
    extended_ = true;
    if (layout_.materials > size_) return void(failed_ = true);
    if (hasNormals_) normals.resize(static_cast<size_t>(3 * n));
    if (dimension_ == 2) texture.resize(static_cast<size_t>(2 * textureCount_));
    materialBytes_.resize(static_cast<size_t>(size_ - layout_.materials));
    return;
  }
  Take(offset, data, size);
}

void Model::Take(int64_t offset, const unsigned char* data, int64_t size) {
  // Each section the piece overlaps gets its part of it, as (index of the first value, bytes,
  // values).
  auto section = [&](int64_t begin, int64_t end, int64_t width, auto&& take) {
    int64_t a = std::max(offset, begin), b = std::min(offset + size, end);
    if (a < b) take((a - begin) / width, data + (a - offset), (b - a) / width);
  };
  const Layout& l = layout_;
  section(l.partStarts, l.partTypes, kPartStartBytes, [&](int64_t i, const unsigned char* at, int64_t k) {
    for (int64_t j = 0; j < k; ++j) parts[i + j].first = Load<int32_t>(at + 4 * j);
  });
  section(l.partTypes, l.xy, kPartTypeBytes, [&](int64_t i, const unsigned char* at, int64_t k) {
    for (int64_t j = 0; j < k; ++j) parts[i + j].type = Load<int32_t>(at + 4 * j);
  });
  // Coordinates: the first value of each section comes first and becomes the origin.
  auto coordinate = [&](int64_t value, int axis, double v) {
    if (value == 0 || (axis == 1 && value == 1)) origin[axis] = v;
    if (std::isfinite(v)) min[axis] = std::min(min[axis], v), max[axis] = std::max(max[axis], v);
    return static_cast<float>(v - origin[axis]);
  };
  section(l.xy, l.zRange, sizeof(double), [&](int64_t i, const unsigned char* at, int64_t k) {
    for (int64_t j = 0; j < k; ++j) {
      int64_t v = i + j;
      int axis = static_cast<int>(v & 1);
      positions[(v >> 1) * 3 + axis] = coordinate(v, axis, Load<double>(at + 8 * j));
    }
  });
  section(l.z, l.extension, kZBytes, [&](int64_t i, const unsigned char* at, int64_t k) {
    for (int64_t j = 0; j < k; ++j) positions[(i + j) * 3 + 2] = coordinate(i + j, 2, Load<double>(at + 8 * j));
  });
  if (!extended_) return;
  section(l.normals, l.texturePoints, sizeof(double), [&](int64_t i, const unsigned char* at, int64_t k) {
    for (int64_t j = 0; j < k; ++j) normals[i + j] = meshopt_quantizeHalf(static_cast<float>(Load<double>(at + 8 * j)));
  });
  section(l.texturePoints, l.partMaterials, kTextureCoordinateBytes, [&](int64_t i, const unsigned char* at, int64_t k) {
    for (int64_t j = 0; j < k; ++j) texture[i + j] = static_cast<float>(Load<double>(at + 8 * j));
  });
  section(l.partMaterials, l.partTextureStarts, kPartMaterialBytes, [&](int64_t i, const unsigned char* at, int64_t k) {
    for (int64_t j = 0; j < k; ++j) parts[i + j].material = Load<int32_t>(at + 4 * j);
  });
  section(l.partTextureStarts, l.materials, kPartTextureStartBytes, [&](int64_t i, const unsigned char* at, int64_t k) {
    for (int64_t j = 0; j < k; ++j) parts[i + j].firstTexture = Load<int32_t>(at + 4 * j);
  });
  section(l.materials, size_, 1, [&](int64_t i, const unsigned char* at, int64_t k) {
    std::memcpy(materialBytes_.data() + i, at, static_cast<size_t>(k));
  });
}

bool Model::Finish() {
  if (!begun_ || failed_ || !extended_ || pointCount_ < 1 || !(min[0] <= max[0])) return false;
  const int32_t n = pointCount_;
  for (size_t i = 0; i < parts.size(); ++i) {
    Part& part = parts[i];
    int32_t end = i + 1 < parts.size() ? parts[i + 1].first : n;
    if (part.first < 0 || end < part.first || end > n || part.material < -1 ||
        part.material >= materialCount_ || part.type < 0 || part.type > 6)
      return false;
    part.count = end - part.first;
    // Texture points only where the part has all of its own.
    if (dimension_ != 2 || part.firstTexture < 0 ||
        int64_t(part.firstTexture) + part.count > textureCount_)
      part.firstTexture = -1;
  }
  const unsigned char* at = reinterpret_cast<const unsigned char*>(materialBytes_.data());
  const unsigned char* end = at + materialBytes_.size();
  for (int32_t k = 0; k < materialCount_; ++k) {
    if (end - at < kMaterialHeaderBytes) return false;
    uint32_t bytes = Load<uint32_t>(at + kMatBytes), flags = Load<uint32_t>(at + kMatFlags);
    if (bytes < kMaterialHeaderBytes || bytes > uint64_t(end - at)) return false;
    Material m;
    m.hasColor = flags & kHasColor;
    if (m.hasColor)
      for (int c = 0; c < 3; ++c) m.color[c] = std::clamp(Load<int32_t>(at + kMatColor + 4 * c), 0, 255);
    m.cull = flags & kCullBackFaces;
    if (flags & kHasTransparency) m.transparency = std::clamp(Load<int32_t>(at + kMatTransparency), 0, 100);
    if ((flags & kHasTextureMap) && bytes > kMaterialHeaderBytes) {
      m.width = Load<int32_t>(at + kMatTextureWidth), m.height = Load<int32_t>(at + kMatTextureHeight);
      m.channels = Load<int32_t>(at + kMatTextureChannels);
      if (m.width > 0 && m.height > 0 && m.channels >= 1 && m.channels <= 4 &&
          MaterialRecordBytes(m.width, m.height, m.channels) == bytes) {
        m.pixels = at + kMaterialHeaderBytes;
        m.textureOf = k;
      }
    }
    // A shared texture names a record that holds the pixels: the nearest one at or before it.
    if (!m.pixels && (flags & kHasSharedTexture))
      for (int32_t j = std::min(Load<int32_t>(at + kMatSharedTexture), k - 1); j >= 0; --j)
        if (materials[j].pixels) {
          m.textureOf = j;
          break;
        }
    materials.push_back(m);
    at += bytes;
  }
  return true;
}

}  // namespace varnel::gltf
