// varnel: inspect, dump and convert COLLADA models from the command line.
// Exit status: 0 output produced, 1 a document gave no output, 2 usage or write error.
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "cli/Batch.h"
#include "cli/Commands.h"
#include "cli/Modules.h"
#include "cli/Staging.h"
#include <varnel/version.h>

namespace {

// GDAL's tools spell their long options with one dash; CLI11 takes those with two.
void AcceptGdalSpelling(int argc, char** argv, std::vector<std::string>& storage) {
  static const char* const kGdalOptions[] = {"-a_srs", "-t_srs", "-nln",   "-nlt",
                                             "-lco",   "-dsco",  "-append", "-overwrite"};
  storage.reserve(static_cast<size_t>(argc));
  for (int i = 1; i < argc; ++i) {
    for (const char* option : kGdalOptions) {
      if (std::strcmp(argv[i], option) == 0) {
        storage.push_back(std::string("-") + option);
        argv[i] = storage.back().data();
      }
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  // Before any thread starts, so that all of them leave SIGINT and SIGTERM to one.
  varnel::cli::Interrupts::Process().Start();
  std::vector<std::string> respelled;
  AcceptGdalSpelling(argc, argv, respelled);
  using namespace varnel::cli;
  CLI::App app("Inspects, dumps and converts COLLADA models.\n"
               "FILE is a local path or an http(s) address.",
               "varnel");
  app.set_version_flag("--version", "varnel " VARNEL_VERSION_STRING);
  app.footer("exit status: 0 output produced, 1 no output (the reason on standard error),\n"
             "2 usage or write error");
  app.require_subcommand(1);

  std::string file, out;
  ReadOptions read;
  PlaceOptions place;
  bool confine = false, noConfine = false;
  auto readFlags = [&](CLI::App* sub) {
    CLI::Option* strict = sub->add_flag(
        "--strict", [&](int64_t) { read.extended = false; },
        "read only the core elements, exactly as the library's plain entry points do");
    // Kept for scripts written when the extended reading had to be asked for.
    sub->add_flag("--extended")
        ->description("the default: also read what common exporters write beyond the core "
                      "elements")
        ->excludes(strict);
    sub->add_flag("-v,--verbose", read.verbose, "every diagnostic on standard error");
    CLI::Option* on = sub->add_flag("--confine-textures", confine,
                                    "read textures only from the document's folder tree (or its "
                                    "archive's); default for convert and batch");
    sub->add_flag("--no-confine-textures", noConfine, "read textures wherever the document names")
        ->excludes(on);
    sub->add_flag("--allow-network", read.allowNetwork,
                  "fetch the http(s) models a local KMZ or KML names");
  };
  auto placeOptions = [&](CLI::App* sub) {
    sub->add_option("--model", place.model, "the model of an archive or KML to read, from 1")
        ->check(CLI::PositiveNumber);
    sub->add_option("--origin", place.request.origin,
                    "place the model at LON,LAT[,ALT[,HEADING]] (degrees, metres)")
        ->delimiter(',')
        ->expected(2, 4);
    sub->add_option("--a_srs", place.request.sourceCrs,
                    "the CRS the model's coordinates are in (-a_srs, as GDAL spells it)");
    sub->add_option("--offset", place.request.offset, "X,Y[,Z] added in that CRS (a false origin)")
        ->delimiter(',')
        ->expected(2, 3)
        ->needs("--a_srs");
    sub->add_option("--t_srs", place.request.targetCrs,
                    "the CRS of placed coordinates (-t_srs; a compound CRS gives heights in its "
                    "vertical datum; default: the UTM zone)");
    sub->add_option("--altitude-mode", place.altitudeMode,
                    "how --origin's ALT is measured: absolute (above sea level, the default), "
                    "clampToGround, relativeToGround, clampToSeaFloor, relativeToSeaFloor "
                    "(these need --dem) or ellipsoid (above the WGS 84 ellipsoid)")
        ->check([](const std::string& name) {
          return varnel::gis::AltitudeModeNamed(name) ? std::string()
                                                      : "not an altitude mode: " + name;
        })
        ->needs("--origin");
    sub->add_option("--dem", place.dem,
                    "a raster of ground heights (any GDAL raster) for the ground-relative "
                    "altitude modes");
  };
  auto command = [&](const char* name, const char* what, const char* output) {
    CLI::App* sub = app.add_subcommand(name, what);
    sub->add_option("FILE", file, "COLLADA document, KMZ, ZAE or KML")->required();
    if (output) sub->add_option("-o,--output", out, output)->required();
    readFlags(sub);
    placeOptions(sub);
    return sub;
  };
  CLI::App* info = command("info", "geometry summary as one JSON line", nullptr);
  CLI::App* dump = command("dump", "every display-list call as one JSON line each", nullptr);
  CLI::App* buffer = command("buffer", "the multipatch byte buffer", "output file");
  CLI::App* shp = command("shp", "a MultiPatch shapefile (.shp, .shx, .dbf, .prj): convert -f "
                          "\"ESRI Shapefile\"", "the .shp to write");
  CLI::App* obj = command("obj", "Wavefront OBJ with .mtl and PNG textures", "the .obj to write");
  buffer->add_flag("--place", place.place, "write placed coordinates (see --origin, -a_srs)");
  GltfCommand gltfCommand;
  CLI::App* gltf = command("gltf", "glTF 2.0: a .glb, or a .gltf with its .bin and images beside it",
                           "the .glb or .gltf to write");
  gltf->add_flag("--all", gltfCommand.all, "every model of an archive or KML, one node each")
      ->excludes("--model");
  gltf->add_option("--split", gltfCommand.split, "what a feature is: model, node, material or part")
      ->check(CLI::IsMember({"model", "node", "material", "part"}))
      ->capture_default_str();
  gltf->add_flag("--unlit", gltfCommand.unlit, "materials without lighting (KHR_materials_unlit)");
  gltf->add_flag("--ecef", gltfCommand.ecef,
                 "a root matrix to earth-centred coordinates, for globe viewers");
  CLI::Option* meshopt = gltf->add_flag("--meshopt", gltfCommand.meshopt,
                                        "EXT_meshopt_compression with KHR_mesh_quantization");
  gltf->add_flag("--draco", gltfCommand.draco, "KHR_draco_mesh_compression")->excludes(meshopt);

  ConvertCommand convertCommand;
  CLI::App* convert = app.add_subcommand(
      "convert", "models into one layer of a GIS format, through GDAL (see -f)");
  convert->add_option("FILE", convertCommand.inputs, "COLLADA documents, KMZ, ZAE or KML files")
      ->required();
  convert->add_option("-o,--output", convertCommand.output.destination,
                      "the dataset: a file, a .gdb folder or PG:\"dbname=...\"")
      ->required();
  convert->add_option("-f,--format", convertCommand.output.format,
                      "a GDAL vector driver (default from the output: .gpkg GPKG, .gdb "
                      "OpenFileGDB, .shp, .geojson, .fgb, PG:; else GPKG)");
  convert->add_option("--nln", convertCommand.output.layerName, "layer name (-nln)");
  convert->add_option("--nlt", convertCommand.output.geometryType,
                      "MULTIPOLYGON, POLYHEDRALSURFACE, TIN or MULTIPATCH (-nlt; default by "
                      "format)");
  convert->add_option("--lco", convertCommand.output.layerOptions, "NAME=VALUE (-lco), repeatable");
  convert->add_option("--dsco", convertCommand.output.datasetOptions,
                      "NAME=VALUE (-dsco), repeatable");
  CLI::Option* append =
      convert->add_flag("--append", convertCommand.output.append, "add to the layer (-append)");
  convert->add_flag("--overwrite", convertCommand.output.overwrite, "replace the layer (-overwrite)")
      ->excludes(append);
  convert->add_option("--split", convertCommand.split, "one feature per model, node, material or part")
      ->check(CLI::IsMember({"model", "node", "material", "part"}))
      ->capture_default_str();
  convert->add_option("--textures", convertCommand.textureFolder,
                      "where material textures go (default: beside the output)");
  convert->add_option("-j,--jobs", convertCommand.jobs, "worker threads")
      ->check(CLI::Range(1, 1024))
      ->capture_default_str();
  readFlags(convert);
  placeOptions(convert);

  TilesCommand tilesCommand;
  CLI::App* tiles = app.add_subcommand(
      "tiles", "every model of every file, placed on the earth, as one 3D Tiles 1.1 tileset");
  tiles->add_option("FILE", tilesCommand.inputs, "COLLADA documents, KMZ, ZAE or KML files")
      ->required();
  tiles->add_option("-o,--output", tilesCommand.output, "the tileset's folder")->required();
  tiles->add_option("--max-tile-bytes", tilesCommand.maxTileBytes,
                    "the bound on a tile's content; a larger model gets a tile of its own")
      ->check(CLI::Range(uint64_t{1024}, uint64_t{1} << 31))
      ->capture_default_str();
  tiles->add_option("--max-texture", tilesCommand.maxTexture,
                    "resample textures with a side over N pixels to fit N")
      ->check(CLI::Range(1, 1 << 16));
  tiles->add_option("-j,--jobs", tilesCommand.jobs, "worker threads")
      ->check(CLI::Range(1, 1024))
      ->capture_default_str();
  tiles->add_flag("--lod", tilesCommand.lod,
                  "parents hold a simplified copy of their children, which they replace");
  tiles->add_flag("--viewer", tilesCommand.viewer,
                  "also write index.html, a CesiumJS page showing the tileset (make view DIR=...)");
  tiles->add_option("--imagery", tilesCommand.imagery,
                    "the viewer globe's imagery: a URL template with {z}, {x}, {y} (none by "
                    "default: the page fetches nothing from elsewhere)")
      ->needs("--viewer");
  readFlags(tiles);
  placeOptions(tiles);

  BatchOptions batchOptions;
  CLI::App* batch = app.add_subcommand("batch", "convert many files in worker processes");
  batch->add_option("FILE", batchOptions.inputs, "COLLADA documents")->required();
  batch->add_option("-o,--output", batchOptions.outputDir, "output folder")->required();
  batch->add_option("-j,--jobs", batchOptions.jobs, "worker processes")
      ->check(CLI::Range(1, 1024))
      ->capture_default_str();
  batch->add_option("--format", batchOptions.format, "output format")
      ->check(CLI::IsMember({"shp", "buffer", "obj", "gltf"}))
      ->capture_default_str();
  readFlags(batch);

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    if (e.get_exit_code() == 0) return app.exit(e);  // --help, --version
    // For a mistyped command CLI11 would only say that a command is missing.
    bool unknown = app.get_subcommands().empty() && argc > 1 && argv[1][0] != '-';
    std::string problem = unknown ? "unknown command " + std::string(argv[1]) : e.what();
    std::fprintf(stderr, "varnel: %s\n", problem.c_str());
    return 2;
  }

  // What an interruption before the command names its output says was left alone.
  Interrupts::Process().Name(*convert ? convertCommand.output.destination
                             : *tiles ? tilesCommand.output : out);
  // Commands that take many files, often from elsewhere, confine textures unless told not to.
  read.confineTextures = confine || (!noConfine && (*batch || *convert || *tiles));
  if (!place.altitudeMode.empty())
    place.request.originMode = *varnel::gis::AltitudeModeNamed(place.altitudeMode);
  if (!place.dem.empty()) {
    Diagnostics heard(place.dem, read);
    place.request.terrain = TerrainFromModule(place.dem, &heard);
    if (!place.request.terrain) {
      Report(place.dem, heard.TakeReason().c_str());
      return 2;
    }
  }
  if (*batch) {
    if (!EnsureDirectory(batchOptions.outputDir)) {
      Report(batchOptions.outputDir, "cannot create the output folder");
      return 2;
    }
    const std::string tool = ToolPath();
    return RunBatch(tool.empty() ? argv[0] : tool, batchOptions, read);
  }
  if (*info) return RunInfo(file, read, place);
  if (*dump) return RunDump(file, read, place);
  if (*buffer) return RunBuffer(file, out, read, place);
  if (*convert) return RunConvertModule(convertCommand, read, place);
  if (*shp) {
    // Shorthand for convert -f "ESRI Shapefile", replacing what was there.
    ConvertCommand shapefile;
    shapefile.inputs = {file};
    shapefile.output.destination = out.ends_with(".shp") ? out : out + ".shp";
    shapefile.output.format = "ESRI Shapefile";
    shapefile.output.overwrite = true;
    return RunConvertModule(shapefile, read, place);
  }
  if (*obj) return RunObj(file, out, read, place);
  if (*tiles) return RunTilesModule(tilesCommand, read, place);
  if (*gltf) {
    gltfCommand.input = file, gltfCommand.output = out;
    return RunGltfModule(gltfCommand, read, place);
  }
  return 2;
}
