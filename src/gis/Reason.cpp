#include "gis/Reason.h"

#include <algorithm>

namespace varnel::gis {

namespace {

// The fixed texts of the reasons a file is no COLLADA document at all; null for other kinds.
const char* FileLevelText(DiagnosticKind kind) {
  switch (kind) {
    case DiagnosticKind::kFileMissing: return "No such file or directory";
    case DiagnosticKind::kFolder: return "Is a directory";
    case DiagnosticKind::kNotXml: return "not an XML document";
    case DiagnosticKind::kNotCollada: return "not a COLLADA document";
    default: return nullptr;
  }
}

}  // namespace

void Reason::Hear(const Diagnostic& diagnostic) {
  // A placemark's placement is said before its model is looked for: a model refused or missing
  // is the better reason.
  if (placement_ &&
      (diagnostic.kind == DiagnosticKind::kKml || diagnostic.kind == DiagnosticKind::kArchive))
    reason_.clear();
  // What the extended reading passed over is no reason for it to have given nothing.
  if (!reason_.empty() || (extended_ && diagnostic.extendedReads)) return;
  placement_ = diagnostic.kind == DiagnosticKind::kPlacement;
  if (const char* text = FileLevelText(diagnostic.kind)) {
    reason_ = text;
    return;
  }
  reason_ = diagnostic.message ? diagnostic.message : "";
  // "parsing stopped: <x> is not read" becomes "parsing stopped at line 12: <x> is not read".
  if (diagnostic.line > 0)
    reason_.insert(std::min(reason_.find(": "), reason_.size()),
                   " at line " + std::to_string(diagnostic.line));
  if (diagnostic.extendedReads) reason_ += "; " + hint_;
}

std::string Reason::Text() const {
  return reason_.empty() ? "no output (no readable scene geometry)" : reason_;
}

}  // namespace varnel::gis
