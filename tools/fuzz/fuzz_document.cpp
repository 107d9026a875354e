// libFuzzer harness of the whole pipeline: each input's bytes run through the three entry points
// (their in-memory form, which reads bytes as the plain calls read a file), the display list with
// the extended reading. Inputs are capped small so that a
// run tries many; `make fuzz` runs it (see the Makefile).
#include <cstdint>
#include <string>

#include <varnel/Varnel.h>
#include <varnel/DataBufferWriter.h>
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
  varnel::Varnel varnel;
  varnel::IGeometry* geometry = nullptr;
  varnel.CreateGeometryFromMemory(data, size, &geometry);
  if (geometry) geometry->Release();
  struct Summing : varnel::DataBufferWriter {
    bool Begin(int32_t) override { return true; }
    void Write(int32_t, const unsigned char* bytes, int32_t n) override {
      for (int32_t i = 0; i < n; ++i) total += bytes[i];
    }
    unsigned total = 0;
  } buffer;
  varnel.CreateDataBufferFromMemory(data, size, buffer);
  bufferSum = buffer.total;
  fuzzing::TouchingSink sink;
  varnel.CreateDisplayListFromMemory(data, size, &sink, varnel::ImportOptions{true});
  return 0;
}
