// Models into GIS formats through GDAL, read back with GDAL: the same triangles, polygons and
// extent as the library's geometry, without a warning from GDAL.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cpl_error.h>
#include <gdal_priv.h>
#include <gdal_utils.h>
#include <ogrsf_frmts.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "gis/ogr/Convert.h"
#include "gis/ogr/OgrOutput.h"
#include "support/Documents.h"
#include "support/Outputs.h"

namespace {

using namespace varnel;
using testsupport::Quote;
using testsupport::RunTool;

const bool kDriversRegistered = (GDALAllRegister(), true);

// What GDAL must read back for one model.
struct Expected {
  int64_t shapes = 0;  // triangles plus polygons
  std::array<double, 6> extent{};
};

Expected FromLibrary(const std::string& document) {
  Expected e;
  pipelinetest::Output out = pipelinetest::RunGeometry(document);
  bool first = true;
  for (const pipelinetest::Part& part : out.parts) {
    e.shapes += part.type == 6 ? int64_t(part.points.size() / 3) : part.type == 3 ? 0 : 1;
    for (const pipelinetest::Vec3& p : part.points)
      for (int c = 0; c < 3; ++c) {
        e.extent[c] = first ? p[c] : std::min(e.extent[c], p[c]);
        e.extent[c + 3] = first ? p[c] : std::max(e.extent[c + 3], p[c]);
        first = c < 2 && first;
      }
  }
  return e;
}

int64_t Shapes(const OGRGeometry* g) {
  OGRwkbGeometryType type = wkbFlatten(g->getGeometryType());
  if (type == wkbPolygon || type == wkbTriangle) return 1;
  int64_t n = 0;
  if (auto* collection = dynamic_cast<const OGRGeometryCollection*>(g))
    for (const OGRGeometry* part : *collection) n += Shapes(part);
  if (auto* surface = dynamic_cast<const OGRPolyhedralSurface*>(g))
    for (const OGRPolygon* part : *surface) n += Shapes(part);
  return n;
}

// GDAL's warnings while the object lives.
struct Warnings {
  Warnings() { CPLPushErrorHandlerEx(Count, &heard); }
  ~Warnings() { CPLPopErrorHandler(); }
  static void CPL_STDCALL Count(CPLErr level, CPLErrorNum, const char* message) {
    if (level >= CE_Warning)
      static_cast<std::vector<std::string>*>(CPLGetErrorHandlerUserData())->push_back(message);
  }
  std::vector<std::string> heard;
};

// Every document with output into one layer (one feature each, in order); what was written.
std::vector<Expected> Write(const std::vector<std::string>& documents, const std::string& out,
                            const std::string& format) {
  gis::OgrOutput output;
  std::string error;
  EXPECT_TRUE(output.Open({out, format, "models", "", {}, {}, false, true}, error)) << error;
  std::vector<Expected> written;
  for (const std::string& document : documents) {
    gis::ConvertOptions options;
    options.surface = output.surface();
    gis::ConvertedModel model;
    gis::Model source{document, document, document, {}, {}};
    if (!gis::ConvertModel(source, options, nullptr, model)) continue;
    EXPECT_TRUE(output.Write(model, error)) << document << ": " << error;
    written.push_back(FromLibrary(document));
  }
  EXPECT_TRUE(output.Close(error)) << error;
  EXPECT_EQ(output.warnings(), std::vector<std::string>{}) << format;
  return written;
}

void ExpectReadBack(const std::string& out, const std::vector<Expected>& written,
                    double tolerance) {
  Warnings warnings;
  std::unique_ptr<GDALDataset> dataset(GDALDataset::Open(out.c_str(), GDAL_OF_VECTOR));
  ASSERT_TRUE(dataset) << out;
  OGRLayer* layer = dataset->GetLayer(0);
  ASSERT_EQ(layer->GetFeatureCount(), int64_t(written.size())) << out;
  size_t i = 0;
  for (auto& feature : *layer) {
    SCOPED_TRACE(out + " feature " + std::to_string(i));
    const OGRGeometry* g = feature->GetGeometryRef();
    ASSERT_TRUE(g);
    EXPECT_EQ(Shapes(g), written[i].shapes);
    OGREnvelope3D box;
    g->getEnvelope(&box);
    const double got[6] = {box.MinX, box.MinY, box.MinZ, box.MaxX, box.MaxY, box.MaxZ};
    for (int c = 0; c < 6; ++c)
      EXPECT_NEAR(got[c], written[i].extent[c], tolerance * std::max(1.0, std::fabs(got[c])));
    ++i;
  }
  EXPECT_EQ(warnings.heard, std::vector<std::string>{});
}

std::string Scratch(const std::string& name) {
  std::filesystem::create_directories(testsupport::ScratchDir() + "/convert");
  return testsupport::ScratchDir() + "/convert/" + name;
}

TEST(Convert, EveryCorpusDocumentReadsBackAsTheLibraryBuiltIt) {
  std::vector<std::string> documents = testsupport::CorpusDocuments();
  if (documents.empty()) GTEST_SKIP() << "no corpus";
  std::string gpkg = Scratch("corpus.gpkg");
  ExpectReadBack(gpkg, Write(documents, gpkg, "GPKG"), 1e-12);
  // A sample of every 25th document for the multipatch formats; a File Geodatabase keeps
  // coordinates on its grid.
  std::vector<std::string> sample;
  for (size_t i = 0; i < documents.size(); i += 25) sample.push_back(documents[i]);
  ASSERT_GE(sample.size(), 20u);
  std::string shp = Scratch("sample.shp"), gdb = Scratch("sample.gdb");
  ExpectReadBack(shp, Write(sample, shp, "ESRI Shapefile"), 1e-12);
  ExpectReadBack(gdb, Write(sample, gdb, "OpenFileGDB"), 1e-4);
  // What GeoJSON takes of the shapefile and the GeoPackage: polygons, none lost.
  for (const std::string& from : {shp, gpkg}) {
    std::string json = from + ".geojson";
    testsupport::CommandResult translated =
        testsupport::RunShell("ogr2ogr -f GeoJSON " + Quote(json) + " " + Quote(from));
    EXPECT_EQ(translated.status, 0) << translated.err;
    std::unique_ptr<GDALDataset> read(GDALDataset::Open(json.c_str(), GDAL_OF_VECTOR));
    ASSERT_TRUE(read);
    for (auto& feature : *read->GetLayer(0)) EXPECT_TRUE(feature->GetGeometryRef());
  }
}

}  // namespace

namespace {

std::string Triangle(const std::string& name) {
  return testdoc::OneInstance(testdoc::Mesh("g", testdoc::kTriangle)).Write("many/" + name);
}

TEST(Convert, ManyFilesGoIntoOneLayerInTheirOrderAndTheSummaryNamesTheRest) {
  std::vector<std::string> files;
  for (int i = 0; i < 100; ++i) files.push_back(Triangle("t" + std::to_string(i) + ".dae"));
  files[40] = testsupport::WriteFile("many/broken.dae", "<COLLADA><library_geometries>");
  files[70] = testsupport::ScratchDir() + "/many/missing.dae";
  std::string args;
  for (const std::string& file : files) args += " " + Quote(file);
  std::string out = Scratch("many.gpkg");
  testsupport::CommandResult run = RunTool("convert -j 2 -o " + Quote(out) + args);
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, "varnel: " + files[40] + ": the document holds no visual scene that was read\n"
                     "varnel: " + files[70] + ": No such file or directory\n"
                     "varnel convert: 98 of 100 files converted, 98 features\n");
  std::unique_ptr<GDALDataset> dataset(GDALDataset::Open(out.c_str(), GDAL_OF_VECTOR));
  ASSERT_TRUE(dataset);
  std::vector<std::string> sources;
  for (auto& feature : *dataset->GetLayer(0)) sources.push_back(feature->GetFieldAsString("source"));
  files.erase(files.begin() + 70), files.erase(files.begin() + 40);
  EXPECT_EQ(sources, files);
  // The layer exists now: it is replaced or added to only when asked.
  EXPECT_EQ(RunTool("convert -o " + Quote(out) + " " + Quote(files[0])).status, 2);
  EXPECT_EQ(RunTool("convert -append -o " + Quote(out) + " " + Quote(files[0])).status, 0);
  EXPECT_EQ(RunTool("convert -overwrite -o " + Quote(out) + " " + Quote(files[0])).status, 0);
  dataset.reset(GDALDataset::Open(out.c_str(), GDAL_OF_VECTOR));
  EXPECT_EQ(dataset->GetLayer(0)->GetFeatureCount(), 1);
}

TEST(Convert, PlacedModelsLandInTheirCrs) {
  std::string out = Scratch("placed.gpkg");
  std::string sample = Quote(std::string(VARNEL_TEST_DATA) + "/demo/house.dae");
  const std::string placement = " --origin 9,45,100 -t_srs EPSG:4978 ";
  ASSERT_EQ(RunTool("convert" + placement + "-o " + Quote(out) + " " + sample).status, 0);
  std::unique_ptr<GDALDataset> dataset(GDALDataset::Open(out.c_str(), GDAL_OF_VECTOR));
  ASSERT_TRUE(dataset);
  OGRLayer* layer = dataset->GetLayer(0);
  EXPECT_STREQ(layer->GetSpatialRef()->GetAuthorityCode(nullptr), "4978");
  OGREnvelope3D box;
  OGRFeatureUniquePtr feature(layer->GetNextFeature());
  feature->GetGeometryRef()->getEnvelope(&box);
  // The extent info gives for the same placement.
  std::string info = RunTool("info" + placement + sample).out;
  std::array<double, 6> extent{};
  ASSERT_EQ(std::sscanf(info.c_str() + info.find("\"extent\":["), "\"extent\":[%lf,%lf,%lf,%lf,%lf,%lf",
                        &extent[0], &extent[1], &extent[2], &extent[3], &extent[4], &extent[5]), 6);
  EXPECT_EQ((std::array<double, 6>{box.MinX, box.MinY, box.MinZ, box.MaxX, box.MaxY, box.MaxZ}),
            extent);
}

TEST(Convert, SplitsGiveFeaturesWithTheirFields) {
  std::string sample = std::string(VARNEL_TEST_DATA) + "/demo/house.dae";
  auto features = [&](const std::string& split, const std::string& out) {
    EXPECT_EQ(RunTool("convert --split " + split + " -o " + Quote(out) + " " + Quote(sample)).status, 0);
    std::unique_ptr<GDALDataset> dataset(GDALDataset::Open(out.c_str(), GDAL_OF_VECTOR));
    std::vector<std::string> rows;
    if (!dataset) return rows;
    for (auto& f : *dataset->GetLayer(0)) {
      std::string row;
      for (int i = 2; i < f->GetFieldCount(); ++i) row += std::string(f->GetFieldAsString(i)) + "|";
      rows.push_back(row + std::to_string(Shapes(f->GetGeometryRef())));
    }
    return rows;
  };
  EXPECT_EQ(features("material", Scratch("material.gpkg")),
            (std::vector<std::string>{"brick|#FFFFFF||1|material_20c61c9f9e34f541.png|6",
                                      "roof tiles|#8C2819||1||2", "stone|#727277||1||10"}));
  // Each of the 17 parts carries its material's fields.
  std::map<std::string, int> partsOf;
  for (const std::string& row : features("part", Scratch("part.gpkg")))
    ++partsOf[row.substr(0, row.find('|', row.find('|') + 1))];
  EXPECT_EQ(partsOf, (std::map<std::string, int>{{"brick|#FFFFFF", 5}, {"roof tiles|#8C2819", 2},
                                                 {"stone|#727277", 10}}));
  // The chimney is instanced twice: two features.
  EXPECT_EQ(features("node", Scratch("node.gpkg")),
            (std::vector<std::string>{"house|8", "chimney|5", "chimney|5"}));
  // Texture files are named by the hash of their bytes.
  EXPECT_TRUE(std::filesystem::exists(Scratch("material_20c61c9f9e34f541.png")));
}

// A replacement that fails once the old layer would be gone leaves the old layer: in a
// GeoPackage the deletion is inside the transaction, a shapefile is replaced by rename.
TEST(Convert, AFailedOverwriteKeepsTheOldLayer) {
  std::string sample = std::string(VARNEL_TEST_DATA) + "/demo/house.dae";
  const std::array<std::array<const char*, 3>, 2> rows = {{
      {"kept.gpkg", "FID=name", "Wrong field type for name"},
      {"kept.shp", "SHPT=POINTZ",
       "Attempt to write non-point (MULTIPOLYGON) geometry to point shapefile."},
  }};
  for (const auto& [name, option, reason] : rows) {
    SCOPED_TRACE(name);
    std::string out = Scratch(name);
    ASSERT_EQ(RunTool("convert " + Quote(sample) + " -o " + Quote(out)).status, 0);
    testsupport::CommandResult run = RunTool("convert " + Quote(sample) + " -overwrite -o " +
                                             Quote(out) + " -lco " + option);
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.err, "varnel: " + out + ": GDAL: " + reason + "\n");
    std::unique_ptr<GDALDataset> dataset(GDALDataset::Open(out.c_str(), GDAL_OF_VECTOR));
    ASSERT_TRUE(dataset);
    EXPECT_EQ(dataset->GetLayer(0)->GetFeatureCount(), 1);
  }
}

// The house with its texture replaced by a 2 x 2 image of one grey `level`, in a folder of its own.
std::string HouseWithTexture(const std::string& folder, int level) {
  std::string dir = Scratch(folder);
  std::filesystem::create_directories(dir);
  std::string house = dir + "/house.dae";
  std::filesystem::copy_file(std::string(VARNEL_TEST_DATA) + "/demo/house.dae", house);
  GDALDriver* memory = GetGDALDriverManager()->GetDriverByName("MEM");
  std::unique_ptr<GDALDataset> pixels(memory->Create("", 2, 2, 1, GDT_Byte, nullptr));
  pixels->GetRasterBand(1)->Fill(level);
  GDALDriver* png = GetGDALDriverManager()->GetDriverByName("PNG");
  std::unique_ptr<GDALDataset>(png->CreateCopy((dir + "/brick.png").c_str(), pixels.get(), FALSE,
                                               nullptr, nullptr, nullptr));
  return house;
}

// Appending another model's textures never replaces an earlier feature's: each file is named by
// its bytes.
TEST(Convert, AppendedTexturesKeepEarlierOnes) {
  std::string out = Scratch("textured/site.gpkg");
  std::map<std::string, std::string> textures;  // file -> bytes when first written
  int serial = 0;
  for (int level : {60, 200, 60}) {
    std::string house = HouseWithTexture("textured/" + std::to_string(++serial), level);
    ASSERT_EQ(RunTool("convert --split material -append " + Quote(house) + " -o " + Quote(out))
                  .status, 0);
    std::unique_ptr<GDALDataset> dataset(GDALDataset::Open(out.c_str(), GDAL_OF_VECTOR));
    ASSERT_TRUE(dataset);
    for (auto& feature : *dataset->GetLayer(0)) {
      std::string name = feature->GetFieldAsString("texture");
      if (name.empty()) continue;
      std::string bytes = testsupport::ReadFile(Scratch("textured/" + name));
      EXPECT_FALSE(bytes.empty()) << name;
      EXPECT_EQ(textures.emplace(name, bytes).first->second, bytes) << name;
    }
  }
  EXPECT_EQ(textures.size(), 2u);  // the same texture twice is one file
}

// --textures makes its folder; a folder that refuses the texture fails the run, naming it. As
// root the refusal needs another user, who must reach the tool and the folder.
TEST(Convert, TexturesGoWhereAskedOrTheRunFails) {
  std::string house = HouseWithTexture("textures-asked", 90);
  std::string made = Scratch("textures-asked/made/here");
  EXPECT_EQ(RunTool("convert --split material " + Quote(house) + " --textures " + Quote(made) +
                    " -o " + Quote(Scratch("textures-asked/a.gpkg"))).status, 0);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(made), {}), 1);

  char shared[] = "/tmp/varnel-readonly-XXXXXX";
  ASSERT_TRUE(mkdtemp(shared));
  std::string locked = std::string(shared) + "/locked";
  std::filesystem::create_directories(locked);
  std::filesystem::copy(std::filesystem::path(house).parent_path(), shared);
  std::filesystem::permissions(shared, std::filesystem::perms(0755));
  std::filesystem::permissions(locked, std::filesystem::perms(0555));
  std::string as = geteuid() == 0 ? "runuser -u nobody -- " : "";
  std::string args = " convert --split material " + Quote(std::string(shared) + "/house.dae") +
                     " --textures " + Quote(locked) + " -o " + Quote(std::string(shared) + "/b.gpkg");
  if (!as.empty() && testsupport::RunShell(as + "test -x " + Quote(VARNEL_TOOL)).status != 0) {
    std::filesystem::remove_all(shared);
    GTEST_SKIP() << "nobody cannot run " << VARNEL_TOOL;
  }
  testsupport::CommandResult refused = testsupport::RunShell(as + Quote(VARNEL_TOOL) + args);
  EXPECT_EQ(refused.status, 1);
  EXPECT_EQ(refused.err.rfind("varnel: " + locked + "/b_", 0), 0u) << refused.err;
  EXPECT_NE(refused.err.find(".png: Permission denied\n"), std::string::npos) << refused.err;
  EXPECT_FALSE(std::filesystem::exists(std::string(shared) + "/b.gpkg"));
  std::filesystem::remove_all(shared);
}

}  // namespace

namespace {

// Placemarks that place one document many times read it once: its diagnostics are heard once,
// and every placement still gets its own features, placed where it stands.
TEST(Convert, ADocumentPlacedManyTimesIsReadOnce) {
  // The house without its texture beside it: the import says so.
  std::string doc = testsupport::WriteFile(
      "once/house.dae", testsupport::ReadFile(std::string(VARNEL_TEST_DATA) + "/demo/house.dae"));
  gis::ConvertOptions options;
  gis::ImportCache cache;
  pipelinetest::DiagnosticLog log;
  std::vector<double> eastings;
  for (double longitude : {9.0, 9.001, 9.0}) {
    gis::Model model{"m", doc, doc, gis::Placement{}, {}};
    model.placement->location = {longitude, 45, 0};
    model.placement->altitudeMode = gis::AltitudeMode::kEllipsoid;
    gis::ConvertedModel converted;
    ASSERT_TRUE(gis::ConvertModel(model, options, &log, converted, &cache));
    ASSERT_EQ(converted.features.size(), 1u);
    OGREnvelope box;
    converted.features[0].geometry->getEnvelope(&box);
    eastings.push_back(std::round(box.MinX));
  }
  EXPECT_EQ(eastings, (std::vector<double>{500000, 500079, 500000}));
  ASSERT_EQ(log.lines.size(), 1u);
  EXPECT_EQ(log.lines[0].rfind("texture-missing: ", 0), 0u) << log.lines[0];
  // A polygon with a hole is one polygon with one interior ring.
  const std::string holed = testdoc::OneInstance(testdoc::Mesh("g",
      "<polygons count=\"1\" material=\"m\"><input semantic=\"VERTEX\" source=\"#g-v\" offset=\"0\"/>"
      "<ph><p>0 1 2 3</p><h>4 5 6</h></ph></polygons>", "", "0 0 0 4 0 0 4 4 0 0 4 0 1 1 0 2 1 0 1 2 0"))
      .Write("once/holed.dae");
  options.extended = true;
  gis::ConvertedModel ring;
  ASSERT_TRUE(gis::ConvertModel({"h", holed, holed, {}, {}}, options, &log, ring, &cache));
  ASSERT_EQ(ring.features.size(), 1u);
  const OGRMultiPolygon* polygons = ring.features[0].geometry->toMultiPolygon();
  ASSERT_EQ(polygons->getNumGeometries(), 1);
  EXPECT_EQ(polygons->getGeometryRef(0)->getNumInteriorRings(), 1);
  gis::Model missing{"x", doc + ".gone", doc + ".gone", {}, {}};
  gis::ConvertedModel none;
  EXPECT_FALSE(gis::ConvertModel(missing, options, &log, none, &cache));
  EXPECT_EQ(log.lines.back(), "file-missing: No such file or directory");
}

}  // namespace
