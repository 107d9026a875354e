// The multipatch geometry component behind CLSID_MultipatchGeometry. It keeps the imported
// buffer as it came (validated once) and answers every read from it.
#pragma once

#include <vector>

#include <varnel/Geometry.h>
#include "host/MultiPatchReader.h"

namespace varnel {

class MultipatchGeometry final : public ComObject,
                                 public IGeometry,
                                 public IShapeImport,
                                 public IGeometryState {
 public:
  // IUnknown
  HRESULT QueryInterface(const Guid& iid, void** object) override;
  uint32_t AddRef() override { return AddRefObject(); }
  uint32_t Release() override { return ReleaseObject(); }

  // IGeometry
  bool IsEmpty() override { return parsed_.points == 0; }
  int32_t GetPartCount() override { return parsed_.parts; }
  int32_t GetPartType(int32_t part) override;
  int32_t GetPartFirstPoint(int32_t part) override;
  int32_t GetPartPointCount(int32_t part) override;
  int32_t GetPartMaterial(int32_t part) override;
  int32_t GetPartFirstTexturePoint(int32_t part) override;
  int32_t GetPointCount() override { return parsed_.points; }
  bool GetPoint(int32_t index, WKSPointZ* point) override;
  int32_t QueryPoints(int32_t first, int32_t count, WKSPointZ* points) override;
  bool HasNormals() override { return parsed_.hasNormals; }
  bool GetNormal(int32_t index, WKSPointZ* normal) override;
  int32_t GetTextureDimension() override { return parsed_.textureDimension; }
  int32_t GetTexturePointCount() override;
  bool GetTexturePoint(int32_t index, double* s, double* t) override;
  int32_t GetMaterialCount() override { return int32_t(parsed_.materialRecords.size()); }
  bool GetMaterial(int32_t index, GeometryMaterial* material) override;
  GeometryExtent GetExtent() override;
  int32_t GetBufferSize() override { return int32_t(bytes_.size()); }

  // IShapeImport
  HRESULT GetShapeRecordSize(int32_t* size) override;
  HRESULT ExportShapeRecord(int32_t size, unsigned char* buffer, int32_t* written) override;
  HRESULT Reserved5() override { return GEOMETRY_E_NOTIMPL; }
  HRESULT Reserved6() override { return GEOMETRY_E_NOTIMPL; }
  HRESULT Reserved7() override { return GEOMETRY_E_NOTIMPL; }
  HRESULT Reserved8() override { return GEOMETRY_E_NOTIMPL; }
  HRESULT Reserved9() override { return GEOMETRY_E_NOTIMPL; }
  HRESULT Reserved10() override { return GEOMETRY_E_NOTIMPL; }
  HRESULT Reserved11() override { return GEOMETRY_E_NOTIMPL; }
  HRESULT Reserved12() override { return GEOMETRY_E_NOTIMPL; }
  HRESULT Reserved13() override { return GEOMETRY_E_NOTIMPL; }
  HRESULT Reserved14() override { return GEOMETRY_E_NOTIMPL; }
  HRESULT Reserved15() override { return GEOMETRY_E_NOTIMPL; }
  HRESULT ImportFromShapeBuffer(int32_t flags, int32_t size, unsigned char* buffer,
                                int32_t* bytesRead) override;

  // IGeometryState
  HRESULT GetKnownSimple(VariantBool* simple) override;
  HRESULT SetKnownSimple(VariantBool simple) override;

 private:
  ~MultipatchGeometry() override = default;
  bool ValidPart(int32_t part) const { return part >= 0 && part < parsed_.parts; }
  bool ValidPoint(int32_t index) const { return index >= 0 && index < parsed_.points; }
  int32_t LoadInt(int64_t offset) const;
  double LoadDouble(int64_t offset) const;

  std::vector<unsigned char> bytes_;  // the imported buffer, exactly `parsed_.bytes` long
  multipatch::ParsedBuffer parsed_;
  bool knownSimple_ = false;
};

// Factory registered for CLSID_MultipatchGeometry.
IUnknown* CreateMultipatchGeometry();

}  // namespace varnel
