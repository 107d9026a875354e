// Geometry, mesh and the primitive kinds that reach the output: triangles, polylists and lines
// always, polygons, strips, fans and line strips in the extended reading.
#pragma once

#include "tags/Tag.h"
#include "util/BaseArray.h"

namespace varnel {

class ListPrimitiveTag;

class GeometryTag : public NamedTag {
 public:
  explicit GeometryTag(int elementId) : NamedTag(elementId) {}
  ~GeometryTag() override;
  GeometryTag* AsGeometryTag() override { return this; }
  bool Parse(ElementSource& document) override;

  MeshTag* mesh = nullptr;
};

class MeshTag : public NamedTag {
 public:
  explicit MeshTag(int elementId) : NamedTag(elementId) {}
  ~MeshTag() override;
  MeshTag* AsMeshTag() override { return this; }
  bool Parse(ElementSource& document) override;

  BaseArray<SourceTag*> sources{NoStorage{}};
  BaseArray<PrimitiveTag*> primitives{NoStorage{}};
  VerticesTag* vertices = nullptr;
  // Of a convex_mesh (extended reading): the geometry whose hull it is.
  String hullOf;
  // Whether the lines of this mesh were already reported to an output that holds none.
  bool linesReported = false;
};

// Base of every primitive kind; the kind is the element id.
class PrimitiveTag : public Tag {
 public:
  explicit PrimitiveTag(int elementId) : Tag(elementId) {}
  ~PrimitiveTag() override;
  PrimitiveTag* AsPrimitiveTag() override { return this; }
  virtual ListPrimitiveTag* AsListPrimitive() { return nullptr; }
  bool ParseChild(int id, ElementSource& document) override;

  int32_t count = 0;
  BaseArray<int32_t> indices{15};  // room for 16
  BaseArray<int32_t> vcounts{15};
  String material;
  BaseArray<InputTag*> inputs{NoStorage{}};
  // The document line of a mesh's first line primitive of its kind while diagnostics are
  // received, else 0.
  int32_t line = 0;

 protected:
  // Largest input offset read so far, 0 when none or all negative.
  int32_t LargestOffset() const;
  // The loop of the kinds whose elements all have `corners` vertices: "p" holds
  // (largest offset + 1) x count x corners integers.
  bool ParseWithCorners(ElementSource& document, int corners);
};

class TrianglesTag : public PrimitiveTag {
 public:
  using PrimitiveTag::PrimitiveTag;
  bool Parse(ElementSource& document) override;
};

class PolylistTag : public PrimitiveTag {
 public:
  using PrimitiveTag::PrimitiveTag;
  bool Parse(ElementSource& document) override;
};

class LinesTag : public PrimitiveTag {
 public:
  using PrimitiveTag::PrimitiveTag;
  bool Parse(ElementSource& document) override;
};

// The kinds whose every "p" is one element of its own length: "polygons" (where "ph" adds a
// polygon with holes), "tristrips", "trifans" and "linestrips". `count` is the number of lists
// read, whatever the document declares.
class ListPrimitiveTag : public PrimitiveTag {
 public:
  using PrimitiveTag::PrimitiveTag;
  ListPrimitiveTag* AsListPrimitive() override { return this; }
  bool Parse(ElementSource& document) override;

  // Of "polygons", one entry per list: 1 for a hole in the polygon before it, else 0.
  BaseArray<int32_t> holes;

 private:
  bool ParseHoled(ElementSource& document);
  // One "p" or "h" list.
  bool ReadList(ElementSource& document, int listId);
};

}  // namespace varnel
