// Why a local file gave no output. The library only says that nothing came out, so the tool
// looks at the file itself to name the reason.
#pragma once

#include <string>

namespace varnel::cli {

// The reason `file` cannot be a COLLADA document: the system's text for a file that cannot be
// opened ("No such file or directory", "Is a directory", ...), "not an XML document" or "not a
// COLLADA document". "" when nothing is visibly wrong, and for http(s) addresses.
std::string ProbeInput(const std::string& file);

}  // namespace varnel::cli
