// Builds the multipatch byte buffer on a writer: sized from the counting pass, filled part by
// part.
#pragma once

#include "host/MultiPatchBuffMgr.h"
#include "output/CreationManager.h"

namespace varnel {

class GeometryManager : public CreationManager {
 public:
  explicit GeometryManager(DataBufferWriter& writer) : writer_(writer) {}

  bool StartCreation() override;
  void EndCreation() override { multiPatch.Finish(); }
  void StartPart(int partType) override;
  void SetPoint(const double* xyz) override;
  void SetNormal(const double* xyz) override;
  void SetTexturePoint(const double* st) override;
  void TakeVertices(const Vertex* vertices, int n, bool normals, bool textured) override;

  int bufferSize = 0;
  MultiPatchBuffMgr multiPatch;

 private:
  DataBufferWriter& writer_;
};

}  // namespace varnel
