#include "gis/ogr/Convert.h"

#include <set>

#include <varnel/Varnel.h>

#include "gis/Printable.h"

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

}  // namespace

ImportCache::~ImportCache() {
  if (geometry_) geometry_->Release();
}

void ImportCache::Import(const Model& model, const ConvertOptions& options,
                         DiagnosticReceiver* diagnostics) {
  if (geometry_) geometry_->Release();
  geometry_ = nullptr;
  document_ = model.document, textureRoot_ = model.textureRoot;
  own_ = {};
  NodeSpans nodes;
  ImportOptions import;
  import.extended = options.extended;
  import.diagnostics = diagnostics;
  import.geographicLocation = &own_;
  import.confineTextures = options.confineTextures;
  // Pixels are kept only to be written beside the output.
  import.decodeTextures = options.decodeTextures && !options.textureFolder.empty() &&
                          (options.split == Split::kMaterial || options.split == Split::kPart);
  import = ImportFor(model, import);
  if (options.split == Split::kNode) import.sceneObserver = &nodes;
  Varnel().CreateGeometryFromFile(String::FromNativePath(model.document), &geometry_, import);
  spans_ = std::move(nodes.spans);
}

bool ConvertModel(const Model& model, const ConvertOptions& options,
                  DiagnosticReceiver* diagnostics, ConvertedModel& converted,
                  ImportCache* cache) {
  converted.name = Printable(model.name);
  converted.source = Printable(model.source);
  ImportCache single;
  ImportCache& imported = cache ? *cache : single;
  if (!imported.Holds(model)) imported.Import(model, options, diagnostics);
  if (!imported.geometry_) return false;
  IGeometry& geometry = *imported.geometry_;

  bool failed = false;
  std::unique_ptr<Placer> placer =
      PlacerFor(model.placement, imported.own_, options.place, diagnostics, failed);
  if (failed) return false;
  if (placer) converted.crs = placer->crs();
  Reporter report(diagnostics);
  if (!BuildFeatures(geometry, placer.get(), options.split, options.surface, imported.spans_, report,
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
