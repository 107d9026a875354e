// Models into GIS formats through GDAL, read back with GDAL: the same triangles, polygons and
// extent as the library's geometry, without a warning from GDAL.
#include <gtest/gtest.h>

#include <cpl_error.h>
#include <gdal_priv.h>
#include <gdal_utils.h>
#include <ogrsf_frmts.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "gis/Convert.h"
#include "gis/OgrOutput.h"
#include "support/Documents.h"
#include "support/Outputs.h"

namespace {

using namespace varnel;
using testsupport::Quote;
using testsupport::RunTool;

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
    gis::Model source{document, document, document, {}};
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
  GDALAllRegister();
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
