#include "host/MultiPatchBuffMgr.h"

#include <climits>
#include <cstring>
#include <new>

#include <varnel/MaterialProperties.h>
#include "util/HugePages.h"

namespace varnel {
namespace {

using multipatch::Store;

bool HasTextureMap(const MaterialProperties& m) {
  return m.texturePixels && m.textureWidth > 0 && m.textureHeight > 0 && m.textureChannels >= 1 &&
         m.textureChannels <= 4;
}

int64_t PixelBytes(const MaterialProperties& m) {
  if (!HasTextureMap(m)) return 0;
  return int64_t(m.textureWidth) * m.textureHeight * m.textureChannels;
}

uint32_t MaterialFlags(const MaterialProperties& m) {
  uint32_t flags = 0;
  if (m.hasColor) flags |= multipatch::kHasColor;
  if (m.hasEdgeDisplay) flags |= multipatch::kHasEdgeDisplay;
  if (m.edgeDisplay) flags |= multipatch::kEdgeDisplay;
  if (m.hasEdgeWidth) flags |= multipatch::kHasEdgeWidth;
  if (m.hasEdgeColor) flags |= multipatch::kHasEdgeColor;
  if (m.cullBackFaces) flags |= multipatch::kCullBackFaces;
  if (m.hasTransparency) flags |= multipatch::kHasTransparency;
  if (m.hasSharedTexture) flags |= multipatch::kHasSharedTexture;
  if (HasTextureMap(m)) flags |= multipatch::kHasTextureMap;
  return flags;
}

// Writes one record at `at`; returns its byte size.
int64_t WriteMaterial(unsigned char* at, const MaterialProperties& m) {
  using namespace multipatch;
  int64_t pixels = PixelBytes(m);
  int64_t bytes = kMaterialHeaderBytes + pixels;
  Store<uint32_t>(at + kMatBytes, uint32_t(bytes));
  Store<uint32_t>(at + kMatFlags, MaterialFlags(m));
  for (int i = 0; i < 3; ++i) {
    Store<int32_t>(at + kMatColor + 4 * i, m.color[i]);
    Store<int32_t>(at + kMatEdgeColor + 4 * i, m.edgeColor[i]);
  }
  Store<int32_t>(at + kMatEdgeWidth, m.edgeWidth);
  Store<int32_t>(at + kMatTransparency, m.transparency);
  Store<int32_t>(at + kMatSharedTexture, m.hasSharedTexture ? m.sharedTexture : -1);
  if (pixels > 0) {
    Store<int32_t>(at + kMatTextureWidth, m.textureWidth);
    Store<int32_t>(at + kMatTextureHeight, m.textureHeight);
    Store<int32_t>(at + kMatTextureChannels, m.textureChannels);
    std::memcpy(at + kMaterialHeaderBytes, m.texturePixels, size_t(pixels));
  }
  return bytes;
}

}  // namespace

int MultiPatchBuffMgr::Init(int parts, int points, bool, bool, bool hasNormals,
                            int textureDimension, int texturePoints, int materialCount,
                            MaterialProperties* materials, unsigned char*& buffer) {
  using namespace multipatch;
  buffer_ = nullptr;
  parts_ = points_ = texturePoints_ = textureDimension_ = 0;
  hasNormals_ = false;
  if (parts < 0 || points < 0 || texturePoints < 0 || materialCount < 0) return 0;
  if (textureDimension != 0 && textureDimension != 2) return 0;
  if (materialCount > 0 && !materials) return 0;

  Layout layout = ComputeLayout(parts, points, hasNormals, textureDimension, texturePoints);
  int64_t total = layout.materials;
  for (int i = 0; i < materialCount && total <= INT_MAX; ++i)
    total += kMaterialHeaderBytes + PixelBytes(materials[i]);
  if (total > INT_MAX) return 0;

  auto* bytes = static_cast<unsigned char*>(::operator new(size_t(total), std::nothrow));
  if (!bytes) return 0;
  AdviseHugePages(bytes, size_t(total));
  std::memset(bytes, 0, size_t(total));

  Store<int32_t>(bytes, kShapeType);
  Store<int32_t>(bytes + 36, parts);
  Store<int32_t>(bytes + 40, points);
  unsigned char* extension = bytes + layout.extension;
  std::memcpy(extension, kMagic, sizeof kMagic);
  Store<uint32_t>(extension + kExtVersion, kVersion);
  Store<uint32_t>(extension + kExtBytes, uint32_t(total - layout.extension));
  Store<uint32_t>(extension + kExtFlags, hasNormals ? kExtHasNormals : 0);
  Store<int32_t>(extension + kExtTextureDimension, textureDimension);
  Store<int32_t>(extension + kExtTexturePoints, texturePoints);
  Store<int32_t>(extension + kExtMaterials, materialCount);
  // A part that is never started has no material rather than the first one.
  for (int p = 0; p < parts; ++p) Store<int32_t>(bytes + layout.partMaterials + 4 * p, -1);
  int64_t at = layout.materials;
  for (int i = 0; i < materialCount; ++i) at += WriteMaterial(bytes + at, materials[i]);

  buffer_ = bytes;
  parts_ = parts;
  points_ = points;
  texturePoints_ = texturePoints;
  hasNormals_ = hasNormals;
  textureDimension_ = textureDimension;
  layout_ = layout;
  buffer = bytes;
  return int(total);
}

void MultiPatchBuffMgr::SetPartType(int part, int type) {
  if (buffer_ && part >= 0 && part < parts_)
    multipatch::Store<int32_t>(buffer_ + layout_.partTypes + 4 * int64_t(part), type);
}

void MultiPatchBuffMgr::SetMaterialType(int part, int materialIndex) {
  if (buffer_ && part >= 0 && part < parts_)
    multipatch::Store<int32_t>(buffer_ + layout_.partMaterials + 4 * int64_t(part), materialIndex);
}

void MultiPatchBuffMgr::SetPointIndex(int part, int firstPoint) {
  if (buffer_ && part >= 0 && part < parts_)
    multipatch::Store<int32_t>(buffer_ + layout_.partStarts + 4 * int64_t(part), firstPoint);
}

void MultiPatchBuffMgr::SetTexturePointIndex(int part, int firstTexturePoint) {
  if (buffer_ && part >= 0 && part < parts_)
    multipatch::Store<int32_t>(buffer_ + layout_.partTextureStarts + 4 * int64_t(part),
                               firstTexturePoint);
}

void MultiPatchBuffMgr::SetPoint(int index, double x, double y, double z) {
  if (!buffer_ || index < 0 || index >= points_) return;
  unsigned char* xy = buffer_ + layout_.xy + 16 * int64_t(index);
  multipatch::Store<double>(xy, x);
  multipatch::Store<double>(xy + 8, y);
  multipatch::Store<double>(buffer_ + layout_.z + 8 * int64_t(index), z);
}

void MultiPatchBuffMgr::SetNormal(int index, double x, double y, double z) {
  if (!buffer_ || !hasNormals_ || index < 0 || index >= points_) return;
  unsigned char* at = buffer_ + layout_.normals + 24 * int64_t(index);
  multipatch::Store<double>(at, x);
  multipatch::Store<double>(at + 8, y);
  multipatch::Store<double>(at + 16, z);
}

void MultiPatchBuffMgr::SetTexturePoint(int index, double s, double t) {
  if (!buffer_ || textureDimension_ != 2 || index < 0 || index >= texturePoints_) return;
  unsigned char* at = buffer_ + layout_.texturePoints + 16 * int64_t(index);
  multipatch::Store<double>(at, s);
  multipatch::Store<double>(at + 8, t);
}

void MultiPatchBuffMgr::SetXYExtents(double xMin, double yMin, double xMax, double yMax) {
  if (!buffer_) return;
  multipatch::Store<double>(buffer_ + 4, xMin);
  multipatch::Store<double>(buffer_ + 12, yMin);
  multipatch::Store<double>(buffer_ + 20, xMax);
  multipatch::Store<double>(buffer_ + 28, yMax);
}

void MultiPatchBuffMgr::SetZExtents(double zMin, double zMax) {
  if (!buffer_) return;
  multipatch::Store<double>(buffer_ + layout_.zRange, zMin);
  multipatch::Store<double>(buffer_ + layout_.zRange + 8, zMax);
}

}  // namespace varnel
