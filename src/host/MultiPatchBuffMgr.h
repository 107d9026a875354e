// Writes the multipatch byte buffer (layout in docs/multipatch-buffer.md) through a
// DataBufferWriter: fixed parts at Init, each section through its own window as values come.
#pragma once

#include <cstdint>
#include <memory>

#include <varnel/DataBufferWriter.h>
#include <varnel/MultipatchLayout.h>

namespace varnel {

class MaterialProperties;

// A writer that keeps the whole buffer (global operator new; released with operator delete).
class MemoryBufferWriter final : public DataBufferWriter {
 public:
  ~MemoryBufferWriter() override { ::operator delete(buffer); }
  bool Begin(int32_t size) override;
  void Write(int32_t offset, const unsigned char* data, int32_t size) override;
  // Hands the buffer over to the caller.
  unsigned char* Release();

  unsigned char* buffer = nullptr;
  int32_t size = 0;
};

// One section of fixed-size values, written front to back through a window, or in place when
// the writer keeps the whole buffer.
class SectionStream {
 public:
  void Reset(DataBufferWriter* writer, unsigned char* whole, int64_t offset, int64_t count,
             int valueBytes, unsigned char fill);
  // Room for value `index`, or null when it is out of range or already behind. Values skipped
  // over read as the fill byte.
  unsigned char* At(int64_t index) {
    if (index != next_) return Seek(index);
    if (used_ + valueBytes_ > capacity_) Flush();
    unsigned char* at = base_ + used_;
    used_ += valueBytes_;
    ++next_;
    return at;
  }
  // Fills the values never reached and writes out what the window holds.
  void Finish();

 private:
  unsigned char* Seek(int64_t index);
  void Flush();

  DataBufferWriter* writer_ = nullptr;  // null when the values go in place
  std::unique_ptr<unsigned char[]> window_;
  unsigned char* base_ = nullptr;  // the window, or the section in place
  int64_t capacity_ = 0, used_ = 0;
  int64_t windowBytes_ = 0;
  int64_t offset_ = 0;  // of the window's first byte
  int64_t next_ = 0, count_ = 0;
  int valueBytes_ = 0;
  unsigned char fill_ = 0;
};

class MultiPatchBuffMgr {
 public:
  MultiPatchBuffMgr() = default;
  MultiPatchBuffMgr(const MultiPatchBuffMgr&) = delete;
  MultiPatchBuffMgr& operator=(const MultiPatchBuffMgr&) = delete;

  // Begins the buffer on `writer`, writes what is known from the counts and the records, and
  // returns the byte size (< 1: failure, `writer` then had no Begin or refused it). The buffer
  // always carries Z and never M; `hasZs` and `hasMs` are accepted and ignored. Texture
  // dimension is 0 (no texture points stored) or 2.
  int Init(int parts, int points, bool hasZs, bool hasMs, bool hasNormals, int textureDimension,
           int texturePoints, int materialCount, MaterialProperties* materials,
           DataBufferWriter& writer);
  void SetPart(int part, int type, int materialIndex, int firstPoint, int firstTexturePoint);
  void SetPoint(int index, double x, double y, double z);
  void SetNormal(int index, double x, double y, double z);
  void SetTexturePoint(int index, double s, double t);
  // Writes what was never set (zeros; -1 for a part's material) and the windows' rest.
  void Finish();
  // Only for a writer that takes pieces again (MemoryBufferWriter); Finish first.
  void SetXYExtents(double xMin, double yMin, double xMax, double yMax);
  void SetZExtents(double zMin, double zMax);

 private:
  DataBufferWriter* writer_ = nullptr;
  multipatch::Layout layout_;
  enum { kPartStarts, kPartTypes, kXY, kZ, kNormals, kTexturePoints, kPartMaterials,
         kPartTextureStarts, kSections };
  SectionStream sections_[kSections];
};

inline void MultiPatchBuffMgr::SetPoint(int index, double x, double y, double z) {
  using multipatch::Store;
  if (unsigned char* xy = sections_[kXY].At(index)) {
    Store<double>(xy, x);
    Store<double>(xy + 8, y);
  }
  if (unsigned char* at = sections_[kZ].At(index)) Store<double>(at, z);
}

inline void MultiPatchBuffMgr::SetNormal(int index, double x, double y, double z) {
  if (unsigned char* at = sections_[kNormals].At(index)) {
    multipatch::Store<double>(at, x);
    multipatch::Store<double>(at + 8, y);
    multipatch::Store<double>(at + 16, z);
  }
}

inline void MultiPatchBuffMgr::SetTexturePoint(int index, double s, double t) {
  if (unsigned char* at = sections_[kTexturePoints].At(index)) {
    multipatch::Store<double>(at, s);
    multipatch::Store<double>(at + 8, t);
  }
}

}  // namespace varnel
