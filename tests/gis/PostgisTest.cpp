// convert into PostGIS for real: a throwaway cluster in a temporary folder, on a Unix socket
// only, run as an unprivileged user (PostgreSQL refuses root), removed at the end.
#include <gtest/gtest.h>

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "support/Documents.h"
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
    started_ = RunShell(as_ + bin_ + "/initdb -A trust -U varnel -D " + Quote(data) +
                        " >/dev/null && " + Server("start")).status == 0 &&
               Sql("CREATE EXTENSION postgis").status == 0;
  }
  // The pg_ctl command that starts or stops (at once) the server.
  static std::string Server(const std::string& action) {
    return as_ + bin_ + "/pg_ctl -w -m immediate -D " + Quote(folder_ + "/data") + " -l " +
           Quote(folder_ + "/log") + " -o \"-c listen_addresses='' " +
           "-c unix_socket_directories='" + folder_ + "'\" " + action + " >/dev/null";
  }
  static void TearDownTestSuite() {
    if (!folder_.empty()) {
      RunShell(Server("stop"));
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

// A run that cannot finish, because the server went away or the user interrupted it, leaves the
// table as it was: -overwrite's deletion is inside the run's transaction.
TEST_F(Postgis, ARunThatCannotFinishLeavesThePreviousTable) {
  std::string sample = Quote(std::string(VARNEL_TEST_DATA) + "/demo/house.dae");
  std::string tool = Quote(VARNEL_TOOL) + " convert -overwrite -nln kept -o " + Quote(Connection());
  ASSERT_EQ(RunShell(tool + " " + sample).status, 0);
  std::string large =
      " " + Quote(testsupport::WriteFile("postgis/large.dae", testdoc::Triangles(20000)));
  std::string inputs;
  for (int i = 0; i < 40; ++i) inputs += large;
  testsupport::CommandResult lost =
      RunShell("{ " + tool + inputs + " & pid=$!; sleep 0.7; " + Server("stop") + "; wait $pid; }");
  EXPECT_EQ(lost.status, 2);
  EXPECT_EQ(lost.err.rfind("varnel: " + Connection() + ": GDAL: ", 0), 0u) << lost.err;
  ASSERT_EQ(RunShell(Server("start")).status, 0) << testsupport::ReadFile(folder_ + "/log");
  EXPECT_EQ(Sql("SELECT count(*) FROM kept").out, "1\n");
  testsupport::CommandResult interrupted =
      RunShell("{ " + tool + inputs + " & pid=$!; sleep 0.7; kill -INT $pid; wait $pid; }");
  EXPECT_EQ(interrupted.status, 130);
  EXPECT_EQ(Sql("SELECT count(*) FROM kept").out, "1\n");
  // And a run that does finish replaces it.
  ASSERT_EQ(RunShell(tool + large + large).status, 0);
  EXPECT_EQ(Sql("SELECT count(*) FROM kept").out, "2\n");
}

}  // namespace
