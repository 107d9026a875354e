// The module of localized resources.
#pragma once

namespace varnel {

using ModuleHandle = void*;
struct TAVULocale {
  // The module of localized resources, or null when there is none.
  static ModuleHandle LoadLocalizedRes(ModuleHandle module);
};

}  // namespace varnel
