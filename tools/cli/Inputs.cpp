#include "cli/Inputs.h"

#include "cli/Commands.h"

namespace varnel::cli {

bool Inputs::Open(const std::string& file, const PlaceOptions& options, Diagnostics& diagnostics) {
  gis::OpenOptions open;
  open.import.diagnostics = &diagnostics;
  open.terrain = options.request.terrain != nullptr;
  open.allowNetwork = diagnostics.read().allowNetwork;
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

}  // namespace varnel::cli
