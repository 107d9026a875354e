#include <gtest/gtest.h>

#include <gdal_priv.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <functional>
#include <string>

#include "gis/Placement.h"
#include "gis/Zip.h"
#include "gis/ogr/Terrain.h"
#include "support/Documents.h"
#include "support/Outputs.h"
#include "support/TestSupport.h"

using namespace varnel;
using namespace varnel::gis;

namespace {

using Point = std::array<double, 3>;

Point Place(const Placer& placer, Point p) {
  EXPECT_TRUE(placer.PlacePoints(&p[0], &p[1], &p[2], 3, 1));
  return p;
}

std::unique_ptr<Placer> At(double longitude, double latitude, const std::string& crs = "") {
  Placement placement;
  placement.location = {longitude, latitude, 100};
  placement.altitudeMode = AltitudeMode::kEllipsoid;
  return Placer::ForPlacement(placement, crs, nullptr);
}

// What PROJ's command-line tools make of an east-north-up point at a location.
bool ProjTools(const std::string& topocentric, Point local, const std::string& crs, Point& out) {
  std::string command = "printf '%.17g %.17g %.17g\\n' " + std::to_string(local[0]) + " " +
                        std::to_string(local[1]) + " " + std::to_string(local[2]) +
                        " | cct -d 6 -I " + topocentric + " | cs2cs -d 6 EPSG:4978 " + crs +
                        " 2>/dev/null";
  std::FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return false;
  int read = std::fscanf(pipe, "%lf %lf %lf", &out[0], &out[1], &out[2]);
  return pclose(pipe) == 0 && read == 3;
}

// The numbers PROJ's cs2cs prints for one point ("lat lon h" in, as EPSG orders them).
std::array<double, 3> Cs2cs(const std::string& from, const std::string& to, Point in) {
  char command[256];
  std::snprintf(command, sizeof command, "echo %.12f %.12f %.6f | cs2cs -d 6 %s %s 2>/dev/null",
                in[0], in[1], in[2], from.c_str(), to.c_str());
  Point out{NAN, NAN, NAN};
  if (std::FILE* pipe = popen(command, "r")) {
    if (std::fscanf(pipe, "%lf %lf %lf", &out[0], &out[1], &out[2]) != 3) out = {NAN, NAN, NAN};
    pclose(pipe);
  }
  return out;
}
double EllipsoidalOfSeaLevel(double longitude, double latitude, double height) {
  return Cs2cs("EPSG:4326+5773", "EPSG:4979", {latitude, longitude, height})[2];
}
bool HasProjTools() { return std::system("command -v cs2cs >/dev/null") == 0; }

struct FlatTerrain : Terrain {
  double height;
  explicit FlatTerrain(double h) : height(h) {}
  std::optional<double> HeightAt(double, double, DiagnosticReceiver*) const override {
    return height;
  }
};

// The origin's longitude, latitude and ellipsoidal height.
Point PlacedOrigin(const Placement& placement, const Terrain* terrain = nullptr,
                   DiagnosticReceiver* diagnostics = nullptr) {
  auto placer = Placer::ForPlacement(placement, "EPSG:4979", diagnostics, terrain);
  if (!placer) return {NAN, NAN, NAN};
  EXPECT_NEAR(placer->OriginHeight(), Place(*placer, {0, 0, 0})[2], 1e-6);
  return Place(*placer, {0, 0, 0});
}

}  // namespace

TEST(Placement, PointsLandWhereProjToolsPutThemWithinAMillimetre) {
  if (std::system("command -v cct >/dev/null && command -v cs2cs >/dev/null") != 0)
    GTEST_SKIP() << "PROJ's command-line tools are not installed";
  auto placer = At(10.5, 50.2);
  ASSERT_TRUE(placer);
  EXPECT_EQ(placer->crs(), "EPSG:32632");
  const std::string topocentric =
      "+proj=topocentric +ellps=WGS84 +lon_0=10.5 +lat_0=50.2 +h_0=100";
  for (Point local : {Point{0, 0, 0}, Point{30, 40, 12}, Point{-700, 650, -30}}) {
    Point expected;
    ASSERT_TRUE(ProjTools(topocentric, local, "EPSG:32632", expected));
    Point placed = Place(*placer, local);
    for (int c = 0; c < 3; ++c) EXPECT_NEAR(placed[c], expected[c], 1e-3) << local[0];
  }
}

// Heading, tilt, roll and scale, alone and all at once, against east-north-up points worked out
// by hand; a placed normal is the cross product of the placed triangle's edges, whatever the turn
// and however uneven the scale (a mirroring one turns the edges, not the normal: not here).
TEST(Placement, HeadingTiltRollAndScaleActAsInKml) {
  auto placer = [](double heading, double tilt, double roll, Point scale) {
    Placement p;
    p.location = {9, 45, 0};
    p.altitudeMode = AltitudeMode::kEllipsoid;
    p.heading = heading, p.tilt = tilt, p.roll = roll;
    std::copy(scale.begin(), scale.end(), p.scale);
    return Placer::ForPlacement(p, "", nullptr);
  };
  auto unturned = placer(0, 0, 0, {1, 1, 1});
  const struct {
    double heading, tilt, roll;
    Point scale, local, enu;
  } rows[] = {
      {90, 0, 0, {1, 1, 1}, {0, 10, 0}, {10, 0, 0}},  // heading 90 turns +Y east
      {0, 90, 0, {1, 1, 1}, {0, 10, 0}, {0, 0, 10}},  // tilt lifts +Y
      {0, 0, 90, {1, 1, 1}, {-10, 0, 0}, {0, 0, 10}},  // roll lifts -X
      {0, 0, 0, {2, 2, 2}, {5, 0, 0}, {10, 0, 0}},
      // Scaled, then rolled, tilted and turned.
      {90, 90, 90, {2, 3, 4}, {1, 0, 0}, {2, 0, 0}},
      {90, 90, 90, {2, 3, 4}, {0, 1, 0}, {0, 0, 3}},
      {90, 90, 90, {2, 3, 4}, {0, 0, 1}, {0, -4, 0}},
  };
  for (const auto& r : rows) {
    Point placed = Place(*placer(r.heading, r.tilt, r.roll, r.scale), r.local), expected = Place(*unturned, r.enu);
    for (int c = 0; c < 3; ++c) EXPECT_NEAR(placed[c], expected[c], 1e-6) << r.heading << r.tilt << r.roll;
  }

  auto skewed = placer(30, 20, -40, {2, 0.5, 3});
  auto normal = [](Point a, Point b, Point c) {
    Point u{b[0] - a[0], b[1] - a[1], b[2] - a[2]}, v{c[0] - a[0], c[1] - a[1], c[2] - a[2]};
    Point n{u[1] * v[2] - u[2] * v[1], u[2] * v[0] - u[0] * v[2], u[0] * v[1] - u[1] * v[0]};
    double length = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
    return Point{n[0] / length, n[1] / length, n[2] / length};
  };
  const std::array<Point, 3> triangles[] = {{{{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}},
                                            {{{0, 0, 0}, {0, 2, 1}, {1, 0, 3}}}};
  for (const auto& [a, b, c] : triangles) {
    Point n = normal(a, b, c), expected = normal(Place(*skewed, a), Place(*skewed, b), Place(*skewed, c));
    skewed->PlaceNormal(n[0], n[1], n[2]);
    for (int k = 0; k < 3; ++k) EXPECT_NEAR(n[k], expected[k], 1e-5) << b[1];
  }
}

TEST(Placement, UtmZonesOfBothHemispheresAndTheDateLine) {
  EXPECT_EQ(UtmCrs(10.5, 50.2), "EPSG:32632");
  EXPECT_EQ(UtmCrs(-58.4, -34.6), "EPSG:32721");
  EXPECT_EQ(UtmCrs(180, 0), "EPSG:32601");
  EXPECT_EQ(UtmCrs(179.99, 0), "EPSG:32660");
  EXPECT_EQ(UtmCrs(-180, 0), "EPSG:32601");
}

TEST(Placement, GeographicAndEarthCentredTargets) {
  Point degrees = Place(*At(10.5, 50.2, "EPSG:4979"), {0, 0, 0});
  EXPECT_NEAR(degrees[0], 10.5, 1e-9);  // longitude first whatever the CRS's axis order
  EXPECT_NEAR(degrees[1], 50.2, 1e-9);
  EXPECT_NEAR(degrees[2], 100, 1e-6);
  Point centred = Place(*At(0, 0, "EPSG:4978"), {0, 0, 0});
  EXPECT_NEAR(centred[0], 6378137 + 100, 1e-6);
}

TEST(Placement, BufferPointsNormalsAndBoxArePlaced) {
  std::string path = testdoc::OneInstance(testdoc::MeshWithNormal("g", "0 1 0")).Write("n.dae");
  std::string bytes = pipelinetest::DataBuffer(path);
  auto* buffer = reinterpret_cast<unsigned char*>(bytes.data());
  auto size = static_cast<int32_t>(bytes.size());
  double offset[3] = {500000, 5000000, 10};  // a false origin in UTM
  ASSERT_TRUE(PlaceBuffer(buffer, size, *Placer::ForProjected("EPSG:32632", offset, "", nullptr)));
  IGeometry* geometry = pipelinetest::ImportBuffer(size, buffer);
  pipelinetest::Output out = pipelinetest::ReadGeometry(geometry);
  geometry->Release();
  ASSERT_EQ(out.parts.size(), 1u);
  EXPECT_EQ(out.parts[0].points[1], (pipelinetest::Vec3{500001, 5000000, 10}));
  EXPECT_EQ(out.parts[0].normals[0], (pipelinetest::Vec3{0, 1, 0}));
  EXPECT_EQ(out.extent, (std::array<double, 6>{500000, 5000000, 10, 500001, 5000001, 10}));
}

TEST(Placement, NormalsTurnWithTheModel) {
  Placement placement;
  placement.location = {9, 45, 0};
  placement.heading = 90;
  placement.scale[0] = -1;  // a mirror keeps normals on their side
  auto placer = Placer::ForPlacement(placement, "", nullptr);
  double x = 0, y = 1, z = 0;
  placer->PlaceNormal(x, y, z);
  EXPECT_NEAR(x, 1, 1e-6);
  EXPECT_NEAR(y, 0, 1e-6);
  x = 1, y = 0, z = 0;
  placer->PlaceNormal(x, y, z);
  EXPECT_NEAR(y, 1, 1e-6);  // mirrored to -X, which heading 90 turns north
  // By the inverse transpose, unlike the core's point matrix: stretching x tilts normals off x.
  placement.heading = 0, placement.scale[0] = 2;
  placer = Placer::ForPlacement(placement, "", nullptr);
  x = 1, y = 1, z = 0;
  placer->PlaceNormal(x, y, z);
  EXPECT_NEAR(y / x, 2, 1e-6);
}

// Heights above sea level are taken to the ellipsoid as PROJ's own tools take them, on the same
// grid: in each hemisphere, and where the geoid stands 41.5 m above the ellipsoid.
TEST(Placement, AltitudeModesGiveTheHeightsProjToolsGive) {
  if (!HasProjTools()) GTEST_SKIP() << "PROJ's command-line tools are not installed";
  using enum AltitudeMode;
  const double kSeaLevel = NAN;  // the expected height comes from cs2cs
  struct Case {
    double longitude, latitude, altitude;
    AltitudeMode mode;
    double terrain;  // NAN: none
    double expected;
  } cases[] = {
      {9, 45, 100, kAbsolute, NAN, kSeaLevel},
      {-105.27, 40.015, 1655, kAbsolute, NAN, kSeaLevel},  // the geoid 15.3 m below
      {-58.4, -34.6, 10, kAbsolute, NAN, kSeaLevel},
      {151.2, -33.87, 5, kAbsolute, NAN, kSeaLevel},
      {9, 45, 100, kEllipsoid, NAN, 100},
      {9, 45, 100, kClampToGround, 250, 250},
      {9, 45, 100, kRelativeToGround, 250, 350},
      {9, 45, 30, kClampToSeaFloor, -50, -50},
      {9, 45, 30, kRelativeToSeaFloor, -50, -20},
      {9, 45, 100, kRelativeToGround, NAN, 100},  // no terrain: as given
  };
  for (const Case& c : cases) {
    Placement placement;
    placement.location = {c.longitude, c.latitude, c.altitude};
    placement.altitudeMode = c.mode;
    FlatTerrain terrain(c.terrain);
    Point origin = PlacedOrigin(placement, std::isnan(c.terrain) ? nullptr : &terrain);
    double expected = std::isnan(c.expected)
                          ? EllipsoidalOfSeaLevel(c.longitude, c.latitude, c.altitude)
                          : c.expected;
    EXPECT_NEAR(origin[0], c.longitude, 1e-9);
    EXPECT_NEAR(origin[2], expected, 1e-3) << c.longitude << " " << AltitudeModeName(c.mode);
  }
  EXPECT_NEAR(EllipsoidalOfSeaLevel(9, 45, 0), 41.5, 0.05);  // the grid is the one meant
}

// Z in the vertical datum of a compound target; the CRS names both parts.
TEST(Placement, CompoundTargetGivesHeightsInItsVerticalDatum) {
  if (!HasProjTools()) GTEST_SKIP() << "PROJ's command-line tools are not installed";
  Placement placement;
  placement.location = {9.01, 45.02, 100};
  auto compound = Placer::ForPlacement(placement, "EPSG:32632+5773", nullptr);
  ASSERT_TRUE(compound);
  Point local{12, -30, 4};
  Point placed = Place(*compound, local);
  EXPECT_NEAR(placed[2], 104, 1e-3);
  Point ellipsoidal = Place(*Placer::ForPlacement(placement, "EPSG:32632", nullptr), local);
  Point expected = Cs2cs("EPSG:32632+5773", "EPSG:4979", placed);
  EXPECT_NEAR(ellipsoidal[2], expected[2], 1e-3);
  EXPECT_NEAR(ellipsoidal[0], placed[0], 1e-3);
  EXPECT_NE(compound->CrsWkt().find("EGM96 height"), std::string::npos);
  EXPECT_NE(compound->CrsWkt().find("UTM zone 32N"), std::string::npos);
}

namespace {

// A 4 by 4 GeoTIFF of 100 m cells in UTM zone 32 around 9E 45N, heights on a slope; cell (1, 2)
// has no value.
constexpr double kWest = 499800, kNorth = 4983150, kCell = 100, kNoData = -9999;
double Slope(double x, double y) { return 200 + 0.1 * (x - kWest) + 0.05 * (kNorth - y); }

std::string WriteDem(const std::string& name, const char* crs) {
  GDALAllRegister();
  std::string path = testsupport::ScratchDir() + "/" + name;
  GDALDriver* gtiff = GetGDALDriverManager()->GetDriverByName("GTiff");
  GDALDataset* dem = gtiff->Create(path.c_str(), 4, 4, 1, GDT_Float32, nullptr);
  double geotransform[6] = {kWest, kCell, 0, kNorth, 0, -kCell};
  dem->SetGeoTransform(geotransform);
  OGRSpatialReference srs;
  srs.SetFromUserInput(crs);
  dem->SetSpatialRef(&srs);
  float cells[16];
  for (int row = 0; row < 4; ++row)
    for (int column = 0; column < 4; ++column)
      cells[4 * row + column] = static_cast<float>(
          Slope(kWest + (column + 0.5) * kCell, kNorth - (row + 0.5) * kCell));
  cells[4 * 2 + 1] = kNoData;
  GDALRasterBand* band = dem->GetRasterBand(1);
  band->SetNoDataValue(kNoData);
  EXPECT_EQ(band->RasterIO(GF_Write, 0, 0, 4, 4, cells, 4, 4, GDT_Float32, 0, 0), CE_None);
  GDALClose(dem);
  return path;
}

}  // namespace

// Ground heights bilinear between cell centres in the raster's own CRS, above the EGM96 geoid
// when the raster has no vertical CRS; a cell without a value or a place off the raster is said.
TEST(Placement, DemGivesBilinearGroundHeights) {
  if (!HasProjTools()) GTEST_SKIP() << "PROJ's command-line tools are not installed";
  pipelinetest::DiagnosticLog log;
  auto terrain = OpenTerrain(WriteDem("slope.tif", "EPSG:32632"), &log);
  ASSERT_TRUE(terrain);
  ASSERT_FALSE(log.lines.empty());
  EXPECT_NE(log.lines[0].find("no vertical CRS"), std::string::npos) << log.lines[0];
  struct Case {
    double x, y;      // in the raster's CRS
    bool hasHeight;
  } cases[] = {
      {kWest + 260, kNorth - 90, true},    // between four cells
      {kWest + 10, kNorth - 390, true},    // within half a cell of the corner: the edge holds
      {kWest + 150, kNorth - 250, false},  // beside the cell without a value
      {kWest - 50, kNorth - 50, false},    // off the raster
  };
  for (const Case& c : cases) {
    Point at = Cs2cs("EPSG:32632", "EPSG:4326", {c.x, c.y, 0});  // latitude, longitude
    log.lines.clear();
    std::optional<double> height = terrain->HeightAt(at[1], at[0], &log);
    ASSERT_EQ(height.has_value(), c.hasHeight) << c.x << " " << c.y;
    if (!c.hasHeight) {
      EXPECT_EQ(log.lines.size(), 1u);
      continue;
    }
    double cx = std::clamp(c.x, kWest + kCell / 2, kWest + 3.5 * kCell);
    double cy = std::clamp(c.y, kNorth - 3.5 * kCell, kNorth - kCell / 2);
    EXPECT_NEAR(*height, EllipsoidalOfSeaLevel(at[1], at[0], Slope(cx, cy)), 1e-2);
  }
  EXPECT_FALSE(OpenTerrain(testsupport::WriteFile("not.tif", "no raster"), &log));
}

namespace {

std::string GroundKmz(const std::string& name, double longitude, double latitude,
                      const char* mode) {
  std::string kml = "<kml><Placemark><name>m</name><Model><altitudeMode>" + std::string(mode) +
                    "</altitudeMode><Location><longitude>" + std::to_string(longitude) +
                    "</longitude><latitude>" + std::to_string(latitude) +
                    "</latitude><altitude>10</altitude></Location><Link><href>m.dae</href>"
                    "</Link></Model></Placemark></kml>";
  std::string model = testdoc::OneInstance(testdoc::Mesh("g", testdoc::kTriangle)).Text();
  return ziptest::Zip(name, {{"doc.kml", kml}, {"m.dae", model}});
}

double HeightIn(const std::string& infoLine) {
  size_t at = infoLine.find("\"height\":");
  return at == std::string::npos ? NAN : std::atof(infoLine.c_str() + at + 9);
}

}  // namespace

// What the tool makes of each altitude mode: on the DEM given, said without one, and an error
// where nothing can give the height asked for.
TEST(Placement, ToolPlacesEachAltitudeModeOnTheDem) {
  using testsupport::Quote;
  using testsupport::RunTool;
  const std::string dem = WriteDem("tool-slope.tif", "EPSG:32632");
  auto terrain = OpenTerrain(dem, nullptr);
  ASSERT_TRUE(terrain);
  const double longitude = 9.001, latitude = 45.0005;
  const double ground = *terrain->HeightAt(longitude, latitude, nullptr);
  const std::string relative = GroundKmz("rel.kmz", longitude, latitude, "relativeToGround");
  auto onDem = RunTool("info -v --dem " + Quote(dem) + " " + Quote(relative));
  EXPECT_EQ(onDem.status, 0) << onDem.err;
  EXPECT_NE(onDem.out.find("\"altitudeMode\":\"relativeToGround\""), std::string::npos);
  EXPECT_NEAR(HeightIn(onDem.out), ground + 10, 1e-2) << onDem.out;
  EXPECT_NE(onDem.err.find("no vertical CRS"), std::string::npos) << onDem.err;
  EXPECT_EQ(onDem.err.find("no terrain"), std::string::npos) << onDem.err;

  auto clamped = RunTool("info --dem " + Quote(dem) + " " +
                         Quote(GroundKmz("clamp.kmz", longitude, latitude, "clampToGround")));
  EXPECT_NEAR(HeightIn(clamped.out), ground, 1e-2) << clamped.out;
  auto noDem = RunTool("info -v " + Quote(relative));
  EXPECT_NEAR(HeightIn(noDem.out), 10, 1e-9) << noDem.out;
  EXPECT_NE(noDem.err.find("no terrain: altitude taken as given"), std::string::npos);

  const std::string doc = testdoc::OneInstance(testdoc::Mesh("g", testdoc::kTriangle)).Write("o.dae");
  auto origin = RunTool("info --origin 9.001,45.0005,3 --altitude-mode relativeToGround --dem " +
                        Quote(dem) + " " + Quote(doc));
  EXPECT_NEAR(HeightIn(origin.out), ground + 3, 1e-2) << origin.out << origin.err;
  auto ellipsoid = RunTool("info --origin 9,45,3 --altitude-mode ellipsoid " + Quote(doc));
  EXPECT_NE(ellipsoid.out.find("\"location\":[9,45,3],\"altitudeMode\":\"ellipsoid\",\"height\":3"),
            std::string::npos) << ellipsoid.out;

  struct Failure {
    std::string args, environment, says;
    int status;
  } failures[] = {
      {"--origin 9,45 --altitude-mode clampToGround", "", "needs a terrain", 1},
      {"--origin 9,45 --altitude-mode sea", "", "not an altitude mode", 2},
      {"--origin 9,45 --dem " + Quote(doc), "", "o.dae: the DEM o.dae is no raster", 2},
      // Without its grid the geoid height is an error, never the ellipsoidal height instead.
      {"--origin 9,45,100", "PROJ_LIB=" + testsupport::ScratchDir() + "/nogrid " +
           "PROJ_DATA=" + testsupport::ScratchDir() + "/nogrid PROJ_NETWORK=OFF ",
       "egm96_15.gtx", 1},
  };
  ASSERT_EQ(testsupport::RunShell("mkdir -p " + testsupport::ScratchDir() +
                                  "/nogrid && ln -sf /usr/share/proj/proj.db " +
                                  testsupport::ScratchDir() + "/nogrid/").status, 0);
  for (const Failure& f : failures) {
    auto run = RunTool("info " + f.args + " " + Quote(doc), f.environment);
    EXPECT_EQ(run.status, f.status) << f.args << "\n" << run.err;
    EXPECT_NE(run.err.find(f.says), std::string::npos) << f.args << "\n" << run.err;
  }
}
