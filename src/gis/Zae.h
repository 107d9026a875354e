// The root document of a COLLADA archive (.zae).
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "gis/Models.h"
#include "gis/Report.h"

namespace varnel::gis {

// The entry path of the root document: the one manifest.xml's dae_root names, else the single
// .dae at the archive's root (else anywhere in it); none (reported) when there is no such one.
std::optional<std::string> ZaeRoot(const std::string& folder, const std::vector<std::string>& files,
                                   const ArchiveLimits& limits, const Reporter& report);

}  // namespace varnel::gis
