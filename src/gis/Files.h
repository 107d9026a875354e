// Reading the files the GIS layer looks at itself: the first bytes of what the user names, and
// a KML document or a manifest whole.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "gis/Report.h"

namespace varnel::gis {

// Up to `bytes` bytes from the start of `path`; false (reported as a missing, folder or
// unreadable file, in the library's words) when it cannot be read.
bool ReadHead(const std::string& path, size_t bytes, const Reporter& report, std::string& head);

// The whole file; false (reported as `kind`, naming it `shown`) when it cannot be read or is
// over `maxBytes`.
bool ReadWhole(const std::string& path, std::string_view shown, int64_t maxBytes,
               DiagnosticKind kind, const Reporter& report, std::string& text);

}  // namespace varnel::gis
