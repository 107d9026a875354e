#include "tags/DataSources.h"

#include "tags/MaterialBinding.h"
#include "tags/TagParse.h"
#include "xml/ElementNames.h"

namespace varnel {

namespace {
// Built when the library loads, like every constant string the readers compare with.
const String kSemanticPosition = L"POSITION";
const String kSemanticVertex = L"VERTEX";
const String kSemanticNormal = L"NORMAL";
const String kSemanticTexcoord = L"TEXCOORD";
}  // namespace

// The text is read once, after the last attribute. With a "count" of 1 or more exactly that many
// numbers are taken (fewer when the text holds fewer: reading stops at the end tag). Without a
// positive "count" every number of the text is read. Either way the element's structure stays
// intact, so a wrong count costs the numbers it names and never the rest of the document.
bool FloatArray::Parse(ElementSource& document) {
  values.RemoveAll();
  bool textRead = false;
  for (;;) {
    if (!textRead && !document.attributesPending && !document.isTagToken) {
      textRead = true;
      if (count >= 1) ReserveDeclared(document, values, count);
      else ReserveFresh(values, 15);
      const int64_t read = ReadNumberList<ListEnd::kStopAtTag>(
          document, count >= 1 ? count : -1,
          [this](int64_t, const char* text) {
            const char* stop;
            const double value = ParseDoubleAt(text, &stop);
            values.Append(static_cast<float>(value));
            return stop;
          },
          [this](char* text, int& p, int length, int64_t most) {
            return RunOfPlainFloats(text, p, length, most, values);
          });
      if (read < 0) return false;
      ReleaseUnread(values, count);
      while (!document.isTagToken) {
        if (!document.NextToken()) return false;
      }
    }
    const int id = document.IdentifyTag();
    if (document.wasEndTag && id == static_cast<int>(elementId)) return true;
    if (id == kCount) {
      count = ReadIntValue(document);
    } else if (!NamedTag::ParseChild(id, document)) {
      return false;
    }
  }
}

bool AccessorTag::Parse(ElementSource& document) {
  return ParseLoop(document, [&](int id) {
    switch (id) {
      case kCount: count = ReadIntValue(document); return true;
      case kStride: stride = ReadIntValue(document); return true;
      case kOffset: offset = ReadIntValue(document); return true;
      default: return NamedTag::ParseChild(id, document);
    }
  });
}

TechniqueCommon::~TechniqueCommon() {
  delete accessor;
  DeleteAll(instanceMaterials);
}

const String* TechniqueCommon::TargetOf(const String& symbol) {
  // Short lists, the usual ones, are searched; an index would cost more than it saves.
  constexpr int32_t kIndexFrom = 16;
  if (instanceMaterials.count < kIndexFrom) {
    for (InstanceMaterial* binding : instanceMaterials)
      if (binding && binding->symbol == symbol) return &binding->target;
    return nullptr;
  }
  if (!targetBySymbol_) {
    targetBySymbol_ = std::make_unique<std::unordered_map<std::wstring_view, const String*>>();
    for (InstanceMaterial* binding : instanceMaterials)
      if (binding) targetBySymbol_->emplace(std::wstring_view(binding->symbol), &binding->target);
  }
  auto found = targetBySymbol_->find(std::wstring_view(symbol));
  return found == targetBySymbol_->end() ? nullptr : found->second;
}

bool TechniqueCommon::Parse(ElementSource& document) {
  return ParseLoop(document, [&](int id) {
    switch (id) {
      case kAccessor: return AttachSingle(document, id, accessor, &Tag::AsAccessorTag);
      case kInstanceMaterial:
        return AttachToList(document, id, instanceMaterials, &Tag::AsInstanceMaterial);
      default: return document.SkipElement(id);
    }
  });
}

SourceTag::~SourceTag() {
  delete floatArray;
  delete techniqueCommon;
}

bool SourceTag::Parse(ElementSource& document) {
  return ParseLoop(document, [&](int id) {
    switch (id) {
      case kFloatArray: return AttachSingle(document, id, floatArray, &Tag::AsFloatArray);
      case kTechniqueCommon:
        return AttachSingle(document, id, techniqueCommon, &Tag::AsTechniqueCommon);
      default: return NamedTag::ParseChild(id, document);
    }
  });
}

bool InputTag::Parse(ElementSource& document) {
  const bool parsed = ParseLoop(document, [&](int id) {
    switch (id) {
      case kOffset: offset = ReadIntValue(document); return true;
      case kSet: set = ReadIntValue(document); return true;
      case kSemantic: return document.ReadValue(semantic);
      case kSource: return document.ReadUrl(source);
      default: return document.SkipElement(id);
    }
  });
  if (semantic == kSemanticNormal) {
    isNormal = true;
  } else if (semantic == kSemanticVertex || semantic == kSemanticPosition) {
    isPosition = true;
  } else if (semantic == kSemanticTexcoord) {
    isTexcoord = true;
  }
  return parsed;
}

VerticesTag::~VerticesTag() { DeleteAll(inputs); }

bool VerticesTag::Parse(ElementSource& document) {
  return ParseLoop(document, [&](int id) {
    if (id == kInput) return AttachToList(document, id, inputs, &Tag::AsInputTag);
    return NamedTag::ParseChild(id, document);
  });
}

}  // namespace varnel
