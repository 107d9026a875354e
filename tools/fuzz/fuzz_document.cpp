// libFuzzer harness of the whole pipeline: each input, as a file in memory, runs through the three
// entry points, the display list with the extended reading. Inputs are capped small so that a
// run tries many; `make fuzz` runs it (see the Makefile).
#include <cstdint>
#include <string>

#include <varnel/Varnel.h>
#include <varnel/Geometry.h>
#include "FuzzInput.h"
#include "TouchingSink.h"

namespace {

volatile unsigned bufferSum;  // keeps the reads of the buffer

// Larger inputs add time, not new behaviour: every element fits in far less.
constexpr size_t kMaxInput = 64 << 10;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > kMaxInput) return 0;
  fuzzing::MemoryFile file(data, size);
  if (!file.ok()) return 0;
  const varnel::String name = varnel::String::FromUtf8(file.path());
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
  varnel.CreateDisplayListFromFile(name, &sink, varnel::ImportOptions{true});
  return 0;
}
