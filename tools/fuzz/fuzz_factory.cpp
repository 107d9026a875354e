// libFuzzer harness of the element factory and every element's parse: the document driver reads
// the input into its element lists, and nothing is assembled. Each input is read twice: plainly,
// and with the extended reading and diagnostics.
#include <cstdint>

#include "FuzzInput.h"
#include "document/DaeDocument.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static fuzzing::Counter counter;
  // ParseDocument clears what the last input left.
  varnel::DaeDocument& document = fuzzing::KeptReader<varnel::DaeDocument>();
  for (bool extended : {false, true}) {
    document.extended = extended;
    document.report.receiver = extended ? &counter : nullptr;
    document.LoadMemory(data, size);
    document.ClearTags();
  }
  return 0;
}
