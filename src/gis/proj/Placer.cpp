#include "gis/Placement.h"
#include "gis/Decimal.h"
#include "gis/Report.h"

#include <proj.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>
#include <string>
#include <unordered_map>

namespace varnel::gis {

namespace {

double Radians(double degrees) { return degrees * std::numbers::pi / 180; }

struct ProjObject {
  PJ* pj;
  ~ProjObject() { proj_destroy(pj); }
};

// The most accurate operation from `source` to `target` whose grids are installed, at a place
// (anywhere when the longitude is NaN), axes in easting-northing order; null when there is none.
// Ballpark operations are refused: without its grid PROJ would otherwise pass heights through
// unchanged, tens of metres off.
PJ* GridExactOperation(PJ_CONTEXT* context, const char* source, const char* target,
                       double longitude, double latitude) {
  ProjObject from{proj_create(context, source)}, to{proj_create(context, target)};
  if (!from.pj || !to.pj) return nullptr;
  PJ_OPERATION_FACTORY_CONTEXT* factory = proj_create_operation_factory_context(context, nullptr);
  proj_operation_factory_context_set_grid_availability_use(
      context, factory, PROJ_GRID_AVAILABILITY_DISCARD_OPERATION_IF_MISSING_GRID);
  proj_operation_factory_context_set_allow_ballpark_transformations(context, factory, 0);
  proj_operation_factory_context_set_spatial_criterion(
      context, factory, PROJ_SPATIAL_CRITERION_PARTIAL_INTERSECTION);
  if (!std::isnan(longitude))
    proj_operation_factory_context_set_area_of_interest(context, factory, longitude, latitude,
                                                        longitude, latitude);
  PJ_OBJ_LIST* operations = proj_create_operations(context, from.pj, to.pj, factory);
  PJ* normalised = nullptr;
  if (operations && proj_list_get_count(operations) > 0) {
    ProjObject first{proj_list_get(context, operations, 0)};
    normalised = proj_normalize_for_visualization(context, first.pj);
  }
  proj_list_destroy(operations);
  proj_operation_factory_context_destroy(factory);
  return normalised;
}

PJ_CONTEXT* QuietContext() {
  PJ_CONTEXT* context = proj_context_create();
  proj_log_level(context, PJ_LOG_NONE);
  return context;
}

// CRSs and operations found once per thread, in a context of the thread's own: finding one
// searches PROJ's database for tens of milliseconds, and a site places thousands of models into
// the same CRS. Placers take clones into their own contexts.
class ThreadCache {
 public:
  static ThreadCache& Get() {
    thread_local ThreadCache cache;
    return cache;
  }
  ~ThreadCache() {
    for (auto& [key, pj] : objects_) proj_destroy(pj);
    proj_context_destroy(context_);
  }
  // The object for `key`, made by `make(context)` the first time; a null result is kept too.
  template <class Make>
  PJ* Object(const std::string& key, Make make) {
    auto [at, added] = objects_.try_emplace(key, nullptr);
    if (added) at->second = make(context_);
    return at->second;
  }

 private:
  PJ_CONTEXT* context_ = QuietContext();
  std::unordered_map<std::string, PJ*> objects_;
};

// EGM96 covers the world: one operation serves every place.
std::optional<double> GeoidToEllipsoid(double longitude, double latitude, double height,
                                       const Reporter& report) {
  PJ* toEllipsoid = ThreadCache::Get().Object("geoid", [](PJ_CONTEXT* context) {
    return GridExactOperation(context, "EPSG:4326+5773", "EPSG:4979", NAN, NAN);
  });
  PJ_COORD c = proj_coord(longitude, latitude, height, 0);
  if (toEllipsoid) c = proj_trans(toEllipsoid, PJ_FWD, c);
  if (!toEllipsoid || c.xyz.z == HUGE_VAL) {
    report(DiagnosticKind::kPlacement, 0, "the EGM96 geoid grid ", kGeoidGrid,
           " (Debian's proj-data) is not installed: heights above sea level cannot be placed");
    return std::nullopt;
  }
  return c.xyz.z;
}

// The ellipsoidal height the placement's altitude mode gives its origin; none (said) when it
// cannot be known.
std::optional<double> EllipsoidalHeightOf(const Placement& placement, const Terrain* terrain,
                                          DiagnosticReceiver* diagnostics) {
  const Location& at = placement.location;
  switch (placement.altitudeMode) {
    case AltitudeMode::kEllipsoid:
      return at.altitude;
    case AltitudeMode::kAbsolute:
      return GeoidToEllipsoid(at.longitude, at.latitude, at.altitude, Reporter{diagnostics});
    case AltitudeMode::kClampToGround:
    case AltitudeMode::kClampToSeaFloor:
    case AltitudeMode::kRelativeToGround:
    case AltitudeMode::kRelativeToSeaFloor:
      break;
  }
  // Without terrain (or off it) the altitude is taken as given, as the KML reading says.
  std::optional<double> ground =
      terrain ? terrain->HeightAt(at.longitude, at.latitude, diagnostics) : std::nullopt;
  if (!ground) return at.altitude;
  bool clamped = placement.altitudeMode == AltitudeMode::kClampToGround ||
                 placement.altitudeMode == AltitudeMode::kClampToSeaFloor;
  return clamped ? *ground : *ground + at.altitude;
}

// c = a * b, 3 x 3 row-major.
void Multiply(const double* a, const double* b, double* c) {
  for (int r = 0; r < 3; ++r)
    for (int k = 0; k < 3; ++k)
      c[3 * r + k] = a[3 * r] * b[k] + a[3 * r + 1] * b[3 + k] + a[3 * r + 2] * b[6 + k];
}

void Apply(const double* m, double& x, double& y, double& z) {
  double a = m[0] * x + m[1] * y + m[2] * z;
  double b = m[3] * x + m[4] * y + m[5] * z;
  double c = m[6] * x + m[7] * y + m[8] * z;
  x = a, y = b, z = c;
}

struct Proj {
  PJ_CONTEXT* context = QuietContext();
  PJ* toSource = nullptr;  // local east-north-up to earth-centred; null when not placed by KML
  PJ* toTarget = nullptr;  // source CRS to target CRS, axes in easting-northing order
  bool angularTarget = false;
  ~Proj() {
    proj_destroy(toSource);
    proj_destroy(toTarget);
    proj_context_destroy(context);
  }
};

class ProjPlacer final : public Placer {
 public:
  const std::string& crs() const override { return crs_; }
  std::string CrsWkt() const override;
  bool PlacePoints(double* x, double* y, double* z, size_t stride, size_t count) const override;
  void PlaceNormal(double& x, double& y, double& z) const override;

  double OriginHeight() const override { return originHeight_; }

  bool Init(const std::string& sourceCrs, const std::string& targetCrs, const double* place,
            DiagnosticReceiver* diagnostics);
  void ComputeNormalMatrix();

  std::unique_ptr<Proj> proj_ = std::make_unique<Proj>();
  std::string crs_;
  double linear_[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};  // local to the source frame
  double offset_[3] = {0, 0, 0};                     // added after `linear_`
  double normal_[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};   // local normals to target axes, unnormalised
  double originHeight_ = NAN;
};

}  // namespace

std::unique_ptr<Placer> Placer::ForPlacement(const Placement& placement,
                                             const std::string& targetCrs,
                                             DiagnosticReceiver* diagnostics,
                                             const Terrain* terrain) {
  auto placer = std::make_unique<ProjPlacer>();
  const Location& at = placement.location;
  // Scale, then roll about Y, tilt about X, heading about Z (clockwise seen from above).
  double h = -Radians(placement.heading), t = Radians(placement.tilt), r = Radians(placement.roll);
  const double heading[9] = {std::cos(h), -std::sin(h), 0, std::sin(h), std::cos(h), 0, 0, 0, 1};
  const double tilt[9] = {1, 0, 0, 0, std::cos(t), -std::sin(t), 0, std::sin(t), std::cos(t)};
  const double roll[9] = {std::cos(r), 0, std::sin(r), 0, 1, 0, -std::sin(r), 0, std::cos(r)};
  const double scale[9] = {placement.scale[0], 0, 0, 0, placement.scale[1], 0,
                           0, 0, placement.scale[2]};
  double headingTilt[9], turned[9];
  Multiply(heading, tilt, headingTilt);
  Multiply(headingTilt, roll, turned);
  Multiply(turned, scale, placer->linear_);

  PJ_CONTEXT* context = placer->proj_->context;
  std::optional<double> height = EllipsoidalHeightOf(placement, terrain, diagnostics);
  if (!height) return nullptr;
  placer->originHeight_ = *height;
  std::string definition = "+proj=topocentric +ellps=WGS84 +lon_0=" + Decimal(at.longitude) +
                           " +lat_0=" + Decimal(at.latitude) + " +h_0=" + Decimal(*height);
  placer->proj_->toSource = proj_create(context, definition.c_str());
  if (!placer->proj_->toSource) {
    Reporter{diagnostics}(DiagnosticKind::kPlacement, 0,
        "the location " + definition + " cannot be placed");
    return nullptr;
  }
  std::string target = targetCrs.empty() ? UtmCrs(at.longitude, at.latitude) : targetCrs;
  const double place[2] = {at.longitude, at.latitude};
  if (!placer->Init("EPSG:4978", target, place, diagnostics)) return nullptr;
  return placer;
}

std::unique_ptr<Placer> Placer::ForProjected(const std::string& sourceCrs, const double offset[3],
                                             const std::string& targetCrs,
                                             DiagnosticReceiver* diagnostics) {
  auto placer = std::make_unique<ProjPlacer>();
  std::memcpy(placer->offset_, offset, sizeof placer->offset_);
  if (!placer->Init(sourceCrs, targetCrs.empty() ? sourceCrs : targetCrs, nullptr, diagnostics))
    return nullptr;
  return placer;
}

// `place` (longitude, latitude) is where a model placed as KML stands; null for a projected one.
bool ProjPlacer::Init(const std::string& sourceCrs, const std::string& targetCrs,
                      const double* place, DiagnosticReceiver* diagnostics) {
  crs_ = targetCrs;
  PJ_CONTEXT* context = proj_->context;
  ThreadCache& cache = ThreadCache::Get();
  bool vertical = false;
  for (const std::string* crs : {&sourceCrs, &targetCrs}) {
    PJ* known = cache.Object("crs " + *crs,
                             [&](PJ_CONTEXT* c) { return proj_create(c, crs->c_str()); });
    if (!known) {
      Reporter{diagnostics}(DiagnosticKind::kPlacement, 0, *crs + " is no CRS PROJ knows");
      return false;
    }
    vertical |= proj_get_type(known) == PJ_TYPE_COMPOUND_CRS ||
                proj_get_type(known) == PJ_TYPE_VERTICAL_CRS;
  }
  if (vertical && place) {
    // Z in a vertical datum needs its geoid grid; none installed is an error, not ellipsoidal
    // heights under the datum's name. The operation depends on the place: not shared.
    proj_->toTarget =
        GridExactOperation(context, sourceCrs.c_str(), targetCrs.c_str(), place[0], place[1]);
    if (!proj_->toTarget) {
      Reporter{diagnostics}(DiagnosticKind::kPlacement, 0, "no transformation from ", sourceCrs,
                            " to ", targetCrs,
                            " with the grids installed: its vertical datum needs a geoid grid");
      return false;
    }
  } else {
    auto crsToCrs = [&](PJ_CONTEXT* c) -> PJ* {
      ProjObject raw{proj_create_crs_to_crs(c, sourceCrs.c_str(), targetCrs.c_str(), nullptr)};
      return raw.pj ? proj_normalize_for_visualization(c, raw.pj) : nullptr;
    };
    PJ* shared = cache.Object("to " + sourceCrs + "\n" + targetCrs, crsToCrs);
    // PROJ before 9.2 cannot clone an operation with alternatives: that one is made afresh.
    if (shared) proj_->toTarget = proj_clone(context, shared);
    if (!proj_->toTarget) proj_->toTarget = crsToCrs(context);
  }
  if (!proj_->toTarget) {
    Reporter{diagnostics}(DiagnosticKind::kPlacement, 0,
        "no transformation from " + sourceCrs + " to " + targetCrs + ": " +
            proj_context_errno_string(context, proj_context_errno(context)));
    return false;
  }
  proj_->angularTarget = proj_angular_output(proj_->toTarget, PJ_FWD);
  ComputeNormalMatrix();
  return true;
}

std::string ProjPlacer::CrsWkt() const {
  PJ* crs = proj_create(proj_->context, crs_.c_str());
  if (!crs) return {};
  const char* wkt = proj_as_wkt(proj_->context, crs, PJ_WKT2_2019, nullptr);
  std::string text = wkt ? wkt : "";
  proj_destroy(crs);
  return text;
}

bool ProjPlacer::PlacePoints(double* x, double* y, double* z, size_t stride, size_t count) const {
  for (size_t i = 0; i < count; ++i) {
    double& px = x[i * stride];
    double& py = y[i * stride];
    double& pz = z[i * stride];
    Apply(linear_, px, py, pz);
    px += offset_[0], py += offset_[1], pz += offset_[2];
  }
  size_t bytes = stride * sizeof(double);
  if (proj_->toSource)
    proj_trans_generic(proj_->toSource, PJ_INV, x, bytes, count, y, bytes, count, z, bytes,
                       count, nullptr, 0, 0);
  proj_trans_generic(proj_->toTarget, PJ_FWD, x, bytes, count, y, bytes, count, z, bytes, count,
                     nullptr, 0, 0);
  for (size_t i = 0; i < count; ++i)
    if (x[i * stride] == HUGE_VAL || y[i * stride] == HUGE_VAL) return false;
  return true;
}

// The axes of the target at the origin, measured by placing points a metre apart; a conformal
// projection or the earth-centred frame turns normals as it turns these. Degrees have no
// metric axes, so a geographic target keeps east-north-up normals.
void ProjPlacer::ComputeNormalMatrix() {
  if (proj_->angularTarget) {
    std::memcpy(normal_, linear_, sizeof normal_);
  } else {
    const double step[4][3] = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
    double px[4], py[4], pz[4];
    for (int i = 0; i < 4; ++i)
      px[i] = step[i][0] + offset_[0], py[i] = step[i][1] + offset_[1],
      pz[i] = step[i][2] + offset_[2];
    if (proj_->toSource)
      proj_trans_generic(proj_->toSource, PJ_INV, px, sizeof(double), 4, py, sizeof(double), 4,
                         pz, sizeof(double), 4, nullptr, 0, 0);
    proj_trans_generic(proj_->toTarget, PJ_FWD, px, sizeof(double), 4, py, sizeof(double), 4, pz,
                       sizeof(double), 4, nullptr, 0, 0);
    double axes[9];
    for (int c = 0; c < 3; ++c) {
      axes[c] = px[c + 1] - px[0];
      axes[3 + c] = py[c + 1] - py[0];
      axes[6 + c] = pz[c + 1] - pz[0];
    }
    Multiply(axes, linear_, normal_);
  }
  // deliberate: unlike the core's point matrix, the inverse transpose, see docs/behaviour.md
  // Normals follow the inverse transpose of the linear part: for rotation times scale, that is
  // the rotation times the inverse scale, up to a length the normalisation removes.
  double cofactor[9];
  const double* m = normal_;
  cofactor[0] = m[4] * m[8] - m[5] * m[7];
  cofactor[1] = m[5] * m[6] - m[3] * m[8];
  cofactor[2] = m[3] * m[7] - m[4] * m[6];
  cofactor[3] = m[2] * m[7] - m[1] * m[8];
  cofactor[4] = m[0] * m[8] - m[2] * m[6];
  cofactor[5] = m[1] * m[6] - m[0] * m[7];
  cofactor[6] = m[1] * m[5] - m[2] * m[4];
  cofactor[7] = m[2] * m[3] - m[0] * m[5];
  cofactor[8] = m[0] * m[4] - m[1] * m[3];
  // The sign of the determinant keeps normals on their side under a mirroring scale.
  double sign = m[0] * cofactor[0] + m[1] * cofactor[1] + m[2] * cofactor[2] < 0 ? -1 : 1;
  for (int i = 0; i < 9; ++i) normal_[i] = sign * cofactor[i];
}

void ProjPlacer::PlaceNormal(double& x, double& y, double& z) const {
  Apply(normal_, x, y, z);
  double length = std::sqrt(x * x + y * y + z * z);
  if (length > 0) x /= length, y /= length, z /= length;
}

std::unique_ptr<Placer> PlacerFor(const std::optional<Placement>& kml, const GeographicLocation& own,
                                  const PlaceRequest& request, DiagnosticReceiver* diagnostics,
                                  bool& failed) {
  std::unique_ptr<Placer> placer;
  if (!request.sourceCrs.empty()) {
    double offset[3] = {0, 0, 0};
    for (size_t i = 0; i < request.offset.size() && i < 3; ++i) offset[i] = request.offset[i];
    placer = Placer::ForProjected(request.sourceCrs, offset, request.targetCrs, diagnostics);
  } else if (auto placement = PlacementOf(kml, own, request)) {
    if (!request.origin.empty() && NeedsTerrain(placement->altitudeMode) && !request.terrain) {
      failed = true;
      Reporter{diagnostics}(DiagnosticKind::kPlacement, 0, "the origin's altitude mode ",
                            AltitudeModeName(placement->altitudeMode),
                            " needs a terrain (--dem, or the DEM open option)");
      return nullptr;
    }
    placer = Placer::ForPlacement(*placement, request.targetCrs, diagnostics,
                                  request.terrain.get());
  } else {
    // A target CRS with nothing to place would otherwise be ignored without a word.
    failed = !request.targetCrs.empty();
    if (failed)
      Reporter{diagnostics}(DiagnosticKind::kPlacement, 0,
          "nothing places the model in -t_srs: give --origin or -a_srs");
    return nullptr;
  }
  failed = !placer;
  return placer;
}

}  // namespace varnel::gis
