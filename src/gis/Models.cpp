#include "gis/Models.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "gis/Archive.h"
#include "gis/Files.h"
#include "gis/Paths.h"
#include "gis/Placemarks.h"
#include "gis/PrivateFolder.h"
#include "gis/Zae.h"

namespace varnel::gis {
namespace {

// Enough to see past a byte-order mark, the XML declaration and a licence comment to the root.
constexpr size_t kProbeBytes = 4096;

bool IsZip(std::string_view head) {
  return head.starts_with("PK\x03\x04") || head.starts_with("PK\x05\x06");
}

Model Plain(const std::string& path) { return {std::string(NameOf(path)), path, path, {}, {}}; }

// The archive's KML: doc.kml at its root, else the first .kml at its root, else the first one
// anywhere in it.
std::string RootKml(const std::vector<std::string>& files) {
  std::string first, firstAtRoot;
  for (const std::string& file : files) {
    if (file == "doc.kml") return file;
    if (!HasExtension(file, ".kml")) continue;
    if (first.empty()) first = file;
    if (firstAtRoot.empty() && FolderOf(file).empty()) firstAtRoot = file;
  }
  return firstAtRoot.empty() ? first : firstAtRoot;
}

std::string FolderBeside(const std::string& path) {
  std::string folder = std::filesystem::path(path).parent_path().string();
  return folder.empty() ? "." : folder;
}

// The models the KML `text` places from `place`; false (reported) when there are none.
bool Place(std::string_view text, const KmlPlace& place, const OpenOptions& options,
           std::vector<Model>& models) {
  Reporter report(options.import.diagnostics);
  std::vector<KmlModel> read;
  if (!ReadKml(text, options.limits.maxModels, options.terrain, report, read)) return false;
  PlaceModels(place, read, options.allowNetwork, report, models);
  if (read.empty()) report(DiagnosticKind::kKml, 0, "no model in the KML");
  return !models.empty();
}

}  // namespace

std::string ModelPrefix(const std::string& opened, const std::string& name,
                        const std::string& source) {
  if (source == opened) return "";
  std::string entry = source.rfind(opened + "!/", 0) == 0 ? source.substr(opened.size() + 2) : source;
  return "model '" + name + "' (" + entry + "): ";
}

ImportOptions ImportFor(const Model& model, ImportOptions import) {
  if (!model.textureRoot.empty()) {
    import.confineTextures = true;
    import.textureRoot = model.textureRoot.c_str();
  }
  return import;
}

ModelSet::ModelSet() = default;
ModelSet::~ModelSet() { Close(); }

void ModelSet::Close() {
  models_.clear();
  if (!folder_.empty()) RemoveFolder(folder_);
  folder_.clear();
}

bool ModelSet::Open(const std::string& path, const OpenOptions& options) {
  Close();
  Reporter report(options.import.diagnostics);
  std::string head;
  if (IsAddress(path)) {
    models_.push_back(Plain(path));
    return true;
  }
  if (!ReadHead(path, kProbeBytes, report, head)) return false;
  if (IsZip(head)) return OpenArchive(path, nullptr, options);
  if (HasExtension(path, ".kmz") || HasExtension(path, ".zae")) {
    report(DiagnosticKind::kArchive, 0, "not a zip archive");
    return false;
  }
  if (LooksLikeKml(head)) return OpenKml(path, options);
  models_.push_back(Plain(path));
  return true;
}

bool ModelSet::OpenMemory(std::string_view bytes, const std::string& name,
                         const OpenOptions& options) {
  Close();
  Reporter report(options.import.diagnostics);
  if (IsZip(bytes)) return OpenArchive(name, &bytes, options);
  if (HasExtension(name, ".kmz") || HasExtension(name, ".zae")) {
    report(DiagnosticKind::kArchive, 0, "not a zip archive");
    return false;
  }
  if (LooksLikeKml(bytes.substr(0, kProbeBytes))) {
    report(DiagnosticKind::kKml, 0,
           "a KML document read from memory has no folder for the models it names");
    return false;
  }
  Model model{std::string(NameOf(name)), name, "", {}, {}};
  model.memory = bytes;
  models_.push_back(std::move(model));
  return true;
}

bool ModelSet::OpenKml(const std::string& path, const OpenOptions& options) {
  Reporter report(options.import.diagnostics);
  std::string text;
  if (!ReadWhole(path, NameOf(path), options.limits.maxKmlBytes, DiagnosticKind::kKml, report,
                 text))
    return false;
  return Place(text, {path, FolderBeside(path), {}, {}, {}}, options, models_);
}

bool ModelSet::OpenArchive(const std::string& path, const std::string_view* bytes,
                           const OpenOptions& options) {
  Reporter report(options.import.diagnostics);
  folder_ = NewPrivateFolder("archive");
  if (folder_.empty()) {
    report(DiagnosticKind::kArchive, 0, "no private folder to unpack into: ",
           std::strerror(errno));
    return false;
  }
  Unpacked unpacked = bytes ? UnpackMemory(*bytes, folder_, options.limits, report)
                            : Unpack(path, folder_, options.limits, report);
  if (!unpacked.usable) return false;
  const std::vector<std::string>& files = unpacked.files;
  LinkEscapedNames(folder_, files);
  std::string kml = RootKml(files);
  bool manifest = std::find(files.begin(), files.end(), "manifest.xml") != files.end();
  if (!kml.empty() && !manifest) {
    std::string text;
    if (!ReadWhole(folder_ + "/" + kml, kml, options.limits.maxKmlBytes, DiagnosticKind::kKml,
                   report, text))
      return false;
    KmlPlace place{path, FolderBeside(path), folder_, std::string(FolderOf(kml)),
                   {files.begin(), files.end()}};
    return Place(text, place, options, models_);
  }
  std::optional<std::string> root = ZaeRoot(folder_, files, options.limits, report);
  if (!root) return false;
  models_.push_back(
      {std::string(NameOf(*root)), path + "!/" + *root, folder_ + "/" + *root, {}, folder_});
  return true;
}

}  // namespace varnel::gis
