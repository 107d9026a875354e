// Reading the numbers of an element's text: the one loop every number list of a document goes
// through (float arrays, index lists, polygon vertex counts, transforms, the bind-shape matrix),
// and the reservations that keep a declared count honest.
#pragma once

#include <cstdint>
#include <type_traits>

#include "util/BaseArray.h"
#include "util/HugePages.h"
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
}  // namespace numberlist

// Reads at most `limit` numbers (no limit when negative) from the text at the reader. Tokens are
// split at bytes up to 0x20 and each piece is handed to `store(index, text)`. A store that returns
// the position its conversion stopped at spares those bytes a second pass, and then sees its
// piece before it is NUL-terminated (with the blanks before it, where an index list has any); a
// store returning nothing gets it terminated. After the
// `limit`-th number the reader advances once; the rest of that token is ignored.
// Returns how many numbers were stored, or -1 when the input ended first.
template <ListEnd kEnd, class Store>
int64_t ReadNumberList(XmlReader& reader, int64_t limit, Store&& store) {
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
inline int64_t NumbersLeft(const XmlReader& reader) {
  const int64_t left = reader.InputBytesLeft();
  return left == INT64_MAX ? int64_t{1} << 24 : left / 2 + 1;
}

// Room for a list whose document declares `declared` elements, as ReserveFresh(declared + 1),
// but never for more numbers than the rest of the input can hold.
template <class T>
void ReserveDeclared(const XmlReader& reader, BaseArray<T>& array, int64_t declared) {
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
