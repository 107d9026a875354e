#include "gis/Zae.h"

#include <algorithm>

#include "gis/Files.h"
#include "gis/Paths.h"
#include "gis/Xml.h"

namespace varnel::gis {
namespace {

bool Holds(const std::vector<std::string>& files, const std::string& path) {
  return std::find(files.begin(), files.end(), path) != files.end();
}

// What manifest.xml's dae_root names, decoded; "" when it names nothing readable.
std::string ManifestRoot(const std::string& folder, const ArchiveLimits& limits,
                         const Reporter& report) {
  std::string text;
  if (!ReadWhole(folder + "/manifest.xml", "manifest.xml", limits.maxKmlBytes,
                 DiagnosticKind::kArchive, report, text))
    return {};
  pugi::xml_document document;
  document.load_buffer(text.data(), text.size());
  pugi::xml_node root = document.document_element();
  std::string_view value = Text(Is(root, "dae_root") ? root : Child(root, "dae_root"));
  if (value.empty()) {
    report(DiagnosticKind::kArchive, 0, "manifest.xml names no dae_root");
    return {};
  }
  std::optional<std::string> path = JoinPath("", PercentDecode(value));
  if (!path)
    report(DiagnosticKind::kArchive, 0, "manifest.xml's dae_root '", value,
           "' leaves the archive: refused");
  return path ? *path : std::string();
}

}  // namespace

std::optional<std::string> ZaeRoot(const std::string& folder, const std::vector<std::string>& files,
                                   const ArchiveLimits& limits, const Reporter& report) {
  if (Holds(files, "manifest.xml")) {
    std::string named = ManifestRoot(folder, limits, report);
    if (!named.empty() && Holds(files, named)) return named;
    if (!named.empty())
      report(DiagnosticKind::kArchive, 0, "manifest.xml names '", named,
             "', which the archive does not hold");
  }
  std::vector<std::string> documents;
  for (bool rootOnly : {true, false}) {
    for (const std::string& file : files)
      if (HasExtension(file, ".dae") && (!rootOnly || FolderOf(file).empty()))
        documents.push_back(file);
    if (!documents.empty()) break;
  }
  if (documents.empty()) {
    report(DiagnosticKind::kArchive, 0, "the archive holds neither a KML nor a COLLADA document");
    return std::nullopt;
  }
  if (documents.size() > 1)
    report(DiagnosticKind::kArchive, 0, "the archive holds ", std::to_string(documents.size()),
           " COLLADA documents and no manifest naming one: '", documents[0], "' taken");
  return documents[0];
}

}  // namespace varnel::gis
