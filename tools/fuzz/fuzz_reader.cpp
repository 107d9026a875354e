// libFuzzer harness of the pull reader and the value readers on a token stream: every element
// name it meets picks the reader a parse method would use there (its id decides), so values,
// URLs, number lists and skipped elements all see hostile text. Each input is read twice: plainly,
// and with the extended reading and diagnostics.
#include <cstdint>

#include "FuzzInput.h"
#include "xml/NumberList.h"
#include "xml/XmlReader.h"

namespace {

volatile double sink;

void Read(const uint8_t* data, size_t size, bool extended) {
  static fuzzing::Counter counter;
  varnel::XmlReader& reader = fuzzing::KeptReader<varnel::XmlReader>();
  reader.extended = extended;
  reader.report.receiver = extended ? &counter : nullptr;
  if (!reader.OpenMemory(data, size)) return;
  reader.DetectByteOrderMark();
  varnel::String text;
  varnel::BaseArray<int32_t> indices;
  double total = 0;
  auto number = [&](int64_t, const char* piece) { total += varnel::ParseDouble(piece); };
  if (!reader.ReadRawToken()) return reader.CloseStream();
  // A step that leaves the input where it was (no attribute token pending either) stood at its
  // end: IdentifyTag then names the last token again.
  int64_t left = reader.InputBytesLeft();
  for (int still = 0; reader.stream && still < 3;) {
    const int id = reader.IdentifyTag();
    bool more = true;
    if (id == 0)
      more = extended ? reader.SkipElement(0) : reader.NextToken();
    else if (!reader.wasEndTag)
      switch (id % 7) {
        case 0: more = reader.ReadValue(text); break;
        case 1: more = reader.ReadUrl(text); break;
        case 2: more = reader.ReadIntList(1 + id % 13, indices); break;
        case 3: more = varnel::ReadNumberList<varnel::ListEnd::kStopAtTag>(reader, 64, number) >= 0; break;
        case 4: more = varnel::ReadNumberList<varnel::ListEnd::kRepeatLast>(reader, 1 + id % 9, number) >= 0; break;
        case 5: more = reader.SkipElement(id); break;
        default: break;
      }
    if (!more) break;
    const int64_t now = reader.InputBytesLeft();
    still = now == left && !reader.attributesPending ? still + 1 : 0;
    left = now;
  }
  if (extended) total += reader.CurrentLine();
  sink = total + indices.count;
  reader.CloseStream();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Read(data, size, false);
  Read(data, size, true);
  return 0;
}
