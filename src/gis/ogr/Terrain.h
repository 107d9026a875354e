// Ground heights from a digital elevation model: any raster GDAL reads.
#pragma once

#include <memory>
#include <string>

#include "gis/Placement.h"

namespace varnel::gis {

// The terrain of the raster at `path` (its first band), heights taken in its vertical CRS when
// it has one and above the EGM96 geoid otherwise (said through `diagnostics`). Null (said, kind
// placement) when GDAL cannot read it as a georeferenced raster.
std::shared_ptr<const Terrain> OpenTerrain(const std::string& path,
                                           DiagnosticReceiver* diagnostics);

}  // namespace varnel::gis
