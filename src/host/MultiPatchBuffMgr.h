// Writes the multipatch byte buffer (layout in docs/multipatch-buffer.md).
#pragma once

#include <cstdint>

#include "host/MultiPatchLayout.h"

namespace varnel {

class MaterialProperties;

class MultiPatchBuffMgr {
 public:
  MultiPatchBuffMgr() = default;
  ~MultiPatchBuffMgr() = default;
  MultiPatchBuffMgr(const MultiPatchBuffMgr&) = delete;
  MultiPatchBuffMgr& operator=(const MultiPatchBuffMgr&) = delete;

  // Allocates the buffer (global operator new; released with operator delete), copies what it
  // needs of the records, stores the pointer in `buffer` and returns the byte size (< 1: failure).
  // The buffer always carries Z and never M; `hasZs` and `hasMs` are accepted and ignored.
  // Texture dimension is 0 (no texture points stored) or 2.
  int Init(int parts, int points, bool hasZs, bool hasMs, bool hasNormals, int textureDimension,
           int texturePoints, int materialCount, MaterialProperties* materials,
           unsigned char*& buffer);
  void SetPartType(int part, int type);
  void SetMaterialType(int part, int materialIndex);
  void SetPointIndex(int part, int firstPoint);
  void SetTexturePointIndex(int part, int firstTexturePoint);
  void SetPoint(int index, double x, double y, double z);
  void SetNormal(int index, double x, double y, double z);
  void SetTexturePoint(int index, double s, double t);
  void SetXYExtents(double xMin, double yMin, double xMax, double yMax);
  void SetZExtents(double zMin, double zMax);

 private:
  unsigned char* buffer_ = nullptr;  // owned by the caller of Init
  int parts_ = 0;
  int points_ = 0;
  int texturePoints_ = 0;
  bool hasNormals_ = false;
  int textureDimension_ = 0;
  multipatch::Layout layout_;
};

}  // namespace varnel
