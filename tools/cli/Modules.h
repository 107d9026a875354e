// The tool's modules. What needs GDAL (convert, shp) or PROJ (placement) lives in a module loaded
// when first asked for: those libraries and theirs would otherwise cost every run of the tool
// some 30 MB and 45 ms at start. Modules lie beside the tool in the build tree and in
// <libdir>/varnel when installed; each exports one entry point.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "cli/Convert.h"
#include "cli/Gltf.h"
#include "cli/Tiles.h"

namespace varnel::cli {

// The running tool's own path ("" when the system does not say).
std::string ToolPath();

// RunConvert in varnel-convert.so; 2 with a line on standard error when it cannot be loaded.
int RunConvertModule(const ConvertCommand& command, const ReadOptions& read,
                     const PlaceOptions& place);

// RunGltf in varnel-gltf.so; 2 with a line on standard error when it cannot be loaded.
int RunGltfModule(const GltfCommand& command, const ReadOptions& read, const PlaceOptions& place);

// RunTiles in varnel-tiles.so; 2 with a line on standard error when it cannot be loaded.
int RunTilesModule(const TilesCommand& command, const ReadOptions& read, const PlaceOptions& place);

// gis::PlacerFor in varnel-place.so; when that cannot be loaded, says so and sets `failed`.
std::unique_ptr<gis::Placer> PlacerFromModule(const std::optional<gis::Placement>& kml,
                                              const GeographicLocation& own,
                                              const gis::PlaceRequest& request,
                                              DiagnosticReceiver* diagnostics, bool& failed);

// gis::OpenTerrain in varnel-convert.so (GDAL reads the raster); null when the module cannot be
// loaded or the raster read (said through `diagnostics`).
std::shared_ptr<const gis::Terrain> TerrainFromModule(const std::string& path,
                                                      DiagnosticReceiver* diagnostics);

}  // namespace varnel::cli

#define VARNEL_MODULE_ENTRY extern "C" __attribute__((visibility("default")))

VARNEL_MODULE_ENTRY int varnel_module_convert(const varnel::cli::ConvertCommand* command,
                                              const varnel::cli::ReadOptions* read,
                                              const varnel::cli::PlaceOptions* place);
VARNEL_MODULE_ENTRY int varnel_module_gltf(const varnel::cli::GltfCommand* command,
                                           const varnel::cli::ReadOptions* read,
                                           const varnel::cli::PlaceOptions* place);
VARNEL_MODULE_ENTRY int varnel_module_tiles(const varnel::cli::TilesCommand* command,
                                            const varnel::cli::ReadOptions* read,
                                            const varnel::cli::PlaceOptions* place);
VARNEL_MODULE_ENTRY varnel::gis::Placer* varnel_module_placer_for(
    const std::optional<varnel::gis::Placement>* kml, const varnel::GeographicLocation* own,
    const varnel::gis::PlaceRequest* request, varnel::DiagnosticReceiver* diagnostics,
    bool* failed);
VARNEL_MODULE_ENTRY void varnel_module_open_terrain(
    const std::string* path, varnel::DiagnosticReceiver* diagnostics,
    std::shared_ptr<const varnel::gis::Terrain>* terrain);
