#include "tags/Tag.h"

#include "tags/TagParse.h"
#include "xml/ElementNames.h"

namespace varnel {

namespace {
// Built when the library loads, like every constant string the readers compare with.
const String kNoName = L"No Name";
}  // namespace

const String& NoNameString() { return kNoName; }

bool Tag::Parse(ElementSource&) { return false; }

bool Tag::ParseChild(int id, ElementSource& document) { return document.SkipElement(id); }

bool NamedTag::ParseChild(int childId, ElementSource& document) {
  switch (childId) {
    case kId: return document.ReadValue(id);
    case kName: return document.ReadValue(name);
    case kSid: return document.ReadValue(sid);
    default: return document.SkipElement(childId);
  }
}

bool UrlTag::Parse(ElementSource& document) {
  return ParseLoop(document, [&](int id) { return ParseChild(id, document); });
}

bool UrlTag::ParseChild(int childId, ElementSource& document) {
  if (childId == kUrl) return document.ReadUrl(url);
  return document.SkipElement(childId);
}

}  // namespace varnel
