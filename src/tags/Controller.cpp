#include "tags/Controller.h"

#include "tags/TagParse.h"
#include "tags/Transforms.h"
#include "xml/ElementNames.h"

namespace varnel {

ControllerTag::~ControllerTag() { delete skin; }

bool ControllerTag::Parse(ElementSource& document) {
  return ParseLoop(document, [&](int id) {
    if (id == kSkin) return AttachSingle(document, id, skin, &Tag::AsSkinTag);
    if (id != kMorph || document.wasEndTag) return ParseChild(id, document);
    if (!document.extended()) {
      morphSkipped = true;
      return ParseChild(id, document);
    }
    // Read like a skin: the source attribute first, the children not needed.
    auto* morph = new SkinTag(id);
    if (!morph->Parse(document)) {
      delete morph;
      return false;
    }
    delete skin;
    skin = morph;
    return true;
  });
}

namespace {

constexpr double kIdentity[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};

// Reads the document's column-vector matrix and stores it transposed; identity and false
// when the input ends before sixteen numbers.
bool ReadBindShapeMatrix(ElementSource& document, double* matrix) {
  double numbers[16];
  const int64_t read = ReadNumberList<ListEnd::kReadThrough>(
      document, 16, [&](int64_t i, const char* text) { numbers[i] = ParseDouble(text); });
  if (read < 0) {
    for (int i = 0; i < 16; ++i) matrix[i] = kIdentity[i];
    return false;
  }
  if (document.isEndToken) document.IdentifyTag();
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 4; ++c) matrix[4 * c + r] = numbers[4 * r + c];
  return true;
}

}  // namespace

bool SkinTag::Parse(ElementSource& document) {
  return ParseLoop(document, [&](int id) {
    switch (id) {
      case kSource:
        // The attribute comes before the skin's own "source" children, which are not needed.
        if (source.IsEmpty()) return document.ReadUrl(source);
        return document.SkipElement(id);
      case kBindShapeMatrix:
        return ReadBindShapeMatrix(document, bindShapeMatrix);
      default:
        return ParseChild(id, document);
    }
  });
}

}  // namespace varnel
