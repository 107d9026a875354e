// Unpacking a zip archive into a folder of its own, refusing whatever could land outside it or
// fill the disk.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "gis/Models.h"
#include "gis/Report.h"

namespace varnel::gis {

struct Unpacked {
  bool usable = false;             // false: unreadable, or a cap stopped it (reported)
  std::vector<std::string> files;  // the entry paths written, in archive order
};

// Entries are written below `folder` under their EntryPath(); a refused entry is reported and
// leaves nothing behind, the others are still written.
Unpacked Unpack(const std::string& archive, const std::string& folder, const ArchiveLimits& limits,
                const Reporter& report);
// The same for an archive's bytes (lent for the call), read where they lie: nothing of the
// archive itself goes to disk.
Unpacked UnpackMemory(std::string_view bytes, const std::string& folder,
                      const ArchiveLimits& limits, const Reporter& report);

// Exporters name archive members in documents as URIs ("duck%20texture.png"): each unpacked
// file whose name a URI escapes is linked under its escaped name too, so that a document's
// texture is found by the name it uses.
void LinkEscapedNames(const std::string& folder, const std::vector<std::string>& files);

}  // namespace varnel::gis
