// A linked document's tables join the root's, so scene assembly resolves its elements like the
// root's own; qualifying its ids with its canonical path keeps them apart from every other
// document's. Image ids stay as written: an effect finds the first image of its id.
#include "document/Linked.h"

#include <filesystem>
#include <map>
#include <unordered_map>
#include <vector>

#include "document/DaeDocument.h"
#include "host/Path.h"
#include "tags/Controller.h"
#include "tags/DataSources.h"
#include "tags/Effects.h"
#include "tags/Image.h"
#include "tags/MaterialBinding.h"
#include "tags/Mesh.h"
#include "tags/SceneGraph.h"
#include "xml/ElementNames.h"

namespace varnel {
namespace {

// A linked document's diagnostics reach the caller named by its file, at line 0: a line would be
// taken for one of the document the caller asked for. That it has no scene of its own matters
// only to a reference to its whole scene, which says so itself.
struct Prefixed : DiagnosticReceiver {
  DiagnosticReceiver* next = nullptr;
  std::string name;
  void Report(const Diagnostic& d) override {
    if (d.kind == DiagnosticKind::kNoScene) return;
    const std::string text = name + (d.line > 0 ? ":" + std::to_string(d.line) : "") + ": " + d.message;
    next->Report(Diagnostic{d.kind, 0, text.c_str(), d.extendedReads});
  }
};

void MoveAll(BaseArray<Tag*>& from, BaseArray<Tag*>& to) {
  for (Tag* tag : from) to.Add(tag);
  from.RemoveAll();
}

bool IsAddress(std::wstring_view url) {
  const size_t colon = url.find(L':');
  return colon != std::wstring_view::npos && colon > 1 && url.find_first_of(L"/\\") > colon &&
         url.substr(0, 5) != L"file:";
}

class Linker {
 public:
  explicit Linker(DaeDocument& root) : root_(root) {
    rootKey_ = Canonical(root.path);
    if (root.confineTextures)
      confinement_ = root.textureRoot.IsEmpty() ? FileSystemPath(root.path).GetPath(false) : root.textureRoot;
  }

  void Follow(DaeDocument& document, const std::wstring& key) {
    std::vector<NodeTag*> pending;
    for (Tag* tag : document.libraryNodes)
      if (NodeTag* node = tag ? tag->AsNodeTag() : nullptr) pending.push_back(node);
    if (document.activeScene)
      pending.insert(pending.end(), document.activeScene->nodes.begin(), document.activeScene->nodes.end());
    while (!pending.empty()) {
      NodeTag* node = pending.back();
      pending.pop_back();
      if (!key.empty()) {
        if (node->name.IsEmpty()) node->name = node->id;  // what callers are told of the node
        Qualify(key, node->id);
      }
      for (InstanceGeometry*& instance : node->instances) FollowInstance(document, key, instance);
      pending.insert(pending.end(), node->children.begin(), node->children.end());
    }
    if (key.empty()) return;
    for (Tag* tag : document.geometries) Qualify(key, tag->AsGeometryTag()->id);
    for (Tag* tag : document.effects) Qualify(key, tag->AsEffectTag()->id);
    for (Tag* tag : document.materials) {
      MaterialTag* material = tag->AsMaterialTag();
      Qualify(key, material->id);
      if (material->instanceEffect) Qualify(key, material->instanceEffect->url);
    }
    for (Tag* tag : document.controllers) {
      ControllerTag* controller = tag->AsControllerTag();
      Qualify(key, controller->id);
      bool whole = false;
      if (controller->skin) Resolve(document, key, controller->skin->source, "skin source", false, whole);
    }
  }

 private:
  struct Linked {
    bool done = false;  // false while its own links are followed
    bool hasScene = false;
  };

  static std::wstring Canonical(const String& path) {
    std::error_code error;
    const std::filesystem::path canonical = std::filesystem::weakly_canonical(path.ToNativePath(), error);
    return error ? path.wstr() : String::FromNativePath(canonical.string()).wstr();
  }

  // Ids with a dot are looked for on disk: each once.
  bool IsFile(const String& path) {
    auto [entry, added] = files_.emplace(path.wstr(), false);
    if (added) entry->second = FileSystemPath(path).IsFile();
    return entry->second;
  }

  static void Qualify(const std::wstring& key, String& id) {
    if (!id.IsEmpty()) id = String(key + L"#" + id.wstr());
  }

  void FollowInstance(DaeDocument& document, const std::wstring& key, InstanceGeometry*& instance) {
    const char* element = instance->AsInstanceTag()          ? "instance_node"
                          : instance->AsInstanceController() ? "instance_controller"
                                                             : "instance_geometry";
    bool whole = false;
    Resolve(document, key, instance->url, element, true, whole);
    if (whole && !instance->AsInstanceTag()) {
      // A whole document stands where the geometry would: its scene is instanced as a node.
      InstanceTag* node = new InstanceTag(kInstanceNode);
      node->url = instance->url;
      delete instance;
      instance = node;
    }
    TechniqueCommon* bindings = instance->bindMaterial ? instance->bindMaterial->techniqueCommon : nullptr;
    if (!bindings) return;
    for (InstanceMaterial* binding : bindings->instanceMaterials)
      if (binding) Resolve(document, key, binding->target, "instance_material target", false, whole);
  }

  // Rewrites `url`, an element's reference in `document` (`key` "" for the root), to the id it
  // names among the root's tables; `whole` when it names a document's whole scene (a url without
  // "#" naming a file, where `wholeAllowed`). A url that cannot be followed stays as it is and
  // its reason is kept.
  void Resolve(DaeDocument& document, const std::wstring& key, String& url, const char* element,
               bool wholeAllowed, bool& whole) {
    whole = false;
    if (key.empty() && std::wstring_view(url).find_first_of(L"#.") == std::wstring_view::npos) return;  // an id
    const std::wstring written = url.wstr();
    const size_t hash = written.find(L'#');
    const std::wstring file = written.substr(0, hash);
    const std::wstring fragment = hash == std::wstring::npos ? L"" : written.substr(hash + 1);
    auto fail = [&](DiagnosticKind kind, const std::string& why) {
      root_.linkFailures.emplace(written, LinkFailure{kind, element + (" \"" + url.ToUtf8() + "\" " + why)});
    };
    const bool namesFile = !file.empty() && (hash != std::wstring::npos || wholeAllowed);
    if (namesFile && IsAddress(file))
      return fail(DiagnosticKind::kUnresolvedReference, "names a document at an address, which is not fetched");
    String path;
    if (namesFile) {
      const String local = LocalPath(String(file));
      FileSystemPath candidate(local);
      if (document.inMemory) {
        candidate = FileSystemPath(document.Resolve(local));
      } else if (!(local.GetLength() > 0 && (local[0] == L'/' || local[0] == L'\\'))) {
        candidate = FileSystemPath(FileSystemPath(document.path).GetPath(false));
        candidate.AppendFile(std::wstring_view(local));
      }
      path = candidate;
    }
    // Without "#", a url names a document only when it is a file (with an extension, so that
    // plain ids are never looked for on disk): else it is an id, as ever.
    if (hash == std::wstring::npos &&
        (file.find(L'.') == std::wstring::npos || path.IsEmpty() || !IsFile(path))) {
      if (!key.empty()) Qualify(key, url);
      return;
    }
    if (file.empty()) {
      if (!key.empty()) url = String(key + L"#" + fragment);
      return;
    }
    if (root_.isDownloaded) return fail(DiagnosticKind::kUnresolvedReference, "names another document: those of a downloaded document are not read");
    if (!IsFile(path)) return fail(DiagnosticKind::kUnresolvedReference, "names no document (" + path.ToUtf8() + ")");
    if (!confinement_.IsEmpty() && !FileSystemPath(path).LiesInside(confinement_))
      return fail(DiagnosticKind::kUnresolvedReference,
                  "names a document outside the folder textures and documents are confined to: not read");
    const std::wstring target = Canonical(path);
    if (target == rootKey_) {
      if (fragment.empty()) return fail(DiagnosticKind::kUnresolvedReference, "names the document it lies in: a cycle, not followed");
      url = String(fragment);  // the root's ids are its own
      return;
    }
    auto found = linked_.find(target);
    if (found == linked_.end()) {
      if (static_cast<int>(linked_.size()) >= kMaxLinkedDocuments)
        return fail(DiagnosticKind::kLimitReached,
                    "names one document more than the " + std::to_string(kMaxLinkedDocuments) + " an import reads: not read");
      found = linked_.emplace(target, Linked{}).first;
      found->second.hasScene = Load(target, FileSystemPath(path).GetFile().ToUtf8());
      found->second.done = true;
    } else if (!found->second.done && fragment.empty()) {
      return fail(DiagnosticKind::kUnresolvedReference, "names a document that instances this one whole: a cycle, not followed");
    }
    if (fragment.empty()) {
      if (!found->second.hasScene) return fail(DiagnosticKind::kUnresolvedReference, "names a document without a visual scene");
      whole = true;
      url = String(target);
    } else {
      url = String(target + L"#" + fragment);
    }
  }

  // Reads the document at `path` with the root's settings, follows its links and moves its
  // tables into the root's; whether it has a scene.
  bool Load(const std::wstring& path, const std::string& name) {
    DaeDocument document;
    Prefixed prefixed;
    prefixed.next = root_.report.receiver;
    prefixed.name = name;
    document.extended = true;
    if (root_.report) document.report.receiver = &prefixed;
    document.confineTextures = root_.confineTextures;
    document.textureRoot = confinement_;
    document.Load(String(path));
    Follow(document, path);

    VisualScene* scene = document.activeScene;
    if (scene) {
      // The scene joins the root's library as one node named by the document's key.
      NodeTag* wrapper = new NodeTag(kNode);
      wrapper->id = String(path);
      wrapper->name = String::FromUtf8(name);
      for (NodeTag* node : scene->nodes) {
        wrapper->children.Add(node);
        wrapper->hasContent = wrapper->hasContent || node->hasContent;
      }
      scene->nodes.RemoveAll();
      root_.libraryNodes.Add(wrapper);
    }
    for (Tag* tag : document.images) tag->AsImageTag()->budget = &root_.textureBudget;
    MoveAll(document.images, root_.images);
    MoveAll(document.effects, root_.effects);
    MoveAll(document.materials, root_.materials);
    MoveAll(document.geometries, root_.geometries);
    MoveAll(document.libraryNodes, root_.libraryNodes);
    MoveAll(document.controllers, root_.controllers);
    return scene != nullptr;
  }

  DaeDocument& root_;
  std::wstring rootKey_;
  String confinement_;  // the folder linked documents must lie in; "" when not confined
  std::map<std::wstring, Linked> linked_;
  std::unordered_map<std::wstring, bool> files_;
};

}  // namespace

void FollowLinkedDocuments(DaeDocument& root) {
  if (root.activeScene) Linker(root).Follow(root, L"");
}

}  // namespace varnel
