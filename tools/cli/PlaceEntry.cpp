// The placement module's entry point.
#include "cli/Modules.h"

VARNEL_MODULE_ENTRY varnel::gis::Placer* varnel_module_placer_for(
    const std::optional<varnel::gis::Placement>* kml, const varnel::GeographicLocation* own,
    const varnel::gis::PlaceRequest* request, varnel::DiagnosticReceiver* diagnostics,
    bool* failed) {
  return varnel::gis::PlacerFor(*kml, *own, *request, diagnostics, *failed).release();
}
