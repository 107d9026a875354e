#include "gis/Paths.h"

#include <vector>

namespace varnel::gis {
namespace {

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

bool IsAbsolute(std::string_view path) {
  bool drive = path.size() >= 2 && path[1] == ':' &&
               ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z'));
  return drive || (!path.empty() && IsSeparator(path[0]));
}

// Adds the components of `path` to `parts`; false on a ".." that is not allowed or that climbs
// above the root.
bool Append(std::vector<std::string_view>& parts, std::string_view path, bool upAllowed) {
  for (size_t at = 0; at <= path.size();) {
    size_t end = at;
    while (end < path.size() && !IsSeparator(path[end])) ++end;
    std::string_view part = path.substr(at, end - at);
    if (part == "..") {
      if (!upAllowed || parts.empty()) return false;
      parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    at = end + 1;
  }
  return true;
}

std::string Joined(const std::vector<std::string_view>& parts) {
  std::string path;
  for (std::string_view part : parts) (path.empty() ? path : path += '/') += part;
  return path;
}

// `lower` in lower case.
bool EqualNoCase(std::string_view text, std::string_view lower) {
  if (text.size() != lower.size()) return false;
  for (size_t i = 0; i < text.size(); ++i)
    if ((text[i] >= 'A' && text[i] <= 'Z' ? char(text[i] - 'A' + 'a') : text[i]) != lower[i])
      return false;
  return true;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::optional<std::string> EntryPath(std::string_view name) {
  std::vector<std::string_view> parts;
  if (IsAbsolute(name) || !Append(parts, name, false)) return std::nullopt;
  return Joined(parts);
}

std::optional<std::string> JoinPath(std::string_view base, std::string_view relative) {
  std::vector<std::string_view> parts;
  if (IsAbsolute(relative) || !Append(parts, base, false) || !Append(parts, relative, true))
    return std::nullopt;
  return Joined(parts);
}

std::string_view FolderOf(std::string_view path) {
  size_t slash = path.find_last_of('/');
  return slash == std::string_view::npos ? std::string_view() : path.substr(0, slash);
}

std::string_view NameOf(std::string_view path) {
  size_t slash = path.find_last_of("/\\");
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

bool HasExtension(std::string_view name, std::string_view extension) {
  return name.size() >= extension.size() &&
         EqualNoCase(name.substr(name.size() - extension.size()), extension);
}

std::string PercentDecode(std::string_view text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    int high = text[i] == '%' && i + 2 < text.size() ? HexValue(text[i + 1]) : -1;
    int low = high >= 0 ? HexValue(text[i + 2]) : -1;
    if (low >= 0 && high + low > 0) {  // %00 stays: a path ends at its first NUL
      out += char(high * 16 + low);
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

bool IsAddress(std::string_view text) {
  auto starts = [text](std::string_view scheme) {
    return text.size() > scheme.size() && EqualNoCase(text.substr(0, scheme.size()), scheme);
  };
  return starts("http://") || starts("https://");
}

}  // namespace varnel::gis
