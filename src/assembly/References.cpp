// What references of the scene resolve to beyond the plain tables: any node by id for the
// extended reading, and the diagnostics of references that name nothing.
#include <vector>

#include "assembly/SceneCollector.h"
#include "tags/DataSources.h"
#include "tags/MaterialBinding.h"
#include "tags/Mesh.h"
#include "tags/SceneGraph.h"

namespace varnel {

namespace {

// A url that kept its "#" names an element of another document.
std::string Quoted(const String& text, bool url) {
  return (url && text.Find(L'#') < 0 ? "\"#" : "\"") + text.ToUtf8() + "\"";
}

}  // namespace

void SceneCollector::IndexAnyNodes(VisualScene* root) const {
  anyNodeIndex.clear();
  // Explicit stack: nodes nest as deep as the reader lets them.
  std::vector<NodeTag*> pending;
  auto visit = [&](NodeTag* node) {
    for (pending.push_back(node); !pending.empty();) {
      NodeTag* at = pending.back();
      pending.pop_back();
      if (!at) continue;
      if (!at->GetId().IsEmpty()) {
        auto [entry, added] = anyNodeIndex.emplace(std::wstring_view(at->GetId()), at);
        if (!added && at->order < entry->second->order) entry->second = at;
      }
      for (NodeTag* child : at->children) pending.push_back(child);
    }
  };
  for (Tag* tag : libraryNodes) visit(tag ? tag->AsNodeTag() : nullptr);
  if (root)
    for (NodeTag* node : root->nodes) visit(node);
}

NodeTag* SceneCollector::FindAnyNode(const String& id) const {
  if (!anyNodesIndexed) {
    IndexAnyNodes(unindexedRoot);
    anyNodesIndexed = true;
  }
  auto found = anyNodeIndex.find(std::wstring_view(id));
  return found == anyNodeIndex.end() ? nullptr : found->second;
}

NodeTag* SceneCollector::FindInstancedNode(const String& id) const {
  if (context->extended()) return FindAnyNode(id);
  Tag* found = FindLibraryNode(id);
  return found ? found->AsNodeTag() : nullptr;
}

void SceneCollector::ReportUnresolvedInstance(const char* element, const String& url,
                                              BindMaterial* bindMaterial, bool extendedReads) {
  if (!context->report || pass == TraversalPass::Creating || Exhausted()) return;
  Tag* found = FindGeometry(url);
  if (!found) {
    if (ReportLinked(element, url)) return;
    ReportOnce(DiagnosticKind::kUnresolvedReference, extendedReads,
               [&] { return element + (" " + Quoted(url, true)) + " names no geometry"; });
    return;
  }
  if (!bindMaterial) bindMaterial = bindMaterialOverride;
  TechniqueCommon* bindings = bindMaterial ? bindMaterial->techniqueCommon : nullptr;
  if (bindings) {
    for (InstanceMaterial* binding : bindings->instanceMaterials)
      if (binding && !FindMaterial(binding->target))
        ReportOnce(DiagnosticKind::kUnresolvedReference, false, [&] {
          return "instance_material target " + Quoted(binding->target, true) + " names no material";
        });
  }
  GeometryTag* geometry = found->AsGeometryTag();
  if (!geometry || !geometry->mesh) return;
  for (PrimitiveTag* primitive : geometry->mesh->primitives) {
    // A primitive without indices gives nothing, so its material does not matter.
    if (!primitive || primitive->material.IsEmpty() || primitive->indices.count == 0) continue;
    bool bound = false;
    if (bindings)
      for (InstanceMaterial* binding : bindings->instanceMaterials)
        bound = bound || (binding && binding->symbol == primitive->material);
    if (bound || FindMaterial(primitive->material)) continue;
    ReportOnce(DiagnosticKind::kUnresolvedReference, false, [&] {
      return "material symbol " + Quoted(primitive->material, false) +
             " is bound by no instance_material and names no material";
    });
  }
}

bool SceneCollector::ReportLinked(const char* element, const String& url) {
  if (linkFailures) {
    const auto failure = linkFailures->find(url.wstr());
    if (failure != linkFailures->end()) {
      ReportOnce(failure->second.kind, false, [&] { return failure->second.message; });
      return true;
    }
  }
  const std::wstring_view text = url;
  const bool otherDocument = text.find(L'#') != std::wstring_view::npos ||
                             (text.size() > 4 && String(text.substr(text.size() - 4)).CompareNoCase(L".dae") == 0);
  if (context->extended() || !otherDocument) return false;
  ReportOnce(DiagnosticKind::kUnresolvedReference, true, [&] {
    return element + (" \"" + url.ToUtf8() + "\" names another document, which is not read");
  });
  return true;
}

void SceneCollector::ReportUnresolvedEffects() {
  for (Tag* tag : materials) {
    MaterialTag* material = tag ? tag->AsMaterialTag() : nullptr;
    if (!material || !material->instanceEffect || EffectIndex(material->instanceEffect->url) >= 0)
      continue;
    ReportOnce(DiagnosticKind::kUnresolvedReference, false, [&] {
      return "instance_effect " + Quoted(material->instanceEffect->url, true) + " of material " +
             Quoted(material->GetId(), false) + " names no effect";
    });
  }
}

}  // namespace varnel
