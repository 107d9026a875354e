// The terrain entry point of the GDAL module: a DEM is a raster only GDAL reads.
#include "cli/Modules.h"
#include "gis/ogr/Terrain.h"

VARNEL_MODULE_ENTRY void varnel_module_open_terrain(
    const std::string* path, varnel::DiagnosticReceiver* diagnostics,
    std::shared_ptr<const varnel::gis::Terrain>* terrain) {
  *terrain = varnel::gis::OpenTerrain(*path, diagnostics);
}
