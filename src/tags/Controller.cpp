#include "tags/Controller.h"

#include <utility>
#include <vector>

#include "assembly/SceneCollector.h"
#include "tags/TagParse.h"
#include "tags/Transforms.h"
#include "xml/ElementNames.h"

namespace varnel {

ControllerTag::~ControllerTag() { delete skin; }

bool ControllerTag::Parse(DaeDocument& document) {
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

void ControllerTag::Traverse(SceneCollector& collector) {
  // A skin's source may name another controller (a skin on a morph, in the extended reading),
  // and that one's yet another: the chain is followed in a loop, so no length of it costs stack.
  // `chain` holds the controllers entered, each with whether its skin placed a matrix.
  std::vector<std::pair<ControllerTag*, bool>> chain;
  for (ControllerTag* controller = this; controller;) {
    if (!controller->skin) {
      if (controller->morphSkipped)
        collector.ReportOnce(DiagnosticKind::kUnresolvedReference, true, [&] {
          return "controller \"" + controller->GetId().ToUtf8() + "\" holds a morph, which is not read";
        });
      break;
    }
    if (controller->onPath) break;
    controller->onPath = true;
    SkinTag& skin = *controller->skin;
    chain.emplace_back(controller, !skin.source.IsEmpty());
    if (skin.source.IsEmpty()) break;
    Tag* inner = skin.Enter(collector);
    if (!inner) collector.InstantiateGeometry(skin.source, nullptr);
    controller = inner ? inner->AsControllerTag() : nullptr;
  }
  for (auto link = chain.rbegin(); link != chain.rend(); ++link) {
    if (link->second) collector.PopMatrix();
    link->first->onPath = false;
  }
}

namespace {

constexpr double kIdentity[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};

// Reads the document's column-vector matrix and stores it transposed; identity and false
// when the input ends before sixteen numbers.
bool ReadBindShapeMatrix(DaeDocument& document, double* matrix) {
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

bool SkinTag::Parse(DaeDocument& document) {
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

Tag* SkinTag::Enter(SceneCollector& collector) {
  // A source may name another controller (a skin on a morph); the extended reading follows it.
  Tag* inner = nullptr;
  if (collector.context->extended() || collector.context->report) {
    if (!collector.FindGeometry(source)) inner = collector.FindController(source);
    if (!inner || !collector.context->extended())
      collector.ReportUnresolvedInstance(elementId == kSkin ? "skin source" : "morph source", source,
                                         nullptr, inner != nullptr);
    if (!collector.context->extended()) inner = nullptr;
  }
  if (collector.pass == TraversalPass::Creating) {
    collector.PushMatrix();
    PreMultiply(collector.currentMatrix, bindShapeMatrix);
  }
  return inner;
}

}  // namespace varnel
