// Reading the numbers of an element's text: the one loop every number list of a document goes
// through (float arrays, index lists, polygon vertex counts, transforms, the bind-shape matrix),
// and the reservations that keep a declared count honest.
#pragma once

#include <cstdint>
#include <cstring>
#include <type_traits>

#include "util/BaseArray.h"
#include "util/HugePages.h"
#include "xml/Numbers.h"
#include "xml/XmlReader.h"

namespace varnel {

// What a list does where its text token runs out.
enum class ListEnd {
  // Further text tokens are read; a tag token ends the list.
  kStopAtTag,
  // Further tokens are read whatever they are, tags included.
  kReadThrough,
  // Index lists: further tokens are read whatever they are, but a number that ends its token is
  // taken again for every number still missing, and white space ending a token reads as zeros.
  kRepeatLast,
};

namespace numberlist {
inline bool IsBlank(char c) { return static_cast<unsigned char>(c) <= 0x20; }

// A list without a fast path for its common shape.
struct NoRun {
  int64_t operator()(char*, int&, int, int64_t) const { return 0; }
};

// How many of the eight bytes at `text` are digits before the first that is none, and their
// value.
inline int EightDigits(const char* text, uint32_t& value) {
  uint64_t bytes;
  std::memcpy(&bytes, text, 8);
  // A byte's top bit is set when it is above '9', below '0' or above 0x7F. The first byte that
  // is no digit has only digits before it, so no carry or borrow reaches it.
  const uint64_t off = ((bytes + 0x4646464646464646) | (bytes - 0x3030303030303030) | bytes) &
                       0x8080808080808080;
  const int k = off ? __builtin_ctzll(off) / 8 : 8;
  if (k == 0) return 0;
  // The k digits, first most significant, moved to the top bytes behind zeros, are combined
  // pairwise: two digits, four, eight.
  uint64_t v = (bytes - 0x3030303030303030) << (64 - 8 * k);
  v = (v * 10 + (v >> 8)) & 0x00FF00FF00FF00FF;
  v = (v * 100 + (v >> 16)) & 0x0000FFFF0000FFFF;
  v = (v * 10000 + (v >> 32)) & 0xFFFFFFFF;
  value = static_cast<uint32_t>(v);
  return k;
}

// The fast paths of number lists take the shape exporters write, each number followed by a
// blank inside the token: at most `most` numbers from `text + p`, as the general loop would take
// them (appended, each ending blank made a NUL, `p` behind it), stopping before the first of any
// other shape. `plain(text, value)` gives the length of the number at `text` (0: not that shape)
// and reads at most kWidest bytes, all inside the token.
template <int kWidest, class T, class Plain>
int64_t RunOf(char* text, int& p, int length, int64_t most, BaseArray<T>& values, Plain plain) {
  int64_t n = 0;
  int at = p;
  while (n != most && at + kWidest <= length) {
    T value;
    const int k = plain(text + at, value);
    if (k == 0 || at + k >= length || !IsBlank(text[at + k])) break;
    values.Append(value);
    text[at + k] = '\0';
    at += k + 1;
    ++n;
  }
  p = at;
  return n;
}
}  // namespace numberlist

// Integers of at most eight digits without a sign.
inline int64_t RunOfPlainInts(char* text, int& p, int length, int64_t most,
                              BaseArray<int32_t>& values) {
  return numberlist::RunOf<8>(text, p, length, most, values, [](const char* number, int32_t& value) {
    uint32_t digits;
    const int k = numberlist::EightDigits(number, digits);
    value = static_cast<int32_t>(digits);
    return k;
  });
}

// Decimals with an optional minus sign, at most eight digits before a point and eight after it,
// fifteen in all: the mantissa and the power of ten are exact, so one division rounds as
// ParseDoubleAt does.
inline int64_t RunOfPlainFloats(char* text, int& p, int length, int64_t most,
                                BaseArray<float>& values) {
  return numberlist::RunOf<18>(text, p, length, most, values, [](const char* number, float& out) {
    using numberlist::EightDigits;
    const bool negative = number[0] == '-';
    int end = negative;
    uint32_t whole, part;
    const int k = EightDigits(number + end, whole);
    if (k == 0) return 0;
    end += k;
    double value = whole;
    if (number[end] == '.') {
      const int f = EightDigits(number + end + 1, part);
      if (f == 0 || k + f > 15) return 0;
      value = (static_cast<double>(whole) * numbers::kExactPowers[f] + part) / numbers::kExactPowers[f];
      end += 1 + f;
    }
    out = static_cast<float>(negative ? -value : value);
    return end;
  });
}

// Reads at most `limit` numbers (no limit when negative) from the text at the reader. Tokens are
// split at bytes up to 0x20 and each piece is handed to `store(index, text)`. A store that returns
// the position its conversion stopped at spares those bytes a second pass, and then sees its
// piece before it is NUL-terminated (with the blanks before it, where an index list has any); a
// store returning nothing gets it terminated. After the
// `limit`-th number the reader advances once; the rest of that token is ignored. A `run` takes
// the numbers of the list's common shape as `store` would, many at a time (RunOfPlainInts).
// Returns how many numbers were stored, or -1 when the input ended first.
// `Reader` is the XmlReader or a view of its tokens (ElementSource).
template <ListEnd kEnd, class Reader, class Store, class Run = numberlist::NoRun>
int64_t ReadNumberList(Reader& reader, int64_t limit, Store&& store, Run&& run = {}) {
  using numberlist::IsBlank;
  constexpr bool kReturnsStop =
      !std::is_void_v<std::invoke_result_t<Store&, int64_t, const char*>>;
  if constexpr (kEnd == ListEnd::kStopAtTag) {
    if (reader.isTagToken) return 0;
  }
  int64_t n = 0;
  int p = 0;
  while (n != limit) {
    char* text = reader.tokenText;
    int length = reader.tokenLength;
    if constexpr (!std::is_same_v<std::decay_t<Run>, numberlist::NoRun>) {
      n += run(text, p, length, limit < 0 ? INT64_MAX : limit - n);
      if (n == limit) break;
    }
    int start;
    if constexpr (kEnd == ListEnd::kRepeatLast) {
      if (p >= length) {
        if (!reader.NextToken()) return -1;
        text = reader.tokenText;
        length = reader.tokenLength;
        p = 0;
      }
      start = p;
      while (start < length && IsBlank(text[start])) ++start;
      if (start >= length) {  // only white space left: the position does not move
        store(n++, text + p);
        continue;
      }
    } else {
      while (p < length && IsBlank(text[p])) ++p;
      if (p >= length) {
        if (!reader.NextToken()) return -1;
        if constexpr (kEnd == ListEnd::kStopAtTag) {
          if (reader.isTagToken) return n;
        }
        p = 0;
        continue;
      }
      start = p;
    }
    int end = start;
    if constexpr (kReturnsStop) {
      // The conversion starts where the piece's blanks start (index lists read control bytes
      // there as the end of the number); the number itself ends at the first blank after it.
      // The token is NUL-terminated, and NUL ends a number like any byte up to 0x20.
      end = static_cast<int>(store(n, text + p) - text);
      if (end < start) end = start;
      while (!IsBlank(text[end])) ++end;
    } else {
      while (end < length && !IsBlank(text[end])) ++end;
    }
    if (end < length) {
      text[end] = '\0';
      p = end + 1;
    } else if constexpr (kEnd != ListEnd::kRepeatLast) {
      p = end;
    }
    if constexpr (!kReturnsStop) store(n, text + start);
    ++n;
  }
  reader.NextToken();
  return n;
}

// Drops the list's contents and gives it owned room for `n` elements, as many as an array can
// hold at most. Callers bound `n` by what the rest of the input can give, so a bogus count
// cannot claim more than the document's own size, and a real one is read without regrowing.
template <class T>
void ReserveFresh(BaseArray<T>& array, int64_t n) {
  constexpr int64_t kMost = 0x7FFFFFFF / int64_t{sizeof(T)} - 1;
  n = n < 0 ? 0 : n > kMost ? kMost : n;
  array.Renew(static_cast<int32_t>(n));
  AdviseHugePages(array.data, static_cast<size_t>(array.reserved) * sizeof(T));
}

// Numbers the rest of the input can hold: each takes a character and a separator. An input of
// unknown size (a pipe) is taken to hold 2^24, enough that only giant lists regrow.
template <class Reader>
int64_t NumbersLeft(const Reader& reader) {
  const int64_t left = reader.InputBytesLeft();
  return left == INT64_MAX ? int64_t{1} << 24 : left / 2 + 1;
}

// Room for a list whose document declares `declared` elements, as ReserveFresh(declared + 1),
// but never for more numbers than the rest of the input can hold.
template <class Reader, class T>
void ReserveDeclared(const Reader& reader, BaseArray<T>& array, int64_t declared) {
  const int64_t possible = NumbersLeft(reader);
  ReserveFresh(array, (declared < possible ? declared : possible) + 1);
}

// After a list came up short of its declared size, gives back the room reserved for the numbers
// that never came, so bogus counts cannot pile up reservations. Complete lists keep theirs.
template <class T>
void ReleaseUnread(BaseArray<T>& array, int64_t declared) {
  if (!array.ownsBuffer || array.count >= declared || array.reserved <= 64) return;
  array.FitToCount();
}

}  // namespace varnel
