// What the driver claims, by content: COLLADA documents, ZAE archives, and KMZ archives and KML
// files that place models. KML of points, lines and polygons is left to GDAL's KML drivers.
#pragma once

class GDALOpenInfo;

namespace varnel::gis::driver {

bool IdentifyModels(GDALOpenInfo* info);

}  // namespace varnel::gis::driver
