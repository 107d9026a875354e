// A display-list sink that writes Wavefront OBJ with a .mtl beside it and the texture maps as
// PNG files, so a converted model opens in any 3D viewer.
#pragma once

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include <varnel/DaeDisplayList.h>

#include "cli/BackgroundWriter.h"
#include "cli/Staging.h"

namespace varnel::cli {

class ObjWriter : public DaeDisplayList {
 public:
  // `objPath` must end in ".obj"; the .mtl and the textures are written beside it.
  explicit ObjWriter(std::string objPath);
  ~ObjWriter() override;

  // Opens the output files; false when they cannot be written.
  bool Open();
  // Writes the material library and the textures and moves every file into place; false with
  // error() set when any cannot be written (then none is).
  bool Finish();  // only once output came; without it the destructor leaves nothing behind
  int error() const { return error_; }

  void SetMaterials(long count, MaterialProperties* materials) override;
  void SetCurrentLine(long materialIndex, bool isStrip) override;
  void SetCurrentPart(long materialIndex, tavuPatchType partType) override;
  void SetLineData(long pointCount, float* data) override;
  void SetPartData(long pointCount, bool hasNormals, bool hasTextures, float* data) override;
  void SetExtent(double, double, double, double, double, double) override { gotExtent = true; }

  bool gotExtent = false;
  long faces = 0;
  long lines = 0;
  long vertices = 0;

 private:
  void UseMaterial(long index);
  std::string TextureFileName(long index) const;

  std::string objPath_;
  std::string stem_;  // file name without ".obj"
  std::unique_ptr<StagedFile> obj_;
  int error_ = 0;
  std::unique_ptr<BackgroundWriter> out_;  // every byte of the .obj goes through it, in order
  MaterialProperties* materials_ = nullptr;
  long materialCount_ = 0;
  long currentMaterial_ = -2;
  int currentType_ = 0;
  long normals_ = 0;
  long texturePoints_ = 0;
};

// Whether the pixels make a PNG: 8-bit, 1 to 4 channels.
bool PngWritable(int width, int height, int channels, const unsigned char* pixels);
// Writes them as PNG into `file`; false when they do not make one or the writing failed.
bool WritePng(std::FILE* file, int width, int height, int channels, const unsigned char* pixels);

}  // namespace varnel::cli
