#include "facade/Settings.h"

#include <dlfcn.h>

#include "host/Registry.h"

namespace varnel {

int ReadConversionType() {
  int stored = GetRegInt(L"Software\\TAVU\\Settings", L"TAVUConversionType", 0, HKEY_CURRENT_USER);
  return stored >= 1 && stored <= 4 ? stored : 1;
}

int conversionType = ReadConversionType();

namespace {

// Stands in for the entry routine's attach step. The module handle is the library's load
// address, found through one of its own functions.
struct Modules {
  ModuleHandle library = nullptr;
  ModuleHandle resources = nullptr;

  Modules() {
    Dl_info info;
    if (dladdr(reinterpret_cast<void*>(&ReadConversionType), &info)) library = info.dli_fbase;
    resources = TAVULocale::LoadLocalizedRes(library);
    if (!resources) resources = library;
  }
  // LoadLocalizedRes hands out no separate modules here, so unloading has nothing to release.
};

const Modules modules;

}  // namespace

ModuleHandle LibraryModule() { return modules.library; }
ModuleHandle ResourceModule() { return modules.resources; }

}  // namespace varnel
