// What element classes parse from: the reader's tokens and the calls that read values and lists,
// the little state the element tree keeps while it is built, and the one service a parse asks of
// whoever owns the input (where an image file lies). The document is one; elements see neither
// the document nor the reader's buffers and input.
#pragma once

#include <cstdint>

#include "xml/XmlReader.h"

namespace varnel {

class ImageTag;

class ElementSource : protected XmlReader {
 public:
  // The token just read, and how the reader stands.
  using XmlReader::attributesPending;
  using XmlReader::isEndToken;
  using XmlReader::isTagToken;
  using XmlReader::tokenLength;
  using XmlReader::tokenText;
  using XmlReader::wasEndTag;
  // Moving on, and reading values and lists.
  using XmlReader::IdentifyTag;
  using XmlReader::NextToken;
  using XmlReader::ReadIntList;
  using XmlReader::ReadUrl;
  using XmlReader::ReadValue;
  using XmlReader::SkipElement;
  // How much the rest of the input can still hold.
  using XmlReader::InputBytesLeft;
  using XmlReader::listRoom;
  // The reading asked for, and diagnostics with their lines.
  using XmlReader::CurrentLine;
  using XmlReader::extended;
  using XmlReader::report;
  using XmlReader::reporting;
  using XmlReader::StartTagLine;

  // Nodes whose parse has begun, in document order.
  int32_t nodesRead = 0;

  // Ends the parse: the input closes and every element still open fails.
  void Stop() {
    stopped = true;
    CloseStream();
  }

  // Called as an image's reference has been read: sets its file path (and what the diagnostics
  // need). Without an owner that knows where files lie, an image names no file.
  virtual void ResolveImage(ImageTag&) {}

 protected:
  ~ElementSource() = default;
};

}  // namespace varnel
