#include "gis/ogr/Convert.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <map>

#include <varnel/Varnel.h>

#include "gis/Utf8.h"
#include "gis/Staging.h"

namespace varnel::gis {

namespace {

// Collects the node spans and material names the library reports while it builds the geometry.
struct SceneNames : SceneObserver {
  std::vector<NodeSpan> spans;
  std::vector<std::string> materials;
  void NodeParts(int32_t firstPart, int32_t instance, const char* name) override {
    if (!spans.empty() && spans.back().firstPart == firstPart) spans.pop_back();
    spans.push_back({firstPart, instance, name});
  }
  void MaterialNamed(int32_t material, const char* name) override {
    if (material >= static_cast<int32_t>(materials.size()))
      materials.resize(static_cast<size_t>(material) + 1);
    materials[static_cast<size_t>(material)] = name;
  }
};

// FNV-1a, 64 bits: names, not security.
uint64_t Fnv1a(const std::string& bytes) {
  uint64_t hash = 0xcbf29ce484222325ull;
  for (unsigned char c : bytes) hash = (hash ^ c) * 0x100000001b3ull;
  return hash;
}

// 0, or the errno of the write or close that failed (the file is then removed).
int WriteWhole(const std::string& path, const std::string& bytes) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) return errno;
  bool ok = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  int error = ok ? 0 : errno;
  if (std::fclose(file) != 0 && !error) error = errno;
  if (error) std::remove(path.c_str());
  return error;
}

}  // namespace

ImportCache::~ImportCache() {
  if (geometry_) geometry_->Release();
}

void ImportCache::Import(const Model& model, const ConvertOptions& options,
                         DiagnosticReceiver* diagnostics) {
  if (geometry_) geometry_->Release();
  geometry_ = nullptr;
  document_ = model.document, textureRoot_ = model.textureRoot, memory_ = model.memory.data();
  own_ = {};
  SceneNames names;
  ImportOptions import;
  import.extended = options.extended;
  import.diagnostics = diagnostics;
  import.geographicLocation = &own_;
  import.confineTextures = options.confineTextures;
  // Pixels are kept only to be written beside the output.
  import.decodeTextures = options.decodeTextures && !options.textureFolder.empty() &&
                          (options.split == Split::kMaterial || options.split == Split::kPart);
  import = ImportFor(model, import);
  if (options.split != Split::kModel) import.sceneObserver = &names;
  if (model.memory.data())
    Varnel().CreateGeometryFromMemory(model.memory.data(), model.memory.size(), &geometry_, import);
  else
    Varnel().CreateGeometryFromFile(String::FromNativePath(model.document), &geometry_, import);
  spans_ = std::move(names.spans);
  materialNames_ = std::move(names.materials);
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
  std::map<int32_t, std::string> written;  // pixels record -> file name
  for (Feature& feature : converted.features) {
    feature.fields = MaterialFieldsOf(geometry, feature.material);
    if (feature.material >= 0 && static_cast<size_t>(feature.material) < imported.materialNames_.size())
      feature.fields.name = Printable(imported.materialNames_[static_cast<size_t>(feature.material)]);
    int32_t pixels = feature.fields.textureOf;
    if (pixels < 0 || options.textureFolder.empty()) continue;
    auto known = written.find(pixels);
    if (known != written.end()) {
      feature.fields.texture = known->second;
      continue;
    }
    std::string png;
    if (!EncodeTexturePng(geometry, pixels, png)) {
      report(DiagnosticKind::kTextureUndecodable, 0, "a texture cannot be encoded as PNG");
      continue;
    }
    char hash[17];
    std::snprintf(hash, sizeof hash, "%016llx", static_cast<unsigned long long>(Fnv1a(png)));
    std::string name = options.texturePrefix + "_" + hash + ".png";
    int error = WriteWhole(options.textureFolder + "/" + name, png);
    if (error) {
      converted.writeError = name + ": " + SystemReason(error);
      return false;
    }
    feature.fields.texture = written[pixels] = name;
  }
  return !converted.features.empty();
}

}  // namespace varnel::gis
