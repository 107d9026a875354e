#include "gis/ogr/Convert.h"

#include <set>

#include <varnel/Varnel.h>

namespace varnel::gis {

namespace {

// Collects the node spans the library reports while it builds the geometry.
struct NodeSpans : SceneObserver {
  std::vector<NodeSpan> spans;
  void NodeParts(int32_t firstPart, int32_t instance, const char* name) override {
    if (!spans.empty() && spans.back().firstPart == firstPart) spans.pop_back();
    spans.push_back({firstPart, instance, name});
  }
};

struct GeometryHandle {
  ~GeometryHandle() {
    if (geometry) geometry->Release();
  }
  IGeometry* geometry = nullptr;
};

}  // namespace

bool ConvertModel(const Model& model, const ConvertOptions& options,
                  DiagnosticReceiver* diagnostics, ConvertedModel& converted) {
  converted.name = model.name;
  converted.source = model.source;
  GeographicLocation own;
  NodeSpans nodes;
  ImportOptions import;
  import.extended = options.extended;
  import.diagnostics = diagnostics;
  import.geographicLocation = &own;
  import.confineTextures = options.confineTextures;
  import.decodeTextures = options.decodeTextures;
  import = ImportFor(model, import);
  if (options.split == Split::kNode) import.sceneObserver = &nodes;
  GeometryHandle handle;
  Varnel().CreateGeometryFromFile(String::FromUtf8(model.document), &handle.geometry, import);
  if (!handle.geometry) return false;
  IGeometry& geometry = *handle.geometry;

  bool failed = false;
  std::unique_ptr<Placer> placer =
      PlacerFor(model.placement, own, options.place, diagnostics, failed);
  if (failed) return false;
  if (placer) converted.crs = placer->crs();
  Reporter report(diagnostics);
  if (!BuildFeatures(geometry, placer.get(), options.split, options.surface, nodes.spans, report,
                     converted.features))
    return false;

  bool materials = options.split == Split::kMaterial || options.split == Split::kPart;
  if (!materials) return !converted.features.empty();
  std::set<int32_t> written;
  for (Feature& feature : converted.features) {
    feature.fields = MaterialFieldsOf(geometry, feature.material);
    int32_t pixels = feature.fields.textureOf;
    if (pixels < 0 || options.textureFolder.empty()) continue;
    std::string name = options.texturePrefix + "_" + std::to_string(pixels) + ".png";
    if (written.count(pixels) ||
        WriteTexturePng(geometry, pixels, options.textureFolder + "/" + name)) {
      written.insert(pixels);
      feature.fields.texture = name;
    } else {
      report(DiagnosticKind::kTextureUndecodable, 0, "the texture ", name, " cannot be written");
    }
  }
  return !converted.features.empty();
}

}  // namespace varnel::gis
