#include "cli/Json.h"

#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace varnel::cli {

namespace {

using U128 = unsigned __int128;

constexpr std::array<U128, 39> kPowers = [] {
  std::array<U128, 39> p{};
  p[0] = 1;
  for (int i = 1; i < 39; ++i) p[i] = p[i - 1] * 10;
  return p;
}();

// Decimal powers 10^-40 to 10^40 as doubles: near enough to pick an exponent, which the count of
// digits it gives then confirms.
constexpr int kLowest = -40;
const std::array<double, 81> kDecimal = [] {
  std::array<double, 81> p{};
  for (int i = 0; i < 81; ++i) p[size_t(i)] = std::pow(10.0, i + kLowest);
  return p;
}();

constexpr std::array<char, 200> kPairs = [] {
  std::array<char, 200> p{};
  for (int i = 0; i < 100; ++i) p[size_t(2 * i)] = char('0' + i / 10), p[size_t(2 * i + 1)] = char('0' + i % 10);
  return p;
}();

// round(m * 2^e * 10^s), ties to even, exactly; false when that does not fit 128 bits.
bool Scale(uint64_t m, int e, int s, uint64_t& n) {
  U128 num = m, den = 1;
  if (s >= 0) {
    if (s > 19) return false;
    num *= kPowers[size_t(s)];
  } else {
    if (s < -38) return false;
    den = kPowers[size_t(-s)];
  }
  U128 q, r;
  if (e >= 0) {
    if (e > 63 || (num >> (127 - e)) != 0) return false;
    num <<= e;
    q = num / den, r = num % den;
  } else if (-e > 126 || (den >> (127 + e)) != 0) {
    return false;
  } else if (den == 1) {
    q = num >> -e, r = num & ((U128(1) << -e) - 1);
    den <<= -e;
  } else {
    den <<= -e;
    q = num / den, r = num % den;
  }
  if (2 * r > den || (2 * r == den && (q & 1))) ++q;
  n = static_cast<uint64_t>(q);
  return true;
}

// The nine digits of n (10^8 <= n < 10^9).
void NineDigits(uint32_t n, char* out) {
  out[0] = char('0' + n / 100000000);
  n %= 100000000;
  const uint32_t high = n / 10000, low = n % 10000;
  std::memcpy(out + 1, &kPairs[2 * (high / 100)], 2);
  std::memcpy(out + 3, &kPairs[2 * (high % 100)], 2);
  std::memcpy(out + 5, &kPairs[2 * (low / 100)], 2);
  std::memcpy(out + 7, &kPairs[2 * (low % 100)], 2);
}

}  // namespace

// Nine digits rounded exactly from the binary value, then printf's choice between fixed and
// exponent forms without trailing zeros. Zero, what is not finite and what 128 bits cannot
// scale (below about 1e-11) go through to_chars, which is printf's %g by definition but some
// three times slower.
char* Print9(char* at, double value) {
  if (value == 0 || !std::isfinite(value))
    return std::to_chars(at, at + 32, value, std::chars_format::general, 9).ptr;
  uint64_t bits;
  std::memcpy(&bits, &value, 8);
  const bool negative = bits >> 63;
  const int biased = static_cast<int>(bits >> 52 & 0x7ff);
  uint64_t m = bits & ((uint64_t{1} << 52) - 1);
  int e = -1074;
  if (biased != 0) m |= uint64_t{1} << 52, e = biased - 1075;
  const int top = 63 - __builtin_clzll(m) + e;  // floor(log2 |value|)
  int k = (top * 78913) >> 18;                  // floor(top * log10(2)), at most one short
  if (k + 1 - kLowest >= 0 && k + 1 - kLowest < 81 &&
      std::fabs(value) >= kDecimal[size_t(k + 1 - kLowest)])
    ++k;
  uint64_t n = 0;
  for (int tries = 0;; ++tries) {
    if (tries == 3 || !Scale(m, e, 8 - k, n))
      return std::to_chars(at, at + 32, value, std::chars_format::general, 9).ptr;
    if (n >= 1000000000) ++k;
    else if (n < 100000000) --k;
    else break;
  }
  char digits[24] = {};  // the fixed-size copies below read past the nine
  NineDigits(static_cast<uint32_t>(n), digits);
  int last = 8;  // the last digit printed: trailing zeros go
  while (last > 0 && digits[last] == '0') --last;
  *at = '-';
  at += negative;
  // Fixed-size copies: the room asked for covers what lies beyond the end.
  if (k >= 0 && k < 9) {
    std::memcpy(at, digits, 9);
    std::memcpy(at + k + 2, digits + k + 1, 8);
    at[k + 1] = '.';
    return at + (last > k ? last + 2 : k + 1);
  }
  if (k < 0 && k >= -4) {
    std::memcpy(at, "0.000000", 8);
    std::memcpy(at - k + 1, digits, 9);
    return at - k + 2 + last;
  }
  at[0] = digits[0];
  at[1] = '.';
  std::memcpy(at + 2, digits + 1, 8);
  at += last > 0 ? last + 2 : 1;
  *at++ = 'e';
  *at++ = k < 0 ? '-' : '+';
  const int x = k < 0 ? -k : k;
  if (x >= 100) *at++ = char('0' + x / 100);
  std::memcpy(at, &kPairs[size_t(2 * (x % 100))], 2);
  return at + 2;
}

// Only extents print this way, six numbers a document.
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
