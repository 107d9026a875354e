// Where a model stands on the earth and how its local frame is turned there, as KML places
// models; and the transform of local points into a target CRS through PROJ.
#pragma once

#include <memory>
#include <string>

#include <varnel/ImportOptions.h>

namespace varnel::gis {

// KML's altitude modes. Without terrain, the two ground-relative modes take the altitude as
// given (and say so).
enum class AltitudeMode { kAbsolute, kClampToGround, kRelativeToGround };

struct Location {
  double longitude = 0;  // degrees, WGS 84
  double latitude = 0;   // degrees, WGS 84
  double altitude = 0;   // metres above the ellipsoid
};

// The model's local frame (Z-up metres, as the library delivers it) is an east-north-up frame at
// `location`, scaled first, then turned by roll (about Y), tilt (about X) and heading (about Z,
// clockwise seen from above: heading 90 turns +Y to the east).
struct Placement {
  Location location;
  double heading = 0;  // degrees
  double tilt = 0;     // degrees; positive lifts +Y
  double roll = 0;     // degrees; positive lifts -X
  double scale[3] = {1, 1, 1};
  AltitudeMode altitudeMode = AltitudeMode::kAbsolute;
};

}  // namespace varnel::gis
