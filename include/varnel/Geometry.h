// The host's multipatch geometry component: a 3D surface made of parts (triangle lists and
// rings) with optional normals, texture points and materials. Created with
// HalvexCreateInstance(CLSID_MultipatchGeometry, ...), filled by importing a multipatch buffer
// (docs/multipatch-buffer.md) through IShapeImport, read through IGeometry.
#pragma once

#include <cstdint>

#include <varnel/Com.h>
#include <varnel/PatchType.h>
#include <varnel/Point.h>

namespace varnel {

// {3E9A7C10-5B2D-4F61-8C3A-7D0E1B2F4A60}
constexpr Guid CLSID_MultipatchGeometry = {
    0x3E9A7C10, 0x5B2D, 0x4F61, {0x8C, 0x3A, 0x7D, 0x0E, 0x1B, 0x2F, 0x4A, 0x60}};
// {3E9A7C11-5B2D-4F61-8C3A-7D0E1B2F4A60}
constexpr Guid IID_IGeometry = {
    0x3E9A7C11, 0x5B2D, 0x4F61, {0x8C, 0x3A, 0x7D, 0x0E, 0x1B, 0x2F, 0x4A, 0x60}};
// {3E9A7C12-5B2D-4F61-8C3A-7D0E1B2F4A60}
constexpr Guid IID_IShapeImport = {
    0x3E9A7C12, 0x5B2D, 0x4F61, {0x8C, 0x3A, 0x7D, 0x0E, 0x1B, 0x2F, 0x4A, 0x60}};
// {3E9A7C13-5B2D-4F61-8C3A-7D0E1B2F4A60}
constexpr Guid IID_IGeometryState = {
    0x3E9A7C13, 0x5B2D, 0x4F61, {0x8C, 0x3A, 0x7D, 0x0E, 0x1B, 0x2F, 0x4A, 0x60}};

// The buffer is not a complete, consistent multipatch; the geometry was left empty.
constexpr HRESULT GEOMETRY_E_BADBUFFER = static_cast<HRESULT>(0x80040201u);
// The caller's buffer is too small for what was asked.
constexpr HRESULT GEOMETRY_E_SMALLBUFFER = static_cast<HRESULT>(0x8007007Au);
// A slot this component does not implement.
constexpr HRESULT GEOMETRY_E_NOTIMPL = static_cast<HRESULT>(0x80004001u);

// Import flag: the buffer carries the extension block behind the shapefile record content.
constexpr int32_t kShapeImportExtended = 1;

// Boolean of the component interfaces: 0 false, any other value (normally -1) true.
using VariantBool = int16_t;
constexpr VariantBool VARIANT_TRUE = -1;
constexpr VariantBool VARIANT_FALSE = 0;

struct GeometryExtent {
  double xMin = 0, yMin = 0, zMin = 0, xMax = 0, yMax = 0, zMax = 0;
};

// One material record as stored. "has" fields tell which values the producer set.
struct GeometryMaterial {
  bool hasColor = false;
  int32_t color[3] = {0, 0, 0};
  bool hasEdgeDisplay = false;
  bool edgeDisplay = false;
  bool hasEdgeWidth = false;
  int32_t edgeWidth = 0;
  bool hasEdgeColor = false;
  int32_t edgeColor[3] = {0, 0, 0};
  bool cullBackFaces = false;
  bool hasTransparency = false;
  int32_t transparency = 0;  // percent
  // As the producer passed it: the material holding the pixels this one uses, when that index is
  // in range and has a texture map (docs/multipatch-buffer.md); -1 when not set.
  bool hasSharedTexture = false;
  int32_t sharedTexture = -1;
  // Texture map: 0 x 0 x 0 and null pixels when the material has none. The pixels live inside
  // the geometry and stay valid until its next import or its release.
  int32_t textureWidth = 0;
  int32_t textureHeight = 0;
  int32_t textureChannels = 0;
  const unsigned char* texturePixels = nullptr;
};

// Read access. Indices outside the counts give -1 (indices), 0 (counts) or false. Every out
// pointer may be null, which gives false or 0 and writes nothing; what is written is a copy the
// caller owns. Counts and indices are int32_t, as in the buffer.
struct IGeometry : IUnknown {
  virtual bool IsEmpty() = 0;                                      // slot 3: no points
  virtual int32_t GetPartCount() = 0;                              // slot 4
  virtual int32_t GetPartType(int32_t part) = 0;                   // slot 5: a PatchType
  virtual int32_t GetPartFirstPoint(int32_t part) = 0;             // slot 6
  virtual int32_t GetPartPointCount(int32_t part) = 0;             // slot 7
  virtual int32_t GetPartMaterial(int32_t part) = 0;               // slot 8: -1 for none
  virtual int32_t GetPartFirstTexturePoint(int32_t part) = 0;      // slot 9
  virtual int32_t GetPointCount() = 0;                             // slot 10
  virtual bool GetPoint(int32_t index, WKSPointZ* point) = 0;      // slot 11
  // Copies up to `count` points from `first` on into `points` (room for `count`); returns how
  // many were copied.
  virtual int32_t QueryPoints(int32_t first, int32_t count, WKSPointZ* points) = 0;  // slot 12
  virtual bool HasNormals() = 0;                                   // slot 13
  virtual bool GetNormal(int32_t index, WKSPointZ* normal) = 0;    // slot 14: one per point
  virtual int32_t GetTextureDimension() = 0;                       // slot 15: 0 or 2
  // Texture points stored; 0 when the dimension is 0.
  virtual int32_t GetTexturePointCount() = 0;                      // slot 16
  virtual bool GetTexturePoint(int32_t index, double* s, double* t) = 0;  // slot 17
  virtual int32_t GetMaterialCount() = 0;                          // slot 18
  virtual bool GetMaterial(int32_t index, GeometryMaterial* material) = 0;  // slot 19
  // The box and Z range stored in the imported buffer (the producer's extent).
  virtual GeometryExtent GetExtent() = 0;                          // slot 20
  // Bytes the last successful import consumed; 0 when empty.
  virtual int32_t GetBufferSize() = 0;                             // slot 21
};

// Conversion between the geometry and byte buffers.
struct IShapeImport : IUnknown {
  // The shapefile MultiPatch record content of the geometry (0 bytes when empty). `size` must
  // not be null (E_POINTER).
  virtual HRESULT GetShapeRecordSize(int32_t* size) = 0;  // slot 3
  // Copies the record into `buffer` (`size` bytes of the caller's; null only when the record is
  // empty); GEOMETRY_E_SMALLBUFFER when it does not fit. `written` (may be null) gets the bytes
  // copied, 0 on failure.
  virtual HRESULT ExportShapeRecord(int32_t size, unsigned char* buffer,
                                    int32_t* written) = 0;  // slot 4
  // Slots 5 to 15 hold the host's other shape conversions, which this component does not offer;
  // they return GEOMETRY_E_NOTIMPL and keep the import at the slot callers use.
  virtual HRESULT Reserved5() = 0;
  virtual HRESULT Reserved6() = 0;
  virtual HRESULT Reserved7() = 0;
  virtual HRESULT Reserved8() = 0;
  virtual HRESULT Reserved9() = 0;
  virtual HRESULT Reserved10() = 0;
  virtual HRESULT Reserved11() = 0;
  virtual HRESULT Reserved12() = 0;
  virtual HRESULT Reserved13() = 0;
  virtual HRESULT Reserved14() = 0;
  virtual HRESULT Reserved15() = 0;
  // Replaces the geometry by the multipatch in `buffer` (flags: kShapeImportExtended when the
  // extension block follows the record). A truncated or inconsistent buffer is refused with
  // GEOMETRY_E_BADBUFFER and leaves the geometry empty. `buffer` (`size` bytes) is lent for the
  // call: the geometry keeps a copy. `bytesRead` (may be null) receives the bytes consumed, 0 on
  // failure.
  virtual HRESULT ImportFromShapeBuffer(int32_t flags, int32_t size, unsigned char* buffer,
                                        int32_t* bytesRead) = 0;  // slot 16
};

// What the producer vouches for. "Known simple": the parts are valid as delivered (rings
// closed, triangles complete), so consumers need not simplify or repair them. An import clears
// it; the importer sets it once the geometry is complete.
struct IGeometryState : IUnknown {
  virtual HRESULT GetKnownSimple(VariantBool* simple) = 0;  // slot 3
  virtual HRESULT SetKnownSimple(VariantBool simple) = 0;   // slot 4
};

}  // namespace varnel
