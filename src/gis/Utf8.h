// Text a user reads, from bytes that need not be UTF-8: file names are bytes, and KML may hold
// anything. Invalid bytes reach no JSON, GIS field or terminal as they are.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

namespace varnel::gis {

// The length of the well-formed UTF-8 sequence at `at` (1 to 4), or 0 when the bytes there are
// not one: a stray or cut-off byte, an overlong form, a surrogate, a code point past U+10FFFF.
inline size_t Utf8Length(std::string_view text, size_t at) {
  static constexpr char32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};  // by sequence length
  const auto lead = static_cast<unsigned char>(text[at]);
  if (lead < 0x80) return 1;
  const size_t length = lead < 0xC0 ? 0 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : lead < 0xF8 ? 4 : 0;
  if (length == 0 || length > text.size() - at) return 0;
  char32_t code = lead & (0x7F >> length);
  for (size_t n = 1; n < length; ++n) {
    const auto next = static_cast<unsigned char>(text[at + n]);
    if ((next & 0xC0) != 0x80) return 0;
    code = code << 6 | (next & 0x3F);
  }
  const bool valid = code >= kLeast[length] && code <= 0x10FFFF && (code < 0xD800 || code > 0xDFFF);
  return valid ? length : 0;
}

// `text` with each malformed sequence replaced by U+FFFD (a lead byte and the continuation
// bytes it claims count as one).
inline std::string ValidUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t at = 0; at < text.size();) {
    if (size_t length = Utf8Length(text, at)) {
      out.append(text.substr(at, length));
      at += length;
      continue;
    }
    const auto lead = static_cast<unsigned char>(text[at]);
    const size_t claimed = lead < 0xC0 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : lead < 0xF8 ? 4 : 1;
    size_t n = 1;
    while (n < claimed && at + n < text.size() && (text[at + n] & 0xC0) == 0x80) ++n;
    out.append("\xEF\xBF\xBD");
    at += n;
  }
  return out;
}

// `name` with each byte outside a well-formed sequence, and each control character, written as
// "\xHH"; the rest as it is.
inline std::string Printable(std::string_view name) {
  std::string out;
  out.reserve(name.size());
  for (size_t i = 0; i < name.size();) {
    const auto lead = static_cast<unsigned char>(name[i]);
    const size_t length = lead < 0x20 || lead == 0x7F ? 0 : Utf8Length(name, i);
    if (length) {
      out.append(name.substr(i, length));
      i += length;
      continue;
    }
    char text[5];
    std::snprintf(text, sizeof text, "\\x%02X", lead);
    out += text;
    ++i;
  }
  return out;
}

}  // namespace varnel::gis
