// A display-list sink that prints every callback as one JSON object per line.
#pragma once

#include <cstdio>
#include <string>

#include <varnel/DaeDisplayList.h>

namespace varnel::cli {

class DumpSink : public DaeDisplayList {
 public:
  explicit DumpSink(std::FILE* out) : out_(out) {}
  ~DumpSink() override;

  void SetMaterials(long count, MaterialProperties* materials) override;
  void SetCurrentLine(long materialIndex, bool isStrip) override;
  void SetCurrentPart(long materialIndex, tavuPatchType partType) override;
  void SetLineData(long pointCount, float* data) override;
  void SetPartData(long pointCount, bool hasNormals, bool hasTextures, float* data) override;
  void SetExtent(double xMin, double yMin, double zMin, double xMax, double yMax,
                 double zMax) override;

  bool gotExtent = false;
  int error() const { return error_; }  // errno of the first write that failed


 private:
  void Put(const char* data, size_t size);  // nothing more once a write failed
  void Emit(std::string& line);
  void EmitFloats(const std::string& head, const float* data, long n);
  std::FILE* out_;
  int error_ = 0;
  MaterialProperties* materials_ = nullptr;  // the sink owns the records it was given
};

// One material record as the dump prints it.
void AppendMaterial(std::string& out, const MaterialProperties& material);

}  // namespace varnel::cli
