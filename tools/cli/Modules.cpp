#include "cli/Modules.h"

#include <dlfcn.h>
#include <unistd.h>

#include <string>

#include "gis/Report.h"

#ifndef VARNEL_MODULE_DIR
#define VARNEL_MODULE_DIR "../lib/varnel"
#endif

namespace varnel::cli {

namespace {

// The entry point `symbol` of module `name`, or null with `why`. A module stays loaded: GDAL's
// drivers clean up at exit, not at unload, and placers keep using their module's code.
void* ModuleEntry(const char* name, const char* symbol, std::string& why) {
  const std::string tool = ToolPath();
  const std::string folder = tool.empty() ? "." : tool.substr(0, tool.rfind('/'));
  void* module = nullptr;
  why = "not beside the tool nor in its " VARNEL_MODULE_DIR;
  // Beside the tool in the build tree; in the installed module folder, relative to the tool's
  // so that a relocated installation still finds it.
  for (const std::string& candidate :
       {folder + "/" + name, folder + "/" VARNEL_MODULE_DIR "/" + name}) {
    if (access(candidate.c_str(), F_OK) != 0) continue;
    module = dlopen(candidate.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!module) why = dlerror();
    break;
  }
  void* entry = module ? dlsym(module, symbol) : nullptr;
  if (module && !entry) why = dlerror();
  return entry;
}

}  // namespace

std::string ToolPath() {
  char path[4096];
  ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  return n > 0 ? std::string(path, static_cast<size_t>(n)) : std::string();
}

// The command `Entry` in module `name`, run; 2 with a line when the module cannot be loaded.
template <class Entry, class Command>
int RunModule(const char* name, const char* symbol, const char* what, const Command& command,
              const ReadOptions& read, const PlaceOptions& place) {
  std::string why;
  auto run = reinterpret_cast<Entry>(ModuleEntry(name, symbol, why));
  if (!run) {
    Report(name, ("cannot load the " + std::string(what) + " module: " + why).c_str());
    return 2;
  }
  return run(&command, &read, &place);
}

int RunConvertModule(const ConvertCommand& command, const ReadOptions& read,
                     const PlaceOptions& place) {
  return RunModule<decltype(&varnel_module_convert)>("varnel-convert.so", "varnel_module_convert",
                                                     "GDAL output", command, read, place);
}

int RunGltfModule(const GltfCommand& command, const ReadOptions& read, const PlaceOptions& place) {
  return RunModule<decltype(&varnel_module_gltf)>("varnel-gltf.so", "varnel_module_gltf", "glTF",
                                                  command, read, place);
}

int RunTilesModule(const TilesCommand& command, const ReadOptions& read, const PlaceOptions& place) {
  return RunModule<decltype(&varnel_module_tiles)>("varnel-tiles.so", "varnel_module_tiles",
                                                   "3D Tiles", command, read, place);
}

std::unique_ptr<gis::Placer> PlacerFromModule(const std::optional<gis::Placement>& kml,
                                              const GeographicLocation& own,
                                              const gis::PlaceRequest& request,
                                              DiagnosticReceiver* diagnostics, bool& failed) {
  // Most runs place nothing: the module is loaded only when something asks for placement (the
  // cases where gis::PlacerFor returns null without failing).
  if (request.sourceCrs.empty() && request.targetCrs.empty() &&
      !gis::PlacementOf(kml, own, request)) {
    failed = false;
    return nullptr;
  }
  std::string why;
  auto placerFor = reinterpret_cast<decltype(&varnel_module_placer_for)>(
      ModuleEntry("varnel-place.so", "varnel_module_placer_for", why));
  if (!placerFor) {
    failed = true;
    gis::Reporter{diagnostics}(DiagnosticKind::kPlacement, 0,
                               "cannot load the placement module varnel-place.so: ", why);
    return nullptr;
  }
  return std::unique_ptr<gis::Placer>(placerFor(&kml, &own, &request, diagnostics, &failed));
}

std::shared_ptr<const gis::Terrain> TerrainFromModule(const std::string& path,
                                                      DiagnosticReceiver* diagnostics) {
  std::string why;
  auto open = reinterpret_cast<decltype(&varnel_module_open_terrain)>(
      ModuleEntry("varnel-convert.so", "varnel_module_open_terrain", why));
  std::shared_ptr<const gis::Terrain> terrain;
  if (open)
    open(&path, diagnostics, &terrain);
  else
    gis::Reporter{diagnostics}(DiagnosticKind::kPlacement, 0,
                               "cannot load the GDAL module varnel-convert.so: ", why);
  return terrain;
}

}  // namespace varnel::cli
