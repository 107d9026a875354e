#include "gis/Placement.h"

#include <algorithm>
#include <cmath>
#include <string>

namespace varnel::gis {

std::string UtmCrs(double longitude, double latitude) {
  double wrapped = std::fmod(std::fmod(longitude + 180, 360) + 360, 360);
  int zone = std::min(60, static_cast<int>(wrapped / 6) + 1);
  return "EPSG:" + std::to_string((latitude < 0 ? 32700 : 32600) + zone);
}

std::optional<Placement> PlacementOf(const std::optional<Placement>& kml,
                                     const GeographicLocation& own, const PlaceRequest& request) {
  const std::vector<double>& o = request.origin;
  if (o.size() >= 2) {
    Placement placement;
    placement.location = {o[0], o[1], o.size() > 2 ? o[2] : 0};
    placement.heading = o.size() > 3 ? o[3] : 0;
    return placement;
  }
  if (kml) return kml;
  if (own.found) {
    Placement placement;
    placement.location = {own.longitude, own.latitude, own.altitude};
    return placement;
  }
  return std::nullopt;
}

}  // namespace varnel::gis
