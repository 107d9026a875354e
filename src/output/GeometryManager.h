// Builds the multipatch byte buffer: sized from the counting pass, filled part by part.
#pragma once

#include "host/MultiPatchBuffMgr.h"
#include "output/CreationManager.h"

namespace varnel {

class GeometryManager : public CreationManager {
 public:
  GeometryManager() = default;
  ~GeometryManager() override;

  bool StartCreation() override;
  void StartPart(int partType) override;
  void SetPoint(const double* xyz) override;
  void SetNormal(const double* xyz) override;
  void SetTexturePoint(const double* st) override;

  int bufferSize = 0;
  // Released with the global operator delete; an entry point may take it over.
  unsigned char* buffer = nullptr;
  MultiPatchBuffMgr multiPatch;

 private:
  void ReleaseBuffer();
};

}  // namespace varnel
