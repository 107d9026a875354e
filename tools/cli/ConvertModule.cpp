#include <dlfcn.h>
#include <unistd.h>

#include <string>

#include "cli/Convert.h"

#ifndef VARNEL_CONVERT_MODULE_DIR
#define VARNEL_CONVERT_MODULE_DIR "../lib/varnel"
#endif

namespace varnel::cli {

namespace {

constexpr const char* kModuleName = "varnel-convert.so";

std::string ToolFolder() {
  char path[4096];
  ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0) return ".";
  std::string folder(path, static_cast<size_t>(n));
  return folder.substr(0, folder.rfind('/'));
}

}  // namespace

int RunConvertModule(const ConvertCommand& command, const ReadOptions& read,
                     const PlaceOptions& place) {
  const std::string folder = ToolFolder();
  // Beside the tool in the build tree; in the installed module folder (relative to the tool's,
  // so that a relocated installation still finds it).
  void* module = nullptr;
  std::string why = "not beside the tool nor in its " VARNEL_CONVERT_MODULE_DIR;
  for (const std::string& candidate :
       {folder + "/" + kModuleName, folder + "/" VARNEL_CONVERT_MODULE_DIR "/" + kModuleName}) {
    if (access(candidate.c_str(), F_OK) != 0) continue;
    module = dlopen(candidate.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!module) why = dlerror();
    break;
  }
  using Entry = decltype(&varnel_run_convert);
  Entry run = module ? reinterpret_cast<Entry>(dlsym(module, "varnel_run_convert")) : nullptr;
  if (module && !run) why = dlerror();
  if (!run) {
    Report(kModuleName, ("cannot load the GDAL output module: " + why).c_str());
    return 2;
  }
  // The module stays loaded: GDAL's drivers clean up at exit, not at unload.
  return run(&command, &read, &place);
}

}  // namespace varnel::cli
