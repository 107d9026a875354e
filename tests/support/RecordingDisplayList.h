// A display-list sink that keeps a copy of every call for the tests to inspect.
#pragma once

#include <memory>
#include <vector>

#include "host/MaterialProperties.h"
#include "output/DaeDisplayList.h"

namespace testsupport {

struct RecordedPart {
  long material = 0;
  int type = 0;  // patch type of a part; -1 for a line
  long points = 0;
  bool normals = false;
  bool textures = false;
  const float* data = nullptr;  // the manager's array as handed over
  std::vector<float> floats;    // pointCount x stride floats copied at the call
};

class RecordingDisplayList : public varnel::DaeDisplayList {
 public:
  void SetMaterials(long count, varnel::MaterialProperties* materials) override {
    ++materialCalls;
    materialCount = count;
    this->materials.reset(materials);
  }
  void SetCurrentPart(long material, varnel::tavuPatchType type) override {
    Begin(material, type);
  }
  void SetCurrentLine(long material, bool) override { Begin(material, -1); }
  void SetPartData(long points, bool normals, bool textures, float* data) override {
    Fill(points, normals, textures, data, (normals ? 6 : 3) + (textures ? 2 : 0));
  }
  void SetLineData(long points, float* data) override { Fill(points, false, false, data, 3); }

  int materialCalls = 0;
  long materialCount = -1;
  std::unique_ptr<varnel::MaterialProperties[]> materials;
  std::vector<RecordedPart> parts;

 private:
  void Begin(long material, int type) {
    parts.emplace_back();
    parts.back().material = material;
    parts.back().type = type;
  }
  void Fill(long points, bool normals, bool textures, const float* data, int stride) {
    RecordedPart& part = parts.back();
    part.points = points;
    part.normals = normals;
    part.textures = textures;
    part.data = data;
    part.floats.assign(data, data + points * stride);
  }
};

}  // namespace testsupport
