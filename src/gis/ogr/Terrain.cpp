#include "gis/ogr/Terrain.h"

#include <cpl_error.h>
#include <gdal_priv.h>
#include <ogr_spatialref.h>

#include <algorithm>
#include <cmath>
#include <mutex>

#include "gis/Decimal.h"
#include "gis/Paths.h"
#include "gis/Report.h"

namespace varnel::gis {

namespace {

using Transformation = std::unique_ptr<OGRCoordinateTransformation>;

std::string Place(double longitude, double latitude) {
  return Decimal(longitude) + "," + Decimal(latitude);
}

class RasterTerrain final : public Terrain {
 public:
  std::optional<double> HeightAt(double longitude, double latitude,
                                 DiagnosticReceiver* diagnostics) const override;

  GDALDatasetUniquePtr dataset;
  GDALRasterBand* band = nullptr;
  double toPixel[6] = {};
  Transformation toRaster;     // longitude, latitude to the raster's horizontal CRS
  Transformation toEllipsoid;  // raster position and height to WGS 84 ellipsoidal height
  std::string name;
  mutable std::mutex mutex;  // GDAL datasets and transformations are not for two threads at once
};

std::optional<double> RasterTerrain::HeightAt(double longitude, double latitude,
                                              DiagnosticReceiver* diagnostics) const {
  Reporter report(diagnostics);
  std::lock_guard lock(mutex);
  double x = longitude, y = latitude;
  if (!toRaster->Transform(1, &x, &y)) {
    report(DiagnosticKind::kPlacement, 0, "the DEM ", name, " cannot take ",
           Place(longitude, latitude), " into its CRS: altitude taken as given");
    return std::nullopt;
  }
  // Pixel coordinates with cell centres at whole numbers; within half a cell of the border the
  // edge cells' values hold.
  const int width = band->GetXSize(), height = band->GetYSize();
  double u = toPixel[0] + toPixel[1] * x + toPixel[2] * y;
  double v = toPixel[3] + toPixel[4] * x + toPixel[5] * y;
  if (!(u >= 0 && u <= width && v >= 0 && v <= height)) {
    report(DiagnosticKind::kPlacement, 0, Place(longitude, latitude), " is outside the DEM ",
           name, ": altitude taken as given");
    return std::nullopt;
  }
  u = std::clamp(u - 0.5, 0.0, width - 1.0), v = std::clamp(v - 0.5, 0.0, height - 1.0);
  const int x0 = std::min(static_cast<int>(u), width - 1), y0 = std::min(static_cast<int>(v), height - 1);
  const int nx = std::min(2, width - x0), ny = std::min(2, height - y0);
  double cells[4] = {};
  if (band->RasterIO(GF_Read, x0, y0, nx, ny, cells, nx, ny, GDT_Float64, 0, 0) != CE_None) {
    report(DiagnosticKind::kPlacement, 0, "the DEM ", name, " cannot be read: ",
           CPLGetLastErrorMsg());
    return std::nullopt;
  }
  const double fx = u - x0, fy = v - y0;
  const double weights[4] = {(1 - fx) * (1 - fy), fx * (1 - fy), (1 - fx) * fy, fx * fy};
  int hasNoData = 0;
  const double noData = band->GetNoDataValue(&hasNoData);
  double sum = 0;
  for (int row = 0; row < ny; ++row) {
    for (int column = 0; column < nx; ++column) {
      double weight = weights[2 * row + column], cell = cells[nx * row + column];
      if (weight == 0) continue;
      if (std::isnan(cell) || (hasNoData && cell == noData)) {
        report(DiagnosticKind::kPlacement, 0, "the DEM ", name, " has no height at ",
               Place(longitude, latitude), ": altitude taken as given");
        return std::nullopt;
      }
      sum += weight * cell;
    }
  }
  double ground = sum * band->GetScale() + band->GetOffset();
  if (!toEllipsoid->Transform(1, &x, &y, &ground) || !std::isfinite(ground)) {
    report(DiagnosticKind::kPlacement, 0, "the DEM ", name, "'s height at ",
           Place(longitude, latitude), " cannot be taken to the ellipsoid (is the geoid grid ",
           kGeoidGrid, " installed?): altitude taken as given");
    return std::nullopt;
  }
  return ground;
}

}  // namespace

std::shared_ptr<const Terrain> OpenTerrain(const std::string& path,
                                           DiagnosticReceiver* diagnostics) {
  Reporter report(diagnostics);
  if (GDALGetDriverCount() == 0) GDALAllRegister();
  auto terrain = std::make_shared<RasterTerrain>();
  terrain->name = std::string(NameOf(path));
  CPLErrorReset();
  CPLPushErrorHandler(CPLQuietErrorHandler);
  terrain->dataset.reset(GDALDataset::Open(path.c_str(), GDAL_OF_RASTER | GDAL_OF_READONLY));
  CPLPopErrorHandler();
  auto fail = [&](const std::string& why) {
    report(DiagnosticKind::kPlacement, 0, "the DEM ", terrain->name, " ", why);
    return nullptr;
  };
  GDALDataset* dataset = terrain->dataset.get();
  if (!dataset)
    return fail(std::string("is no raster GDAL reads") +
                (*CPLGetLastErrorMsg() ? std::string(": ") + CPLGetLastErrorMsg() : ""));
  double toWorld[6];
  const OGRSpatialReference* crs = dataset->GetSpatialRef();
  if (dataset->GetRasterCount() < 1 || dataset->GetGeoTransform(toWorld) != CE_None || !crs ||
      !GDALInvGeoTransform(toWorld, terrain->toPixel))
    return fail("has no band, no geotransform or no CRS");
  terrain->band = dataset->GetRasterBand(1);

  OGRSpatialReference wgs84, horizontal(*crs), heights(*crs);
  wgs84.importFromEPSG(4326);
  horizontal.StripVertical();
  if (crs->IsCompound() || crs->IsVertical()) {
    report(DiagnosticKind::kPlacement, 0, "the DEM ", terrain->name, " gives heights in ",
           crs->GetName(),
           ", its vertical CRS");
  } else {
    OGRSpatialReference geoid;
    geoid.importFromEPSG(5773);
    heights.SetCompoundCS("DEM with EGM96 heights", &horizontal, &geoid);
    report(DiagnosticKind::kPlacement, 0, "the DEM ", terrain->name,
           " has no vertical CRS: its heights are taken above the EGM96 geoid");
  }
  OGRSpatialReference ellipsoidal;
  ellipsoidal.importFromEPSG(4979);
  for (OGRSpatialReference* s : {&wgs84, &horizontal, &heights, &ellipsoidal})
    s->SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
  OGRCoordinateTransformationOptions exact;
  exact.SetBallparkAllowed(false);
  CPLPushErrorHandler(CPLQuietErrorHandler);
  terrain->toRaster.reset(OGRCreateCoordinateTransformation(&wgs84, &horizontal));
  terrain->toEllipsoid.reset(OGRCreateCoordinateTransformation(&heights, &ellipsoidal, exact));
  CPLPopErrorHandler();
  if (!terrain->toRaster || !terrain->toEllipsoid)
    return fail(std::string("has no transformation to WGS 84 ellipsoidal heights with the "
                            "grids installed (the geoid grid is ") +
                kGeoidGrid + ")");
  return terrain;
}

}  // namespace varnel::gis
