// The element factory: the only place element objects come into being.
#pragma once

namespace varnel {

class ElementSource;
class Tag;

// Builds and parses the element whose start tag the reader just identified, or skips it.
// Null when skipped or failed; a failure sets `stopped` and closes the input.
Tag* CreateTag(ElementSource& document, int id);

}  // namespace varnel
