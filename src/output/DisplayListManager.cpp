#include "output/DisplayListManager.h"

#include <cstdint>
#include <new>

#include <varnel/Point.h>
#include "materials/BuildMaterials.h"
#include <varnel/DaeDisplayList.h>
#include "util/HugePages.h"

namespace varnel {

DisplayListManager::~DisplayListManager() { delete[] floats; }

bool DisplayListManager::StartCreation() {
  CreationManager::StartCreation();
  if (!sink) return false;
  int count = 0;
  MaterialProperties* materials = BuildMaterials(MaterialInputs(), count);
  sink->SetMaterials(count, materials);
  return materials != nullptr;
}

void DisplayListManager::StartPart(int partType) {
  if (sink) sink->SetCurrentPart(CurrentMaterial(), static_cast<tavuPatchType>(partType));
}

void DisplayListManager::SetPartFormat(int pointCount, bool normals, bool textures) {
  hasNormals = normals;
  hasTextures = textures;
  stride = (normals ? 6 : 3) + (textures ? 2 : 0);
  MakeRoom(pointCount);
  partPoints = 0;
}

void DisplayListManager::StartLine(int pointCount, bool isStrip) {
  if (sink) sink->SetCurrentLine(CurrentMaterial(), isStrip);
  hasNormals = hasTextures = false;
  stride = 3;
  MakeRoom(pointCount);
  partPoints = 0;
}

void DisplayListManager::MakeRoom(int pointCount) {
  const int64_t needed = static_cast<int64_t>(stride) * pointCount;
  if (needed <= floatCapacity) return;
  if (needed > INT32_MAX) throw std::bad_alloc();
  delete[] floats;
  floats = nullptr;
  floatCapacity = 0;
  floats = new float[static_cast<size_t>(needed)];
  // Not cleared: every record handed to the sink is written whole first.
  AdviseHugePages(floats, static_cast<size_t>(needed) * sizeof(float));
  floatCapacity = static_cast<int>(needed);
}

float* DisplayListManager::CurrentRecord() const {
  if (!floats || partPoints < 0) return nullptr;
  const int64_t first = static_cast<int64_t>(partPoints) * stride;
  return first + stride <= floatCapacity ? floats + first : nullptr;
}

void DisplayListManager::SetPoint(const double* xyz) {
  double p[3];
  ConvertPosition(xyz, p);
  if (float* record = CurrentRecord()) {
    float* position = record + stride - 3;
    position[0] = static_cast<float>(p[0]);
    position[1] = static_cast<float>(p[1]);
    position[2] = static_cast<float>(p[2]);
  }
}

void DisplayListManager::SetNormal(const double* xyz) {
  const WKSPointZ unit = WKSPointZ{xyz[0], xyz[1], xyz[2]}.Unit();
  const double u[3] = {unit.X, unit.Y, unit.Z};
  double n[3];
  ConvertNormal(u, n);
  float* record = CurrentRecord();
  if (!record || stride < 6) return;
  float* normal = record + stride - 6;
  normal[0] = static_cast<float>(n[0]);
  normal[1] = static_cast<float>(n[1]);
  normal[2] = static_cast<float>(n[2]);
}

void DisplayListManager::SetTexturePoint(const double* st) {
  float* record = CurrentRecord();
  if (!record || stride < 5) return;
  record[0] = static_cast<float>(st[0]);
  record[1] = static_cast<float>(st[1]);
}

void DisplayListManager::TakeVertices(const Vertex* vertices, int n, bool normals, bool textured) {
  TakeVerticesOf(*this, vertices, n, normals, textured);
}

void DisplayListManager::EndPart() {
  if (sink) sink->SetPartData(partPoints, hasNormals, hasTextures, floats);
  partPoints = 0;
}

void DisplayListManager::EndLine() {
  if (sink) sink->SetLineData(partPoints, floats);
  partPoints = 0;
}

}  // namespace varnel
