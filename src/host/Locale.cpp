#include "host/Locale.h"

namespace varnel {

// Linux builds carry no separate resource modules: there is never a localized one, and the
// caller falls back to its own module.
ModuleHandle TAVULocale::LoadLocalizedRes(ModuleHandle /*module*/) { return nullptr; }

}  // namespace varnel
