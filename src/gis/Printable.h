// File names as text a user reads: a name is bytes, and may hold bytes that are not UTF-8 or
// control characters that would move a terminal's cursor or break a JSON or GIS field.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

namespace varnel::gis {

// `name` with each byte outside a valid UTF-8 sequence, and each control character, written as
// "\xHH"; valid UTF-8 as it is.
inline std::string Printable(std::string_view name) {
  std::string out;
  out.reserve(name.size());
  auto escape = [&](unsigned char byte) {
    char text[5];
    std::snprintf(text, sizeof text, "\\x%02X", byte);
    out += text;
  };
  for (size_t i = 0; i < name.size();) {
    const auto lead = static_cast<unsigned char>(name[i]);
    if (lead < 0x20 || lead == 0x7F) {
      escape(lead), ++i;
      continue;
    }
    size_t length = lead < 0x80 ? 1 : lead >= 0xC2 && lead <= 0xDF ? 2
                    : lead >= 0xE0 && lead <= 0xEF                 ? 3
                    : lead >= 0xF0 && lead <= 0xF4                 ? 4
                                                                   : 0;
    bool valid = length > 0 && length <= name.size() - i;
    for (size_t k = 1; valid && k < length; ++k)
      valid = (static_cast<unsigned char>(name[i + k]) & 0xC0) == 0x80;
    if (valid && length > 2) {
      // Overlong forms, surrogates and code points past U+10FFFF are not UTF-8 either.
      const auto second = static_cast<unsigned char>(name[i + 1]);
      valid = !(lead == 0xE0 && second < 0xA0) && !(lead == 0xED && second > 0x9F) &&
              !(lead == 0xF0 && second < 0x90) && !(lead == 0xF4 && second > 0x8F);
    }
    if (!valid) {
      escape(lead), ++i;
      continue;
    }
    out.append(name.substr(i, length));
    i += length;
  }
  return out;
}

}  // namespace varnel::gis
