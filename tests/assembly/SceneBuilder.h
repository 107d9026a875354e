// Small hand-built documents for the assembly tests and a manager that records what it gets.
#pragma once

#include <array>
#include <initializer_list>
#include <type_traits>
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
  int type = 0;
  int format = -1;
  bool hasNormals = false;
  bool hasTextures = false;
  std::vector<Vec3> points;
  std::vector<Vec3> normals;
  std::vector<std::array<double, 2>> texturePoints;
};

class RecordingManager : public CreationManager {
 public:
  bool StartCreation() override {
    CreationManager::StartCreation();
    ++creations;
    return acceptCreation;
  }
  void StartPart(int type) override {
    parts.emplace_back();
    parts.back().type = type;
  }
  void SetPartFormat(int n, bool normals, bool textures) override {
    parts.back().format = n;
    parts.back().hasNormals = normals;
    parts.back().hasTextures = textures;
  }
  void StartPoint() override { ++pointsStarted; }
  void SetPoint(const double* p) override {
    (inLine ? lines.back() : parts.back().points).push_back({p[0], p[1], p[2]});
  }
  void SetNormal(const double* n) override { parts.back().normals.push_back({n[0], n[1], n[2]}); }
  void SetTexturePoint(const double* t) override { parts.back().texturePoints.push_back({t[0], t[1]}); }
  void EndPoint() override { ++pointsEnded; }
  void EndPart() override { ++partsEnded; }
  void StartLine(int n, bool strip) override {
    inLine = true;
    lines.emplace_back();
    lineSizes.push_back(n);
    stripLines += strip;
  }
  void EndLine() override { inLine = false; }

  bool acceptCreation = true;
  int creations = 0, pointsStarted = 0, pointsEnded = 0, partsEnded = 0, stripLines = 0;
  bool inLine = false;
  std::vector<RecordedPart> parts;
  std::vector<std::vector<Vec3>> lines;
  std::vector<int> lineSizes;
};

// A document built from element objects. Library tables own their entries; the collector views
// them when the scene is run.
class SceneBuilder {
 public:
  SceneBuilder() = default;
  ~SceneBuilder() {
    for (BaseArray<Tag*>* table : {&images, &effects, &materials, &geometries, &libraryNodes})
      for (Tag* tag : *table) delete tag;
  }

  // Geometry `id` whose vertices element "<id>-v" takes positions from source "<id>-pos".
  MeshTag* AddGeometry(const wchar_t* id, std::initializer_list<float> positions) {
    auto* geometry = new GeometryTag(kGeometry);
    geometry->id = id;
    geometry->mesh = new MeshTag(kMesh);
    geometries.Add(geometry);
    MeshTag* mesh = geometry->mesh;
    String base(id);
    AddSource(mesh, (base + L"-pos").c_str(), positions, 3);
    mesh->vertices = new VerticesTag(kVertices);
    mesh->vertices->id = base + L"-v";
    mesh->vertices->inputs.Add(Input(L"POSITION", (base + L"-pos").c_str(), 0));
    return mesh;
  }

  static SourceTag* AddSource(MeshTag* mesh, const wchar_t* id, std::initializer_list<float> values,
                              int stride) {
    auto* source = new SourceTag(kSource);
    source->id = id;
    source->floatArray = new FloatArray(kFloatArray);
    for (float v : values) source->floatArray->values.Add(v);
    source->floatArray->count = static_cast<int32_t>(values.size());
    source->techniqueCommon = new TechniqueCommon(kTechniqueCommon);
    source->techniqueCommon->accessor = new AccessorTag(kAccessor);
    source->techniqueCommon->accessor->stride = stride;
    source->techniqueCommon->accessor->count = static_cast<int32_t>(values.size()) / stride;
    mesh->sources.Add(source);
    return source;
  }

  static InputTag* Input(const wchar_t* semantic, const wchar_t* source, int offset) {
    auto* input = new InputTag(kInput);
    input->semantic = semantic;
    input->source = source;
    input->offset = offset;
    input->isNormal = input->semantic == L"NORMAL";
    input->isPosition = input->semantic == L"VERTEX" || input->semantic == L"POSITION";
    input->isTexcoord = input->semantic == L"TEXCOORD";
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

  // A node with content under `parent`, or at the scene's top when parent is null.
  NodeTag* AddNode(NodeTag* parent = nullptr) {
    auto* node = new NodeTag(kNode);
    node->hasContent = true;
    (parent ? parent->children : scene.nodes).Add(node);
    return node;
  }

  static InstanceGeometry* Instance(NodeTag* node, const wchar_t* url) {
    auto* instance = new InstanceGeometry(kInstanceGeometry);
    instance->url = url;
    node->instances.Add(instance);
    return instance;
  }

  template <class T>
  static T* AddTransform(NodeTag* node, int kind, double x, double y, double z) {
    auto* transform = new T(kind);
    double* target = nullptr;
    if constexpr (std::is_same_v<T, TranslateTag>) target = transform->translation;
    else target = transform->factors;
    target[0] = x, target[1] = y, target[2] = z;
    transform->isIdentity = false;
    node->allIdentity = false;
    node->transforms.Add(transform);
    return transform;
  }

  void AddMaterial(const wchar_t* id, const wchar_t* effectUrl) {
    auto* material = new MaterialTag(kMaterial);
    material->id = id;
    if (effectUrl) {
      material->instanceEffect = new InstanceEffect(kInstanceEffect);
      material->instanceEffect->url = effectUrl;
    }
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
    effect->profile->technique->shading = new PhongTag(kPhong);
    TextureTag*& texture = effect->profile->technique->shading->diffuse.texture;
    texture = new TextureTag(kTexture);
    texture->texture = textureImage;
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
    collector.libraryNodes.AttachTo(libraryNodes);
  }

  void Run(bool linesEnabled = false) {
    LendTables();
    collector.linesEnabled = linesEnabled;
    collector.manager = &manager;
    collector.Run(&scene);
  }

  BaseArray<Tag*> images, effects, materials, geometries, libraryNodes;
  VisualScene scene{kVisualScene};
  RecordingManager manager;
  SceneCollector collector;
};

}  // namespace assemblytest
