// Reads element trees out of small documents held in memory, the way the document driver does:
// identify a start tag, hand it to the factory.
#pragma once

#include <cstdio>
#include <memory>
#include <string>

#include "document/DaeDocument.h"
#include "tags/Factory.h"
#include "tags/Tag.h"

namespace tagtest {

class FragmentReader {
 public:
  explicit FragmentReader(std::string xml) : text_(std::move(xml)) {
    document.AllocateBuffers();
    document.stream = fmemopen(text_.data(), text_.size(), "rb");
    document.ResetReader();
    document.NextToken();
  }
  ~FragmentReader() {
    document.CloseStream();
    document.ReleaseBuffers();
  }

  // The next element of the text, built by the factory (null when skipped or failed).
  std::unique_ptr<varnel::Tag> Next() {
    int id = document.IdentifyTag();
    return std::unique_ptr<varnel::Tag>(varnel::CreateTag(document, id));
  }

  varnel::DaeDocument document;

 private:
  std::string text_;
};

// The first element of `xml` as a T, or null when it was not built or is of another class.
template <class T>
std::unique_ptr<T> ParseAs(const std::string& xml, bool* stopped = nullptr) {
  FragmentReader reader(xml);
  std::unique_ptr<varnel::Tag> tag = reader.Next();
  if (stopped) *stopped = reader.document.stopped;
  if (!dynamic_cast<T*>(tag.get())) return nullptr;
  return std::unique_ptr<T>(static_cast<T*>(tag.release()));
}

}  // namespace tagtest
