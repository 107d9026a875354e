#include "cli/Inputs.h"

namespace varnel::cli {

bool Inputs::Open(const std::string& file, const PlaceOptions& options,
                  DiagnosticReceiver& diagnostics) {
  gis::OpenOptions open;
  open.import.diagnostics = &diagnostics;
  if (!set_.Open(file, open)) return false;
  const std::vector<gis::Model>& models = set_.models();
  holdsModels_ = models.size() != 1 || models[0].document != file;
  if (options.model > static_cast<int>(models.size())) {
    std::string message = "no model " + std::to_string(options.model) + ": the file holds " +
                          std::to_string(models.size());
    diagnostics.Report({DiagnosticKind::kKml, 0, message.c_str(), false});
    return false;
  }
  if (options.model > 0) chosen_ = {&models[options.model - 1]};
  else for (const gis::Model& model : models) chosen_.push_back(&model);
  return !chosen_.empty();
}

std::optional<gis::Placement> PlacementOf(const gis::Model& model, const GeographicLocation& own,
                                          const PlaceOptions& options) {
  if (!options.origin.empty()) {
    gis::Placement placement;
    const std::vector<double>& o = options.origin;
    placement.location = {o[0], o.size() > 1 ? o[1] : 0, o.size() > 2 ? o[2] : 0};
    placement.heading = o.size() > 3 ? o[3] : 0;
    return placement;
  }
  if (model.placement) return model.placement;
  if (own.found) {
    gis::Placement placement;
    placement.location = {own.longitude, own.latitude, own.altitude};
    return placement;
  }
  return std::nullopt;
}

std::unique_ptr<gis::Placer> PlacerFor(const gis::Model& model, const GeographicLocation& own,
                                       const PlaceOptions& options,
                                       DiagnosticReceiver& diagnostics, bool& failed) {
  std::unique_ptr<gis::Placer> placer;
  if (!options.sourceCrs.empty()) {
    double offset[3] = {0, 0, 0};
    for (size_t i = 0; i < options.offset.size() && i < 3; ++i) offset[i] = options.offset[i];
    placer = gis::Placer::ForProjected(options.sourceCrs, offset, options.targetCrs, &diagnostics);
  } else if (auto placement = PlacementOf(model, own, options)) {
    placer = gis::Placer::ForPlacement(*placement, options.targetCrs, &diagnostics);
  } else {
    // A target CRS with nothing to place would otherwise be ignored without a word.
    failed = !options.targetCrs.empty();
    if (failed) {
      const char* message = "nothing places the model in -t_srs: give --origin or -a_srs";
      diagnostics.Report({DiagnosticKind::kPlacement, 0, message, false});
    }
    return nullptr;
  }
  failed = !placer;
  return placer;
}

}  // namespace varnel::cli
