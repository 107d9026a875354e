#include "gis/Kml.h"

#include <algorithm>
#include <charconv>
#include <cmath>

#include "gis/Utf8.h"
#include "gis/Xml.h"

namespace varnel::gis {
namespace {

// Elements a KML document may hold: each costs the parsed tree some 60 bytes, so 64 MiB of empty
// elements would take a gigabyte. Real documents hold some twenty per placemark.
constexpr size_t kMaxKmlElements = size_t{1} << 21;

// An upper bound of the document's elements: its '<' characters.
size_t ElementBound(std::string_view text) {
  return static_cast<size_t>(std::count(text.begin(), text.end(), '<'));
}

// Locale-independent, the whole text, finite.
bool ParseNumber(std::string_view text, double& value) {
  if (text.size() > 1 && text[0] == '+' && text[1] != '-') text.remove_prefix(1);
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  return error == std::errc() && end == text.data() + text.size() && std::isfinite(value);
}

// Lines counted on from the last one asked for: diagnostics come mostly in document order.
class Lines {
 public:
  explicit Lines(std::string_view text) : text_(text) {}
  int At(ptrdiff_t offset) {
    if (offset < 0 || size_t(offset) > text_.size()) return 0;
    if (size_t(offset) < offset_) offset_ = 0, line_ = 1;
    for (; offset_ < size_t(offset); ++offset_) line_ += text_[offset_] == '\n';
    return line_;
  }

 private:
  std::string_view text_;
  size_t offset_ = 0;
  int line_ = 1;
};

class Reader {
 public:
  Reader(std::string_view text, const Reporter& report, bool terrain)
      : lines_(text), report_(report), terrain_(terrain) {}

  int LineOf(pugi::xml_node node) { return report_.active() ? lines_.At(node.offset_debug()) : 0; }

  // The Model element read; false when it places nothing (reported).
  bool Read(pugi::xml_node model, std::string_view name, std::string_view description,
            KmlModel& out) {
    out.name = ValidUtf8(name);
    out.description = ValidUtf8(description);
    out.line = LineOf(model);
    label_ = report_.active() ? PlacemarkLabel(out.name) : std::string();
    pugi::xml_node link = Child(model, "Link");
    out.href = Text(Child(link ? link : Child(model, "Url"), "href"));
    if (out.href.empty()) {
      report_(DiagnosticKind::kKml, out.line, label_, ": a Model without a Link href: skipped");
      return false;
    }
    Placement& p = out.placement;
    pugi::xml_node location = Child(model, "Location");
    p.location.longitude = Number(location, "longitude", 0, 180);
    p.location.latitude = Number(location, "latitude", 0, 90);
    p.location.altitude = Number(location, "altitude", 0, HUGE_VAL);
    pugi::xml_node orientation = Child(model, "Orientation");
    p.heading = Number(orientation, "heading", 0, HUGE_VAL);
    p.tilt = Number(orientation, "tilt", 0, HUGE_VAL);
    p.roll = Number(orientation, "roll", 0, HUGE_VAL);
    pugi::xml_node scale = Child(model, "Scale");
    const char* axes[] = {"x", "y", "z"};
    for (int k = 0; k < 3; ++k) p.scale[k] = Number(scale, axes[k], 1, HUGE_VAL);
    p.altitudeMode = Mode(model, out.line);
    for (pugi::xml_node alias = Child(model, "ResourceMap").first_child(); alias;
         alias = alias.next_sibling()) {
      if (!Is(alias, "Alias")) continue;
      KmlAlias a{std::string(Text(Child(alias, "targetHref"))),
                 std::string(Text(Child(alias, "sourceHref")))};
      if (a.target.empty() || a.source.empty())
        report_(DiagnosticKind::kKml, LineOf(alias), label_,
                ": an Alias without a targetHref or a sourceHref: ignored");
      else
        out.aliases.push_back(std::move(a));
    }
    return true;
  }

 private:
  // A missing or empty element gives `fallback` silently; a malformed one with a diagnostic.
  double Number(pugi::xml_node parent, const char* name, double fallback, double limit) {
    pugi::xml_node node = Child(parent, name);
    std::string_view text = Text(node);
    double value = 0;
    if (text.empty()) return fallback;
    if (ParseNumber(text, value) && std::fabs(value) <= limit) return value;
    report_(DiagnosticKind::kKml, LineOf(node), label_, ": ", name, " '", text,
            "' is not a number in range: ", fallback == 0 ? "0" : "1", " taken");
    return fallback;
  }

  // KML's default is clampToGround; gx:altitudeMode (any prefix but kml's: the sea-floor modes)
  // overrides the plain one wherever it stands.
  AltitudeMode Mode(pugi::xml_node model, int line) {
    std::string_view mode, extension;
    for (pugi::xml_node c = model.first_child(); c; c = c.next_sibling()) {
      if (!Is(c, "altitudeMode")) continue;
      std::string_view name = c.name();
      bool prefixed = name.find(':') != std::string_view::npos && !name.starts_with("kml:");
      (prefixed ? extension : mode) = Text(c);
    }
    if (!extension.empty()) mode = extension;
    std::optional<AltitudeMode> named = mode.empty() ? std::nullopt : AltitudeModeNamed(mode);
    if (named == AltitudeMode::kEllipsoid) named.reset();
    if (!named && !mode.empty())
      report_(DiagnosticKind::kKml, line, label_, ": altitudeMode '", mode,
              "' is not KML's: clampToGround taken");
    AltitudeMode taken = named.value_or(AltitudeMode::kClampToGround);
    if (NeedsTerrain(taken) && !terrain_)
      report_(DiagnosticKind::kPlacement, line, label_,
              ": no terrain: altitude taken as given (altitudeMode ",
              named ? mode : "clampToGround, KML's default", ")");
    return taken;
  }

  Lines lines_;
  const Reporter& report_;
  bool terrain_;
  std::string label_;
};

}  // namespace

std::string PlacemarkLabel(std::string_view name) {
  return name.empty() ? "a placemark" : "placemark '" + std::string(name) + "'";
}

bool LooksLikeKml(std::string_view head) {
  if (head.substr(0, 3) == "\xEF\xBB\xBF") head.remove_prefix(3);
  for (;;) {
    size_t start = head.find_first_not_of(" \t\r\n");
    if (start == std::string_view::npos) return false;
    head.remove_prefix(start);
    std::string_view end = head.substr(0, 4) == "<!--" ? "-->"
                           : head.substr(0, 2) == "<?" ? "?>"
                           : head.substr(0, 2) == "<!" ? ">"
                                                       : "";
    if (end.empty()) break;
    size_t at = head.find(end, 2);
    if (at == std::string_view::npos) return false;
    head.remove_prefix(at + end.size());
  }
  if (head.empty() || head[0] != '<') return false;
  size_t stop = head.find_first_of(" \t\r\n/>", 1);
  if (stop == std::string_view::npos) return false;
  std::string_view name = head.substr(1, stop - 1);
  return name.substr(name.find(':') + 1) == "kml";
}

bool ReadKml(std::string_view text, int64_t maxModels, bool terrain, const Reporter& report,
             std::vector<KmlModel>& models) {
  if (ElementBound(text) > kMaxKmlElements) {
    report(DiagnosticKind::kLimitReached, 0, "the KML holds more than ",
           std::to_string(kMaxKmlElements), " elements (the cap): not read");
    return false;
  }
  pugi::xml_document document;
  pugi::xml_parse_result parsed = document.load_buffer(text.data(), text.size());
  Reader reader(text, report, terrain);
  if (!parsed) {
    report(DiagnosticKind::kKml, Lines(text).At(parsed.offset), "KML unreadable: ",
           parsed.description());
    return false;
  }
  pugi::xml_node root = document.document_element();
  if (LocalName(root.name()) != "kml") {
    report(DiagnosticKind::kKml, reader.LineOf(root), "not a KML document: its root is <",
           root.name(), ">");
    return false;
  }
  // Walked without recursion, knowing the placemark it is inside: nesting depth and width are
  // the document's to choose.
  pugi::xml_node placemark;
  std::string_view name, description;
  int64_t seen = 0;
  for (pugi::xml_node node = root; node;) {
    if (!placemark && Is(node, "Placemark"))
      placemark = node, name = Text(Child(node, "name")), description = Text(Child(node, "description"));
    if (placemark && Is(node, "Model")) {
      if (++seen > maxModels) {
        report(DiagnosticKind::kKml, reader.LineOf(node), "more than ", std::to_string(maxModels),
               " models (the cap): the rest not read");
        break;
      }
      KmlModel model;
      if (reader.Read(node, name, description, model)) models.push_back(std::move(model));
    }
    if (pugi::xml_node child = node.first_child()) {
      node = child;
      continue;
    }
    for (; node != root && !node.next_sibling(); node = node.parent())
      if (node == placemark) placemark = {};
    if (node == placemark) placemark = {};
    node = node == root ? pugi::xml_node() : node.next_sibling();
  }
  return true;
}

}  // namespace varnel::gis
