// Writes one multipatch geometry as a MultiPatch shapefile (.shp, .shx and .dbf).
#pragma once

#include <string>

namespace varnel {
struct IGeometry;
}

namespace varnel::cli {

// `base` is the path without extension. Triangle-list parts, which shapefiles do not know, are
// written as one triangle fan per triangle; rings keep their type; empty parts are dropped.
// The .dbf holds one record with the field "name". False when a file cannot be written.
bool WriteMultipatchShapefile(const std::string& base, IGeometry& geometry,
                              const std::string& name);

}  // namespace varnel::cli
