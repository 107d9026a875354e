// A display-list sink that owns the materials it is handed and reads every float of every part
// and line, so that a buffer shorter than announced shows in a sanitizer build.
#pragma once

#include <varnel/DaeDisplayList.h>

namespace fuzzing {

struct TouchingSink : varnel::DaeDisplayList {
  ~TouchingSink() override { delete[] materials; }
  void SetMaterials(long, varnel::MaterialProperties* m) override {
    delete[] materials;
    materials = m;
  }
  void SetCurrentPart(long, varnel::tavuPatchType) override { ++parts; }
  void SetPartData(long n, bool normals, bool textures, float* data) override {
    Touch(data, n * ((normals ? 6 : 3) + (textures ? 2 : 0)));
  }
  void SetLineData(long n, float* data) override { Touch(data, n * 3); }
  void SetExtent(double, double, double, double, double, double) override { ++extents; }
  void Touch(const float* data, long n) {
    double total = 0;
    for (long i = 0; i < n; ++i) total += data[i];
    sum = sum + total;
  }
  varnel::MaterialProperties* materials = nullptr;
  int parts = 0;  // lines not counted
  int extents = 0;
  volatile double sum = 0;
};

}  // namespace fuzzing
