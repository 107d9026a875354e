#include "tags/Mesh.h"

#include <algorithm>
#include <bitset>
#include <climits>
#include <cstring>

#include "assembly/SceneCollector.h"
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
bool ReadIndices(DaeDocument& document, int amount, BaseArray<int32_t>& indices) {
  if (document.wasEndTag) return true;
  if (indices.count == 0)
    ReserveFresh(indices, std::min({int64_t{amount}, document.listRoom, NumbersLeft(document)}) + 1);
  return document.ReadIntList(amount, indices);
}

// Reads the integers of list element `listId`, whose text runs up to the next tag: at most
// `limit` of them (no limit when negative), appended to `values`. An element without text is
// passed over whole rather than its end tag taken for numbers. False when the input ended.
bool ReadListUpToTag(DaeDocument& document, int listId, int64_t limit, BaseArray<int32_t>& values) {
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

bool GeometryTag::Parse(DaeDocument& document) {
  return ParseLoop(document, [&](int id) {
    if (id == kMesh || (id == kConvexMesh && document.extended()))
      return AttachSingle(document, id, mesh, &Tag::AsMeshTag);
    if (id == kConvexMesh && document.reporting() && !document.wasEndTag)
      document.report(DiagnosticKind::kUnreadPrimitive, document.StartTagLine("convex_mesh"), true,
                      [&] { return "convex_mesh geometry \"" + GetId().ToUtf8() + "\" is not read"; });
    return NamedTag::ParseChild(id, document);
  });
}

void GeometryTag::BindGeometry(SceneCollector& collector) {
  // A convex_mesh of nothing but convex_hull_of stands for that geometry: its mesh is given (not
  // the hull of it). Chains are followed a few steps, which also ends cycles.
  MeshTag* bound = mesh;
  for (int step = 0; bound && !bound->hullOf.IsEmpty() && bound->primitives.count == 0; ++step) {
    Tag* named = step < 4 ? collector.FindGeometry(bound->hullOf) : nullptr;
    GeometryTag* geometry = named ? named->AsGeometryTag() : nullptr;
    if (!geometry || !geometry->mesh) {
      collector.ReportOnce(DiagnosticKind::kUnresolvedReference, false, [&] {
        return "convex_hull_of \"#" + bound->hullOf.ToUtf8() + "\" names no geometry with a mesh";
      });
      return;
    }
    bound = geometry->mesh;
  }
  if (bound) bound->BindGeometry(collector);
}

MeshTag::~MeshTag() {
  DeleteAll(sources);
  DeleteAll(primitives);
  delete vertices;
}

bool MeshTag::Parse(DaeDocument& document) {
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

void MeshTag::BindGeometry(SceneCollector& collector) {
  collector.meshSources.AttachTo(sources);
  collector.primitives.AttachTo(primitives);
  if (vertices) vertices->BindGeometry(collector);
  // An output without lines says so once per mesh, while counting.
  if (collector.context->report && !collector.linesEnabled && !linesChecked_ &&
      collector.pass != TraversalPass::Creating) {
    linesChecked_ = true;
    const auto first = std::find_if(primitives.begin(), primitives.end(), [](const PrimitiveTag* p) {
      return p && IsLineKind(static_cast<int>(p->elementId));
    });
    if (first != primitives.end()) {
      const int id = static_cast<int>((*first)->elementId);
      collector.context->report(DiagnosticKind::kUnreadPrimitive, (*first)->line, false, [id] {
        return "<" + std::string(ElementName(id)) + "> is not read: a multipatch holds no lines";
      });
    }
  }
}

PrimitiveTag::~PrimitiveTag() { DeleteAll(inputs); }

int32_t PrimitiveTag::LargestOffset() const {
  int32_t largest = 0;
  for (const InputTag* input : inputs) {
    if (input && input->offset > largest) largest = input->offset;
  }
  return largest;
}

bool PrimitiveTag::ParseChild(int id, DaeDocument& document) {
  switch (id) {
    case kCount: count = ReadIntValue(document); return true;
    case kInput: return AttachToList(document, id, inputs, &Tag::AsInputTag);
    case kMaterial: return document.ReadUrl(material);
    default: return document.SkipElement(id);
  }
}

namespace {

// Points the attribute slot that `input`'s semantic selects at its source: the load flags, the
// place of its index in a tuple (`indexOffset`) and the source's numbers.
void LoadAttribute(SceneCollector& collector, const InputTag& input, int32_t indexOffset) {
  collector.loadAsPosition = input.isPosition;
  collector.loadAsNormal = input.isNormal;
  collector.loadAsTexcoord = input.isTexcoord;
  if (input.isPosition) {
    collector.positionIndexOffset = indexOffset;
  } else if (input.isNormal) {
    collector.normalIndexOffset = indexOffset;
  } else if (input.isTexcoord) {
    collector.texcoordIndexOffset = indexOffset;
  }
  if (!collector.sourceIndex.Covers(collector.meshSources)) {
    collector.sourceIndex.Build(collector.meshSources);
    collector.SpendElements(collector.meshSources.count);
  }
  if (SourceTag* source = collector.sourceIndex.Find(collector.meshSources, input.source))
    source->LoadInto(collector);
}

}  // namespace

void PrimitiveTag::BindPrimitive(SceneCollector& collector) {
  collector.positionCount = collector.positionOffset = collector.positionStride = 0;
  collector.normalCount = collector.normalOffset = collector.normalStride = 0;
  collector.texcoordCount = collector.texcoordOffset = collector.texcoordStride = 0;
  collector.positions.RemoveAll();
  collector.normals.RemoveAll();
  collector.texcoords.RemoveAll();
  collector.tupleSize = 0;
  collector.positionIndexOffset = collector.normalIndexOffset = collector.texcoordIndexOffset = 0;

  const VerticesTag* vertices = collector.vertices;
  for (const InputTag* input : inputs) {
    if (!input) continue;
    if (vertices && input->source == vertices->GetId()) {
      for (const InputTag* vertexInput : collector.vertexInputs) {
        if (vertexInput) LoadAttribute(collector, *vertexInput, input->offset);
      }
    } else {
      LoadAttribute(collector, *input, input->offset);
    }
    if (input->offset > collector.tupleSize) collector.tupleSize = input->offset;
  }
  int32_t widest = collector.tupleSize;
  if (collector.positionIndexOffset > widest) widest = collector.positionIndexOffset;
  if (collector.normalIndexOffset > widest) widest = collector.normalIndexOffset;
  if (collector.texcoordIndexOffset > widest) widest = collector.texcoordIndexOffset;
  // An offset of INT_MAX leaves the tuple at INT_MAX wide: no index list holds one whole tuple.
  collector.tupleSize = widest < INT_MAX ? widest + 1 : INT_MAX;

  collector.polygonSizes.RemoveAll();
  collector.holes.RemoveAll();
  if (vcounts.count > 0) {
    collector.primitiveCount = count < vcounts.count ? count : vcounts.count;
    if (collector.primitiveCount > 0) collector.polygonSizes.AttachTo(vcounts, collector.primitiveCount);
  } else {
    collector.primitiveCount = count;
  }
  collector.indices.AttachTo(indices);
}

bool PrimitiveTag::ParseWithCorners(DaeDocument& document, int corners) {
  return ParseLoop(document, [&](int id) {
    if (id != kP) return ParseChild(id, document);
    const int64_t perVertex = int64_t{LargestOffset()} + 1;
    return ReadIndices(document, IndexAmount(perVertex * corners, count), indices);
  });
}

bool TrianglesTag::Parse(DaeDocument& document) { return ParseWithCorners(document, 3); }

bool LinesTag::Parse(DaeDocument& document) { return ParseWithCorners(document, 2); }

// An empty "vcount" (no text) reads as no polygons: the element's end tag is consumed as such and
// never taken for numbers. A "vcount" with fewer numbers than "count" keeps the numbers present.
bool PolylistTag::Parse(DaeDocument& document) {
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

bool ListPrimitiveTag::Parse(DaeDocument& document) {
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
bool ListPrimitiveTag::ParseHoled(DaeDocument& document) {
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

bool ListPrimitiveTag::ReadList(DaeDocument& document, int listId) {
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

void ListPrimitiveTag::BindPrimitive(SceneCollector& collector) {
  PrimitiveTag::BindPrimitive(collector);
  if (holes.count >= collector.primitiveCount) collector.holes.AttachTo(holes, collector.primitiveCount);
}

}  // namespace varnel
