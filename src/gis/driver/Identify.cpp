#include "gis/driver/Identify.h"

#include <cpl_conv.h>
#include <cpl_error.h>
#include <cpl_string.h>
#include <cpl_vsi.h>
#include <gdal_priv.h>

#include <cctype>
#include <cstring>
#include <string>
#include <string_view>

namespace varnel::gis::driver {

namespace {

// As much of a KML document as the GIS layer reads.
constexpr vsi_l_offset kMaxKmlBytes = vsi_l_offset{64} << 20;
// Enough to see past a long licence comment to a document's root element.
constexpr int kRootProbeBytes = 64 * 1024;

enum class Root { kCollada, kOther, kUnknown };

// The first element of an XML text: past a byte-order mark, the declaration, comments and a
// document type. kUnknown when the text ends before it.
Root RootElement(std::string_view text) {
  size_t at = text.starts_with("\xEF\xBB\xBF") ? 3 : 0;
  for (;;) {
    while (at < text.size() && std::isspace(static_cast<unsigned char>(text[at]))) ++at;
    if (at >= text.size()) return Root::kUnknown;
    if (text[at] != '<') return Root::kOther;
    std::string_view rest = text.substr(at);
    const char* close = rest.starts_with("<?") ? "?>" : rest.starts_with("<!--") ? "-->"
                        : rest.starts_with("<!") ? ">" : nullptr;
    if (!close) break;
    size_t end = rest.find(close);
    if (end == std::string_view::npos) return Root::kUnknown;
    at += end + std::strlen(close);
  }
  size_t start = at + 1, end = start;
  while (end < text.size() && !std::strchr(" \t\r\n/>", text[end])) ++end;
  if (end >= text.size()) return Root::kUnknown;
  std::string_view name = text.substr(start, end - start);
  size_t colon = name.find(':');
  if (colon != std::string_view::npos) name.remove_prefix(colon + 1);
  return name == "COLLADA" ? Root::kCollada : Root::kOther;
}

// A KML `Model` element, with any prefix, somewhere in `text`.
bool HoldsModel(std::string_view text) {
  for (size_t at = text.find("Model"); at != std::string_view::npos;
       at = text.find("Model", at + 1)) {
    char before = at > 0 ? text[at - 1] : ' ';
    char after = at + 5 < text.size() ? text[at + 5] : ' ';
    if ((before == '<' || before == ':') && std::strchr(" \t\r\n/>", after)) return true;
  }
  return false;
}

// Whether the KML file holds a model, read in pieces that overlap by a tag's length.
bool KmlHoldsModel(const std::string& path) {
  VSILFILE* file = VSIFOpenL(path.c_str(), "rb");
  if (!file) return false;
  std::string window;
  char piece[1 << 16];
  bool found = false;
  for (vsi_l_offset read = 0; !found && read < kMaxKmlBytes;) {
    size_t n = VSIFReadL(piece, 1, sizeof piece, file);
    if (n == 0) break;
    read += n;
    window.erase(0, window.size() > 16 ? window.size() - 16 : 0);
    window.append(piece, n);
    found = HoldsModel(window);
  }
  VSIFCloseL(file);
  return found;
}

bool EndsWith(std::string_view name, std::string_view suffix) {
  return name.size() >= suffix.size() &&
         EQUAL(std::string(name.substr(name.size() - suffix.size())).c_str(),
               std::string(suffix).c_str());
}

// A KMZ whose KML places a model, or a ZAE: its manifest, else a COLLADA document without KML.
// The KML is chosen as the GIS layer chooses it: doc.kml, else the first one at the root.
bool ArchiveHoldsModels(const char* path) {
  // A damaged archive is simply not ours: GDAL's zip reader keeps its complaints to itself.
  CPLErrorStateBackuper state;
  CPLErrorHandlerPusher quiet(CPLQuietErrorHandler);
  std::string zip = std::string("/vsizip/{") + path + "}";
  CPLStringList entries(VSIReadDirRecursive(zip.c_str()));
  std::string kml, dae;
  bool manifest = false;
  for (int i = 0; i < entries.size(); ++i) {
    std::string_view entry = entries[i];
    if (entry == "manifest.xml") manifest = true;
    if (EndsWith(entry, ".dae") && dae.empty()) dae = entry;
    if (!EndsWith(entry, ".kml")) continue;
    bool atRoot = entry.find('/') == std::string_view::npos;
    bool better = kml.empty() || entry == "doc.kml" || (atRoot && kml.find('/') != std::string::npos);
    if (better && kml != "doc.kml") kml = entry;
  }
  if (manifest || kml.empty()) return manifest || !dae.empty();
  return KmlHoldsModel(zip + "/" + kml);
}

// The path of an address, without its query or fragment.
std::string_view AddressPath(std::string_view address) {
  return address.substr(0, address.find_first_of("?#"));
}

}  // namespace

bool IdentifyModels(GDALOpenInfo* info) {
  std::string_view name = info->pszFilename;
  // An address is downloaded by the library itself: only its name can tell.
  if (name.starts_with("http://") || name.starts_with("https://"))
    return EndsWith(AddressPath(name), ".dae");
  // The GIS layer reads local files only.
  if (name.starts_with("/vsi") || !info->fpL || info->nHeaderBytes < 4) return false;
  std::string_view head(reinterpret_cast<const char*>(info->pabyHeader), info->nHeaderBytes);
  if (head.starts_with("PK\x03\x04"))
    return (EndsWith(name, ".kmz") || EndsWith(name, ".zae")) &&
           ArchiveHoldsModels(info->pszFilename);
  Root root = RootElement(head);
  if (root == Root::kUnknown && info->TryToIngest(kRootProbeBytes))
    root = RootElement({reinterpret_cast<const char*>(info->pabyHeader),
                        static_cast<size_t>(info->nHeaderBytes)});
  if (root == Root::kCollada) return true;
  bool kml = head.find("<kml") != std::string_view::npos ||
             head.find(":kml") != std::string_view::npos;
  return kml && (HoldsModel(head) || KmlHoldsModel(info->pszFilename));
}

}  // namespace varnel::gis::driver
