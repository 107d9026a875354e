// Start-up state: the conversion setting and the module handles, set up when the library loads.
#pragma once

#include "host/Locale.h"

namespace varnel {

// "TAVUConversionType" of the per-user key "Software\TAVU\Settings": 1 to 4, otherwise 1.
// Read once at load time; a changed setting takes effect at the next load.
extern int conversionType;

// Reads the setting now (what the load-time initialiser does).
int ReadConversionType();

// The library's own module (its load address) and the module its resources come from.
ModuleHandle LibraryModule();
ModuleHandle ResourceModule();

}  // namespace varnel
