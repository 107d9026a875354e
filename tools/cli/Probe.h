// Whether a local file can be a COLLADA document at all. The library says so too, but its root
// check takes the raw first tag of a document without an XML declaration, and a DOCTYPE for the
// root, so the tool keeps its own look at the file for these reasons.
#pragma once

#include <string>

namespace varnel::cli {

// The reason `file` cannot be a COLLADA document: the system's text for a file that cannot be
// opened ("No such file or directory", "Is a directory", ...), "not an XML document" or "not a
// COLLADA document". "" when nothing is visibly wrong, and for http(s) addresses.
std::string ProbeInput(const std::string& file);

}  // namespace varnel::cli
