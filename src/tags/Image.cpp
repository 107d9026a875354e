#include "tags/Image.h"

#include "tags/TagParse.h"
#include "xml/ElementNames.h"

namespace varnel {

bool ImageTag::Parse(ElementSource& document) {
  return ParseLoop(document, [&](int id) {
    if (document.extended() && id == kInitFrom) {
      // COLLADA 1.5 puts the address in a ref child, so the end tag of init_from lands here.
      if (document.wasEndTag) return true;
      if (!SkipAttributes(document)) return false;
    }
    if (id == kRef) return ReadReference(document);  // named by the extended reading only
    if (id != kInitFrom) return ParseChild(id, document);
    return ReadReference(document);
  });
}

bool ImageTag::ReadReference(ElementSource& document) {
  if (!document.ReadValue(reference)) {
    reference.Empty();
    filePath.Empty();
    return false;
  }
  document.ResolveImage(*this);
  return true;
}

}  // namespace varnel
