// Opens a document text in a reader and writes down the token stream a parse method sees.
#pragma once

#include <string>

#include "support/TestSupport.h"
#include "xml/XmlReader.h"

namespace readertest {

// A reader over `contents`, positioned like the document driver leaves it: byte-order mark
// detected, nothing read yet.
struct OpenReader {
  varnel::XmlReader reader;
  explicit OpenReader(const std::string& contents) {
    static int serial = 0;
    std::string name = "reader/doc" + std::to_string(++serial) + ".dae";
    reader.AllocateBuffers();
    reader.OpenFile(testsupport::WriteFile(name, contents).c_str());
    reader.DetectByteOrderMark();
  }
  varnel::XmlReader* operator->() { return &reader; }
};

// The end of the input: no text token (an empty attribute value is one, and arrives while
// attributes are still pending) and no tag.
inline bool AtEnd(const varnel::XmlReader& r) {
  return !r.isTagToken && r.tokenLength == 0 && !r.attributesPending;
}

// Start tags as <name>, end tags as </name>, text as 'text'. Tags are identified as a parse
// method would (which queues their attributes); a name outside the table is passed by hand.
inline std::string Trace(varnel::XmlReader& r) {
  std::string out;
  if (!r.NextToken()) return out;
  for (int guard = 0; guard < 100000 && !AtEnd(r); ++guard) {
    if (r.isTagToken) {
      out += r.isEndToken ? "</" : "<";
      out += r.tokenText;
      out += ">";
      if (r.IdentifyTag() == 0 && !r.NextToken()) break;
    } else {
      out += "'" + std::string(r.tokenText, static_cast<size_t>(r.tokenLength)) + "'";
      if (!r.NextToken()) break;
    }
  }
  return out;
}

inline std::string Trace(const std::string& contents) {
  OpenReader open(contents);
  return Trace(open.reader);
}

}  // namespace readertest
