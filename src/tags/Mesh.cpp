#include "tags/Mesh.h"

#include <algorithm>
#include <bitset>
#include <climits>
#include <cstring>

#include "tags/DataSources.h"
#include "tags/TagParse.h"
#include "xml/ElementNames.h"

namespace varnel {

namespace {

// Integers a "p" list holds: index slots per element times elements, capped so that absurd
// counts cannot overflow.
int IndexAmount(int64_t slotsPerElement, int64_t elements) {
  if (slotsPerElement <= 0 || elements <= 0) return 0;
  if (slotsPerElement > INT_MAX / elements) return INT_MAX;
  return static_cast<int>(slotsPerElement * elements);
}

// Reads "p": `amount` integers appended to `indices`. The end tag of an empty "p" is passed over
// rather than taken for a second list. A list shorter than its amount is filled up by the reader
// within the input's allowance (XmlReader::listRoom); room is reserved for no more than that, nor
// for more than the rest of the input holds.
bool ReadIndices(ElementSource& document, int amount, BaseArray<int32_t>& indices) {
  if (document.wasEndTag) return true;
  if (indices.count == 0)
    ReserveFresh(indices, std::min({int64_t{amount}, document.listRoom, NumbersLeft(document)}) + 1);
  return document.ReadIntList(amount, indices);
}

// Reads the integers of list element `listId`, whose text runs up to the next tag: at most
// `limit` of them (no limit when negative), appended to `values`. An element without text is
// passed over whole rather than its end tag taken for numbers. False when the input ended.
bool ReadListUpToTag(ElementSource& document, int listId, int64_t limit, BaseArray<int32_t>& values) {
  if (document.isTagToken && document.isEndToken) {
    if (std::strcmp(document.tokenText, AnyElementName(listId)) == 0) document.IdentifyTag();
    return true;
  }
  if (ReadNumberList<ListEnd::kStopAtTag>(document, limit, [&values](int64_t, const char* text) {
        const char* stop;
        values.Append(ParseIntAt(text, &stop));
        return stop;
      }) < 0)
    return false;
  if (document.isEndToken) document.IdentifyTag();
  return true;
}

bool IsLineKind(int id) { return id == kLines || id == kLinestrips; }

}  // namespace

GeometryTag::~GeometryTag() { delete mesh; }

bool GeometryTag::Parse(ElementSource& document) {
  return ParseLoop(document, [&](int id) {
    if (id == kMesh || (id == kConvexMesh && document.extended()))
      return AttachSingle(document, id, mesh, &Tag::AsMeshTag);
    if (id == kConvexMesh && document.reporting() && !document.wasEndTag)
      document.report(DiagnosticKind::kUnreadPrimitive, document.StartTagLine("convex_mesh"), true,
                      [&] { return "convex_mesh geometry \"" + GetId().ToUtf8() + "\" is not read"; });
    return NamedTag::ParseChild(id, document);
  });
}

MeshTag::~MeshTag() {
  DeleteAll(sources);
  DeleteAll(primitives);
  delete vertices;
}

bool MeshTag::Parse(ElementSource& document) {
  // Kinds met so far in this mesh; kept only while diagnostics are received, which name the
  // first of each kind.
  std::bitset<kElementCount> met;
  auto firstOfKind = [&](int id) {
    if (!document.reporting() || document.wasEndTag || met[id]) return false;
    met[id] = true;
    return true;
  };
  return ParseLoop(document, [&](int id) {
    switch (id) {
      case kSource: return AttachToList(document, id, sources, &Tag::AsSourceTag);
      case kConvexHullOf: return document.ReadUrl(hullOf);
      case kVertices: return AttachSingle(document, id, vertices, &Tag::AsVerticesTag);
      case kPolygons:
      case kTristrips:
      case kTrifans:
      case kLinestrips:
        if (!document.extended()) {
          if (firstOfKind(id)) {
            document.report(DiagnosticKind::kUnreadPrimitive, document.StartTagLine(ElementName(id)), true, [id] {
              return "<" + std::string(ElementName(id)) + "> is not read";
            });
          }
          return NamedTag::ParseChild(id, document);
        }
        [[fallthrough]];
      case kTriangles:
      case kPolylist:
      case kLines: {
        const int32_t line = IsLineKind(id) && firstOfKind(id) ? document.StartTagLine(ElementName(id)) : 0;
        if (!AttachToList(document, id, primitives, &Tag::AsPrimitiveTag)) return false;
        if (line > 0 && primitives.count > 0) primitives[primitives.count - 1]->line = line;
        return true;
      }
      default: return NamedTag::ParseChild(id, document);
    }
  });
}

PrimitiveTag::~PrimitiveTag() { DeleteAll(inputs); }

int32_t PrimitiveTag::LargestOffset() const {
  int32_t largest = 0;
  for (const InputTag* input : inputs) {
    if (input && input->offset > largest) largest = input->offset;
  }
  return largest;
}

bool PrimitiveTag::ParseChild(int id, ElementSource& document) {
  switch (id) {
    case kCount: count = ReadIntValue(document); return true;
    case kInput: return AttachToList(document, id, inputs, &Tag::AsInputTag);
    case kMaterial: return document.ReadUrl(material);
    default: return document.SkipElement(id);
  }
}

bool PrimitiveTag::ParseWithCorners(ElementSource& document, int corners) {
  return ParseLoop(document, [&](int id) {
    if (id != kP) return ParseChild(id, document);
    const int64_t perVertex = int64_t{LargestOffset()} + 1;
    return ReadIndices(document, IndexAmount(perVertex * corners, count), indices);
  });
}

bool TrianglesTag::Parse(ElementSource& document) { return ParseWithCorners(document, 3); }

bool LinesTag::Parse(ElementSource& document) { return ParseWithCorners(document, 2); }

// An empty "vcount" (no text) reads as no polygons: the element's end tag is consumed as such and
// never taken for numbers. A "vcount" with fewer numbers than "count" keeps the numbers present.
bool PolylistTag::Parse(ElementSource& document) {
  return ParseLoop(document, [&](int id) {
    if (id == kVcount) {
      if (document.wasEndTag) return true;
      ReserveDeclared(document, vcounts, count);
      if (!ReadListUpToTag(document, kVcount, count > 0 ? count : 0, vcounts)) return false;
      ReleaseUnread(vcounts, count);
      return true;
    }
    if (id != kP) return ParseChild(id, document);
    int64_t corners = 0;
    for (int32_t n : vcounts) corners += n;
    const int64_t perVertex = int64_t{LargestOffset()} + 1;
    return ReadIndices(document, IndexAmount(perVertex, corners), indices);
  });
}

bool ListPrimitiveTag::Parse(ElementSource& document) {
  const bool parsed = ParseLoop(document, [&](int id) {
    if (id == kP) return ReadList(document, id);
    if (id == kPh && elementId == kPolygons) return ParseHoled(document);
    return ParseChild(id, document);
  });
  count = vcounts.count;
  return parsed;
}

// "ph": its "p" is the polygon, each "h" after it one hole. Holes before the polygon have
// nothing to lie in and are dropped.
bool ListPrimitiveTag::ParseHoled(ElementSource& document) {
  if (document.wasEndTag) return true;
  bool outerRead = false;
  for (;;) {
    const int id = document.IdentifyTag();
    if (document.wasEndTag && id == kPh) return true;
    if (id == kP && !outerRead) {
      outerRead = true;
      if (!ReadList(document, id)) return false;
    } else if (id == kH && outerRead) {
      if (!ReadList(document, id)) return false;
    } else if (!document.SkipElement(id)) {
      return false;
    }
  }
}

bool ListPrimitiveTag::ReadList(ElementSource& document, int listId) {
  if (document.wasEndTag) return true;
  const int32_t before = indices.count;
  if (!ReadListUpToTag(document, listId, -1, indices)) return false;
  // A last tuple cut short is dropped, so that every list starts on a whole tuple.
  const int64_t perVertex = int64_t{LargestOffset()} + 1;
  const int64_t read = indices.count - before;
  indices.count -= static_cast<int32_t>(read % perVertex);
  vcounts.Add(static_cast<int32_t>(read / perVertex));
  if (elementId == kPolygons) holes.Add(listId == kH ? 1 : 0);
  return true;
}

}  // namespace varnel
