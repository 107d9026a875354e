#include "tags/MaterialBinding.h"

#include "tags/DataSources.h"
#include "tags/TagParse.h"
#include "xml/ElementNames.h"

namespace varnel {

MaterialTag::~MaterialTag() { delete instanceEffect; }

bool MaterialTag::Parse(ElementSource& document) {
  return ParseLoop(document, [&](int id) {
    if (id == kInstanceEffect)
      return AttachSingle(document, id, instanceEffect, &Tag::AsInstanceEffect);
    return ParseChild(id, document);
  });
}

String MaterialTag::GetEffectUrl() const {
  return instanceEffect ? instanceEffect->url : String();
}

bool InstanceEffect::Parse(ElementSource& document) {
  return ParseLoop(document, [&](int id) {
    if (id == kUrl) return document.ReadUrl(url);
    return ParseChild(id, document);
  });
}

BindMaterial::~BindMaterial() { delete techniqueCommon; }

bool BindMaterial::Parse(ElementSource& document) {
  return ParseLoop(document, [&](int id) {
    if (id == kTechniqueCommon)
      return AttachSingle(document, id, techniqueCommon, &Tag::AsTechniqueCommon);
    return ParseChild(id, document);
  });
}

bool InstanceMaterial::Parse(ElementSource& document) {
  return ParseLoop(document, [&](int id) {
    switch (id) {
      case kSymbol: return document.ReadValue(symbol);
      case kTarget: return document.ReadUrl(target);
      default: return ParseChild(id, document);
    }
  });
}

}  // namespace varnel
