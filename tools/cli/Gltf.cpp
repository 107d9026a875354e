#include "cli/Gltf.h"

#include <memory>
#include <optional>

#include <varnel/Varnel.h>

#include "cli/Modules.h"
#include "gis/Staging.h"
#include "gis/Utf8.h"
#include "gltf/Writer.h"

namespace varnel::cli {

namespace {

// Where the model stands, as the glTF states it; false when a placement asked for cannot be
// made (the reason said).
bool FrameOf(const gis::Model& model, const GeographicLocation& own, const PlaceOptions& place,
             Diagnostics& diagnostics, gltf::Frame& frame) {
  std::optional<gis::Placement> placement = gis::PlacementOf(model.placement, own, place.request);
  bool failed = false;
  std::unique_ptr<gis::Placer> placer =
      PlacerFromModule(model.placement, own, place.request, &diagnostics, failed);
  if (failed) return false;
  if (!place.request.sourceCrs.empty()) {
    frame.crs = place.request.sourceCrs;
    frame.offset = place.request.offset;
  } else if (placement && placer) {
    frame.located = true;
    frame.longitude = placement->location.longitude, frame.latitude = placement->location.latitude;
    frame.height = placer->OriginHeight();
    frame.heading = placement->heading, frame.tilt = placement->tilt, frame.roll = placement->roll;
    std::copy(placement->scale, placement->scale + 3, frame.scale);
  }
  return true;
}

gis::Split SplitNamed(const std::string& name) {
  if (name == "node") return gis::Split::kNode;
  if (name == "material") return gis::Split::kMaterial;
  if (name == "part") return gis::Split::kPart;
  return gis::Split::kModel;
}

}  // namespace

int RunGltf(const GltfCommand& command, const ReadOptions& read, const PlaceOptions& place) {
  const std::string& file = command.input;
  const std::string& out = command.output;
  Diagnostics diagnostics(file, read);
  Inputs inputs;
  if (!inputs.Open(file, place, diagnostics)) return diagnostics.NoOutput();
  std::vector<const gis::Model*> models = inputs.chosen();
  if (!command.all) models.resize(1);
  const bool separate = out.size() > 5 && out.compare(out.size() - 5, 5, ".gltf") == 0;
  gltf::SceneOptions options;
  options.split = SplitNamed(command.split);
  options.unlit = command.unlit, options.ecef = command.ecef;
  options.meshopt = command.meshopt, options.draco = command.draco;
  options.embedImages = !separate;
  gltf::Scene scene(options);
  bool any = false;
  for (const gis::Model* model : models) {
    auto staged = std::make_unique<gltf::Model>();
    GeographicLocation own;
    ImportOptions import = diagnostics.Import(model);
    import.geographicLocation = &own;
    import.textureObserver = staged.get();
    if (options.split == gis::Split::kNode || options.split == gis::Split::kPart)
      import.sceneObserver = staged.get();
    Varnel().CreateDataBufferFromFile(String::FromNativePath(model->document), *staged, import);
    gltf::Frame frame;
    if (!staged->Finish() || !FrameOf(*model, own, place, diagnostics, frame)) {
      if (models.size() == 1) return diagnostics.NoOutput();
      continue;
    }
    if (!any && command.ecef && !frame.located) {
      Report(file, "--ecef: nothing places the model on the earth (give --origin, or a KML)");
      return 1;
    }
    any = true;
    scene.Add(std::move(staged), gis::Printable(model->name), gis::Printable(model->source), frame);
  }
  if (!any) return diagnostics.NoOutput();
  if (!scene.Build()) {
    Report(file, scene.why.c_str());
    return 1;
  }

  // Every file under a temporary name until all are complete; the .gltf that names the others
  // goes into place last.
  Interrupts& interrupts = *command.interrupts;
  std::vector<std::unique_ptr<StagedFile>> files;
  auto staged = [&](const std::string& path) -> StagedFile& {
    files.push_back(std::make_unique<StagedFile>(path, interrupts));
    files.back()->Open();
    return *files.back();
  };
  auto to = [](StagedFile& f) {
    return [&f](const void* data, size_t size) { return f.fd() >= 0 && f.Write(data, size); };
  };
  if (separate) {
    const std::string stem = out.substr(0, out.size() - 5);
    const std::string base = gis::BaseName(stem);
    std::vector<std::string> names;
    for (size_t i = 0; i < scene.images().size(); ++i) {
      const gltf::Image& image = scene.images()[i];
      names.push_back(base + "_" + std::to_string(i) + "." + image.extension);
      StagedFile& f = staged(gis::ParentFolder(out) + "/" + names.back());
      to(f)(image.bytes.data(), image.bytes.size());
    }
    scene.WriteBin(to(staged(stem + ".bin")));
    std::string json = scene.Json(base + ".bin", names);
    to(staged(out))(json.data(), json.size());
  } else {
    scene.WriteGlb(to(staged(out)));
  }
  for (auto& f : files)
    if (f->error() || f->fd() < 0 || !f->Finish()) return CannotWrite(f->destination(), f->error());
  for (auto& f : files)
    if (!f->Commit()) return CannotWrite(f->destination(), f->error());
  return 0;
}

}  // namespace varnel::cli

VARNEL_MODULE_ENTRY int varnel_module_gltf(const varnel::cli::GltfCommand* command,
                                           const varnel::cli::ReadOptions* read,
                                           const varnel::cli::PlaceOptions* place) {
  return varnel::cli::RunGltf(*command, *read, *place);
}
