// The per-user settings store. A registry key path maps to an INI-like file below the user's
// configuration directory:
//
//   "Software\TAVU\Settings"  ->  $XDG_CONFIG_HOME/TAVU/Settings.ini  (default ~/.config/...)
//
// The key's components ("\" or "/" separated) become folders and the last one the file name
// plus ".ini"; a leading "Software" component is dropped. The file holds `name = value` lines;
// blank lines and lines starting with '#' or ';' are ignored, names compare without regard to
// ASCII case, and the last line naming a value decides. A value is a decimal 32-bit integer
// with an optional sign; anything else, a missing file or a missing line gives the default.
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <string>
#include <string_view>

#include "host/Registry.h"

namespace varnel {
namespace {

std::string_view Trim(std::string_view text) {
  size_t first = text.find_first_not_of(" \t\r\n\f\v");
  if (first == std::string_view::npos) return {};
  size_t last = text.find_last_not_of(" \t\r\n\f\v");
  return text.substr(first, last - first + 1);
}

bool EqualNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

bool ParseInt(std::string_view text, int* value) {
  if (text.empty() || text.size() > 32) return false;
  std::string digits(text);
  size_t start = digits[0] == '+' || digits[0] == '-' ? 1 : 0;
  if (start == digits.size() || digits.find_first_not_of("0123456789", start) != std::string::npos)
    return false;
  errno = 0;
  long long parsed = std::strtoll(digits.c_str(), nullptr, 10);
  if (errno != 0 || parsed < INT_MIN || parsed > INT_MAX) return false;
  *value = static_cast<int>(parsed);
  return true;
}

std::string ConfigHome() {
  // A relative $XDG_CONFIG_HOME is invalid and ignored, as the base-directory rules say.
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  if (xdg && xdg[0] == '/') return xdg;
  const char* home = std::getenv("HOME");
  if (home && home[0] == '/') return std::string(home) + "/.config";
  return {};
}

// The settings file of a key path, or "" when the key cannot name one safely.
std::string SettingsFile(const String& keyPath) {
  std::string key = keyPath.ToUtf8();
  std::string relative;
  size_t start = 0;
  bool first = true;
  while (start <= key.size()) {
    size_t end = key.find_first_of("\\/", start);
    if (end == std::string::npos) end = key.size();
    std::string_view part(key.data() + start, end - start);
    start = end + 1;
    if (part.empty()) continue;
    if (first && EqualNoCase(part, "Software")) {
      first = false;
      continue;
    }
    first = false;
    if (part == "." || part == ".." || part.find('\0') != std::string_view::npos) return {};
    if (!relative.empty()) relative += '/';
    relative += part;
  }
  std::string home = ConfigHome();
  if (relative.empty() || home.empty()) return {};
  return home + "/" + relative + ".ini";
}

}  // namespace

int GetRegInt(const String& keyPath, const String& valueName, int fallback, RegistryRoot /*root*/) {
  std::string file = SettingsFile(keyPath);
  if (file.empty()) return fallback;
  std::ifstream in(file, std::ios::binary);
  if (!in) return fallback;
  std::string name = valueName.ToUtf8();
  int result = fallback;
  std::string line;
  bool firstLine = true;
  while (std::getline(in, line)) {
    std::string_view text = line;
    if (firstLine && text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
    firstLine = false;
    text = Trim(text);
    if (text.empty() || text[0] == '#' || text[0] == ';') continue;
    size_t equals = text.find('=');
    if (equals == std::string_view::npos || !EqualNoCase(Trim(text.substr(0, equals)), name)) continue;
    if (!ParseInt(Trim(text.substr(equals + 1)), &result)) result = fallback;
  }
  return result;
}

}  // namespace varnel
