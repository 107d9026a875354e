// Both traversals over one transformed mesh of triangles with normals and texture coordinates,
// delivered to the manager of the data-buffer entry point: conversion, extent, the stores into
// every section and the whole buffer, as CreateDataBufferFromFile builds it.
#include <benchmark/benchmark.h>

#include "assembly/SceneCollector.h"
#include "output/GeometryManager.h"
#include "tags/DataSources.h"
#include "tags/Effects.h"
#include "tags/Image.h"
#include "tags/MaterialBinding.h"
#include "tags/Mesh.h"
#include "tags/SceneGraph.h"
#include "tags/Transforms.h"
#include "xml/ElementNames.h"

namespace {

using namespace varnel;

SourceTag* Source(const wchar_t* id, int elements, int stride) {
  auto* source = new SourceTag(kSource);
  source->id = id;
  source->floatArray = new FloatArray(kFloatArray);
  for (int i = 0; i < elements * stride; ++i)
    source->floatArray->values.Add(static_cast<float>((i * 7919) % 1000) / 100.0f);
  source->techniqueCommon = new TechniqueCommon(kTechniqueCommon);
  source->techniqueCommon->accessor = new AccessorTag(kAccessor);
  source->techniqueCommon->accessor->count = elements;
  source->techniqueCommon->accessor->stride = stride;
  return source;
}

InputTag* Input(bool position, bool normal, bool texcoord, const wchar_t* source, int offset) {
  auto* input = new InputTag(kInput);
  input->isPosition = position, input->isNormal = normal, input->isTexcoord = texcoord;
  input->source = source;
  input->offset = offset;
  return input;
}

void InstantiateTriangles(benchmark::State& state) {
  const int triangles = static_cast<int>(state.range(0));
  const int elements = triangles;  // one element per triangle's worth of vertices, reused
  auto* geometry = new GeometryTag(kGeometry);
  geometry->id = L"g";
  geometry->mesh = new MeshTag(kMesh);
  MeshTag* mesh = geometry->mesh;
  mesh->sources.Add(Source(L"pos", elements, 3));
  mesh->sources.Add(Source(L"nrm", elements, 3));
  mesh->sources.Add(Source(L"uv", elements, 2));
  auto* primitive = new TrianglesTag(kTriangles);
  primitive->count = triangles;
  primitive->inputs.Add(Input(true, false, false, L"pos", 0));
  primitive->inputs.Add(Input(false, true, false, L"nrm", 1));
  primitive->inputs.Add(Input(false, false, true, L"uv", 2));
  for (int v = 0; v < 3 * triangles; ++v)
    for (int k = 0; k < 3; ++k) primitive->indices.Add((v * 31 + k) % elements);
  mesh->primitives.Add(primitive);

  auto* effect = new EffectTag(kEffect);
  effect->id = L"fx";
  effect->profile = new ProfileCommon(kProfileCOMMON);
  effect->profile->technique = new TechniqueTag(kTechnique);
  effect->profile->technique->shading = new PhongTag(kPhong);
  effect->profile->technique->shading->diffuse.texture = new TextureTag(kTexture);
  effect->profile->image = new ImageTag(kImage);
  effect->profile->imageIsTexture = true;
  auto* material = new MaterialTag(kMaterial);
  material->instanceEffect = new InstanceEffect(kInstanceEffect);
  material->instanceEffect->url = L"fx";

  VisualScene scene(kVisualScene);
  auto* node = new NodeTag(kNode);
  node->hasContent = true;
  node->allIdentity = false;
  auto* scale = new ScaleTag(kScale);
  scale->factors[0] = 2;
  scale->isIdentity = false;
  node->transforms.Add(scale);
  auto* instance = new InstanceGeometry(kInstanceGeometry);
  instance->url = L"g";
  node->instances.Add(instance);
  scene.nodes.Add(node);

  BaseArray<Tag*> geometries, effects, materials;
  geometries.Add(geometry);
  effects.Add(effect);
  materials.Add(material);
  int64_t bytes = 0;
  for (auto _ : state) {
    MemoryBufferWriter buffer;
    GeometryManager manager(buffer);
    SceneCollector collector;
    collector.geometries.AttachTo(geometries);
    collector.effects.AttachTo(effects);
    collector.materials.AttachTo(materials);
    collector.manager = &manager;
    collector.Run(&scene);
    if (buffer.size <= 0) state.SkipWithError("no buffer produced");
    bytes += buffer.size;
  }
  benchmark::DoNotOptimize(bytes);
  state.SetItemsProcessed(state.iterations() * 3 * static_cast<int64_t>(triangles));
  delete geometry;
  delete effect;
  delete material;
}
BENCHMARK(InstantiateTriangles)->Arg(100000);

}  // namespace
