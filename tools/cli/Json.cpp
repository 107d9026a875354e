#include "cli/Json.h"

#include <cmath>

namespace varnel::cli {

// to_chars with a precision is printf's %g by definition, without the locale and the parsing
// of a format.
char* Print9(char* at, double value) {
  return std::to_chars(at, at + 32, value, std::chars_format::general, 9).ptr;
}

char* Print17(char* at, double value) {
  return std::to_chars(at, at + 32, value, std::chars_format::general, 17).ptr;
}

void AppendFloat(std::string& out, float value) {
  if (!std::isfinite(value)) {
    out += "null";
    return;
  }
  char text[32];
  out.append(text, Print9(text, value));
}

void AppendDouble(std::string& out, double value) {
  if (!std::isfinite(value)) {
    out += "null";
    return;
  }
  char text[32];
  out.append(text, Print17(text, value));
}

void AppendString(std::string& out, std::string_view text) {
  out += '"';
  for (unsigned char c : text) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20) {
          char escaped[8];
          std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
          out += escaped;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  out += '"';
}

}  // namespace varnel::cli
