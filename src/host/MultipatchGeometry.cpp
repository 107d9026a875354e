#include "host/MultipatchGeometry.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace varnel {

using namespace multipatch;

IUnknown* CreateMultipatchGeometry() { return static_cast<IGeometry*>(new MultipatchGeometry); }

HRESULT MultipatchGeometry::QueryInterface(const Guid& iid, void** object) {
  if (iid == IID_IUnknown || iid == IID_IGeometry)
    return QueryOne(static_cast<IGeometry*>(this), object);
  if (iid == IID_IShapeImport) return QueryOne(static_cast<IShapeImport*>(this), object);
  if (iid == IID_IGeometryState) return QueryOne(static_cast<IGeometryState*>(this), object);
  return NoInterface(object);
}

int32_t MultipatchGeometry::LoadInt(int64_t offset) const {
  return Load<int32_t>(bytes_.data() + offset);
}

double MultipatchGeometry::LoadDouble(int64_t offset) const {
  return Load<double>(bytes_.data() + offset);
}

int32_t MultipatchGeometry::GetPartType(int32_t part) {
  return ValidPart(part) ? LoadInt(parsed_.layout.partTypes + kPartTypeBytes * part) : -1;
}

int32_t MultipatchGeometry::GetPartFirstPoint(int32_t part) {
  return ValidPart(part) ? LoadInt(parsed_.layout.partStarts + kPartStartBytes * part) : -1;
}

int32_t MultipatchGeometry::GetPartPointCount(int32_t part) {
  if (!ValidPart(part)) return 0;
  int32_t end = part + 1 < parsed_.parts ? GetPartFirstPoint(part + 1) : parsed_.points;
  return end - GetPartFirstPoint(part);
}

int32_t MultipatchGeometry::GetPartMaterial(int32_t part) {
  if (!ValidPart(part) || !parsed_.extended) return -1;
  return LoadInt(parsed_.layout.partMaterials + kPartMaterialBytes * part);
}

int32_t MultipatchGeometry::GetPartFirstTexturePoint(int32_t part) {
  if (!ValidPart(part)) return -1;
  return parsed_.extended ? LoadInt(parsed_.layout.partTextureStarts + kPartTextureStartBytes * part) : 0;
}

bool MultipatchGeometry::GetPoint(int32_t index, WKSPointZ* point) {
  if (!point || !ValidPoint(index)) return false;
  point->X = LoadDouble(parsed_.layout.xy + kXyBytes * index);
  point->Y = LoadDouble(parsed_.layout.xy + kXyBytes * index + 8);
  point->Z = LoadDouble(parsed_.layout.z + kZBytes * index);
  return true;
}

int32_t MultipatchGeometry::QueryPoints(int32_t first, int32_t count, WKSPointZ* points) {
  if (!points || count < 1 || !ValidPoint(first)) return 0;
  int32_t copied = std::min(count, parsed_.points - first);
  for (int32_t i = 0; i < copied; ++i) GetPoint(first + i, points + i);
  return copied;
}

bool MultipatchGeometry::GetNormal(int32_t index, WKSPointZ* normal) {
  if (!normal || !parsed_.hasNormals || !ValidPoint(index)) return false;
  int64_t at = parsed_.layout.normals + kNormalBytes * index;
  normal->X = LoadDouble(at);
  normal->Y = LoadDouble(at + 8);
  normal->Z = LoadDouble(at + 16);
  return true;
}

int32_t MultipatchGeometry::GetTexturePointCount() {
  return parsed_.textureDimension == 2 ? parsed_.texturePoints : 0;
}

bool MultipatchGeometry::GetTexturePoint(int32_t index, double* s, double* t) {
  if (!s || !t || index < 0 || index >= GetTexturePointCount()) return false;
  int64_t at = parsed_.layout.texturePoints + TexturePointBytes(2) * index;
  *s = LoadDouble(at);
  *t = LoadDouble(at + 8);
  return true;
}

bool MultipatchGeometry::GetMaterial(int32_t index, GeometryMaterial* material) {
  if (!material || index < 0 || index >= GetMaterialCount()) return false;
  int64_t at = parsed_.materialRecords[size_t(index)];
  uint32_t flags = Load<uint32_t>(bytes_.data() + at + kMatFlags);
  GeometryMaterial m;
  m.hasColor = flags & kHasColor;
  m.hasEdgeDisplay = flags & kHasEdgeDisplay;
  m.edgeDisplay = flags & kEdgeDisplay;
  m.hasEdgeWidth = flags & kHasEdgeWidth;
  m.hasEdgeColor = flags & kHasEdgeColor;
  m.cullBackFaces = flags & kCullBackFaces;
  m.hasTransparency = flags & kHasTransparency;
  m.hasSharedTexture = flags & kHasSharedTexture;
  for (int i = 0; i < 3; ++i) {
    m.color[i] = LoadInt(at + kMatColor + 4 * i);
    m.edgeColor[i] = LoadInt(at + kMatEdgeColor + 4 * i);
  }
  m.edgeWidth = LoadInt(at + kMatEdgeWidth);
  m.transparency = LoadInt(at + kMatTransparency);
  m.sharedTexture = m.hasSharedTexture ? LoadInt(at + kMatSharedTexture) : -1;
  if (flags & kHasTextureMap) {
    m.textureWidth = LoadInt(at + kMatTextureWidth);
    m.textureHeight = LoadInt(at + kMatTextureHeight);
    m.textureChannels = LoadInt(at + kMatTextureChannels);
    m.texturePixels = bytes_.data() + at + kMaterialHeaderBytes;
  }
  *material = m;
  return true;
}

GeometryExtent MultipatchGeometry::GetExtent() {
  GeometryExtent e;
  if (bytes_.empty()) return e;
  e.xMin = LoadDouble(kBoxOffset);
  e.yMin = LoadDouble(kBoxOffset + 8);
  e.xMax = LoadDouble(kBoxOffset + 16);
  e.yMax = LoadDouble(kBoxOffset + 24);
  e.zMin = LoadDouble(parsed_.layout.zRange);
  e.zMax = LoadDouble(parsed_.layout.zRange + 8);
  return e;
}

HRESULT MultipatchGeometry::GetShapeRecordSize(int32_t* size) {
  if (!size) return E_POINTER;
  *size = bytes_.empty() ? 0 : int32_t(parsed_.layout.extension);
  return S_OK;
}

HRESULT MultipatchGeometry::ExportShapeRecord(int32_t size, unsigned char* buffer,
                                              int32_t* written) {
  int32_t needed = 0;
  GetShapeRecordSize(&needed);
  if (written) *written = 0;
  if (size < needed) return GEOMETRY_E_SMALLBUFFER;
  if (needed > 0 && !buffer) return E_POINTER;
  if (needed > 0) std::memcpy(buffer, bytes_.data(), size_t(needed));
  if (written) *written = needed;
  return S_OK;
}

HRESULT MultipatchGeometry::ImportFromShapeBuffer(int32_t flags, int32_t size,
                                                  unsigned char* buffer, int32_t* bytesRead) {
  if (bytesRead) *bytesRead = 0;
  bytes_.clear();
  bytes_.shrink_to_fit();
  parsed_ = multipatch::ParsedBuffer();
  knownSimple_ = false;

  multipatch::ParsedBuffer parsed;
  if (!multipatch::ParseBuffer(buffer, size, (flags & kShapeImportExtended) != 0, parsed))
    return GEOMETRY_E_BADBUFFER;
  try {
    bytes_.assign(buffer, buffer + parsed.bytes);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  parsed_ = std::move(parsed);
  if (bytesRead) *bytesRead = int32_t(parsed_.bytes);
  return S_OK;
}

HRESULT MultipatchGeometry::GetKnownSimple(VariantBool* simple) {
  if (!simple) return E_POINTER;
  *simple = knownSimple_ ? VARIANT_TRUE : VARIANT_FALSE;
  return S_OK;
}

HRESULT MultipatchGeometry::SetKnownSimple(VariantBool simple) {
  knownSimple_ = simple != VARIANT_FALSE;
  return S_OK;
}

}  // namespace varnel
