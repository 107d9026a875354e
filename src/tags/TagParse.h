// Pieces every element class's Parse is made of: the shared loop, integer attributes and the
// attaching of children made by the factory.
#pragma once

#include <cstdint>
#include <cstring>
#include <type_traits>
#include <utility>

#include "document/DaeDocument.h"
#include "tags/Factory.h"
#include "tags/Tag.h"
#include "util/HugePages.h"

namespace varnel {

template <class Handler>
bool Tag::ParseLoop(DaeDocument& document, Handler&& handle) {
  for (;;) {
    int id = document.IdentifyTag();
    if (document.wasEndTag && id == static_cast<int>(elementId)) return true;
    if (!handle(id)) return false;
  }
}

// An integer attribute or child: atoi of the token, advance, consume a following end tag.
inline int ReadIntValue(DaeDocument& document) {
  int value = ParseInt(document.tokenText);
  document.NextToken();
  if (document.isEndToken) document.IdentifyTag();
  return value;
}

// Same for a floating-point value (atof).
inline double ReadDoubleValue(DaeDocument& document) {
  double value = ParseDouble(document.tokenText);
  document.NextToken();
  if (document.isEndToken) document.IdentifyTag();
  return value;
}

// Creates the child just identified and checks it with `query`. Null (and the child deleted)
// when creation or the query fails.
template <class T>
T* CreateChild(DaeDocument& document, int id, T* (Tag::*query)()) {
  Tag* child = CreateTag(document, id);
  if (!child) return nullptr;
  T* typed = (child->*query)();
  if (!typed) delete child;
  return typed;
}

// Single member: a later child replaces (and deletes) the earlier one.
template <class T>
bool AttachSingle(DaeDocument& document, int id, T*& slot, T* (Tag::*query)()) {
  T* child = CreateChild(document, id, query);
  if (!child) return false;
  delete slot;
  slot = child;
  return true;
}

// List member: appended in document order.
template <class T, class Stored>
bool AttachToList(DaeDocument& document, int id, BaseArray<Stored*>& list, T* (Tag::*query)()) {
  T* child = CreateChild(document, id, query);
  if (!child) return false;
  list.Add(child);
  return true;
}

// Reads the numbers of an element's text at the reader, at most `limit` of them (no limit when
// negative): tokens are split at bytes up to 0x20, each piece handed NUL-terminated to
// `store(index, text)`, and further text tokens are pulled when one is used up. A store may return
// the position its conversion stopped at, where the search for the number's end then resumes. After the
// `limit`-th number the reader advances once; what is left of that token is ignored.
// Text that runs out early leaves the next tag token current instead of reading it as numbers,
// so a short list never eats into the elements that follow.
// Returns how many numbers were stored, or -1 when the input ended first.
template <class Store>
int64_t ReadTextNumbers(DaeDocument& document, int64_t limit, Store&& store) {
  if (document.isTagToken) return 0;
  int64_t n = 0;
  int p = 0;
  while (n != limit) {
    char* text = document.tokenText;
    const int length = document.tokenLength;
    while (p < length && static_cast<unsigned char>(text[p]) <= 0x20) ++p;
    if (p >= length) {
      if (!document.NextToken()) return -1;
      if (document.isTagToken) return n;
      p = 0;
      continue;
    }
    const int start = p;
    if constexpr (std::is_void_v<std::invoke_result_t<Store&, int64_t, const char*>>) {
      while (p < length && static_cast<unsigned char>(text[p]) > 0x20) ++p;
      if (p < length) text[p++] = '\0';
      store(n, text + start);
    } else {
      // A store that returns how far it read (ParseDoubleAt) spares the bytes it has seen a
      // second pass; what it read ends at a byte up to 0x20 as well, NUL or not.
      p = static_cast<int>(store(n, text + start) - text);
      while (p < length && static_cast<unsigned char>(text[p]) > 0x20) ++p;
      if (p < length) text[p++] = '\0';
    }
    ++n;
  }
  document.NextToken();
  return n;
}

// Largest up-front reservation for a list whose size a document declares: a bogus count must not
// claim gigabytes before a single number has been read. Longer lists still grow as they are read.
constexpr int64_t kMaxDeclaredReserve = int64_t{1} << 24;

// Drops the list's contents (freeing owned storage) and gives it owned room for `n` elements.
template <class T>
void ReserveFresh(BaseArray<T>& array, int64_t n) {
  if (n < 0) n = 0;
  if (n > kMaxDeclaredReserve) n = kMaxDeclaredReserve;
  BaseArray<T> fresh(static_cast<int32_t>(n));
  std::swap(array.data, fresh.data);
  std::swap(array.count, fresh.count);
  std::swap(array.reserved, fresh.reserved);
  std::swap(array.ownsBuffer, fresh.ownsBuffer);
  AdviseHugePages(array.data, static_cast<size_t>(array.reserved) * sizeof(T));
}

// Room for a list whose document declares `declared` elements, as ReserveFresh(declared + 1),
// but never for more numbers than the rest of the input can hold (each takes a character and a
// separator), so a bogus count reserves nothing beyond the document's own size.
template <class T>
void ReserveDeclared(const DaeDocument& document, BaseArray<T>& array, int64_t declared) {
  const int64_t possible = document.InputBytesLeft() / 2 + 1;
  ReserveFresh(array, (declared < possible ? declared : possible) + 1);
}

// After a list came up short of its declared size, gives back the room reserved for the numbers
// that never came, so bogus counts cannot pile up reservations. Complete lists keep theirs.
template <class T>
void ReleaseUnread(BaseArray<T>& array, int64_t declared) {
  if (!array.ownsBuffer || array.count >= declared || array.reserved <= 64) return;
  BaseArray<T> fitted(array.count);
  std::memcpy(static_cast<void*>(fitted.data), array.data, sizeof(T) * array.count);
  fitted.count = array.count;
  std::swap(array.data, fitted.data);
  std::swap(array.count, fitted.count);
  std::swap(array.reserved, fitted.reserved);
}

// Deletes every element of an owning list of tags.
template <class T>
void DeleteAll(BaseArray<T*>& list) {
  for (T* item : list) delete item;
  list.RemoveAll();
}

}  // namespace varnel
