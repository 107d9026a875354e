// What references of the scene resolve to beyond the plain tables: any node by id for the
// extended reading.
#include <vector>

#include "assembly/SceneCollector.h"
#include "tags/SceneGraph.h"

namespace varnel {

void SceneCollector::IndexAnyNodes(VisualScene* root) {
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
  auto found = anyNodeIndex.find(std::wstring_view(id));
  return found == anyNodeIndex.end() ? nullptr : found->second;
}

NodeTag* SceneCollector::FindInstancedNode(const String& id) const {
  if (extended) return FindAnyNode(id);
  Tag* found = FindLibraryNode(id);
  return found ? found->AsNodeTag() : nullptr;
}

}  // namespace varnel
