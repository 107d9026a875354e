// Geometry instantiation: counts a geometry's parts and points in the first traversal and
// delivers them, transformed, in the second.
//
// Malformed data never leads to a read outside the viewed arrays:
// - a polygon, strip, fan or triangle whose index tuples are not all complete inside `indices` is
//   not emitted (a polygon is skipped like one with fewer than three vertices, and its holes with
//   it; a triangle list keeps its leading whole triangles), which also bounds the work by the
//   size of the index list;
// - an index entry outside `indices` (negative index offset) reads as 0;
// - an element index below 0 reads element 0, one at or beyond the source's count the last one;
// - a value outside the float array (short stride at the last element, bad accessor offset,
//   empty source) reads as 0.
#include <cmath>
#include <cstdint>
#include <limits>

#include "assembly/SceneCollector.h"
#include <varnel/PatchType.h>
#include <varnel/Point.h>
#include "output/CreationManager.h"
#include "tags/DataSources.h"
#include "tags/MaterialBinding.h"
#include "tags/Mesh.h"
#include "xml/ElementNames.h"

namespace varnel {

namespace {

bool IsInstantiated(const PrimitiveTag& primitive, bool linesEnabled) {
  switch (primitive.elementId) {
    case kTriangles:
    case kPolylist:
    case kPolygons:
    case kTristrips:
    case kTrifans:
      return true;
    case kLines:
    case kLinestrips:
      return linesEnabled;
    default:
      return false;
  }
}

// Counts saturate; Run refuses to create from a saturated count.
void AddCount(int& field, int64_t n) {
  int64_t sum = static_cast<int64_t>(field) + n;
  field = static_cast<int>(sum > SceneCollector::kCountLimit ? SceneCollector::kCountLimit : sum);
}

// Index tuples wholly inside the bound index list.
int64_t CompleteTuples(const BoundMesh& c) {
  return c.tupleSize >= 1 ? c.indices.count / c.tupleSize : 0;
}

// Vertices of the bound triangle list that are emitted: whole triangles with complete tuples.
int64_t TriangleVertices(const BoundMesh& c) {
  int64_t triangles = c.primitiveCount > 0 ? c.primitiveCount : 0;
  int64_t available = CompleteTuples(c) / 3;
  return 3 * (triangles < available ? triangles : available);
}

int64_t PolygonLimit(const BoundMesh& c) {
  return c.primitiveCount < c.polygonSizes.count ? c.primitiveCount : c.polygonSizes.count;
}

// Visits the lists of the bound primitive (polygons, holes, strips, fans or line strips) in
// order: visit(position k, first vertex r, size s, whether all its tuples are complete).
template <class Visit>
void ForEachList(const BoundMesh& c, Visit&& visit) {
  const int64_t tuples = CompleteTuples(c);
  const int64_t limit = PolygonLimit(c);
  int64_t r = 0;
  for (int64_t k = 0; k < limit; ++k) {
    const int64_t s = c.polygonSizes.data[k];
    visit(k, r, s, r >= 0 && r + s <= tuples);
    r += s;
  }
}

// The polygons that make a part: visit(first vertex, size, part type, points). A polygon of three
// vertices is a triangle, a bigger one (or one with holes) a ring closed by its first point
// again. A polygon needs three vertices with complete tuples; its holes go with it.
template <class Visit>
void ForEachPolygon(const BoundMesh& c, Visit&& visit) {
  const int32_t* holes = c.holes.count > 0 ? c.holes.data : nullptr;
  const int64_t lists = c.holes.count;
  bool outerMade = false;
  ForEachList(c, [&](int64_t k, int64_t r, int64_t s, bool complete) {
    const bool made = complete && s >= 3;
    if (holes && holes[k]) {
      if (made && outerMade) visit(r, s, kPatchInnerRing, s + 1);
      return;
    }
    outerMade = made;
    if (!made) return;
    const bool triangle = s == 3 && !(holes && k + 1 < lists && holes[k + 1]);
    visit(r, s, triangle ? kPatchTriangles : kPatchOuterRing, triangle ? 3 : s + 1);
  });
}

// Lists of at least `least` vertices, all with complete tuples: visit(first vertex, size). Strips
// and fans need three, line strips two.
template <class Visit>
void ForEachRun(const BoundMesh& c, int least, Visit&& visit) {
  ForEachList(c, [&](int64_t, int64_t r, int64_t s, bool complete) {
    if (complete && s >= least) visit(r, s);
  });
}

bool IsLines(int elementId) { return elementId == kLines || elementId == kLinestrips; }

// The parts and lines the bound primitive makes, described once for both traversals. `sink`
// hears Part(type, points, vertices) for each part and Line(points, strip, first vertex) for each
// line; vertices(run, corners) hands the part's vertices in delivery order, as runs
// run(from, down to) and triangles corners(a, b, c), for a sink that delivers them.
template <class Sink>
void WalkPrimitive(const BoundMesh& c, int elementId, Sink& sink) {
  switch (elementId) {
    case kTriangles: {
      // deliberate: every part's vertices arrive last first, see docs/behaviour.md
      const int64_t n = TriangleVertices(c);
      sink.Part(kPatchTriangles, n, [&](auto&& run, auto&&) { run(n - 1, 0); });
      break;
    }
    case kPolylist:
    case kPolygons:
      ForEachPolygon(c, [&](int64_t r, int64_t s, int type, int64_t points) {
        sink.Part(type, points, [&](auto&& run, auto&&) {
          run(r + s - 1, r);
          if (type != kPatchTriangles) run(r + s - 1, r + s - 1);
        });
      });
      break;
    case kTristrips:
    case kTrifans:
      // Each strip or fan is one triangle list. Its triangles come last first, each last vertex
      // first, as a triangle list's do; every other strip triangle swaps its first two vertices
      // so that all of them face the same way.
      ForEachRun(c, 3, [&](int64_t r, int64_t s) {
        sink.Part(kPatchTriangles, 3 * (s - 2), [&](auto&&, auto&& corners) {
          for (int64_t i = r + s - 3; i >= r; --i) {
            if (elementId == kTrifans) corners(i + 2, i + 1, r);
            else if ((i - r) % 2 == 0) corners(i + 2, i + 1, i);
            else corners(i + 2, i, i + 1);
          }
        });
      });
      break;
    case kLines:  // one line of separate segments
      sink.Line(CompleteTuples(c), false, 0);
      break;
    case kLinestrips:
      ForEachRun(c, 2, [&](int64_t r, int64_t s) { sink.Line(s, true, r); });
      break;
    default:
      break;
  }
}

// The counting traversal's sink: parts, points and (for the extended reading) lines.
struct Counter {
  CreationManager& out;
  bool countLines;
  int64_t points = 0;
  template <class Vertices>
  void Part(int, int64_t n, Vertices&&) {
    AddCount(out.partCount, 1);
    points += n;
  }
  void Line(int64_t m, bool, int64_t) {
    if (countLines && m >= 2) AddCount(out.lineCount, 1);
  }
};

// Index entry `at` of the bound list; outside it reads as 0.
inline int32_t IndexEntry(const BaseArray<int32_t>& indices, int64_t at) {
  return at >= 0 && at < indices.count ? indices.data[at] : 0;
}

// Element of a source for an index, clamped into [0, count - 1].
// deliberate: an index past the source reads its last element, not nothing, see docs/behaviour.md
inline int64_t ElementIndex(int32_t index, int32_t count) {
  int64_t i = index >= count ? static_cast<int64_t>(count) - 1 : index;
  return i < 0 ? 0 : i;
}

// The first n values of element i; values outside the array read as 0.
inline void ReadElement(const BaseArray<float>& values, int32_t offset, int32_t stride, int64_t i,
                        int n, double* out) {
  int64_t first = offset + i * stride;
  if (first >= 0 && first + n <= values.count) {
    for (int k = 0; k < n; ++k) out[k] = values.data[first + k];
    return;
  }
  for (int k = 0; k < n; ++k) {
    int64_t at = first + k;
    out[k] = at >= 0 && at < values.count ? values.data[at] : 0.0;
  }
}

bool IsZero(const double* n) { return n[0] == 0.0 && n[1] == 0.0 && n[2] == 0.0; }

// Emits one primitive in the creating traversal.
class Emitter {
 public:
  Emitter(SceneCollector& c, bool hasNormals, bool textured)
      : c_(c), out_(*c.manager), hasNormals_(hasNormals), textured_(textured) {}

  template <class Vertices>
  void Part(int type, int64_t points, Vertices&& vertices) {
    out_.StartPart(type);
    out_.SetPartFormat(static_cast<int>(points), hasNormals_, textured_);
    vertices([this](int64_t first, int64_t last) { Run(first, last); },
             [this](int64_t a, int64_t b, int64_t c) { Corners(a, b, c); });
    out_.EndPart();
    ++out_.partIndex;
  }

  // Points of one line, vertices first + m - 1 down to first: positions only.
  void Line(int64_t m, bool strip, int64_t first) {
    double p[3];
    out_.StartLine(static_cast<int>(m), strip);
    for (int64_t v = first + m - 1; v >= first; --v) {
      out_.StartPoint();
      c_.FetchPoint(static_cast<int>(v), p);
      out_.SetPoint(p);
      out_.EndPoint();
    }
    out_.EndLine();
  }

 private:
  using Fetched = Vertex;
  static constexpr int kBatch = 8;

  // Delivers vertices `first` down to `last`. They are fetched a few at a time ahead of their
  // delivery: fetching has no effect on the manager, and the divisions and roots of neighbouring
  // vertices then overlap instead of waiting on each other.
  void Run(int64_t first, int64_t last) {
    Fetched batch[kBatch];
    for (int64_t v = first; v >= last;) {
      const int n = v - last + 1 < kBatch ? static_cast<int>(v - last + 1) : kBatch;
      for (int i = 0; i < n; ++i) Fetch(static_cast<int>(v - i), batch[i]);
      out_.TakeVertices(batch, n, hasNormals_, textured_);
      v -= n;
    }
  }

  void Corners(int64_t a, int64_t b, int64_t c) {
    Fetched corners[3];
    Fetch(static_cast<int>(a), corners[0]);
    Fetch(static_cast<int>(b), corners[1]);
    Fetch(static_cast<int>(c), corners[2]);
    out_.TakeVertices(corners, 3, hasNormals_, textured_);
  }

  void Fetch(int vertex, Fetched& f) const {
    c_.FetchPoint(vertex, f.point);
    if (hasNormals_) c_.FetchNormal(vertex, f.normal);
    if (textured_) c_.FetchTexturePoint(vertex, f.texture);
  }

  SceneCollector& c_;
  CreationManager& out_;
  bool hasNormals_;
  bool textured_;
};

}  // namespace

int SceneCollector::EffectIndex(const String& id) const {
  if (effectIndex.Covers(effects)) return effectIndex.Position(id);
  for (int32_t i = 0; i < effects.count; ++i)
    if (effects[i] && effects[i]->GetId() == id) return i;
  return -1;
}

int SceneCollector::MaterialEffect(Tag* entry) const {
  MaterialTag* material = entry ? entry->AsMaterialTag() : nullptr;
  if (!material || !material->instanceEffect) return -1;
  const String& url = material->instanceEffect->url;
  return url.IsEmpty() ? -1 : EffectIndex(url);
}

int SceneCollector::ResolveEffect(const String& symbol, BindMaterial* bindMaterial) const {
  const String* name = &symbol;
  if (bindMaterial && bindMaterial->techniqueCommon)
    if (const String* target = bindMaterial->techniqueCommon->TargetOf(symbol)) name = target;
  if (usableMaterialIndex.Covers(materials)) {
    int32_t i = usableMaterialIndex.Position(*name);
    if (i < 0) i = firstUsableMaterial;
    return i >= 0 ? MaterialEffect(materials[i]) : -1;
  }
  for (Tag* material : materials) {
    if (!material || !(material->GetId() == *name)) continue;
    int effect = MaterialEffect(material);
    if (effect >= 0) return effect;
  }
  // deliberate: an unresolved symbol takes the first material with a look, see docs/behaviour.md
  for (Tag* material : materials) {
    int effect = MaterialEffect(material);
    if (effect >= 0) return effect;
  }
  return -1;
}

void SceneCollector::InstantiateGeometry(const String& url, BindMaterial* bindMaterial) {
  if (!manager || !AllowInstance()) return;
  Tag* geometry = FindGeometry(url);
  if (!bindMaterial) bindMaterial = bindMaterialOverride;
  if (!geometry) return;
  CreationManager& out = *manager;
  if (out.pass != TraversalPass::Counting && out.pass != TraversalPass::Creating) return;
  bool counting = out.pass == TraversalPass::Counting;
  geometriesPlaced += counting;
  // deliberate: normals only when every point of the document has one, see docs/behaviour.md
  bool hasNormals = out.pointCount == out.normalCount;

  bound.Clear();
  if (GeometryTag* bindable = geometry->AsGeometryTag()) BindGeometry(*bindable);
  for (int32_t p = 0; p < bound.primitives.count; ++p) {
    PrimitiveTag* primitive = bound.primitives[p];
    if (counting && Exhausted()) return;
    if (!primitive || !IsInstantiated(*primitive, linesEnabled)) continue;
    const int64_t sourcesIndexed = bound.BindPrimitive(*primitive);
    SpendElements(sourcesIndexed);

    if (counting) {
      // The walk over the inputs is linear (real lists are short), so it is metered like
      // elements; the binding lookup is indexed.
      SpendElements(int64_t{primitive->inputs.count} + bound.vertexInputs.count);
      int effect = ResolveEffect(primitive->material, bindMaterial);
      bool hasImage = effect >= 0 && effect < effectImages.count && effectImages[effect];
      int textureEffect = hasImage ? effect : -1;
      out.primitiveTextureEffects.Add(textureEffect);
      out.primitiveEffects.Add(effect);

      Counter count{out, context->extended()};
      WalkPrimitive(bound, primitive->elementId, count);
      // Lines are delivered but counted only by the extended reading, which gives a display
      // list of lines alone. The walks over polygon and run lists are metered like elements.
      if (IsLines(primitive->elementId)) {
        SpendElements(CompleteTuples(bound));
        continue;
      }
      if (primitive->elementId != kTriangles) SpendElements(PolygonLimit(bound));
      const int64_t points = count.points;
      SpendElements(points);
      AddCount(out.pointCount, points);
      if (bound.normal.stride > 0) AddCount(out.normalCount, points);
      if (textureEffect >= 0 && bound.texcoord.stride > 0) AddCount(out.texturePointCount, points);
      continue;
    }

    int32_t entry = out.primitiveIndex;
    bool textured = entry >= 0 && entry < out.primitiveTextureEffects.count &&
                    out.primitiveTextureEffects[entry] >= 0 && bound.texcoord.stride > 0;
    Emitter emit(*this, hasNormals, textured);
    WalkPrimitive(bound, primitive->elementId, emit);
    ++out.primitiveIndex;
  }
}

void SceneCollector::FetchPoint(int vertex, double out[3]) const {
  const BoundAttribute& a = bound.position;
  int64_t at = static_cast<int64_t>(vertex) * bound.tupleSize + a.indexOffset;
  int64_t i = ElementIndex(IndexEntry(bound.indices, at), a.count);
  double p[3];
  ReadElement(a.numbers, a.offset, a.stride, i, 3, p);
  if (depth < 1) {
    out[0] = p[0], out[1] = p[1], out[2] = p[2];
    return;
  }
  const double* m = currentMatrix;
  out[0] = m[0] * p[0] + m[4] * p[1] + m[8] * p[2] + m[12];
  out[1] = m[1] * p[0] + m[5] * p[1] + m[9] * p[2] + m[13];
  out[2] = m[2] * p[0] + m[6] * p[1] + m[10] * p[2] + m[14];
  // deliberate: element 15 alone divides, the rest of its row is ignored, see docs/behaviour.md
  if (m[15] != 1.0) out[0] /= m[15], out[1] /= m[15], out[2] /= m[15];
}

void SceneCollector::FetchNormal(int vertex, double out[3]) const {
  const BoundAttribute& a = bound.normal;
  int64_t at = static_cast<int64_t>(vertex) * bound.tupleSize + a.indexOffset;
  int64_t i = ElementIndex(IndexEntry(bound.indices, at), a.count);
  double n[3];
  ReadElement(a.numbers, a.offset, a.stride, i, 3, n);
  if (IsZero(n)) {
    // deliberate: a zero normal takes the previous element's, see docs/behaviour.md
    if (i > 0) ReadElement(a.numbers, a.offset, a.stride, i - 1, 3, n);
    if (i == 0 || IsZero(n)) n[0] = 0.0, n[1] = 0.0, n[2] = 1.0;
  }
  if (depth < 1) {
    out[0] = n[0], out[1] = n[1], out[2] = n[2];
    return;
  }
  // deliberate: the point matrix, not its inverse transpose, see docs/behaviour.md
  const double* m = currentMatrix;
  WKSPointZ t;
  t.X = m[0] * n[0] + m[4] * n[1] + m[8] * n[2];
  t.Y = m[1] * n[0] + m[5] * n[1] + m[9] * n[2];
  t.Z = m[2] * n[0] + m[6] * n[1] + m[10] * n[2];
  double length = t.Norm(2);
  if (length > 0) {
    out[0] = t.X / length, out[1] = t.Y / length, out[2] = t.Z / length;
  } else {
    out[0] = n[0], out[1] = n[1], out[2] = n[2];
  }
}

void SceneCollector::FetchTexturePoint(int vertex, double out[2]) const {
  const BoundAttribute& a = bound.texcoord;
  int64_t at = static_cast<int64_t>(vertex) * bound.tupleSize + a.indexOffset;
  int64_t i = ElementIndex(IndexEntry(bound.indices, at), a.count);
  double st[2];
  ReadElement(a.numbers, a.offset, a.stride, i, 2, st);
  out[0] = st[0];
  out[1] = 1.0 - st[1];
}

}  // namespace varnel
