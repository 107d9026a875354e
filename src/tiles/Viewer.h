// The CesiumJS page `varnel tiles --viewer` writes beside tileset.json; Cesium itself goes in
// the folder cesium/ beside it, so that the page fetches nothing from elsewhere.
#pragma once

#include <string>

namespace varnel::tiles {

// `imagery`: a URL template ({z}, {x}, {y}) for the globe's imagery; "" for a plain globe.
std::string ViewerPage(const std::string& imagery);

}  // namespace varnel::tiles
