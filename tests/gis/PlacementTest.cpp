#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <string>

#include "gis/Placement.h"
#include "support/Documents.h"
#include "support/Outputs.h"

using namespace varnel;
using namespace varnel::gis;

namespace {

using Point = std::array<double, 3>;

Point Place(const Placer& placer, Point p) {
  EXPECT_TRUE(placer.PlacePoints(&p[0], &p[1], &p[2], 3, 1));
  return p;
}

std::unique_ptr<Placer> At(double longitude, double latitude, double heading = 0,
                           double scale = 1, const std::string& crs = "") {
  Placement placement;
  placement.location = {longitude, latitude, 100};
  placement.heading = heading;
  placement.scale[0] = placement.scale[1] = placement.scale[2] = scale;
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

// On the central meridian of zone 32 grid north is true north; the grid scale there is 0.9996.
TEST(Placement, HeadingTiltRollAndScaleActAsInKml) {
  Point origin = Place(*At(9, 45, 90), {0, 0, 0}), ahead = Place(*At(9, 45, 90), {0, 10, 0});
  EXPECT_NEAR(ahead[0] - origin[0], 10 * 0.9996, 2e-3);  // heading 90 turns +Y east
  EXPECT_NEAR(ahead[1] - origin[1], 0, 1e-3);
  EXPECT_NEAR(Place(*At(9, 45, 0, 2), {5, 0, 0})[0] - origin[0], 10 * 0.9996, 2e-3);
  Placement placement;
  placement.location = {9, 45, 0};
  placement.tilt = 90;
  EXPECT_NEAR(Place(*Placer::ForPlacement(placement, "", nullptr), {0, 10, 0})[2], 10, 1e-3);
  placement.tilt = 0, placement.roll = 90;
  EXPECT_NEAR(Place(*Placer::ForPlacement(placement, "", nullptr), {-10, 0, 0})[2], 10, 1e-3);
}

TEST(Placement, UtmZonesOfBothHemispheresAndTheDateLine) {
  EXPECT_EQ(UtmCrs(10.5, 50.2), "EPSG:32632");
  EXPECT_EQ(UtmCrs(-58.4, -34.6), "EPSG:32721");
  EXPECT_EQ(UtmCrs(180, 0), "EPSG:32601");
  EXPECT_EQ(UtmCrs(179.99, 0), "EPSG:32660");
  EXPECT_EQ(UtmCrs(-180, 0), "EPSG:32601");
}

TEST(Placement, GeographicAndEarthCentredTargets) {
  Point degrees = Place(*At(10.5, 50.2, 0, 1, "EPSG:4979"), {0, 0, 0});
  EXPECT_NEAR(degrees[0], 10.5, 1e-9);  // longitude first whatever the CRS's axis order
  EXPECT_NEAR(degrees[1], 50.2, 1e-9);
  EXPECT_NEAR(degrees[2], 100, 1e-6);
  Point centred = Place(*At(0, 0, 0, 1, "EPSG:4978"), {0, 0, 0});
  EXPECT_NEAR(centred[0], 6378137 + 100, 1e-6);
}

TEST(Placement, UnknownCrsIsReported) {
  pipelinetest::DiagnosticLog log;
  double offset[3] = {0, 0, 0};
  EXPECT_FALSE(Placer::ForProjected("EPSG:999999", offset, "", &log));
  ASSERT_TRUE(log.First(DiagnosticKind::kPlacement));
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
}
