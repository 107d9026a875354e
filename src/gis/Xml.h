// Looking at pugixml elements by local name: KML and manifests come with and without prefixes.
#pragma once

#include <string_view>

#include <pugixml.hpp>

namespace varnel::gis {

inline std::string_view LocalName(const char* name) {
  std::string_view n = name;
  size_t colon = n.find(':');
  return colon == std::string_view::npos ? n : n.substr(colon + 1);
}

inline bool Is(pugi::xml_node node, std::string_view local) {
  return node.type() == pugi::node_element && LocalName(node.name()) == local;
}

// The first child element of that local name, or a null node.
inline pugi::xml_node Child(pugi::xml_node parent, std::string_view local) {
  for (pugi::xml_node c = parent.first_child(); c; c = c.next_sibling())
    if (Is(c, local)) return c;
  return {};
}

inline std::string_view Trimmed(std::string_view text) {
  const char* space = " \t\r\n";
  size_t first = text.find_first_not_of(space);
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(space) - first + 1);
}

// The element's text without surrounding white space.
inline std::string_view Text(pugi::xml_node node) { return Trimmed(node.child_value()); }

}  // namespace varnel::gis
