#include "cli/Json.h"

#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace varnel::cli {

namespace {

static_assert(std::endian::native == std::endian::little, "digits are packed first lowest");

// What the fast path needs of each binary exponent, from 2^-34 (about 5.8e-11) to below 2^29. The
// decimal exponent k is `low`, or one more from `threshold` on (a double's bits order as its
// magnitude). `power` is 10^(8-low) and `next` 10^(7-low), both moved up so that their product
// with a mantissa moved up to fill 64 bits is |value| * 10^(8-k) * 2^(64 + kFractionBits): the
// high word holds the integer part and as many bits of fraction for every exponent, so no shift
// depends on the value.
constexpr int kFastLowest = 1023 - 34, kFastCount = 34 + 29, kFractionBits = 33;
struct Octave {
  uint64_t threshold, power, next;
  int low;
};
constexpr std::array<Octave, kFastCount> kOctaves = [] {
  std::array<Octave, kFastCount> octaves{};
  for (int i = 0; i < kFastCount; ++i) {
    Octave& o = octaves[size_t(i)];
    const int biased = kFastLowest + i;
    o.low = ((biased - 1023) * 78913) >> 18;  // floor(log10(2^top))
    uint64_t scale = 1;
    for (int j = 0; j < 8 - o.low; ++j) scale *= 10;
    // |value| = mantissa * 2^(biased - 1086) once moved up, so the product is
    // |value| * 10^(8-low) * 2^(1086 - biased + lift).
    const int lift = 64 + kFractionBits - 1086 + biased;
    if (lift < 0 || std::countl_zero(scale) < lift) throw "no room to move 10^(8-low)";  // no build
    o.power = scale << lift;
    o.next = scale / 10 << lift;
    // The least double at or above 10^(low+1), if this octave holds it; else past the octave.
    const int ten = o.low + 1;
    unsigned __int128 magnitude = 1;
    for (int j = 0; j < (ten < 0 ? -ten : ten); ++j) magnitude *= 10;
    int width = 0;  // 2^(width-1) < magnitude < 2^width, for ten < 0
    while (magnitude >> width) ++width;
    const uint64_t bits =
        ten >= 0 ? std::bit_cast<uint64_t>(double(magnitude))
                 : uint64_t(1023 - width) << 52 |
                       (uint64_t(((unsigned __int128)1 << (52 + width)) / magnitude + 1) &
                        ((uint64_t{1} << 52) - 1));
    o.threshold = int(bits >> 52) == biased ? bits : uint64_t(biased + 1) << 52;
  }
  return octaves;
}();

// Two decimal digits a byte each, first in the low byte.
constexpr std::array<uint16_t, 100> kDigitPairs = [] {
  std::array<uint16_t, 100> p{};
  for (int i = 0; i < 100; ++i) p[size_t(i)] = uint16_t(i / 10 | (i % 10) << 8);
  return p;
}();

// The digits of n (10^8 <= n < 10^9): the first, and the next eight a byte each, first in the
// lowest byte. n / 10^8 in fixed point with 57 bits of fraction is near enough that a hundredfold
// of the fraction, four times, brings out the pairs (checked for every such n); with the fraction
// at the top of a word, one multiplication gives a pair above it and the next fraction in it.
uint64_t NineDigits(uint64_t n, uint32_t& first) {
  const uint64_t scaled = n * ((uint64_t{1} << 57) / 100000000 + 1);
  first = uint32_t(scaled >> 57);
  uint64_t fraction = scaled << 7;
  const auto pair = [&fraction] {
    const unsigned __int128 hundredfold = (unsigned __int128)fraction * 100;
    fraction = uint64_t(hundredfold);
    return uint64_t{kDigitPairs[size_t(hundredfold >> 64)]};
  };
  uint64_t digits = pair();
  digits |= pair() << 16;
  digits |= pair() << 32;
  digits |= pair() << 48;
  return digits;
}

// Zero, what is not finite, subnormal, or beyond the fast path's range: to_chars is printf's %g by
// definition.
[[gnu::noinline]] char* PrintRare(char* at, double value) {
  if (value == 0) {
    *at = '-';
    at += std::signbit(value);
    *at = '0';
    return at + 1;
  }
  return std::to_chars(at, at + 32, value, std::chars_format::general, 9).ptr;
}

}  // namespace

// Nine digits rounded exactly (ties to even) from one 64-by-64-bit product, then printf's choice
// between fixed and exponent forms without trailing zeros. The work is one long chain of
// dependent steps, so the fewer instructions the more of the next number overlaps it: branches
// are left only where realistic data predicts them (the form, a carry to the next power of ten).
char* Print9(char* at, double value) {
  const uint64_t bits = std::bit_cast<uint64_t>(value);
  const unsigned index = unsigned(bits >> 52 & 0x7ff) - kFastLowest;
  if (index >= unsigned(kFastCount)) return PrintRare(at, value);
  const Octave& octave = kOctaves[index];
  *at = '-';
  at += bits >> 63;
  const bool up = (bits & ~(uint64_t{1} << 63)) >= octave.threshold;
  // |value| * 10^(8-k) lies in [10^8, 10^9): n is it rounded, from its halves (twice it, floored)
  // and whether anything lies below the last half, which makes a tie go to even.
  const uint64_t mantissa = (bits | uint64_t{1} << 52) << 11;
  const unsigned __int128 product = (unsigned __int128)mantissa * (up ? octave.next : octave.power);
  const uint64_t highWord = uint64_t(product >> 64), lowWord = uint64_t(product);
  const uint64_t halves = highWord >> (kFractionBits - 1);
  const uint64_t tie = halves & ((highWord << (65 - kFractionBits) | lowWord) == 0);
  uint64_t n = ((halves + 1) >> 1) & ~tie;
  const bool carried = n == 1000000000;  // rounding reached the next power of ten
  n = carried ? 100000000 : n;
  const int k = octave.low + up + carried;

  uint32_t first;
  const uint64_t rest = NineDigits(n, first);
  // The last nonzero digit of the nine, counted from the first: a digit takes at most four
  // bits, so the shift loses nothing, and the 1 keeps zero out of the count of leading zeros.
  const int last = (70 - __builtin_clzll(rest << 1 | 1)) >> 3;
  const char lead = char('0' + first);
  const uint64_t text = rest | 0x3030303030303030;  // the eight after the first
  // Overlapping 8-byte stores straight into the output: the room asked for covers what lies
  // beyond the end.
  if (unsigned(k) <= 8) {  // k + 1 digits, the point, the rest
    const uint64_t after = text >> (8 * k & 63);  // k = 8 has nothing after the point
    at[0] = lead;
    std::memcpy(at + 1, &text, 8);
    at[k + 1] = '.';
    std::memcpy(at + k + 2, &after, 8);
    return at + (last > k ? last + 2 : k + 1);
  }
  if (k >= -4) {  // "0.", -k - 1 zeros, the digits
    std::memcpy(at, "0.000000", 8);
    at[1 - k] = lead;
    std::memcpy(at + 2 - k, &text, 8);
    return at + 2 - k + last;
  }
  at[0] = lead;
  at[1] = '.';
  std::memcpy(at + 2, &text, 8);
  at += last > 0 ? last + 2 : 1;
  std::memcpy(at, k < 0 ? "e-" : "e+", 2);
  const int magnitude = k < 0 ? -k : k;  // at most 11 here
  const char exponent[2] = {char('0' + magnitude / 10), char('0' + magnitude % 10)};
  std::memcpy(at + 2, exponent, 2);
  return at + 4;
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
