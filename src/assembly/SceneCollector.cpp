#include "assembly/SceneCollector.h"

#include <algorithm>
#include <limits>

#include "host/Path.h"
#include "output/CreationManager.h"
#include "tags/Effects.h"
#include "tags/Image.h"
#include "tags/SceneGraph.h"

namespace varnel {

namespace {

// Far beyond real scenes (a city of a million instances stays below both), low enough that a
// hostile document gives up within seconds.
constexpr int64_t kInstanceLimit = int64_t{1} << 22;
constexpr int64_t kElementLimit = int64_t{1} << 27;
constexpr double kIdentity[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};

void SetIdentity(double* m) {
  for (int k = 0; k < 16; ++k) m[k] = kIdentity[k];
}

// The image that textures an effect's diffuse colour, or null; says why when a reference of the
// way there names nothing or the file is missing.
ImageTag* EffectImage(Tag* entry, SceneCollector& collector) {
  EffectTag* effect = entry ? entry->AsEffectTag() : nullptr;
  if (!effect) return nullptr;
  ProfileCommon* profile = effect->profile;
  if (!profile || !profile->technique) return nullptr;
  PhongTag* shading = profile->technique->shading;
  if (!shading || !shading->diffuse.texture) return nullptr;
  // An image the profile holds itself was placed there on purpose; its file is not checked.
  if (profile->imageIsTexture && profile->image) return profile->image;

  String missingSurface;
  String imageId = profile->GetTextureImageId(collector.context->report ? &missingSurface : nullptr);
  if (imageId.IsEmpty()) return nullptr;
  Tag* found = collector.FindImage(imageId);
  ImageTag* image = found ? found->AsImageTag() : nullptr;
  if (!image) {
    collector.ReportOnce(DiagnosticKind::kUnresolvedReference, false, [&] {
      const std::string of = " of effect \"" + effect->GetId().ToUtf8() + "\"";
      if (!missingSurface.IsEmpty()) return "the sampler" + of + " names no surface \"" + missingSurface.ToUtf8() + "\"";
      return "the texture" + of + " names no image \"" + imageId.ToUtf8() + "\"";
    });
    return nullptr;
  }
  if (image->filePath.GetLength() >= 4) {
    FileSystemPath file(image->filePath);
    if (file.Exists() && file.IsFile()) return image;
  }
  collector.ReportOnce(DiagnosticKind::kTextureMissing, image->extendedFinds, [&] {
    return "image \"" + imageId.ToUtf8() + "\": no file found for \"" + image->reference.ToUtf8() + "\"";
  });
  return nullptr;
}

}  // namespace

void SceneCollector::DeriveEffectImages() {
  effectImages.Clear();
  for (int32_t i = 0; i < effects.count; ++i) effectImages.Add(nullptr);
  // A dropped Add (allocation failure) leaves fewer entries than effects; never write past them.
  for (int32_t i = 0; i < effects.count && i < effectImages.count; ++i)
    effectImages[i] = EffectImage(effects[i], *this);
}

void SceneCollector::IndexTables() {
  if (context->report) materialIndex.Build(materials);
  geometryIndex.Build(geometries);
  controllerIndex.Build(controllers);
  libraryNodeIndex.Build(libraryNodes);
  imageIndex.Build(images);
  effectIndex.Build(effects);
  usableMaterialIndex.Build(materials, [this](Tag* material) { return MaterialEffect(material) >= 0; });
  firstUsableMaterial = -1;
  for (int32_t i = 0; i < materials.count && firstUsableMaterial < 0; ++i)
    if (MaterialEffect(materials[i]) >= 0) firstUsableMaterial = i;
}

void SceneCollector::Run(VisualScene* root) {
  if (!manager || !root) return;
  IndexTables();
  unindexedRoot = root;
  anyNodesIndexed = false;
  if (context->report) ReportUnresolvedEffects();
  DeriveEffectImages();

  pass = TraversalPass::Idle;
  depth = 0;
  nodeDepth = 0;
  matrixStack.Clear();
  SetIdentity(currentMatrix);
  bindMaterialOverride = nullptr;

  CreationManager& out = *manager;
  out.swapYZ = yUp;
  out.unitScale = unitScale;
  out.pass = TraversalPass::Counting;
  out.partCount = out.pointCount = out.normalCount = out.texturePointCount = out.lineCount = 0;
  out.primitiveTextureEffects.Clear();
  out.primitiveEffects.Clear();
  out.effectImages.RemoveAll();
  out.effects.RemoveAll();

  nodeVisits = 0;
  instancesLeft = kInstanceLimit;
  elementsLeft = kElementLimit;
  geometriesPlaced = 0;
  // A scene that gives nothing says why once, unless the traversal already said something.
  struct Tally : DiagnosticReceiver {
    DiagnosticReceiver* next = nullptr;
    int heard = 0;
    void Report(const Diagnostic& d) override {
      ++heard;
      next->Report(d);
    }
  } tally;
  tally.next = context->report.receiver;
  ImportContext counting = *context;
  const ImportContext* call = context;
  if (context->report) {
    counting.report.receiver = &tally;
    context = &counting;
  }
  TraverseScene(*root);
  context = call;

  // A count that reached the int limit saturated: its indices could not address the output.
  bool saturated = out.partCount == kCountLimit || out.pointCount == kCountLimit ||
                   out.normalCount == kCountLimit || out.texturePointCount == kCountLimit ||
                   Exhausted();
  const int64_t outputBytes = 24 * (int64_t{out.pointCount} + out.normalCount) +
                              16 * (int64_t{out.texturePointCount} + out.partCount);
  const bool tooLarge = !saturated && outputBytes > context->options.maxOutputBytes;
  if (context->report && tooLarge) {
    context->report(DiagnosticKind::kLimitReached, 0, false, [&] {
      return "the output would take " + std::to_string(outputBytes) + " bytes, more than the " +
             std::to_string(context->options.maxOutputBytes) + " allowed (ImportOptions::maxOutputBytes): nothing is produced";
    });
  }
  saturated = saturated || tooLarge;
  if (context->report && saturated && !tooLarge) {
    context->report(DiagnosticKind::kLimitReached, 0, false, [&] {
      if (instancesLeft < 0)
        return "the scene instantiates geometry more than " + std::to_string(kInstanceLimit) +
               " times: nothing is produced";
      if (elementsLeft < 0)
        return "the scene takes more than " + std::to_string(kElementLimit) +
               " polygons, inputs and points to build: nothing is produced";
      return std::string("a part, point or texture point count reaches 2^31 - 1: nothing is produced");
    });
  }
  // The extended reading also gives a display list that holds only lines.
  const bool produces = (out.partCount >= 1 && out.pointCount >= 3) || (context->extended() && out.lineCount >= 1);
  if (context->report && !produces && !saturated && tally.heard == 0) {
    context->report(DiagnosticKind::kEmptyScene, 0, false, [&] {
      return std::string(geometriesPlaced == 0 ? "the scene places no geometry"
                                               : "the geometry the scene places holds no triangles or polygons");
    });
  }
  if (produces && !saturated) {
    if (context->options.sceneObserver) NameEffects(out);
    out.effects.AttachTo(effects);
    out.effectImages.AttachTo(effectImages);
    if (out.StartCreation()) {
      pass = TraversalPass::Creating;
      nodeVisits = 0;
      TraverseScene(*root);
      pass = TraversalPass::Idle;
      out.EndCreation();
      return;
    }
  }
  manager = nullptr;
}

void SceneCollector::NameEffects(CreationManager& out) const {
  out.effectNames.assign(static_cast<size_t>(std::max(effects.count, 0)), std::string());
  auto nameOf = [](const Tag& tag) {
    return (tag.GetName().IsEmpty() ? tag.GetId() : tag.GetName()).ToUtf8();
  };
  for (Tag* material : materials) {
    int effect = MaterialEffect(material);
    if (effect >= 0 && out.effectNames[static_cast<size_t>(effect)].empty())
      out.effectNames[static_cast<size_t>(effect)] = nameOf(*material);
  }
  for (int32_t i = 0; i < effects.count; ++i)
    if (effects[i] && out.effectNames[static_cast<size_t>(i)].empty())
      out.effectNames[static_cast<size_t>(i)] = nameOf(*effects[i]);
}

void SceneCollector::ObserveNode(int32_t instance, const NodeTag* node) {
  currentNode = instance;
  currentNodeTag = node;
  std::string name = !node ? "" : (node->name.IsEmpty() ? node->id : node->name).ToUtf8();
  context->options.sceneObserver->NodeParts(manager->partIndex, instance, name.c_str());
}

void SceneCollector::PushMatrix() {
  // Only the creating traversal moves points; keeping the counting one flat keeps push and pop
  // balanced whatever the callers test.
  if (pass != TraversalPass::Creating) return;
  ++depth;
  matrixStack.AppendBlock(currentMatrix);
}

void SceneCollector::PopMatrix() {
  if (pass != TraversalPass::Creating) return;
  if (--depth < 0) {
    depth = 0;
    SetIdentity(currentMatrix);
    return;
  }
  if (matrixStack.count >= 16) {
    const double* saved = matrixStack.data + (matrixStack.count - 16);
    for (int k = 0; k < 16; ++k) currentMatrix[k] = saved[k];
    matrixStack.RemoveBlock(matrixStack.count - 1, 16);
  } else {
    SetIdentity(currentMatrix);
  }
}

}  // namespace varnel
