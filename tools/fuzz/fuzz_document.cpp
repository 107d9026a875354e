// libFuzzer harness: each input is written to a file and run through the three entry points.
// Build with clang and -DVARNEL_FUZZ=ON; run e.g. `fuzz_document -max_len=200000 corpus/`.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <varnel/Varnel.h>
#include <varnel/Geometry.h>
#include "TouchingSink.h"

namespace {

volatile unsigned bufferSum;  // keeps the reads of the buffer

const std::string& InputPath() {
  static const std::string path = [] {
    const char* dir = std::getenv("TMPDIR");
    return std::string(dir && *dir ? dir : "/tmp") + "/varnel-fuzz-" + std::to_string(getpid()) +
           ".dae";
  }();
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string& path = InputPath();
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) return 0;
  std::fwrite(data, 1, size, file);
  std::fclose(file);

  const varnel::String name = varnel::String::FromUtf8(path);
  varnel::Varnel varnel;
  varnel::IGeometry* geometry = nullptr;
  varnel.CreateGeometryFromFile(name, &geometry);
  if (geometry) geometry->Release();
  int32_t bufferSize = 0;
  unsigned char* buffer = nullptr;
  varnel.CreateDataBufferFromFile(name, bufferSize, buffer);
  unsigned total = 0;
  for (int32_t i = 0; buffer && i < bufferSize; ++i) total += buffer[i];
  bufferSum = total;
  ::operator delete(buffer);
  fuzzing::TouchingSink sink;
  varnel.CreateDisplayListFromFile(name, &sink);
  std::remove(path.c_str());
  return 0;
}
