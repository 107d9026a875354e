// Streams the geometry to a host display-list sink: materials once, then every part and line
// as one array of interleaved point records.
#pragma once

#include "output/CreationManager.h"

namespace varnel {

class DaeDisplayList;

class DisplayListManager : public CreationManager {
 public:
  explicit DisplayListManager(DaeDisplayList* sink) : sink(sink) {}
  ~DisplayListManager() override;

  bool StartCreation() override;
  void StartPart(int partType) override;
  void SetPoint(const double* xyz) override;
  void SetNormal(const double* xyz) override;
  void SetTexturePoint(const double* st) override;
  void EndPoint() override { ++partPoints; }
  void TakeVertices(const Vertex* vertices, int n, bool normals, bool textured) override;
  void EndPart() override;
  void EndLine() override;
  void StartLine(int pointCount, bool isStrip) override;
  void SetPartFormat(int pointCount, bool normals, bool textures) override;

  bool hasNormals = false;
  bool hasTextures = false;
  int partPoints = 0;
  int floatCapacity = 0;
  // Floats per point record: [s t] [nx ny nz] x y z.
  int stride = 0;
  // Records of the current part or line; reused (not cleared) by smaller ones.
  float* floats = nullptr;
  DaeDisplayList* sink = nullptr;

 private:
  void MakeRoom(int pointCount);
  // The current record, or null when it lies outside the array.
  float* CurrentRecord() const;
};

}  // namespace varnel
