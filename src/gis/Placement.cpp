#include "gis/Placement.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <utility>

namespace varnel::gis {

namespace {

constexpr std::pair<AltitudeMode, const char*> kModeNames[] = {
    {AltitudeMode::kAbsolute, "absolute"},
    {AltitudeMode::kClampToGround, "clampToGround"},
    {AltitudeMode::kRelativeToGround, "relativeToGround"},
    {AltitudeMode::kClampToSeaFloor, "clampToSeaFloor"},
    {AltitudeMode::kRelativeToSeaFloor, "relativeToSeaFloor"},
    {AltitudeMode::kEllipsoid, "ellipsoid"},
};

}  // namespace

const char* AltitudeModeName(AltitudeMode mode) {
  for (const auto& [m, name] : kModeNames)
    if (m == mode) return name;
  return "";
}

std::optional<AltitudeMode> AltitudeModeNamed(std::string_view name) {
  for (const auto& [mode, spelling] : kModeNames)
    if (name == spelling) return mode;
  return std::nullopt;
}

bool NeedsTerrain(AltitudeMode mode) {
  return mode != AltitudeMode::kAbsolute && mode != AltitudeMode::kEllipsoid;
}

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
    placement.altitudeMode = request.originMode;
    return placement;
  }
  if (kml) return kml;
  if (own.found) {
    Placement placement;
    placement.location = {own.longitude, own.latitude, own.altitude};
    // COLLADA's default mode; without terrain the altitude is taken as given.
    placement.altitudeMode = AltitudeMode::kRelativeToGround;
    return placement;
  }
  return std::nullopt;
}

}  // namespace varnel::gis
