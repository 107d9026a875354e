#include "gltf/Writer.h"

#include <meshoptimizer.h>
#include <png.h>
#include <tiny_gltf.h>

#include <nlohmann/json.hpp>

#include <varnel/PatchType.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <set>
#include <sstream>

#include "gltf/Compress.h"
#include "gltf/Frame.h"
#include "gltf/Triangulate.h"

namespace varnel::gltf {

namespace {

double Linear(int srgb) {
  double c = srgb / 255.0;
  return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
}

std::string EncodePng(const Material& m) {
  static const int kColorTypes[5] = {0, PNG_COLOR_TYPE_GRAY, PNG_COLOR_TYPE_GRAY_ALPHA,
                                     PNG_COLOR_TYPE_RGB, PNG_COLOR_TYPE_RGB_ALPHA};
  std::string bytes;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  if (png && info && setjmp(png_jmpbuf(png)) == 0) {
    png_set_write_fn(png, &bytes, [](png_structp p, png_bytep data, png_size_t n) {
      static_cast<std::string*>(png_get_io_ptr(p))->append(reinterpret_cast<char*>(data), n);
    }, nullptr);
    png_set_IHDR(png, info, static_cast<png_uint_32>(m.width), static_cast<png_uint_32>(m.height),
                 8, kColorTypes[m.channels], PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    const size_t row = static_cast<size_t>(m.width) * static_cast<size_t>(m.channels);
    for (int32_t y = 0; y < m.height; ++y)
      png_write_row(png, const_cast<png_bytep>(m.pixels + row * static_cast<size_t>(y)));
    png_write_end(png, nullptr);
  } else {
    bytes.clear();
  }
  png_destroy_write_struct(png ? &png : nullptr, info ? &info : nullptr);
  return bytes;
}

bool HasTranslucentPixels(const Material& m) {
  if (m.channels != 2 && m.channels != 4) return false;
  const size_t count = static_cast<size_t>(m.width) * static_cast<size_t>(m.height);
  for (size_t i = 0; i < count; ++i)
    if (m.pixels[i * static_cast<size_t>(m.channels) + static_cast<size_t>(m.channels) - 1] != 255)
      return true;
  return false;
}

void MeanColor(const Material& m, int32_t (&color)[3]) {
  const size_t count = static_cast<size_t>(m.width) * static_cast<size_t>(m.height);
  const size_t step = static_cast<size_t>(m.channels), colors = step < 3 ? 1 : 3;
  if (!count || !m.pixels) return;
  for (size_t c = 0; c < 3; ++c) {
    uint64_t sum = 0;
    for (size_t i = 0; i < count; ++i) sum += m.pixels[i * step + std::min(c, colors - 1)];
    color[c] = static_cast<int32_t>(sum / count);
  }
}

uint32_t Hash(const Vertex& v) {
  uint32_t words[9];
  std::memcpy(words, &v, sizeof words);
  uint64_t h = 0x9E3779B97F4A7C15ull;
  for (uint32_t w : words) h = (h ^ w) * 0xff51afd7ed558ccdull, h ^= h >> 29;
  return static_cast<uint32_t>(h ^ (h >> 32));
}

// Consecutive corners of a primitive taken from one part: its own points in order
// (`at` < 0), or three point indices per triangle from `explicitCorners`.
struct Run {
  uint64_t firstCorner;
  int32_t part;
  int64_t at;
};

struct Primitive {
  int32_t material = -1;  // the model's, -1 for none
  int32_t gltfMaterial = -1;
  bool textured = false;
  std::vector<Run> runs;
  std::vector<uint32_t> explicitCorners;
  uint64_t corners = 0;
  std::vector<uint32_t> indices;  // per corner, its vertex
  std::vector<Vertex> vertices;
  float min[3], max[3];
  std::set<uint32_t> features;
  int vertexView = -1, indexView = -1;
};

struct Entry {
  std::unique_ptr<Model> model;
  std::string name, source, description;
  Frame frame;
  double centre[3] = {0, 0, 0}, shift[3] = {0, 0, 0};  // shift: the staged origin minus the centre
  std::vector<uint32_t> featureOfPart;
  std::vector<Primitive> primitives;
};

// Bytes of the binary buffer.
struct View {
  uint64_t offset = 0, length = 0;
  // Appends the view's items from `item` on, some at a time; the caller calls again until done.
  std::function<void(uint64_t& item, std::string& out)> write;
  std::string bytes;  // or holds them
};

struct Row {
  std::string name, source, node, description;
  int32_t material;
};

}  // namespace

struct Scene::State {
  SceneOptions options;
  std::vector<Entry> entries;
  std::vector<View> views;
  std::vector<Image> images;
  std::vector<Row> rows;
  uint64_t bin = 0;
  uint64_t fallback = 0;  // bytes of the buffer EXT_meshopt_compression decodes into
  int64_t triangles = 0;
  bool floatFeatures = false;
  tinygltf::Model gltf;
  std::vector<Surface> looks;  // by glTF material: its colour, for Export

  // The multipatch's front faces turn clockwise, as the shapefile's outer rings do; glTF's turn
  // counter-clockwise: each triangle of a triangle list is taken 0, 2, 1.
  uint32_t PointOf(const Entry& e, const Primitive& p, const Run& r, uint64_t c) const {
    const uint64_t k = c - r.firstCorner;
    if (r.at >= 0) return p.explicitCorners[static_cast<size_t>(r.at + int64_t(k))];
    return static_cast<uint32_t>(e.model->parts[r.part].first + (k - k % 3) + (3 - k % 3) % 3);
  }
  Vertex Make(const Entry& e, const Primitive& p, const Run& r, uint64_t c) const;
  void Collect(Entry& e);
  void Dedupe(const Entry& e, Primitive& p);
  void Features();
  void Materials();
  uint64_t AddBytes(uint64_t length, std::string bytes = {});
  int AddView(uint64_t length, int stride, int target, std::string bytes = {});
  // A view holding `bytes` (no target).
  int AddData(std::string bytes) {
    const uint64_t length = bytes.size();
    return AddView(length, 0, 0, std::move(bytes));
  }
  int AddMeshoptView(const std::string& encoded, uint64_t plain, uint64_t count, int stride,
                     int target, const char* mode);
  void Compress(Primitive& p, tinygltf::Primitive& primitive, int width);
  void Lay(int entry);
  void Merge();
  void Metadata();
  void Nodes();
};

Vertex Scene::State::Make(const Entry& e, const Primitive& p, const Run& r, uint64_t c) const {
  const Model& m = *e.model;
  const uint32_t i = PointOf(e, p, r, c);
  auto at = [&](uint32_t k, int axis) { return m.positions[size_t(k) * 3 + size_t(axis)] + e.shift[axis]; };
  Vertex v;
  // A coordinate that is no number stands at the centre: glTF takes finite floats only.
  auto finite = [](double value) { return std::isfinite(value) ? static_cast<float>(value) : 0.0f; };
  v.position[0] = finite(at(i, 0));
  v.position[1] = finite(at(i, 2));
  v.position[2] = finite(-at(i, 1));
  double n[3] = {0, 0, 0};
  if (!m.normals.empty())
    for (int k = 0; k < 3; ++k) n[k] = FromHalf(m.normals[size_t(i) * 3 + size_t(k)]);
  double length = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
  if (!(length > 1e-12) || !std::isfinite(length)) {
    // Flat: the normal of the corner's triangle.
    uint64_t first = c - (c - r.firstCorner) % 3;
    uint32_t a = PointOf(e, p, r, first), b = PointOf(e, p, r, first + 1), d = PointOf(e, p, r, first + 2);
    double u[3], w[3];
    for (int k = 0; k < 3; ++k) u[k] = at(b, k) - at(a, k), w[k] = at(d, k) - at(a, k);
    n[0] = u[1] * w[2] - u[2] * w[1], n[1] = u[2] * w[0] - u[0] * w[2], n[2] = u[0] * w[1] - u[1] * w[0];
    length = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
    if (!(length > 0) || !std::isfinite(length)) n[0] = n[1] = 0, n[2] = length = 1;
  }
  v.normal[0] = static_cast<float>(n[0] / length);
  v.normal[1] = static_cast<float>(n[2] / length);
  v.normal[2] = static_cast<float>(-n[1] / length);
  v.uv[0] = v.uv[1] = 0;
  if (p.textured) {
    // The part holding the point: a hole's points belong to the part after the outline's.
    auto owner = std::upper_bound(m.parts.begin(), m.parts.end(), int32_t(i),
                                  [](int32_t k, const Part& part) { return k < part.first; }) - 1;
    if (owner->firstTexture >= 0) {
      size_t k = size_t(owner->firstTexture) + (i - size_t(owner->first));
      v.uv[0] = finite(m.texture[2 * k]);
      v.uv[1] = finite(m.texture[2 * k + 1]);  // the library's, like glTF's, start at the top left
    }
  }
  uint32_t feature = e.featureOfPart[size_t(r.part)];
  if (floatFeatures) {
    float f = static_cast<float>(feature);
    std::memcpy(&v.feature, &f, sizeof f);
  } else {
    v.feature = feature;
  }
  return v;
}

// Every part's triangles into the primitive of its material.
void Scene::State::Collect(Entry& e) {
  const Model& m = *e.model;
  std::map<int32_t, size_t> primitiveOf;
  for (size_t k = 0; k < m.parts.size(); ++k) {
    const Part& part = m.parts[k];
    auto [it, added] = primitiveOf.emplace(part.material, e.primitives.size());
    if (added) {
      e.primitives.emplace_back();
      e.primitives.back().material = part.material;
      e.primitives.back().textured =
          part.material >= 0 && m.materials[size_t(part.material)].textureOf >= 0;
    }
    Primitive& p = e.primitives[it->second];
    const int32_t part32 = static_cast<int32_t>(k);
    if (part.type == kPatchTriangles) {
      uint64_t n = uint64_t(part.count) / 3 * 3;
      if (n) p.runs.push_back({p.corners, part32, -1}), p.corners += n;
      continue;
    }
    const size_t before = p.explicitCorners.size();
    if (part.type == kPatchTriangleStrip || part.type == kPatchTriangleFan) {
      for (int32_t i = 2; i < part.count; ++i) {
        uint32_t a = uint32_t(part.first + i - 2), b = uint32_t(part.first + i - 1), c = uint32_t(part.first + i);
        if (part.type == kPatchTriangleFan) a = uint32_t(part.first);
        if (part.type == kPatchTriangleStrip && i % 2) std::swap(a, b);
        p.explicitCorners.insert(p.explicitCorners.end(), {a, c, b});
      }
    } else if (part.type == kPatchOuterRing || part.type == kPatchFirstRing ||
               k == 0 || (m.parts[k - 1].type == kPatchTriangles)) {
      // An outline with the holes that follow it.
      std::vector<std::pair<int32_t, int32_t>> rings{{part.first, part.count}};
      for (size_t h = k + 1; h < m.parts.size() && m.parts[h].material == part.material &&
                             (m.parts[h].type == kPatchInnerRing || m.parts[h].type == kPatchRing);
           ++h)
        rings.emplace_back(m.parts[h].first, m.parts[h].count);
      Triangulate(m.positions.data(), rings, p.explicitCorners);
      for (size_t t = before; t + 2 < p.explicitCorners.size(); t += 3)
        std::swap(p.explicitCorners[t + 1], p.explicitCorners[t + 2]);
    }
    uint64_t n = p.explicitCorners.size() - before;
    if (n) p.runs.push_back({p.corners, part32, int64_t(before)}), p.corners += n;
  }
  std::erase_if(e.primitives, [](const Primitive& p) { return p.corners == 0; });
}

// Corners with equal vertices share one. The table holds vertex + 1 by hash, at most half full.
void Scene::State::Dedupe(const Entry& e, Primitive& p) {
  size_t capacity = 1024;
  std::vector<uint32_t> table(capacity, 0);
  p.indices.resize(p.corners);
  std::fill(p.min, p.min + 3, INFINITY);
  std::fill(p.max, p.max + 3, -INFINITY);
  for (const Run& r : p.runs) p.features.insert(e.featureOfPart[size_t(r.part)]);
  // Corners go in batches whose table slots, then vertices, are fetched ahead: each is a cache
  // miss, and they are most of the time a large model takes.
  constexpr size_t kBatch = 32;
  Vertex batch[kBatch];
  uint32_t hashes[kBatch];
  for (size_t ri = 0; ri < p.runs.size(); ++ri) {
    const Run& r = p.runs[ri];
    uint64_t end = ri + 1 < p.runs.size() ? p.runs[ri + 1].firstCorner : p.corners;
    for (uint64_t c = r.firstCorner; c < end; ++c) {
      const size_t b = (c - r.firstCorner) % kBatch;
      if (b == 0) {
        const size_t n = std::min<uint64_t>(kBatch, end - c);
        for (size_t k = 0; k < n; ++k) {
          batch[k] = Make(e, p, r, c + k);
          hashes[k] = Hash(batch[k]);
          __builtin_prefetch(&table[hashes[k] & (capacity - 1)]);
        }
        for (size_t k = 0; k < n; ++k)
          if (uint32_t known = table[hashes[k] & (capacity - 1)]) __builtin_prefetch(&p.vertices[known - 1]);
      }
      const Vertex& v = batch[b];
      size_t slot = hashes[b] & (capacity - 1);
      while (table[slot] && std::memcmp(&p.vertices[table[slot] - 1], &v, sizeof v) != 0)
        slot = (slot + 1) & (capacity - 1);
      if (table[slot]) {
        p.indices[c] = table[slot] - 1;
        continue;
      }
      p.indices[c] = static_cast<uint32_t>(p.vertices.size());
      table[slot] = p.indices[c] + 1;
      p.vertices.push_back(v);
      for (int k = 0; k < 3; ++k)
        p.min[k] = std::min(p.min[k], v.position[k]), p.max[k] = std::max(p.max[k], v.position[k]);
      if (2 * p.vertices.size() > capacity) {
        capacity *= 2;
        table.assign(capacity, 0);
        for (uint32_t i = 0; i < p.vertices.size(); ++i) {
          size_t at = Hash(p.vertices[i]) & (capacity - 1);
          while (table[at]) at = (at + 1) & (capacity - 1);
          table[at] = i + 1;
        }
      }
    }
  }
  triangles += int64_t(p.corners / 3);
}

// One row of the property table per feature; each part gets its row.
void Scene::State::Features() {
  for (size_t index = 0; index < entries.size(); ++index) {
    Entry& e = entries[index];
    const Model& m = *e.model;
    e.featureOfPart.resize(m.parts.size());
    std::map<std::pair<int32_t, int32_t>, uint32_t> known;  // (node visit, material) -> row
    size_t span = 0;
    for (size_t k = 0; k < m.parts.size(); ++k) {
      while (span < m.nodes.size() && m.nodes[span].firstPart <= int32_t(k)) ++span;
      const NodeSpan* node = span > 0 ? &m.nodes[span - 1] : nullptr;
      int32_t visit = node ? node->instance : 0;
      std::pair<int32_t, int32_t> key{0, -1};
      if (options.split == gis::Split::kNode) key = {visit, -1};
      if (options.split == gis::Split::kMaterial) key = {0, m.parts[k].material};
      if (options.split == gis::Split::kPart) key = {int32_t(k), m.parts[k].material};
      auto [it, added] = known.emplace(key, uint32_t(rows.size()));
      if (added) {
        bool named = options.split == gis::Split::kNode || options.split == gis::Split::kPart;
        rows.push_back({e.name, e.source, named && node ? node->name : "", e.description, key.second});
      }
      e.featureOfPart[k] = it->second;
    }
  }
  floatFeatures = rows.size() > 65535;
}

void Scene::State::Materials() {
  std::map<std::string, int> imageOf;  // image bytes -> image
  std::map<const unsigned char*, int> imageOfPixels;  // models sharing pixels share the image
  std::map<std::string, int> same;  // a tile's models share their materials where they are equal
  auto& out = gltf.materials;
  for (Entry& e : entries) {
    const Model& m = *e.model;
    std::map<int32_t, int> textureOf;  // pixels record -> texture
    for (Primitive& p : e.primitives) {
      tinygltf::Material material;
      auto& pbr = material.pbrMetallicRoughness;
      pbr.metallicFactor = 0;
      pbr.roughnessFactor = 1;
      material.doubleSided = true;
      pbr.baseColorFactor = {0.8, 0.8, 0.8, 1};
      Surface look;
      if (p.material >= 0) {
        const Material& record = m.materials[size_t(p.material)];
        material.name = e.name + " material " + std::to_string(p.material);
        material.doubleSided = !record.cull;
        for (int c = 0; c < 3; ++c)
          pbr.baseColorFactor[size_t(c)] = record.textureOf >= 0 ? 1.0 : Linear(record.color[c]);
        pbr.baseColorFactor[3] = 1 - record.transparency / 100.0;
        std::copy(record.color, record.color + 3, look.color);
        look.transparency = record.transparency, look.cull = record.cull;
        bool blend = record.transparency > 0;
        if (record.textureOf >= 0) {
          const Material& pixels = m.materials[size_t(record.textureOf)];
          blend = blend || HasTranslucentPixels(pixels);
          MeanColor(pixels, look.color);
          auto known = textureOf.find(record.textureOf);
          if (known == textureOf.end()) {
            auto shared = imageOfPixels.find(pixels.pixels);
            if (shared == imageOfPixels.end()) {
              // The file's own bytes when it is a PNG or JPEG read at its own size.
              auto file = m.files.find(record.textureOf);
              Image made = file == m.files.end() ? Image{EncodePng(pixels), "image/png", "png"}
                           : Image{std::move(file->second.first), file->second.second,
                                   file->second.second == std::string("image/png") ? "png" : "jpg"};
              auto [image, added] = imageOf.emplace(made.bytes, int(images.size()));
              if (added) images.push_back(std::move(made));
              shared = imageOfPixels.emplace(pixels.pixels, image->second).first;
            }
            known = textureOf.emplace(record.textureOf, shared->second).first;
          }
          pbr.baseColorTexture.index = known->second;
        }
        material.alphaMode = blend ? "BLEND" : "OPAQUE";
      }
      if (options.unlit) material.extensions["KHR_materials_unlit"] = tinygltf::Value(tinygltf::Value::Object());
      if (options.tile) {
        // The fields' bytes: formatting them took a twentieth of a city's time.
        std::string key(reinterpret_cast<const char*>(pbr.baseColorFactor.data()),
                        pbr.baseColorFactor.size() * sizeof(double));
        const int32_t texture = pbr.baseColorTexture.index, sides = material.doubleSided;
        key.append(reinterpret_cast<const char*>(&texture), sizeof texture);
        key.append(reinterpret_cast<const char*>(&sides), sizeof sides);
        key += material.alphaMode;
        auto [known, added] = same.emplace(std::move(key), int(out.size()));
        p.gltfMaterial = known->second;
        if (!added) continue;
        material.name.clear();
      }
      p.gltfMaterial = int(out.size());
      out.push_back(std::move(material));
      looks.push_back(std::move(look));
    }
  }
  gltf.samplers.emplace_back();
  gltf.samplers[0].magFilter = TINYGLTF_TEXTURE_FILTER_LINEAR;
  gltf.samplers[0].minFilter = TINYGLTF_TEXTURE_FILTER_LINEAR_MIPMAP_LINEAR;
  for (size_t i = 0; i < images.size(); ++i) {
    tinygltf::Texture texture;
    texture.source = int(i);
    texture.sampler = 0;
    gltf.textures.push_back(texture);
  }
}

uint64_t Scene::State::AddBytes(uint64_t length, std::string bytes) {
  View view;
  bin = (bin + 3) / 4 * 4;
  view.offset = bin, view.length = length, view.bytes = std::move(bytes);
  bin += length;
  views.push_back(std::move(view));
  return views.back().offset;
}

int Scene::State::AddView(uint64_t length, int stride, int target, std::string bytes) {
  tinygltf::BufferView view;
  view.buffer = 0, view.byteLength = length, view.byteStride = stride, view.target = target;
  view.byteOffset = AddBytes(length, std::move(bytes));
  gltf.bufferViews.push_back(view);
  return int(gltf.bufferViews.size() - 1);
}

// A view of the fallback buffer (1), whose bytes are `encoded` in the binary buffer.
int Scene::State::AddMeshoptView(const std::string& encoded, uint64_t plain, uint64_t count,
                                 int stride, int target, const char* mode) {
  using tinygltf::Value;
  tinygltf::BufferView view;
  fallback = (fallback + 3) / 4 * 4;
  view.buffer = 1, view.byteOffset = fallback, view.byteLength = plain;
  view.byteStride = target == TINYGLTF_TARGET_ARRAY_BUFFER ? stride : 0, view.target = target;
  fallback += plain;
  const uint64_t at = AddBytes(encoded.size(), encoded);
  view.extensions["EXT_meshopt_compression"] = Value(Value::Object{
      {"buffer", Value(0)}, {"byteOffset", Value(double(at))},
      {"byteLength", Value(double(encoded.size()))}, {"byteStride", Value(stride)},
      {"count", Value(double(count))}, {"mode", Value(std::string(mode))}});
  gltf.bufferViews.push_back(view);
  return int(gltf.bufferViews.size() - 1);
}

// The primitive's vertices and indices through meshoptimizer's codecs or Draco; its accessors
// are in place already, their views set here.
void Scene::State::Compress(Primitive& p, tinygltf::Primitive& primitive, int width) {
  using tinygltf::Value;
  const std::vector<Vertex>& vertices = p.vertices;
  auto& accessors = gltf.accessors;
  if (options.meshopt) {
    Layout layout{p.textured};
    uint64_t plain = 0;
    std::string encoded = MeshoptVertices(vertices, layout, plain);
    int view = AddMeshoptView(encoded, plain, vertices.size(), layout.stride(),
                              TINYGLTF_TARGET_ARRAY_BUFFER, "ATTRIBUTES");
    for (const auto& [name, index] : primitive.attributes) {
      tinygltf::Accessor& a = accessors[size_t(index)];
      a.bufferView = view;
      if (name == "NORMAL") a.componentType = TINYGLTF_COMPONENT_TYPE_BYTE, a.normalized = true;
      if (name == "TEXCOORD_0") a.byteOffset = size_t(layout.uv());
      if (name == "_FEATURE_ID_0") a.byteOffset = size_t(layout.feature());
    }
    std::vector<uint32_t>& indices = p.indices;
    std::string codes = MeshoptIndices(indices, vertices.size());
    accessors[size_t(primitive.indices)].bufferView =
        AddMeshoptView(codes, indices.size() * size_t(width), indices.size(), width,
                       TINYGLTF_TARGET_ELEMENT_ARRAY_BUFFER, "TRIANGLES");
    return;
  }
  int ids[4];
  std::string encoded = DracoMesh(vertices, p.indices, p.textured, floatFeatures, ids);
  Value::Object attributes{{"POSITION", Value(ids[0])}, {"NORMAL", Value(ids[1])},
                           {"_FEATURE_ID_0", Value(ids[3])}};
  if (p.textured) attributes["TEXCOORD_0"] = Value(ids[2]);
  for (const auto& [name, index] : primitive.attributes) accessors[size_t(index)].byteOffset = 0;
  primitive.extensions["KHR_draco_mesh_compression"] = Value(Value::Object{
      {"bufferView", Value(AddData(std::move(encoded)))},
      {"attributes", Value(attributes)}});
}

// A tile's models as one mesh, so that a client draws a tile, not each model: every primitive's
// vertices taken into the tile's frame (about its centre) and joined with the others of its
// material; the feature ids tell the models apart. The tile's positions stay floats about its
// centre, as 3D Tiles content has them.
void Scene::State::Merge() {
  const double* c = options.tileCentre;
  const Matrix toTile = Translation(-c[0], -c[1], -c[2]) * RigidInverse(EnuToEcef(options.tileFrame));
  std::map<int, Primitive> merged;  // by glTF material
  for (Entry& e : entries) {
    const Matrix place = e.frame.located ? toTile * EnuToEcef(e.frame) * Turn(e.frame) : Identity();
    const Matrix m = YUp(place * Translation(e.centre[0], e.centre[1], e.centre[2]));
    // Normals turn by the cofactors of the linear part: its inverse transpose, up to a scale.
    auto at = [&m](int r, int k) { return m[size_t(k) * 4 + size_t(r)]; };
    double n[3][3];
    for (int r = 0; r < 3; ++r)
      for (int k = 0; k < 3; ++k)
        n[r][k] = at((r + 1) % 3, (k + 1) % 3) * at((r + 2) % 3, (k + 2) % 3) -
                  at((r + 1) % 3, (k + 2) % 3) * at((r + 2) % 3, (k + 1) % 3);
    for (Primitive& p : e.primitives) {
      Primitive& into = merged[p.gltfMaterial];
      if (into.vertices.empty()) {
        into.material = p.material, into.gltfMaterial = p.gltfMaterial, into.textured = p.textured;
        std::fill(into.min, into.min + 3, INFINITY);
        std::fill(into.max, into.max + 3, -INFINITY);
      }
      const uint32_t base = static_cast<uint32_t>(into.vertices.size());
      for (Vertex v : p.vertices) {
        const double q[3] = {v.position[0], v.position[1], v.position[2]};
        const std::array<double, 3> t = Apply(m, q);
        double normal[3], length = 0;
        for (int r = 0; r < 3; ++r) {
          normal[r] = n[r][0] * v.normal[0] + n[r][1] * v.normal[1] + n[r][2] * v.normal[2];
          length += normal[r] * normal[r];
        }
        length = std::sqrt(length);
        for (int k = 0; k < 3; ++k) {
          v.position[k] = static_cast<float>(t[size_t(k)]);
          if (length > 0 && std::isfinite(length)) v.normal[k] = static_cast<float>(normal[k] / length);
          into.min[k] = std::min(into.min[k], v.position[k]);
          into.max[k] = std::max(into.max[k], v.position[k]);
        }
        into.vertices.push_back(v);
      }
      for (uint32_t i : p.indices) into.indices.push_back(base + i);
      into.corners += p.corners;
      into.features.insert(p.features.begin(), p.features.end());
    }
    e.primitives = {};
  }
  for (auto& [material, p] : merged) entries[0].primitives.push_back(std::move(p));
}

// The entry's mesh: its primitives' views, accessors and attributes.
void Scene::State::Lay(int index) {
  Entry& e = entries[size_t(index)];
  tinygltf::Mesh mesh;
  mesh.name = e.name;
  for (Primitive& p : e.primitives) {
    const uint64_t vertices = p.vertices.size();
    const int stride = p.textured ? 36 : 28;
    auto accessor = [&](int view, size_t offset, int component, int type, uint64_t count) {
      tinygltf::Accessor a;
      a.bufferView = view, a.byteOffset = offset, a.componentType = component, a.type = type;
      a.count = count;
      gltf.accessors.push_back(a);
      return int(gltf.accessors.size() - 1);
    };
    tinygltf::Primitive primitive;
    primitive.mode = TINYGLTF_MODE_TRIANGLES;
    primitive.material = p.gltfMaterial;
    const bool compressed = options.meshopt || options.draco;
    if (!compressed) {
      p.vertexView = AddView(vertices * uint64_t(stride), stride, TINYGLTF_TARGET_ARRAY_BUFFER);
      views.back().write = [&p, stride](uint64_t& u, std::string& out) {
        for (; u < p.vertices.size() && out.size() < (1 << 20); ++u) {
          const char* bytes = reinterpret_cast<const char*>(&p.vertices[u]);
          out.append(bytes, 24);
          if (stride == 36) out.append(bytes + 24, 8);
          out.append(bytes + 32, 4);
        }
      };
    }
    int position = accessor(p.vertexView, 0, TINYGLTF_COMPONENT_TYPE_FLOAT, TINYGLTF_TYPE_VEC3, vertices);
    gltf.accessors.back().minValues = {p.min[0], p.min[1], p.min[2]};
    gltf.accessors.back().maxValues = {p.max[0], p.max[1], p.max[2]};
    primitive.attributes["POSITION"] = position;
    primitive.attributes["NORMAL"] =
        accessor(p.vertexView, 12, TINYGLTF_COMPONENT_TYPE_FLOAT, TINYGLTF_TYPE_VEC3, vertices);
    if (p.textured)
      primitive.attributes["TEXCOORD_0"] =
          accessor(p.vertexView, 24, TINYGLTF_COMPONENT_TYPE_FLOAT, TINYGLTF_TYPE_VEC2, vertices);
    primitive.attributes["_FEATURE_ID_0"] =
        accessor(p.vertexView, size_t(stride - 4),
                 floatFeatures ? TINYGLTF_COMPONENT_TYPE_FLOAT : TINYGLTF_COMPONENT_TYPE_UNSIGNED_SHORT,
                 TINYGLTF_TYPE_SCALAR, vertices);
    // The smallest index type; the largest value of each is primitive restart, which glTF forbids.
    int width = vertices < 255 ? 1 : vertices < 65535 ? 2 : 4;
    if (options.meshopt) width = std::max(width, 2);  // its index codec takes no bytes
    int component = width == 1 ? TINYGLTF_COMPONENT_TYPE_UNSIGNED_BYTE
                    : width == 2 ? TINYGLTF_COMPONENT_TYPE_UNSIGNED_SHORT
                                 : TINYGLTF_COMPONENT_TYPE_UNSIGNED_INT;
    if (!compressed) {
      p.indexView = AddView(p.corners * uint64_t(width), 0, TINYGLTF_TARGET_ELEMENT_ARRAY_BUFFER);
      views.back().write = [&p, width](uint64_t& done, std::string& out) {
        for (; done < p.indices.size() && out.size() < (1 << 20); ++done) {
          uint32_t i = p.indices[done];
          uint16_t s = static_cast<uint16_t>(i);
          uint8_t b = static_cast<uint8_t>(i);
          out.append(width == 1 ? reinterpret_cast<const char*>(&b)
                     : width == 2 ? reinterpret_cast<const char*>(&s)
                                  : reinterpret_cast<const char*>(&i), size_t(width));
        }
      };
    }
    primitive.indices = accessor(p.indexView, 0, component, TINYGLTF_TYPE_SCALAR, p.corners);
    if (compressed) Compress(p, primitive, width);
    tinygltf::Value::Object ids{{"featureCount", tinygltf::Value(int(p.features.size()))},
                                {"attribute", tinygltf::Value(0)},
                                {"propertyTable", tinygltf::Value(0)}};
    tinygltf::Value::Object features{
        {"featureIds", tinygltf::Value(tinygltf::Value::Array{tinygltf::Value(ids)})}};
    primitive.extensions["EXT_mesh_features"] = tinygltf::Value(features);
    mesh.primitives.push_back(std::move(primitive));
  }
  gltf.meshes.push_back(std::move(mesh));
}

// The property table: a feature's name, source, node and material. The schema goes in as the
// JSON is written (Scene::Json), from FeatureSchema alone.
void Scene::State::Metadata() {
  using tinygltf::Value;
  Value::Object properties;
  auto strings = [&](const char* name, std::string Row::*field) {
    std::string values, offsets;
    uint32_t at = 0;
    offsets.append(reinterpret_cast<const char*>(&at), 4);
    for (const Row& row : rows) {
      values += row.*field;
      at = static_cast<uint32_t>(values.size());
      offsets.append(reinterpret_cast<const char*>(&at), 4);
    }
    if (values.empty()) return;  // a buffer view may not be empty: the property is left out
    int valueView = AddData(std::move(values));
    int offsetView = AddData(std::move(offsets));
    properties[name] = Value(Value::Object{{"values", Value(valueView)},
                                           {"stringOffsets", Value(offsetView)},
                                           {"stringOffsetType", Value(std::string("UINT32"))}});
  };
  strings("name", &Row::name);
  strings("source", &Row::source);
  strings("node", &Row::node);
  strings("description", &Row::description);
  std::string materials;
  for (const Row& row : rows) materials.append(reinterpret_cast<const char*>(&row.material), 4);
  int materialView = AddData(std::move(materials));
  properties["material"] = Value(Value::Object{{"values", Value(materialView)}});
  Value::Object table{{"class", Value(std::string("feature"))},
                      {"count", Value(int(rows.size()))},
                      {"properties", Value(properties)}};
  gltf.extensions["EXT_structural_metadata"] =
      Value(Value::Object{{"propertyTables", Value(Value::Array{Value(table)})}});
}

void Scene::State::Nodes() {
  using tinygltf::Value;
  auto matrix = [](const Matrix& m) { return std::vector<double>(m.begin(), m.end()); };
  const Frame& first = options.tile ? options.tileFrame : entries[0].frame;
  const Matrix sceneFrame = first.located ? EnuToEcef(first) : Identity();
  tinygltf::Scene scene;
  // A tile is one node at its centre, its models merged into its mesh (Merge).
  const double* centre = options.tile ? options.tileCentre : nullptr;
  if (centre) {
    tinygltf::Node tile;
    tile.name = "tile";
    tile.mesh = 0;
    tile.translation = {centre[0], centre[2], -centre[1]};
    gltf.nodes.push_back(tile);
  }
  if (options.ecef) {
    tinygltf::Node earth;
    earth.name = "earth-centred";
    earth.matrix = matrix(YUp(sceneFrame));
    gltf.nodes.push_back(earth);
  }
  for (size_t i = 0; i < entries.size() && !centre; ++i) {
    const Entry& e = entries[i];
    Matrix local = e.frame.located ? Turn(e.frame) : Identity();
    if (i > 0 && e.frame.located && first.located)
      local = RigidInverse(sceneFrame) * EnuToEcef(e.frame) * Turn(e.frame);
    tinygltf::Node model, mesh;
    model.name = e.name;
    model.extras = Value(Value::Object{{"source", Value(e.source)}});
    if (!IsIdentity(local)) model.matrix = matrix(YUp(local));
    model.children = {int(gltf.nodes.size() + 1)};
    mesh.mesh = int(i);
    mesh.translation = {e.centre[0], e.centre[2], -e.centre[1]};
    if (options.ecef) gltf.nodes[0].children.push_back(int(gltf.nodes.size()));
    else scene.nodes.push_back(int(gltf.nodes.size()));
    gltf.nodes.push_back(std::move(model));
    gltf.nodes.push_back(std::move(mesh));
  }
  if (options.ecef || centre) scene.nodes = {0};
  gltf.scenes.push_back(std::move(scene));
  gltf.defaultScene = 0;

  Value::Object where;
  if (first.located) {
    where = {{"longitude", Value(first.longitude)}, {"latitude", Value(first.latitude)},
             {"ellipsoidalHeight", Value(first.height)}, {"heading", Value(first.heading)},
             {"tilt", Value(first.tilt)}, {"roll", Value(first.roll)},
             {"crs", Value(std::string("EPSG:4979"))}};
  } else if (!first.crs.empty()) {
    Value::Array offset;
    for (double v : first.offset) offset.push_back(Value(v));
    where = {{"crs", Value(first.crs)}, {"offset", Value(offset)}};
  }
  if (!where.empty() && !centre) gltf.asset.extras = Value(where);
}

std::string FeatureSchema() {
  const nlohmann::json text = {{"type", "STRING"}};
  nlohmann::json properties = {{"name", text}, {"source", text}, {"node", text}, {"description", text},
                               {"material", {{"type", "SCALAR"}, {"componentType", "INT32"}}}};
  return nlohmann::json{{"id", "varnel"}, {"classes", {{"feature", {{"properties", properties}}}}}}.dump();
}

Scene::Scene(SceneOptions options) : state_(std::make_unique<State>()) {
  state_->options = options;
}

Scene::~Scene() = default;

void Scene::Add(std::unique_ptr<Model> model, std::string name, std::string source,
                const Frame& frame, std::string description) {
  Entry e;
  e.model = std::move(model);
  e.name = std::move(name), e.source = std::move(source), e.frame = frame;
  e.description = std::move(description);
  state_->entries.push_back(std::move(e));
}

bool Scene::Build() {
  State& s = *state_;
  if (s.entries.empty()) return why = "no model to write", false;
  s.Features();
  if (s.rows.size() > kMaxFeatures) return why = "more features than a glTF's feature ids can tell apart (2^24)", false;
  for (Entry& e : s.entries) {
    for (int k = 0; k < 3; ++k) {
      e.centre[k] = (e.model->min[k] + e.model->max[k]) / 2;
      e.shift[k] = e.model->origin[k] - e.centre[k];
    }
    s.Collect(e);
    for (Primitive& p : e.primitives) s.Dedupe(e, p);
    // The vertices are made: the model's points are no longer needed.
    e.model->positions = {}, e.model->normals = {}, e.model->texture = {};
  }
  if (s.triangles == 0) return why = "the model has no triangles and no polygons", false;
  s.Materials();
  if (s.options.tile) {
    s.Merge();
    s.Lay(0);
  } else {
    for (size_t i = 0; i < s.entries.size(); ++i) s.Lay(int(i));
  }
  if (s.options.embedImages)
    for (size_t i = 0; i < s.images.size(); ++i) {
      tinygltf::Image image;
      image.mimeType = s.images[i].mimeType;
      image.bufferView = s.AddData(s.images[i].bytes);
      s.gltf.images.push_back(image);
    }
  else
    s.gltf.images.resize(s.images.size());
  s.Metadata();
  s.Nodes();
  s.gltf.extensionsUsed = {"EXT_mesh_features", "EXT_structural_metadata"};
  if (s.options.unlit) s.gltf.extensionsUsed.push_back("KHR_materials_unlit");
  if (s.options.meshopt)
    s.gltf.extensionsRequired = {"EXT_meshopt_compression", "KHR_mesh_quantization"};
  if (s.options.draco) s.gltf.extensionsRequired = {"KHR_draco_mesh_compression"};
  for (const std::string& e : s.gltf.extensionsRequired) s.gltf.extensionsUsed.push_back(e);
  s.gltf.asset.version = "2.0";
  s.gltf.asset.generator = "varnel";
  if (s.bin > kMaxGltfBytes) return why = "the model is too large for a glTF (4 GiB)", false;
  return true;
}

std::string Scene::Json(const std::string& binName, const std::vector<std::string>& imageNames) const {
  tinygltf::Model model = state_->gltf;
  for (size_t i = 0; i < model.images.size() && i < imageNames.size(); ++i)
    model.images[i].uri = imageNames[i];
  tinygltf::TinyGLTF writer;
  writer.SetImageWriter(nullptr, nullptr);
  std::ostringstream text;
  writer.WriteGltfSceneToStream(&model, text, false, false);
  // tinygltf sizes a buffer by the bytes it holds; this one is streamed, never held.
  nlohmann::json json = nlohmann::json::parse(text.str());
  nlohmann::json buffer = {{"byteLength", state_->bin}};
  if (!binName.empty()) buffer["uri"] = binName;
  json["buffers"] = nlohmann::json::array({buffer});
  nlohmann::json& metadata = json["extensions"]["EXT_structural_metadata"];
  if (state_->options.schemaUri.empty()) metadata["schema"] = nlohmann::json::parse(FeatureSchema());
  else metadata["schemaUri"] = state_->options.schemaUri;
  if (state_->fallback)
    json["buffers"].push_back({{"byteLength", state_->fallback},
                               {"extensions", {{"EXT_meshopt_compression", {{"fallback", true}}}}}});
  return json.dump();
}

void Scene::Export(std::vector<Surface>& surfaces, std::vector<Feature>& features) const {
  const State& s = *state_;
  const double* c = s.options.tileCentre;
  for (const Row& row : s.rows) features.push_back({row.name, row.source, row.description});
  if (s.entries.empty()) return;
  for (const Primitive& p : s.entries[0].primitives) {
    Surface out = s.looks[size_t(p.gltfMaterial)];
    out.points.reserve(p.vertices.size() * 3);
    out.features.reserve(p.vertices.size());
    for (const Vertex& v : p.vertices) {
      // The tile's Y-up floats about its centre, back to Z-up about the frame's origin.
      out.points.insert(out.points.end(), {v.position[0] + c[0], -double(v.position[2]) + c[1],
                                           v.position[1] + c[2]});
      uint32_t feature = v.feature;
      if (s.floatFeatures) {
        float f;
        std::memcpy(&f, &v.feature, sizeof f);
        feature = static_cast<uint32_t>(f);
      }
      out.features.push_back(feature);
    }
    out.indices = p.indices;
    surfaces.push_back(std::move(out));
  }
}

uint64_t Scene::binBytes() const { return state_->bin; }
const std::vector<Image>& Scene::images() const { return state_->images; }
int64_t Scene::triangles() const { return state_->triangles; }

bool Scene::WriteBin(const std::function<bool(const void*, size_t)>& out) const {
  static const char kZeros[4] = {0, 0, 0, 0};
  uint64_t at = 0;
  std::string chunk;
  for (const View& view : state_->views) {
    if (view.offset > at && !out(kZeros, size_t(view.offset - at))) return false;
    if (view.write) {
      uint64_t item = 0, written = 0;
      while (written < view.length) {
        chunk.clear();
        view.write(item, chunk);
        if (chunk.empty() || !out(chunk.data(), chunk.size())) return false;
        written += chunk.size();
      }
    } else if (!out(view.bytes.data(), view.bytes.size())) {
      return false;
    }
    at = view.offset + view.length;
  }
  return true;
}

bool Scene::WriteGlb(const std::function<bool(const void*, size_t)>& out) const {
  std::string json = Json();
  json.append((4 - json.size() % 4) % 4, ' ');
  const uint64_t bin = (binBytes() + 3) / 4 * 4;
  const uint32_t header[5] = {0x46546C67, 2, uint32_t(12 + 8 + json.size() + 8 + bin),
                              uint32_t(json.size()), 0x4E4F534A};
  const uint32_t binHeader[2] = {uint32_t(bin), 0x004E4942};
  static const char kZeros[4] = {0, 0, 0, 0};
  return out(header, sizeof header) && out(json.data(), json.size()) &&
         out(binHeader, sizeof binHeader) && WriteBin(out) &&
         out(kZeros, size_t(bin - binBytes()));
}

}  // namespace varnel::gltf
