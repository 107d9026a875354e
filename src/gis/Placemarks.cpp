#include "gis/Placemarks.h"

#include <algorithm>
#include <filesystem>
#include <map>

#include "gis/Paths.h"
#include "gis/Utf8.h"

namespace fs = std::filesystem;

namespace varnel::gis {
namespace {

// What a reference names: a path, or why it is refused ("" when it is merely missing).
struct Resolved {
  std::string path;
  std::string_view refused;
};

// The reference as written, then percent-decoded when that differs.
std::vector<std::string> Spellings(const std::string& href) {
  std::vector<std::string> spellings{href};
  if (std::string decoded = PercentDecode(href); decoded != href) spellings.push_back(decoded);
  return spellings;
}

// The entry `href` names from one of `folders`. Only leaving the archive from the first folder
// is a refusal: the others are fallbacks for exporters that write references from elsewhere.
Resolved FindEntry(const KmlPlace& place, const std::string& href,
                   std::initializer_list<std::string_view> folders) {
  Resolved resolved;
  for (std::string_view folder : folders)
    for (const std::string& spelling : Spellings(href)) {
      std::optional<std::string> entry = JoinPath(folder, spelling);
      if (entry && place.entries.count(*entry)) return {*entry, {}};
      if (!entry && folder == *folders.begin()) resolved.refused = "leaves the archive";
    }
  return resolved;
}

bool Inside(const fs::path& root, const fs::path& path) {
  return std::mismatch(root.begin(), root.end(), path.begin(), path.end()).first == root.end();
}

// The regular file `href` names inside the folder tree of a plain KML, links resolved: the file
// is what the user gave, the references in it are not.
Resolved FindBeside(const std::string& folder, const std::string& href) {
  Resolved resolved;
  std::error_code ec;
  fs::path root = fs::canonical(folder, ec);
  for (const std::string& spelling : Spellings(href)) {
    std::optional<std::string> relative = JoinPath("", spelling);
    fs::path path = fs::path(folder) / relative.value_or("");
    fs::path real = relative ? fs::canonical(path, ec) : fs::path();
    if (!relative || (!ec && !Inside(root, real)))
      resolved.refused = "leaves the KML's folder";
    else if (!ec && !fs::is_regular_file(real, ec))
      resolved.refused = "is not a regular file";
    else if (!ec)
      return {path.lexically_normal().string(), {}};
  }
  return resolved;
}

// The alias's file made available under the name the model uses, next to the model: a hard
// link, inside the archive's folder only.
void Link(const KmlPlace& place, const std::string& modelFolder, const KmlAlias& alias,
          const Reporter& report, int line) {
  Resolved target = FindEntry(place, alias.target, {modelFolder, place.kmlFolder, ""});
  if (target.path.empty()) {
    report(DiagnosticKind::kKml, line, "alias target '", alias.target, "' ",
           target.refused.empty() ? "is not in the archive: ignored" : target.refused,
           target.refused.empty() ? "" : ": refused");
    return;
  }
  for (const std::string& spelling : Spellings(alias.source)) {
    std::optional<std::string> name = JoinPath(modelFolder, spelling);
    if (!name || name->empty()) {
      report(DiagnosticKind::kArchive, line, "alias source '", spelling,
             "' leaves the archive's folder: refused");
      continue;
    }
    fs::path linked = fs::path(place.archiveFolder) / *name;
    std::error_code ec;
    if (fs::exists(fs::symlink_status(linked, ec))) continue;  // the archive has it already
    fs::create_directories(linked.parent_path(), ec);
    if (!ec) fs::create_hard_link(fs::path(place.archiveFolder) / target.path, linked, ec);
    if (ec)
      report(DiagnosticKind::kArchive, line, "alias source '", spelling, "' not made: ",
             ec.message());
  }
}

}  // namespace

void PlaceModels(const KmlPlace& place, const std::vector<KmlModel>& read, bool allowNetwork,
                 const Reporter& report, std::vector<Model>& models) {
  const bool archive = !place.archiveFolder.empty();
  // A city's placemarks show a few documents many times over; each lookup is a dozen calls to
  // the file system.
  std::map<std::string, Resolved, std::less<>> beside;
  for (const KmlModel& kml : read) {
    Model model{kml.name, {}, {}, kml.placement, {}, kml.description};
    Resolved found;
    const bool address = IsAddress(kml.href);
    if (address) {
      if (allowNetwork) found.path = kml.href;
      else found.refused = "is on the network, which is not allowed";
      model.source = model.document = found.path;
    } else if (archive) {
      found = FindEntry(place, kml.href, {place.kmlFolder});
      model.source = place.source + "!/" + found.path;
      model.document = place.archiveFolder + "/" + found.path;
      model.textureRoot = place.archiveFolder;
    } else {
      auto known = beside.find(kml.href);
      if (known == beside.end())
        known = beside.emplace(kml.href, FindBeside(place.besideFolder, kml.href)).first;
      found = known->second;
      model.source = model.document = found.path;
      model.textureRoot = place.besideFolder;
    }
    if (found.path.empty()) {
      if (found.refused.empty())
        report(DiagnosticKind::kKml, kml.line, PlacemarkLabel(kml.name), ": model '", kml.href,
               "' not found: skipped");
      else
        report(archive && !address ? DiagnosticKind::kArchive : DiagnosticKind::kKml, kml.line,
               PlacemarkLabel(kml.name), ": model '", kml.href, "' ", found.refused,
               ": refused");
      continue;
    }
    if (model.name.empty()) model.name = ValidUtf8(NameOf(PercentDecode(kml.href)));
    for (const KmlAlias& alias : kml.aliases) {
      if (archive && !address)
        Link(place, std::string(FolderOf(found.path)), alias, report, kml.line);
      else
        report(DiagnosticKind::kKml, kml.line, PlacemarkLabel(kml.name), ": alias '", alias.source,
               "' not applied: the model is not inside an archive");
    }
    models.push_back(std::move(model));
  }
}

}  // namespace varnel::gis
