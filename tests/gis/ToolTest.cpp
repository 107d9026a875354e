// The varnel tool on archives: one info line per model, placed where its KML puts it.
#include <gtest/gtest.h>

#include <string>

#include "gis/Zip.h"
#include "support/Documents.h"
#include "support/LocalHttpServer.h"
#include "support/TestSupport.h"

namespace {

using testsupport::Quote;
using testsupport::RunTool;

std::string TwoModelKmz() {
  std::string placemark = R"(<Placemark><name>%N</name><Model><altitudeMode>absolute</altitudeMode>
<Location><longitude>%X</longitude><latitude>45</latitude><altitude>10</altitude></Location>
<Link><href>%N.dae</href></Link></Model></Placemark>)";
  auto at = [&](const std::string& name, const std::string& longitude) {
    std::string p = placemark;
    for (size_t i; (i = p.find("%N")) != std::string::npos;) p.replace(i, 2, name);
    return p.replace(p.find("%X"), 2, longitude);
  };
  std::string kml = "<kml><Document>" + at("a", "9") + at("b", "15") + "</Document></kml>";
  std::string model = testdoc::OneInstance(testdoc::Mesh("g", testdoc::kTriangle)).Text();
  return ziptest::Zip("tool/site.kmz", {{"doc.kml", kml}, {"a.dae", model}, {"b.dae", model}});
}

TEST(Tool, InfoGivesEveryModelOfAnArchivePlaced) {
  std::string kmz = TwoModelKmz();
  testsupport::CommandResult info = RunTool("info " + Quote(kmz));
  EXPECT_EQ(info.status, 0) << info.err;
  // Each in the UTM zone of its own location, unless -t_srs names one.
  EXPECT_NE(info.out.find(R"("model":"a","source":")" + kmz + R"(!a.dae")"), std::string::npos);
  EXPECT_NE(info.out.find(R"("crs":"EPSG:32632","location":[9,45,10],"altitudeMode":"absolute")"), std::string::npos);
  EXPECT_NE(info.out.find(R"("crs":"EPSG:32633","location":[15,45,10],"altitudeMode":"absolute")"), std::string::npos);
  testsupport::CommandResult second = RunTool("info --model 2 -t_srs EPSG:4979 " + Quote(kmz));
  EXPECT_EQ(second.out.find("\"model\":\"a\""), std::string::npos);
  EXPECT_NE(second.out.find(R"("extent":[14.99999999)"), std::string::npos) << second.out;
  EXPECT_NE(second.out.find(R"("crs":"EPSG:4979","location":[15,45,10],"altitudeMode":"absolute")"), std::string::npos);
  testsupport::CommandResult third = RunTool("dump --model 3 " + Quote(kmz));
  EXPECT_EQ(third.status, 1);
  EXPECT_EQ(third.err, "varnel: " + kmz + ": no model 3: the file holds 2\n");
}

// A model a local KMZ names by its address is fetched only with --allow-network, which batch
// passes on to its workers.
TEST(Tool, AModelsAddressIsFetchedOnlyWithAllowNetwork) {
  testsupport::LocalHttpServer::BypassProxies();
  testsupport::LocalHttpServer server(testsupport::LocalHttpServer::Always(
      testdoc::OneInstance(testdoc::Mesh("g", testdoc::kTriangle)).Text()));
  std::string url = server.Url("/m.dae");
  std::string kmz = ziptest::Zip("tool/net.kmz", {{"doc.kml", ziptest::PlacingKml(url)}});
  EXPECT_EQ(RunTool("info " + Quote(kmz)).err, "varnel: " + kmz + ": a placemark at line 1: model '" +
                                                   url + "' is on the network, which is not allowed: refused\n");
  EXPECT_EQ(RunTool("batch --allow-network -o " + Quote(testsupport::ScratchDir() + "/tool/net") + " " +
                    Quote(kmz)).status, 0);
  EXPECT_EQ(server.Requests(), 1);
}

// Alone in a folder, without its modules, the tool still reads: only what needs GDAL or PROJ
// loads them, and then names the module it cannot find.
TEST(Tool, WithoutItsModulesStillReads) {
  std::string doc = testsupport::WriteFile("alone/house.dae",
      testdoc::OneInstance(testdoc::Mesh("g", testdoc::kTriangle)).Text());
  std::string tool = testsupport::ScratchDir() + "/alone/varnel";
  ASSERT_EQ(testsupport::RunShell("cp " + Quote(VARNEL_TOOL) + " " + Quote(tool)).status, 0);
  EXPECT_EQ(testsupport::RunShell(Quote(tool) + " info " + Quote(doc)).status, 0);
  testsupport::CommandResult convert =
      testsupport::RunShell(Quote(tool) + " convert " + Quote(doc) + " -o " + Quote(doc + ".gpkg"));
  EXPECT_EQ(convert.status, 2);
  EXPECT_NE(convert.err.find("varnel-convert.so"), std::string::npos) << convert.err;
  testsupport::CommandResult placed = testsupport::RunShell(Quote(tool) + " info --origin 9,45 " + Quote(doc));
  EXPECT_EQ(placed.status, 1);
  EXPECT_NE(placed.err.find("varnel-place.so"), std::string::npos) << placed.err;
}

}  // namespace
