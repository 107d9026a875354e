// `atof` and `atoi` as the C library computes them in the "C" locale, whatever the process
// locale is, and without touching it. The short forms every vertex list is made of are read
// inline; everything else goes to the out-of-line readers.
#pragma once

#include <cstdint>

namespace varnel {

double ParseDoubleSlow(const char* text);
int ParseIntSlow(const char* text);

namespace numbers {

inline bool IsSpace(unsigned char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
inline bool IsDigit(unsigned char c) { return static_cast<unsigned>(c - '0') < 10u; }

// Powers of ten that doubles hold exactly.
inline constexpr double kExactPowers[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                          1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                          1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

}  // namespace numbers

// ParseDouble that also tells how far it read: for text that starts with a byte above 0x20,
// no byte up to 0x20 lies before `*stop`.
inline double ParseDoubleAt(const char* text, const char** stop) {
  using namespace numbers;
  const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
  while (IsSpace(*p)) ++p;
  const bool negative = *p == '-';
  if (*p == '-' || *p == '+') ++p;
  // Digits with at most one point and no exponent, few enough that the mantissa and the power of
  // ten are both exact doubles: one correctly rounded division gives what strtod gives.
  const unsigned char* first = p;
  uint64_t mantissa = 0;
  while (IsDigit(*p)) mantissa = mantissa * 10 + (*p++ - '0');
  int digits = static_cast<int>(p - first);
  int fraction = 0;
  if (*p == '.') {
    const unsigned char* point = ++p;
    while (IsDigit(*p)) mantissa = mantissa * 10 + (*p++ - '0');
    fraction = static_cast<int>(p - point);
    digits += fraction;
  }
  const unsigned char next = *p;
  const bool hex = digits == 1 && fraction == 0 && first[0] == '0' && (next == 'x' || next == 'X');
  if (digits == 0 || digits > 19 || next == 'e' || next == 'E' || hex ||
      mantissa > (uint64_t{1} << 53)) {
    *stop = text;
    return ParseDoubleSlow(text);
  }
  *stop = reinterpret_cast<const char*>(p);
  double value = static_cast<double>(mantissa);
  if (fraction > 0) value /= kExactPowers[fraction];
  return negative ? -value : value;
}

inline double ParseDouble(const char* text) {
  const char* stop;
  return ParseDoubleAt(text, &stop);
}

// The digits at `p` as an unsigned magnitude; `*end` is set behind them. More than eighteen
// digits may have wrapped and need the saturating reader.
inline uint64_t ReadDigits(const unsigned char* p, const unsigned char** end) {
  uint64_t magnitude = 0;
  while (numbers::IsDigit(*p)) magnitude = magnitude * 10 + (*p++ - '0');
  *end = p;
  return magnitude;
}

// ParseInt that also tells how far it read, like ParseDoubleAt. Digits right at the start (every
// index of a list) are converted in the pass that finds their end.
inline int ParseIntAt(const char* text, const char** stop) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
  if (*p <= 0x20) {
    while (numbers::IsSpace(*p)) ++p;
  }
  const bool negative = *p == '-';
  if (*p == '-' || *p == '+') ++p;
  const unsigned char* end;
  const uint64_t magnitude = ReadDigits(p, &end);
  if (end - p > 18) {
    *stop = text;
    return ParseIntSlow(text);
  }
  *stop = reinterpret_cast<const char*>(end);
  const uint64_t bits = negative ? 0 - magnitude : magnitude;
  return static_cast<int>(static_cast<uint32_t>(bits));
}

inline int ParseInt(const char* text) {
  const char* stop;
  return ParseIntAt(text, &stop);
}

}  // namespace varnel
