// convert into PostGIS for real: a throwaway cluster in a temporary folder, on a Unix socket
// only, run as an unprivileged user (PostgreSQL refuses root), removed at the end.
#include <gtest/gtest.h>

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "support/TestSupport.h"

namespace {

using testsupport::Quote;
using testsupport::RunShell;

class Postgis : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    for (const auto& version : {"17", "16", "15", "14", "13"}) {
      std::string bin = std::string("/usr/lib/postgresql/") + version + "/bin";
      std::string extension = std::string("/usr/share/postgresql/") + version +
                              "/extension/postgis.control";
      if (std::filesystem::exists(bin + "/initdb") && std::filesystem::exists(extension)) {
        bin_ = bin;
        break;
      }
    }
    if (bin_.empty()) return;
    char pattern[] = "/tmp/varnel-pg-XXXXXX";
    if (!mkdtemp(pattern)) return;
    folder_ = pattern;
    if (geteuid() == 0) {
      const passwd* nobody = getpwnam("nobody");
      if (!nobody || chown(folder_.c_str(), nobody->pw_uid, nobody->pw_gid) != 0) return;
      as_ = "runuser -u nobody -- ";
    }
    std::string data = folder_ + "/data";
    std::string start = as_ + bin_ + "/initdb -A trust -U varnel -D " + Quote(data) +
                        " >/dev/null && " + as_ + bin_ + "/pg_ctl -w -D " + Quote(data) +
                        " -l " + Quote(folder_ + "/log") + " -o \"-c listen_addresses='' " +
                        "-c unix_socket_directories='" + folder_ + "'\" start >/dev/null";
    started_ = RunShell(start).status == 0 &&
               Sql("CREATE EXTENSION postgis").status == 0;
  }
  static void TearDownTestSuite() {
    if (!folder_.empty()) {
      RunShell(as_ + bin_ + "/pg_ctl -w -m immediate -D " + Quote(folder_ + "/data") +
               " stop >/dev/null");
      std::filesystem::remove_all(folder_);
    }
  }
  void SetUp() override {
    if (bin_.empty()) GTEST_SKIP() << "PostgreSQL with PostGIS is not installed";
    ASSERT_TRUE(started_) << testsupport::ReadFile(folder_ + "/log");
  }
  static testsupport::CommandResult Sql(const std::string& query) {
    return RunShell(bin_ + "/psql -X -A -t -h " + Quote(folder_) + " -U varnel -d postgres -c " +
                    Quote(query));
  }
  static std::string Connection() { return "PG:host=" + folder_ + " user=varnel dbname=postgres"; }

  static std::string bin_, folder_, as_;
  static bool started_;
};

std::string Postgis::bin_, Postgis::folder_, Postgis::as_;
bool Postgis::started_ = false;

TEST_F(Postgis, ConvertLoadsPlacedPolyhedralSurfaces) {
  std::string sample = std::string(VARNEL_TEST_DATA) + "/demo/house.dae";
  testsupport::CommandResult run = testsupport::RunTool(
      "convert --origin 9,45,100 -nln houses -o " + Quote(Connection()) + " " + Quote(sample));
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(Sql("SELECT ST_GeometryType(g), ST_SRID(g), ST_NPoints(g), "
                "ST_NumGeometries(g) FROM houses, LATERAL (SELECT wkb_geometry AS g) s").out,
            "ST_PolyhedralSurface|32632|88|18\n");
  // The house's 10 x 8 x 7 m placed at 9 E, 45 N, zone 32's central meridian, 100 m above sea
  // level: the geoid stands 41.5 m above the ellipsoid there.
  EXPECT_EQ(Sql("SELECT round(ST_XMin(e)::numeric, 3), round(ST_YMin(e)::numeric, 3), "
                "round(ST_ZMin(e)::numeric, 3), round(ST_XMax(e)::numeric, 3), "
                "round(ST_ZMax(e)::numeric, 3) FROM (SELECT ST_3DExtent(wkb_geometry) e "
                "FROM houses) s").out,
            "500000.000|4982950.400|141.503|500009.996|148.503\n");
}

}  // namespace
