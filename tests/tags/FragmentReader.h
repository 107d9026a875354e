// Reads element trees out of small documents written to scratch files, the way the document
// driver does: identify a start tag, hand it to the factory.
#pragma once

#include <memory>
#include <string>

#include "document/DaeDocument.h"
#include "support/TestSupport.h"
#include "tags/Factory.h"
#include "tags/Tag.h"

namespace tagtest {

class FragmentReader {
 public:
  explicit FragmentReader(const std::string& xml) {
    static int serial = 0;
    document.AllocateBuffers();
    document.OpenFile(testsupport::WriteFile("geo/" + std::to_string(++serial) + ".xml", xml).c_str());
    document.NextToken();
  }
  ~FragmentReader() { document.CloseStream(); }

  // The next element of the text, built by the factory (null when skipped or failed).
  std::unique_ptr<varnel::Tag> Next() {
    int id = document.IdentifyTag();
    return std::unique_ptr<varnel::Tag>(varnel::CreateTag(document, id));
  }

  varnel::DaeDocument document;
};

// The first element of `xml` as a T, or null when it was not built or is of another class.
template <class T>
std::unique_ptr<T> ParseAs(const std::string& xml) {
  FragmentReader reader(xml);
  std::unique_ptr<varnel::Tag> tag = reader.Next();
  if (!dynamic_cast<T*>(tag.get())) return nullptr;
  return std::unique_ptr<T>(static_cast<T*>(tag.release()));
}

}  // namespace tagtest
