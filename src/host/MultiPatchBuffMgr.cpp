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
int64_t WriteMaterial(DataBufferWriter& writer, int64_t at, const MaterialProperties& m) {
  using namespace multipatch;
  int64_t pixels = PixelBytes(m);
  int64_t bytes = kMaterialHeaderBytes + pixels;
  unsigned char header[kMaterialHeaderBytes] = {};
  Store<uint32_t>(header + kMatBytes, uint32_t(bytes));
  Store<uint32_t>(header + kMatFlags, MaterialFlags(m));
  for (int i = 0; i < 3; ++i) {
    Store<int32_t>(header + kMatColor + 4 * i, m.color[i]);
    Store<int32_t>(header + kMatEdgeColor + 4 * i, m.edgeColor[i]);
  }
  Store<int32_t>(header + kMatEdgeWidth, m.edgeWidth);
  Store<int32_t>(header + kMatTransparency, m.transparency);
  Store<int32_t>(header + kMatSharedTexture, m.hasSharedTexture ? m.sharedTexture : -1);
  if (pixels > 0) {
    Store<int32_t>(header + kMatTextureWidth, m.textureWidth);
    Store<int32_t>(header + kMatTextureHeight, m.textureHeight);
    Store<int32_t>(header + kMatTextureChannels, m.textureChannels);
  }
  writer.Write(int32_t(at), header, int32_t(kMaterialHeaderBytes));
  if (pixels > 0) writer.Write(int32_t(at + kMaterialHeaderBytes), m.texturePixels, int32_t(pixels));
  return bytes;
}

// A window holds whole values of every section (4, 8, 16 and 24 bytes) and amortises the
// writer's calls; a few of them are all a conversion keeps of the buffer.
constexpr int64_t kWindowBytes = 3 << 16;

}  // namespace

DataBufferWriter::~DataBufferWriter() = default;

bool MemoryBufferWriter::Begin(int32_t bytes) {
  ::operator delete(buffer);
  size = 0;
  buffer = static_cast<unsigned char*>(::operator new(size_t(bytes), std::nothrow));
  if (!buffer) return false;
  AdviseHugePages(buffer, size_t(bytes));
  Prefault(buffer, size_t(bytes));
  size = bytes;
  return true;
}

void MemoryBufferWriter::Write(int32_t offset, const unsigned char* data, int32_t bytes) {
  std::memcpy(buffer + offset, data, size_t(bytes));
}

unsigned char* MemoryBufferWriter::Release() {
  unsigned char* taken = buffer;
  buffer = nullptr;
  size = 0;
  return taken;
}

void SectionStream::Reset(DataBufferWriter* writer, unsigned char* whole, int64_t offset,
                          int64_t count, int valueBytes, unsigned char fill) {
  offset_ = offset;
  count_ = count;
  valueBytes_ = valueBytes;
  fill_ = fill;
  next_ = used_ = 0;
  if (whole) {
    writer_ = nullptr;
    base_ = whole + offset;
    capacity_ = count * valueBytes;
    return;
  }
  writer_ = writer;
  const int64_t capacity = count * valueBytes < kWindowBytes ? count * valueBytes : kWindowBytes;
  if (!window_ || capacity > windowBytes_) {
    window_ = std::make_unique_for_overwrite<unsigned char[]>(size_t(capacity));
    windowBytes_ = capacity;
  }
  base_ = window_.get();
  capacity_ = capacity;
}

void SectionStream::Flush() {
  if (!writer_) return;
  if (used_ > 0) writer_->Write(int32_t(offset_), base_, int32_t(used_));
  offset_ += used_;
  used_ = 0;
}

unsigned char* SectionStream::Seek(int64_t index) {
  if (index < next_ || index >= count_) return nullptr;
  while (next_ < index) std::memset(At(next_), fill_, size_t(valueBytes_));
  return At(index);
}

void SectionStream::Finish() {
  while (next_ < count_) std::memset(At(next_), fill_, size_t(valueBytes_));
  Flush();
  count_ = next_ = 0;
}

int MultiPatchBuffMgr::Init(int parts, int points, bool, bool, bool hasNormals,
                            int textureDimension, int texturePoints, int materialCount,
                            MaterialProperties* materials, DataBufferWriter& writer) {
  using namespace multipatch;
  writer_ = nullptr;
  if (parts < 0 || points < 0 || texturePoints < 0 || materialCount < 0) return 0;
  if (textureDimension != 0 && textureDimension != 2) return 0;
  if (materialCount > 0 && !materials) return 0;

  Layout layout = ComputeLayout(parts, points, hasNormals, textureDimension, texturePoints);
  int64_t total = layout.materials;
  for (int i = 0; i < materialCount && total <= INT_MAX; ++i)
    total += kMaterialHeaderBytes + PixelBytes(materials[i]);
  if (total > INT_MAX || !writer.Begin(int32_t(total))) return 0;

  // The box stays zero: only a geometry's import sets it.
  unsigned char header[kHeaderBytes] = {};
  Store<int32_t>(header + kShapeTypeOffset, kShapeType);
  Store<int32_t>(header + kPartCountOffset, parts);
  Store<int32_t>(header + kPointCountOffset, points);
  writer.Write(0, header, int32_t(kHeaderBytes));
  unsigned char extension[kExtensionHeaderBytes] = {};
  std::memcpy(extension + kExtMagic, kMagic, sizeof kMagic);
  Store<uint32_t>(extension + kExtVersion, kVersion);
  Store<uint32_t>(extension + kExtBytes, uint32_t(total - layout.extension));
  Store<uint32_t>(extension + kExtFlags, hasNormals ? kExtHasNormals : 0);
  Store<int32_t>(extension + kExtTextureDimension, textureDimension);
  Store<int32_t>(extension + kExtTexturePoints, texturePoints);
  Store<int32_t>(extension + kExtMaterials, materialCount);
  writer.Write(int32_t(layout.extension), extension, int32_t(kExtensionHeaderBytes));
  const unsigned char zRange[kZRangeBytes] = {};
  writer.Write(int32_t(layout.zRange), zRange, int32_t(sizeof zRange));
  int64_t at = layout.materials;
  for (int i = 0; i < materialCount; ++i) at += WriteMaterial(writer, at, materials[i]);

  writer_ = &writer;
  layout_ = layout;
  const int64_t storedTextures = textureDimension == 2 ? texturePoints : 0;
  // Copying windows into a buffer that is all there costs a pass over it.
  auto* memory = dynamic_cast<MemoryBufferWriter*>(&writer);
  unsigned char* whole = memory ? memory->buffer : nullptr;
  auto reset = [&](int section, int64_t offset, int64_t count, int64_t valueBytes) {
    // A part that is never started has no material rather than the first one.
    const unsigned char fill = section == kPartMaterials ? 0xff : 0;
    sections_[section].Reset(&writer, whole, offset, count, int(valueBytes), fill);
  };
  reset(kPartStarts, layout.partStarts, parts, kPartStartBytes);
  reset(kPartTypes, layout.partTypes, parts, kPartTypeBytes);
  reset(kXY, layout.xy, points, kXyBytes);
  reset(kZ, layout.z, points, kZBytes);
  reset(kNormals, layout.normals, hasNormals ? points : 0, kNormalBytes);
  reset(kTexturePoints, layout.texturePoints, storedTextures, TexturePointBytes(2));
  reset(kPartMaterials, layout.partMaterials, parts, kPartMaterialBytes);
  reset(kPartTextureStarts, layout.partTextureStarts, parts, kPartTextureStartBytes);
  return int(total);
}

void MultiPatchBuffMgr::SetPart(int part, int type, int materialIndex, int firstPoint,
                                int firstTexturePoint) {
  using multipatch::Store;
  if (unsigned char* at = sections_[kPartTypes].At(part)) Store<int32_t>(at, type);
  if (unsigned char* at = sections_[kPartMaterials].At(part)) Store<int32_t>(at, materialIndex);
  if (unsigned char* at = sections_[kPartStarts].At(part)) Store<int32_t>(at, firstPoint);
  if (unsigned char* at = sections_[kPartTextureStarts].At(part))
    Store<int32_t>(at, firstTexturePoint);
}

void MultiPatchBuffMgr::Finish() {
  for (SectionStream& section : sections_) section.Finish();
}

void MultiPatchBuffMgr::SetXYExtents(double xMin, double yMin, double xMax, double yMax) {
  if (!writer_) return;
  unsigned char box[32];
  const double values[4] = {xMin, yMin, xMax, yMax};
  for (int i = 0; i < 4; ++i) multipatch::Store<double>(box + 8 * i, values[i]);
  writer_->Write(int32_t(multipatch::kBoxOffset), box, int32_t(sizeof box));
}

void MultiPatchBuffMgr::SetZExtents(double zMin, double zMax) {
  if (!writer_) return;
  unsigned char range[multipatch::kZRangeBytes];
  multipatch::Store<double>(range, zMin);
  multipatch::Store<double>(range + 8, zMax);
  writer_->Write(int32_t(layout_.zRange), range, int32_t(sizeof range));
}

}  // namespace varnel
