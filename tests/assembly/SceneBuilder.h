// Small hand-built documents for the assembly tests and a manager that records what it gets.
#pragma once

#include <array>
#include <initializer_list>
#include <vector>

#include "assembly/SceneCollector.h"
#include "output/CreationManager.h"
#include "tags/DataSources.h"
#include "tags/Effects.h"
#include "tags/Image.h"
#include "tags/MaterialBinding.h"
#include "tags/Mesh.h"
#include "tags/SceneGraph.h"
#include "tags/Transforms.h"
#include "xml/ElementNames.h"

namespace assemblytest {

using namespace varnel;
using Vec3 = std::array<double, 3>;

struct RecordedPart {
  int type = 0, format = -1;
  bool hasTextures = false;
  std::vector<Vec3> points, normals;
  std::vector<std::array<double, 2>> texturePoints;
};

class RecordingManager : public CreationManager {
 public:
  bool StartCreation() override {
    ++creations;
    return CreationManager::StartCreation() && acceptCreation;
  }
  void StartPart(int type) override {
    parts.emplace_back();
    parts.back().type = type;
  }
  void SetPartFormat(int n, bool, bool textures) override {
    parts.back().format = n;
    parts.back().hasTextures = textures;
  }
  void SetPoint(const double* p) override {
    (inLine ? lines.back() : parts.back().points).push_back({p[0], p[1], p[2]});
  }
  void SetNormal(const double* n) override { parts.back().normals.push_back({n[0], n[1], n[2]}); }
  void SetTexturePoint(const double* t) override { parts.back().texturePoints.push_back({t[0], t[1]}); }
  void StartLine(int n, bool) override { inLine = true, lines.emplace_back(), lineSizes.push_back(n); }
  void EndLine() override { inLine = false; }

  bool acceptCreation = true, inLine = false;
  int creations = 0;
  std::vector<RecordedPart> parts;
  std::vector<std::vector<Vec3>> lines;
  std::vector<int> lineSizes;
};

// A document built from element objects; the library tables own their entries.
class SceneBuilder {
 public:
  ~SceneBuilder() {
    for (BaseArray<Tag*>* table : {&images, &effects, &materials, &geometries})
      for (Tag* tag : *table) delete tag;
  }

  // Geometry `id` whose vertices element "<id>-v" takes positions from source "<id>-pos".
  MeshTag* AddGeometry(const wchar_t* id, std::initializer_list<float> positions) {
    auto* geometry = new GeometryTag(kGeometry);
    geometry->id = id;
    geometries.Add(geometry);
    MeshTag* mesh = geometry->mesh = new MeshTag(kMesh);
    AddSource(mesh, (String(id) + L"-pos").c_str(), positions, 3);
    mesh->vertices = new VerticesTag(kVertices);
    mesh->vertices->id = String(id) + L"-v";
    mesh->vertices->inputs.Add(Input(L"POSITION", (String(id) + L"-pos").c_str(), 0));
    return mesh;
  }

  static void AddSource(MeshTag* mesh, const wchar_t* id, std::initializer_list<float> values, int stride) {
    auto* source = new SourceTag(kSource);
    source->id = id;
    source->floatArray = new FloatArray(kFloatArray);
    for (float v : values) source->floatArray->values.Add(v);
    source->techniqueCommon = new TechniqueCommon(kTechniqueCommon);
    AccessorTag* accessor = source->techniqueCommon->accessor = new AccessorTag(kAccessor);
    accessor->stride = stride;
    accessor->count = static_cast<int32_t>(values.size()) / stride;
    mesh->sources.Add(source);
  }

  static InputTag* Input(const wchar_t* semantic, const wchar_t* source, int offset) {
    auto* input = new InputTag(kInput);
    input->source = source;
    input->offset = offset;
    input->isNormal = String(semantic) == L"NORMAL";
    input->isTexcoord = String(semantic) == L"TEXCOORD";
    input->isPosition = !input->isNormal && !input->isTexcoord;
    return input;
  }

  // A primitive whose VERTEX input (offset 0) names the mesh's vertices element.
  static PrimitiveTag* AddPrimitive(MeshTag* mesh, int kind, int count, std::initializer_list<int> p,
                                    const wchar_t* material = L"") {
    PrimitiveTag* primitive = kind == kPolylist ? static_cast<PrimitiveTag*>(new PolylistTag(kind))
                              : kind == kLines  ? static_cast<PrimitiveTag*>(new LinesTag(kind))
                                                : new TrianglesTag(kind);
    primitive->count = count;
    for (int i : p) primitive->indices.Add(i);
    primitive->material = material;
    primitive->inputs.Add(Input(L"VERTEX", mesh->vertices->id.c_str(), 0));
    mesh->primitives.Add(primitive);
    return primitive;
  }

  // A node under `parent` (the scene when null) holding instances of the geometries `urls`.
  NodeTag* AddNode(std::initializer_list<const wchar_t*> urls, NodeTag* parent = nullptr) {
    auto* node = new NodeTag(kNode);
    node->hasContent = true;
    (parent ? parent->children : scene.nodes).Add(node);
    for (const wchar_t* url : urls) {
      node->instances.Add(new InstanceGeometry(kInstanceGeometry));
      node->instances[node->instances.count - 1]->url = url;
    }
    return node;
  }

  // Appends a translate (kTranslate) or scale (kScale) to the node.
  static void AddTransform(NodeTag* node, int kind, double x, double y, double z) {
    TransformTag* transform = nullptr;
    if (kind == kTranslate) {
      auto* translate = new TranslateTag(kind);
      translate->translation[0] = x, translate->translation[1] = y, translate->translation[2] = z;
      transform = translate;
    } else {
      auto* scale = new ScaleTag(kind);
      scale->factors[0] = x, scale->factors[1] = y, scale->factors[2] = z;
      transform = scale;
    }
    transform->isIdentity = node->allIdentity = false;
    node->transforms.Add(transform);
  }

  void AddMaterial(const wchar_t* id, const wchar_t* effectUrl) {
    auto* material = new MaterialTag(kMaterial);
    material->id = id;
    if (effectUrl) (material->instanceEffect = new InstanceEffect(kInstanceEffect))->url = effectUrl;
    materials.Add(material);
  }

  // An effect whose diffuse colour is textured with the image id `textureImage` (none when null).
  EffectTag* AddEffect(const wchar_t* id, const wchar_t* textureImage = nullptr) {
    auto* effect = new EffectTag(kEffect);
    effect->id = id;
    effects.Add(effect);
    if (!textureImage) return effect;
    effect->profile = new ProfileCommon(kProfileCOMMON);
    effect->profile->technique = new TechniqueTag(kTechnique);
    PhongTag* shading = effect->profile->technique->shading = new PhongTag(kPhong);
    (shading->diffuse.texture = new TextureTag(kTexture))->texture = textureImage;
    return effect;
  }

  void AddImage(const wchar_t* id, const String& filePath) {
    auto* image = new ImageTag(kImage);
    image->id = id;
    image->filePath = filePath;
    images.Add(image);
  }

  void LendTables() {
    collector.images.AttachTo(images);
    collector.effects.AttachTo(effects);
    collector.materials.AttachTo(materials);
    collector.geometries.AttachTo(geometries);
  }

  void Run(bool linesEnabled = false) {
    LendTables();
    collector.linesEnabled = linesEnabled;
    collector.manager = &manager;
    collector.Run(&scene);
  }

  BaseArray<Tag*> images, effects, materials, geometries;
  VisualScene scene{kVisualScene};
  RecordingManager manager;
  SceneCollector collector;
};

}  // namespace assemblytest
