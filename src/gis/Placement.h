// Where a model stands on the earth and how its local frame is turned there, as KML places
// models; and the transform of local points into a target CRS through PROJ.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <varnel/ImportOptions.h>

namespace varnel::gis {

// How a location's altitude is measured: KML's modes, and the WGS 84 ellipsoid itself.
// `kAbsolute` is metres above sea level, the EGM96 geoid, as the clients that write KML measure
// it. The ground and sea-floor modes need a terrain; without one the altitude is taken as an
// ellipsoidal height (and the KML reading says so).
enum class AltitudeMode {
  kAbsolute,
  kClampToGround,
  kRelativeToGround,
  kClampToSeaFloor,
  kRelativeToSeaFloor,
  kEllipsoid,
};

// KML's spelling ("absolute", "clampToGround", ...; "ellipsoid" for kEllipsoid).
const char* AltitudeModeName(AltitudeMode mode);
// The mode of that spelling; none for any other text.
std::optional<AltitudeMode> AltitudeModeNamed(std::string_view name);
// Whether the altitude is measured from the ground or sea floor (or puts the model on it).
bool NeedsTerrain(AltitudeMode mode);

struct Location {
  double longitude = 0;  // degrees, WGS 84
  double latitude = 0;   // degrees, WGS 84
  double altitude = 0;   // metres, as the placement's altitude mode measures them
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

// The ground under a place: a raster of heights. Safe to use from several threads.
class Terrain {
 public:
  virtual ~Terrain() = default;
  // The ground's height above the WGS 84 ellipsoid at a place, bilinear between the raster's
  // cell centres; none (said through `diagnostics`) where the raster has no value.
  virtual std::optional<double> HeightAt(double longitude, double latitude,
                                         DiagnosticReceiver* diagnostics) const = 0;
};

}  // namespace varnel::gis

namespace varnel::gis {

// Local points to a target CRS through PROJ. Each placer has its own PROJ context, so placers
// may work on separate threads. An interface: the factories and PlacerFor live in the PROJ part
// of the layer (gis/proj, library varnel_place), so that a program which gets its placers from
// a loaded module (the tool) uses them without linking PROJ.
class Placer {
 public:
  virtual ~Placer() = default;

  // A model placed as KML places it. `targetCrs` is anything PROJ knows ("EPSG:4979", WKT,
  // PROJJSON, a compound CRS whose Z is a height in its vertical datum); empty picks the WGS 84
  // UTM zone of the location. `terrain` (may be null; not kept) grounds the ground-relative
  // modes. Null (with a diagnostic) when the CRS is unknown or the altitude cannot be turned
  // into an ellipsoidal height (the geoid grid is missing).
  static std::unique_ptr<Placer> ForPlacement(const Placement& placement,
                                              const std::string& targetCrs,
                                              DiagnosticReceiver* diagnostics,
                                              const Terrain* terrain = nullptr);
  // A model whose coordinates are already in `sourceCrs` once `offset` is added (models exported
  // around a false origin). Empty `targetCrs` keeps the source CRS.
  static std::unique_ptr<Placer> ForProjected(const std::string& sourceCrs, const double offset[3],
                                              const std::string& targetCrs,
                                              DiagnosticReceiver* diagnostics);

  // The target CRS as the user named it, or "EPSG:326zz"/"EPSG:327zz" when picked.
  virtual const std::string& crs() const = 0;
  // The target CRS as WKT2, for writers that store it.
  virtual std::string CrsWkt() const = 0;
  // In place, `count` points of `stride` doubles each from the given first coordinates. False
  // when PROJ could not transform one of them (that point is then HUGE_VAL).
  virtual bool PlacePoints(double* x, double* y, double* z, size_t stride, size_t count) const = 0;
  // Turns a unit normal from the local frame to the target's axes, as a unit vector.
  virtual void PlaceNormal(double& x, double& y, double& z) const = 0;
  // The origin's height above the WGS 84 ellipsoid, which the altitude mode resolved to; NaN
  // for a model placed in a projected CRS.
  virtual double OriginHeight() const = 0;
};

// The EGM96 geoid grid that heights above sea level are taken to the ellipsoid with. Without it
// placement fails rather than fall back: that would put models tens of metres off.
inline constexpr const char* kGeoidGrid = "egm96_15.gtx";

// "EPSG:326zz" north of the equator, "EPSG:327zz" south: the WGS 84 UTM zone of the place.
std::string UtmCrs(double longitude, double latitude);

// What the user asks of placement, beyond what a model's KML says.
struct PlaceRequest {
  std::vector<double> origin;  // longitude, latitude[, altitude[, heading]]: places any model
  std::string sourceCrs;       // the CRS the model's coordinates already use (-a_srs)
  std::vector<double> offset;  // x, y[, z] added to them first (a false origin)
  std::string targetCrs;       // -t_srs; empty: the UTM zone of the location, or `sourceCrs`
  // How the origin's altitude is measured (--altitude-mode); above sea level as in KML.
  AltitudeMode originMode = AltitudeMode::kAbsolute;
  // The ground for ground-relative altitudes (--dem); null without one.
  std::shared_ptr<const Terrain> terrain;
};

// Where a model stands: the user's origin, else its KML placement (`kml`), else the location its
// document gives (`own`, read with the extended reading). Empty when nothing places it.
std::optional<Placement> PlacementOf(const std::optional<Placement>& kml,
                                     const GeographicLocation& own, const PlaceRequest& request);

// The placer for a model; null when the model is not placed. `failed` is set (and the reason
// said) when a placement was asked for but cannot be made.
std::unique_ptr<Placer> PlacerFor(const std::optional<Placement>& kml, const GeographicLocation& own,
                                  const PlaceRequest& request, DiagnosticReceiver* diagnostics,
                                  bool& failed);

// The ellipsoidal height the placement's altitude mode gives its origin (what a placer's
// OriginHeight says, without the cost of a placer); none (said) when it cannot be known.
std::optional<double> EllipsoidalHeightOf(const Placement& placement, const Terrain* terrain,
                                          DiagnosticReceiver* diagnostics);

// Places every point (and normal) of a multipatch buffer (docs/multipatch-buffer.md) in place and
// stores the placed box and Z range. False when the buffer is not a complete multipatch or a
// point could not be transformed.
bool PlaceBuffer(unsigned char* buffer, int32_t size, const Placer& placer);

}  // namespace varnel::gis
