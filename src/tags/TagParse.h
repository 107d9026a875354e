// Pieces every element class's Parse is made of: the shared loop, integer attributes and the
// attaching of children made by the factory.
#pragma once

#include <cstdint>

#include "tags/ElementSource.h"
#include "tags/Factory.h"
#include "tags/Tag.h"
#include "xml/NumberList.h"

namespace varnel {

template <class Handler>
bool Tag::ParseLoop(ElementSource& document, Handler&& handle) {
  for (;;) {
    int id = document.IdentifyTag();
    if (document.wasEndTag && id == static_cast<int>(elementId)) return true;
    if (!handle(id)) return false;
  }
}

// Passes over the attribute pseudo-elements of the element just identified, so that the
// reader stands on its text.
inline bool SkipAttributes(ElementSource& document) {
  while (document.attributesPending) {
    if (!document.SkipElement(document.IdentifyTag())) return false;
  }
  return true;
}

// An integer attribute or child: atoi of the token, advance, consume a following end tag.
inline int ReadIntValue(ElementSource& document) {
  int value = ParseInt(document.tokenText);
  document.NextToken();
  if (document.isEndToken) document.IdentifyTag();
  return value;
}

// Same for a floating-point value (atof).
inline double ReadDoubleValue(ElementSource& document) {
  double value = ParseDouble(document.tokenText);
  document.NextToken();
  if (document.isEndToken) document.IdentifyTag();
  return value;
}

// Creates the child just identified and checks it with `query`. Null (and the child deleted)
// when creation or the query fails.
template <class T>
T* CreateChild(ElementSource& document, int id, T* (Tag::*query)()) {
  Tag* child = CreateTag(document, id);
  if (!child) return nullptr;
  T* typed = (child->*query)();
  if (!typed) delete child;
  return typed;
}

// Single member: a later child replaces (and deletes) the earlier one.
template <class T>
bool AttachSingle(ElementSource& document, int id, T*& slot, T* (Tag::*query)()) {
  T* child = CreateChild(document, id, query);
  if (!child) return false;
  delete slot;
  slot = child;
  return true;
}

// List member: appended in document order.
template <class T, class Stored>
bool AttachToList(ElementSource& document, int id, BaseArray<Stored*>& list, T* (Tag::*query)()) {
  T* child = CreateChild(document, id, query);
  if (!child) return false;
  list.Add(child);
  return true;
}

// Deletes every element of an owning list of tags.
template <class T>
void DeleteAll(BaseArray<T*>& list) {
  for (T* item : list) delete item;
  list.RemoveAll();
}

}  // namespace varnel
