// What element classes parse from: the reader's tokens, the little state the element tree keeps
// while it is built, and the one service a parse asks of whoever owns the input (where an image
// file lies). The document is one; elements never see the document itself.
#pragma once

#include <cstdint>

#include "xml/XmlReader.h"

namespace varnel {

class ImageTag;

class ElementSource : public XmlReader {
 public:
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
