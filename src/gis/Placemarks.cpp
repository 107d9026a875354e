#include "gis/Placemarks.h"

#include <filesystem>

#include "gis/Paths.h"

namespace fs = std::filesystem;

namespace varnel::gis {
namespace {

// The reference as written, then percent-decoded when that differs.
std::vector<std::string> Spellings(const std::string& href) {
  std::vector<std::string> spellings{href};
  if (std::string decoded = PercentDecode(href); decoded != href) spellings.push_back(decoded);
  return spellings;
}

// The entry `href` names from one of `folders`, or "".
std::string FindEntry(const KmlPlace& place, const std::string& href,
                      std::initializer_list<std::string_view> folders) {
  for (std::string_view folder : folders)
    for (const std::string& spelling : Spellings(href))
      if (std::optional<std::string> entry = JoinPath(folder, spelling);
          entry && place.entries.count(*entry))
        return *entry;
  return {};
}

// The alias's file made available under the name the model uses, next to the model: a hard
// link, inside the archive's folder only.
void Link(const KmlPlace& place, const std::string& modelFolder, const KmlAlias& alias,
          const Reporter& report, int line) {
  std::string target = FindEntry(place, alias.target, {modelFolder, place.kmlFolder, ""});
  if (target.empty()) {
    report(DiagnosticKind::kKml, line, "alias target '", alias.target,
           "' is not in the archive: ignored");
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
    if (!ec) fs::create_hard_link(fs::path(place.archiveFolder) / target, linked, ec);
    if (ec)
      report(DiagnosticKind::kArchive, line, "alias source '", spelling, "' not made: ",
             ec.message());
  }
}

}  // namespace

void PlaceModels(const KmlPlace& place, const std::vector<KmlModel>& read, const Reporter& report,
                 std::vector<Model>& models) {
  for (const KmlModel& kml : read) {
    Model model{kml.name, {}, {}, kml.placement, {}};
    std::string entry;
    if (IsAddress(kml.href)) {
      model.source = model.document = kml.href;
    } else if (entry = FindEntry(place, kml.href, {place.kmlFolder}); !entry.empty()) {
      model.source = place.source + "!" + entry;
      model.document = place.archiveFolder + "/" + entry;
      model.textureRoot = place.archiveFolder;
    } else {
      for (const std::string& spelling : Spellings(kml.href)) {
        std::error_code ec;
        fs::path beside = fs::path(place.besideFolder) / spelling;
        if (!fs::path(spelling).is_absolute() && fs::is_regular_file(beside, ec)) {
          model.source = model.document = beside.lexically_normal().string();
          break;
        }
      }
    }
    if (model.document.empty()) {
      report(DiagnosticKind::kKml, kml.line, PlacemarkLabel(kml.name), ": model '", kml.href,
             "' not found: skipped");
      continue;
    }
    if (model.name.empty()) model.name = ValidUtf8(NameOf(PercentDecode(kml.href)));
    for (const KmlAlias& alias : kml.aliases) {
      if (!entry.empty())
        Link(place, std::string(FolderOf(entry)), alias, report, kml.line);
      else
        report(DiagnosticKind::kKml, kml.line, PlacemarkLabel(kml.name), ": alias '", alias.source,
               "' not applied: the model is not inside an archive");
    }
    models.push_back(std::move(model));
  }
}

}  // namespace varnel::gis
