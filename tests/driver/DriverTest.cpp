// The GDAL driver plugin, loaded by GDAL from the build tree: the layers, features and errors
// GDAL's API and tools see.
#include <gtest/gtest.h>

#include <cpl_conv.h>
#include <cpl_error.h>
#include <gdal_priv.h>
#include <ogrsf_frmts.h>

#include <array>
#include <clocale>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "gis/Zip.h"
#include "support/Documents.h"
#include "support/LocalHttpServer.h"
#include "support/TestSupport.h"

namespace {

using testsupport::Quote;
using testsupport::RunShell;
using testsupport::RunTool;

const bool kRegistered = (CPLSetConfigOption("GDAL_DRIVER_PATH", VARNEL_GDAL_PLUGINS),
                          GDALAllRegister(), true);
const std::string kHouse = std::string(VARNEL_TEST_DATA) + "/demo/house.dae";

using Dataset = std::unique_ptr<GDALDataset>;
Dataset Open(const std::string& path, const std::vector<const char*>& options = {},
             const char* const* drivers = nullptr) {
  CPLStringList list;
  for (const char* o : options) list.AddString(o);
  return Dataset(GDALDataset::Open(path.c_str(), GDAL_OF_VECTOR, drivers, list.List()));
}

// GDAL's last error message, kept off the console.
struct LastError {
  LastError() { CPLPushErrorHandler(CPLQuietErrorHandler); }
  ~LastError() { CPLPopErrorHandler(); }
  std::string operator()() const { return CPLGetLastErrorMsg(); }
};

std::string DriverOf(const std::string& path) {
  GDALDriverH driver = GDALIdentifyDriverEx(path.c_str(), GDAL_OF_VECTOR, nullptr, nullptr);
  return driver ? GDALGetDescription(driver) : "";
}

std::array<double, 6> Extent3D(OGRLayer& layer) {
  OGREnvelope3D all;
  for (auto& feature : layer) {
    OGREnvelope3D box;
    feature->GetGeometryRef()->getEnvelope(&box);
    all.Merge(box);
  }
  return {all.MinX, all.MinY, all.MinZ, all.MaxX, all.MaxY, all.MaxZ};
}

std::array<double, 6> InfoExtent(const std::string& args) {
  std::string info = RunTool("info " + args).out;
  std::array<double, 6> e{};
  size_t at = info.find("\"extent\":[");
  if (at != std::string::npos)
    std::sscanf(info.c_str() + at, "\"extent\":[%lf,%lf,%lf,%lf,%lf,%lf", &e[0], &e[1], &e[2],
                &e[3], &e[4], &e[5]);
  return e;
}

// A KMZ of two houses 80 m apart at 45 N, in UTM zone 32.
std::string TwoHouses() {
  std::string kml = "<kml><Document>";
  for (std::string at : {"first</name>9", "second</name>9.001"})
    kml += "<Placemark><name>" + at.replace(at.find('>') + 1, 0, "<Model><Location><longitude>") +
           "</longitude><latitude>45</latitude><altitude>100</altitude></Location><altitudeMode>"
           "absolute</altitudeMode><Link><href>house.dae</href></Link></Model></Placemark>";
  return ziptest::Zip("driver/houses.kmz", {{"doc.kml", kml + "</Document></kml>"},
                                            {"house.dae", testsupport::ReadFile(kHouse)}});
}

TEST(Driver, ADocumentIsOneLayerWithTheExtentInfoGives) {
  Dataset dataset = Open(kHouse);
  ASSERT_TRUE(dataset);
  EXPECT_STREQ(dataset->GetDriverName(), "Varnel");
  OGRLayer* layer = dataset->GetLayer(0);
  EXPECT_STREQ(layer->GetName(), "house");
  EXPECT_EQ(layer->GetGeomType(), wkbMultiPolygon25D);
  EXPECT_EQ(layer->GetSpatialRef(), nullptr);
  EXPECT_TRUE(layer->TestCapability(OLCFastFeatureCount));
  EXPECT_TRUE(layer->TestCapability(OLCFastGetExtent));
  EXPECT_EQ(layer->GetFeatureCount(false), 1);
  EXPECT_EQ(Extent3D(*layer), InfoExtent(Quote(kHouse)));
  OGREnvelope box;
  ASSERT_EQ(layer->GetExtent(&box, false), OGRERR_NONE);
  EXPECT_EQ((std::array<double, 4>{box.MinX, box.MinY, box.MaxX, box.MaxY}),
            (std::array<double, 4>{0, 0, 10, 8}));
}

TEST(Driver, EverySplitGivesWhatConvertWrites) {
  for (const char* split : {"model", "node", "material", "part"}) {
    SCOPED_TRACE(split);
    std::string gpkg = testsupport::ScratchDir() + "/driver-" + split + ".gpkg";
    ASSERT_EQ(RunTool(std::string("convert --split ") + split + " -o " + Quote(gpkg) + " " +
                      Quote(kHouse)).status, 0);
    std::string option = std::string("SPLIT=") + split;
    Dataset written = Open(gpkg), read = Open(kHouse, {option.c_str()});
    ASSERT_TRUE(written && read);
    OGRLayer *a = written->GetLayer(0), *b = read->GetLayer(0);
    ASSERT_EQ(a->GetFeatureCount(), b->GetFeatureCount());
    ASSERT_EQ(a->GetLayerDefn()->GetFieldCount(), b->GetLayerDefn()->GetFieldCount());
    for (int64_t i = 0; i < a->GetFeatureCount(); ++i) {
      std::unique_ptr<OGRFeature> x(a->GetNextFeature()), y(b->GetNextFeature());
      EXPECT_TRUE(x->GetGeometryRef()->Equals(y->GetGeometryRef())) << i;
      // A reader writes no texture files, so its texture fields stay empty.
      for (int f = 0; f < x->GetFieldCount(); ++f) {
        if (std::string_view(x->GetFieldDefnRef(f)->GetNameRef()) == "texture") continue;
        EXPECT_STREQ(x->GetFieldAsString(f), y->GetFieldAsString(f)) << i << " field " << f;
      }
    }
  }
}

TEST(Driver, AKmzIsOneLayerOfPlacedModelsAndOptionsChangeIt) {
  std::string kmz = TwoHouses();
  Dataset dataset = Open(kmz);
  ASSERT_TRUE(dataset);
  OGRLayer* layer = dataset->GetLayer(0);
  EXPECT_STREQ(layer->GetName(), "houses");
  EXPECT_STREQ(layer->GetSpatialRef()->GetAuthorityCode(nullptr), "32632");
  EXPECT_EQ(layer->GetFeatureCount(), 2);
  std::unique_ptr<OGRFeature> second(layer->GetFeature(1));
  ASSERT_TRUE(second);
  EXPECT_STREQ(second->GetFieldAsString("name"), "second");
  EXPECT_EQ(second->GetFieldAsString("source"), kmz + "!/house.dae");

  Dataset tin = Open(kmz, {"GEOMETRY=TIN", "SPLIT=MATERIAL", "T_SRS=EPSG:4979"});
  ASSERT_TRUE(tin);
  EXPECT_EQ(tin->GetLayer(0)->GetGeomType(), wkbTINZ);
  EXPECT_EQ(tin->GetLayer(0)->GetFeatureCount(), 6);
  EXPECT_STREQ(tin->GetLayer(0)->GetSpatialRef()->GetAuthorityCode(nullptr), "4979");

  // A document placed around a false origin by A_SRS and OFFSET.
  Dataset shifted = Open(kHouse, {"A_SRS=EPSG:2056", "OFFSET=2600000,1200000", "T_SRS=EPSG:2056"});
  ASSERT_TRUE(shifted);
  EXPECT_EQ(Extent3D(*shifted->GetLayer(0))[0], 2600000);

  // Each option spelt as the tool spells it gives what the tool gives.
  const char* const kPlacements[][3] = {
      {"ORIGIN=9,45,100,30", "", "--origin 9,45,100,30"},
      {"ORIGIN=9.5,45.25,100", "", "--origin 9.5,45.25,100"},
      {"ORIGIN=9,45,100", "ALTITUDE_MODE=ellipsoid", "--origin 9,45,100 --altitude-mode ellipsoid"},
  };
  for (const auto& [origin, mode, args] : kPlacements) {
    std::vector<const char*> options{origin};
    if (*mode) options.push_back(mode);
    Dataset byOption = Open(kHouse, options);
    ASSERT_TRUE(byOption) << origin;
    EXPECT_EQ(Extent3D(*byOption->GetLayer(0)), InfoExtent(std::string(args) + " " + Quote(kHouse)));
  }
  // A host that set a decimal-comma locale reads and places numbers as any other.
  std::array<double, 6> inC = Extent3D(*Open(kHouse, {"ORIGIN=9.5,45.25,100"})->GetLayer(0));
  if (std::setlocale(LC_ALL, "de_DE.UTF-8")) {
    Dataset underLocale = Open(kHouse, {"ORIGIN=9.5,45.25,100"});
    std::setlocale(LC_ALL, "C");
    ASSERT_TRUE(underLocale);
    EXPECT_EQ(Extent3D(*underLocale->GetLayer(0)), inC);
  }

  LastError error;
  EXPECT_FALSE(Open(kHouse, {"ORIGIN=9,45", "ALTITUDE_MODE=clampToGround"}));
  EXPECT_NE(error().find("needs a terrain"), std::string::npos) << error();
  EXPECT_FALSE(Open(kHouse, {"ORIGIN=9,45", "DEM=/nonexistent.tif"}));
  EXPECT_NE(error().find("DEM=/nonexistent.tif: the DEM nonexistent.tif is no raster"),
            std::string::npos) << error();
  EXPECT_FALSE(Open(kHouse, {"ORIGIN=9"}));
  EXPECT_EQ(error(), "ORIGIN=9: 2 to 4 numbers separated by commas");
  EXPECT_FALSE(Open(kHouse, {"SPLIT=ROOF"}));
  EXPECT_EQ(error(), "SPLIT: MODEL, NODE, MATERIAL or PART");
}

// QGIS opening a KMZ must not make requests the user did not ask for.
TEST(Driver, AModelsAddressIsFetchedOnlyWithAllowNetwork) {
  testsupport::LocalHttpServer::BypassProxies();
  testsupport::LocalHttpServer server(testsupport::LocalHttpServer::Always(
      testdoc::OneInstance(testdoc::Mesh("g", testdoc::kTriangle)).Text()));
  std::string kmz = ziptest::Zip("driver/net.kmz", {{"doc.kml", ziptest::PlacingKml(server.Url("/m.dae"))}});
  LastError quiet;
  EXPECT_TRUE(!Open(kmz) && Open(kmz, {"ALLOW_NETWORK=YES"}));
  EXPECT_EQ(server.Requests(), 1);  // by the second open alone
}

TEST(Driver, ReadingFollowsGdalsRules) {
  Dataset dataset = Open(TwoHouses());
  ASSERT_TRUE(dataset);
  OGRLayer* layer = dataset->GetLayer(0);
  auto names = [&] {
    std::string all;
    for (auto& feature : *layer) all += std::to_string(feature->GetFID()) + feature->GetFieldAsString("name") + " ";
    return all;
  };
  EXPECT_EQ(names(), "0first 1second ");
  EXPECT_EQ(names(), "0first 1second ");
  std::unique_ptr<OGRFeature>(layer->GetNextFeature());
  layer->ResetReading();
  EXPECT_EQ(std::unique_ptr<OGRFeature>(layer->GetNextFeature())->GetFID(), 0);
  EXPECT_EQ(layer->GetFeature(2), nullptr);
  EXPECT_EQ(layer->GetFeature(-1), nullptr);

  // The second house stands east of 500050.
  layer->SetSpatialFilterRect(500050, 0, 600000, 1e7);
  EXPECT_EQ(names(), "1second ");
  EXPECT_FALSE(layer->TestCapability(OLCFastFeatureCount));
  EXPECT_EQ(layer->GetFeatureCount(), 1);
  layer->SetSpatialFilter(nullptr);
  ASSERT_EQ(layer->SetAttributeFilter("name = 'first'"), OGRERR_NONE);
  EXPECT_EQ(names(), "0first ");
  EXPECT_EQ(layer->GetFeatureCount(), 1);
}

TEST(Driver, ClaimsModelsByContentAndLeavesOtherFilesAlone) {
  using testsupport::WriteFile;
  std::string collada = "\xEF\xBB\xBF<?xml version=\"1.0\"?>\n<!-- " + std::string(2000, '-') +
                        " -->\n<c:COLLADA xmlns:c=\"http://www.collada.org/2005/11/COLLADASchema\"/>";
  EXPECT_EQ(DriverOf(WriteFile("driver/prefixed.xml", collada)), "Varnel");
  EXPECT_EQ(DriverOf(WriteFile("driver/other.dae", "<?xml version=\"1.0\"?><svg/>")), "");
  std::string point = "<kml><Placemark><Point><coordinates>9,45</coordinates></Point></Placemark></kml>";
  EXPECT_NE(DriverOf(WriteFile("driver/point.kml", point)), "Varnel");
  EXPECT_NE(DriverOf(ziptest::Zip("driver/point.kmz", {{"doc.kml", point}})), "Varnel");
  EXPECT_EQ(DriverOf(WriteFile("driver/model.kml", "<kml><Model><Link><href>a.dae</href></Link></Model></kml>")), "Varnel");
  EXPECT_EQ(DriverOf(WriteFile("driver/prefixed.kml", "<kml:kml xmlns:kml=\"http://www.opengis.net/kml/2.2\">"
                                                      "<kml:Placemark><kml:Model><kml:Link><kml:href>a.dae</kml:href>"
                                                      "</kml:Link></kml:Model></kml:Placemark></kml:kml>")), "Varnel");
  EXPECT_EQ(DriverOf(TwoHouses()), "Varnel");
  EXPECT_EQ(DriverOf("https://example.invalid/models/house.dae?version=2"), "Varnel");
}

TEST(Driver, AModelThatGivesNothingIsAnErrorWithVarnelsReason) {
  testdoc::Doc doc = testdoc::OneInstance(testdoc::Mesh("g", testdoc::kTriangle));
  doc.asset = "<asset><coverage/><up_axis>Z_UP</up_axis></asset>";
  std::string path = doc.Write("driver/coverage.dae");
  LastError error;
  for (const char* strict : {"STRICT=YES", "EXTENDED=NO"}) {
    EXPECT_FALSE(Open(path, {strict}));
    EXPECT_EQ(error(), path + ": parsing stopped at line 2: <coverage> is not read; the driver "
                              "reads it without STRICT=YES");
  }
  EXPECT_TRUE(Open(path));
  EXPECT_TRUE(Open(path, {"STRICT=NO"}));
  std::string empty = testdoc::Doc().Write("driver/empty.dae");
  EXPECT_FALSE(Open(empty));
  EXPECT_EQ(error(), empty + ": the scene places no geometry");
}

TEST(Driver, GdalsToolsReadModels) {
#ifdef VARNEL_SANITIZED_BUILD
  GTEST_SKIP() << "GDAL's tools cannot load a plugin built with sanitizers";
#endif
  std::string env = "GDAL_DRIVER_PATH=" + Quote(VARNEL_GDAL_PLUGINS) + " ";
  testsupport::CommandResult info = RunShell(env + "ogrinfo -ro -al -so " + Quote(kHouse));
  ASSERT_EQ(info.status, 0) << info.err;
  for (const char* line : {"using driver `Varnel' successful", "Layer name: house",
                           "Geometry: 3D Multi Polygon", "Feature Count: 1",
                           "Extent: (0.000000, 0.000000) - (10.000000, 8.000000)"})
    EXPECT_NE(info.out.find(line), std::string::npos) << line << "\n" << info.out;
  std::string gpkg = testsupport::ScratchDir() + "/driver/houses.gpkg";
  ASSERT_EQ(RunShell(env + "ogr2ogr " + Quote(gpkg) + " " + Quote(TwoHouses())).status, 0);
  Dataset copied = Open(gpkg);
  ASSERT_TRUE(copied);
  EXPECT_EQ(copied->GetLayer(0)->GetFeatureCount(), 2);
  EXPECT_STREQ(copied->GetLayer(0)->GetSpatialRef()->GetAuthorityCode(nullptr), "32632");
}

TEST(Driver, EveryCorpusFileOpensOrSaysWhy) {
  std::string dir = testsupport::CorpusDir();
  if (dir.empty()) GTEST_SKIP() << "no corpus";
  const char* const only[] = {"Varnel", nullptr};
  int opened = 0;
  LastError error;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(dir)) {
    std::string path = entry.path().string(), extension = entry.path().extension().string();
    if (extension != ".dae" && extension != ".zae" && extension != ".kmz") continue;
    CPLErrorReset();
    Dataset dataset = Open(path, {}, only);
    // Archives that hold no model are not claimed: no error.
    EXPECT_TRUE(dataset || error().empty() || error().rfind(path + ": ", 0) == 0) << error();
    if (!dataset) continue;
    ++opened;
    EXPECT_GT(dataset->GetLayer(0)->GetFeatureCount(), 0) << path;
    for (auto& feature : *dataset->GetLayer(0)) EXPECT_TRUE(feature->GetGeometryRef()) << path;
  }
  EXPECT_GT(opened, 400);
}

}  // namespace
