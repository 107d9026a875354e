// The general readers behind the inline ones of Numbers.h.
#include <fast_float/fast_float.h>

#include <climits>
#include <clocale>
#include <cstdint>
#include <cstdlib>
#include <locale.h>

#include "xml/Numbers.h"

namespace varnel {
namespace {

using numbers::IsDigit;
using numbers::IsSpace;

inline bool IsNumberByte(unsigned char c) {
  return IsDigit(c) || c == '.' || c == 'e' || c == 'E' || c == '+' || c == '-';
}

locale_t CLocale() {
  static const locale_t locale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
  return locale;
}

}  // namespace

double ParseDoubleSlow(const char* text) {
  const char* p = text;
  while (IsSpace(static_cast<unsigned char>(*p))) ++p;
  bool negative = *p == '-';
  const char* digits = (*p == '-' || *p == '+') ? p + 1 : p;
  unsigned char first = static_cast<unsigned char>(*digits);
  // Plain decimals go to fast_float, which rounds exactly as strtod does. Hexadecimal,
  // infinity and NaN spellings and anything without a leading digit or point go to strtod.
  bool hex = first == '0' && (digits[1] == 'x' || digits[1] == 'X');
  if ((IsDigit(first) || first == '.') && !hex) {
    const char* end = digits;
    while (IsNumberByte(static_cast<unsigned char>(*end))) ++end;
    double value = 0;
    auto result = fast_float::from_chars(digits, end, value);
    if (result.ec == std::errc()) return negative ? -value : value;
  }
  locale_t c = CLocale();
  return c ? strtod_l(text, nullptr, c) : std::strtod(text, nullptr);
}

int ParseIntSlow(const char* text) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
  while (IsSpace(*p)) ++p;
  bool negative = *p == '-';
  if (*p == '-' || *p == '+') ++p;
  // strtol saturates at the long range; atoi then keeps the low 32 bits.
  const uint64_t limit = negative ? static_cast<uint64_t>(LONG_MAX) + 1 : static_cast<uint64_t>(LONG_MAX);
  uint64_t magnitude = 0;
  for (; IsDigit(*p); ++p) {
    unsigned digit = *p - '0';
    if (magnitude > (limit - digit) / 10) {
      magnitude = limit;
      break;
    }
    magnitude = magnitude * 10 + digit;
  }
  uint64_t bits = negative ? 0 - magnitude : magnitude;
  return static_cast<int>(static_cast<uint32_t>(bits));
}

}  // namespace varnel
