// What one call was asked to do: its options as the caller gave them, and what follows from them
// once. The reader, the document, the collector and the output managers all refer to one
// context, so an option is read where it is used and copied nowhere.
#pragma once

#include <varnel/ImportOptions.h>
#include <varnel/String.h>
#include "util/Report.h"

namespace varnel {

struct ImportContext {
  explicit ImportContext(const ImportOptions& given, DiagnosticReceiver* receiver = nullptr,
                         int conversion = 1)
      : options(given),
        report{receiver},
        conversionType(conversion),
        textureRoot(given.textureRoot ? String::FromNativePath(given.textureRoot) : String()) {}

  // Lent by the caller for the call.
  const ImportOptions& options;
  // Where diagnostics go: options.diagnostics, or a receiver standing in front of it.
  Reporter report;
  // How materials are converted (1 to 4), from the settings the library loaded with.
  int conversionType;
  // The folder tree textures are confined to ("" for the document's folder); a linked document
  // gets its root's.
  String textureRoot;

  bool extended() const { return options.extended; }

  // The plain reading without diagnostics: what a reader has until a call gives it its own.
  static const ImportContext& Plain() {
    static const ImportOptions options;
    static const ImportContext context(options);
    return context;
  }
};

}  // namespace varnel
