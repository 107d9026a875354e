// libFuzzer harness of the GIS layer's reading: the input, as a file, is opened as a model set,
// so zip archives (KMZ, ZAE) are unpacked and KML documents placed; every model found is read.
// Run with TMPDIR on a memory file system: archives unpack into it.
#include <cstdint>

#include "FuzzInput.h"
#include "gis/Models.h"

namespace {

volatile size_t sink;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzzing::MemoryFile file(data, size);
  if (!file.ok()) return 0;
  static fuzzing::Counter counter;
  varnel::gis::OpenOptions options;
  options.import.diagnostics = &counter;
  // Small caps, so that what a small input may unpack stays small.
  options.limits.maxTotalBytes = 16 << 20;
  options.limits.maxEntries = 256;
  varnel::gis::ModelSet set;
  set.Open(file.path(), options);
  size_t total = 0;
  for (const varnel::gis::Model& model : set.models())
    total += model.name.size() + model.document.size() + (model.placement ? 1 : 0);
  sink = total;
  return 0;
}
