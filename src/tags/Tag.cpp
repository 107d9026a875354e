#include "tags/Tag.h"

#include "tags/TagParse.h"
#include "xml/ElementNames.h"

namespace varnel {

namespace {
// Built when the library loads, like every constant string the readers compare with.
const String kNoName = L"No Name";
}  // namespace

const String& NoNameString() { return kNoName; }

bool Tag::Parse(DaeDocument&) { return false; }

bool Tag::ParseChild(int id, DaeDocument& document) { return document.SkipElement(id); }

bool NamedTag::ParseChild(int childId, DaeDocument& document) {
  switch (childId) {
    case kId: return document.ReadValue(id);
    case kName: return document.ReadValue(name);
    case kSid: return document.ReadValue(sid);
    default: return document.SkipElement(childId);
  }
}

bool UrlTag::Parse(DaeDocument& document) {
  return ParseLoop(document, [&](int id) { return ParseChild(id, document); });
}

bool UrlTag::ParseChild(int childId, DaeDocument& document) {
  if (childId == kUrl) return document.ReadUrl(url);
  return document.SkipElement(childId);
}

}  // namespace varnel
