// The `varnel._varnel` extension: models as numpy arrays and converted features as WKB, read with
// the GIL released. The Python package above it turns them into objects and frames.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <gdal.h>
#include <ogr_feature.h>

#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include <varnel/DataBufferWriter.h>
#include <varnel/MultipatchLayout.h>
#include <varnel/Varnel.h>

#include "gis/Models.h"
#include "gis/Placement.h"
#include "gis/ogr/Convert.h"
#include "gis/ogr/Features.h"
#include "gis/ogr/Fields.h"
#include "gis/ogr/Terrain.h"

namespace py = pybind11;

namespace varnel::python {
namespace {

struct Said {
  DiagnosticKind kind;
  int32_t line;
  std::string message;
};

// Every diagnostic of a call, kept to hand to Python once the GIL is back.
struct Collected : DiagnosticReceiver {
  std::vector<Said> said;
  void Report(const Diagnostic& d) override { said.push_back({d.kind, d.line, d.message}); }
};

struct Request {
  bool extended = false;
  gis::Split split = gis::Split::kModel;
  gis::PlaceRequest place;
  std::string dem;
};

// Bytes first: the string caster would take bytes as a path.
using Source = std::variant<py::bytes, std::string>;

// A file's models, opened from its path or from bytes that the caller keeps alive.
struct Opened {
  gis::ModelSet set;
  bool usable = false;
};

void Open(const std::string& path, std::string_view bytes, bool memory, const Request& request,
          Collected& diagnostics, Opened& opened) {
  gis::OpenOptions open;
  open.import.diagnostics = &diagnostics;
  open.terrain = request.place.terrain != nullptr;
  opened.usable = memory ? opened.set.OpenMemory(bytes, path, open) : opened.set.Open(path, open);
}

struct Names : SceneObserver, TextureObserver {
  std::vector<std::string> materials, files;
  std::vector<gis::NodeSpan> spans;
  void NodeParts(int32_t firstPart, int32_t instance, const char* name) override {
    if (!spans.empty() && spans.back().firstPart == firstPart) spans.pop_back();
    spans.push_back({firstPart, instance, name});
  }
  static void Put(std::vector<std::string>& list, int32_t at, const char* text) {
    if (at < 0) return;
    if (static_cast<size_t>(at) >= list.size()) list.resize(static_cast<size_t>(at) + 1);
    list[static_cast<size_t>(at)] = text;
  }
  void MaterialNamed(int32_t material, const char* name) override { Put(materials, material, name); }
  void TextureRead(int32_t material, const char* path) override {
    const char* slash = std::strrchr(path, '/');
    Put(files, material, slash ? slash + 1 : path);
  }
};

struct Collector : DataBufferWriter {
  std::vector<unsigned char> bytes;
  bool Begin(int32_t size) override {
    try {
      bytes.resize(static_cast<size_t>(size));
    } catch (const std::bad_alloc&) {
      return false;
    }
    return true;
  }
  void Write(int32_t offset, const unsigned char* data, int32_t size) override {
    std::memcpy(bytes.data() + offset, data, static_cast<size_t>(size));
  }
};

// One model's buffer, placed when something places it, with what the Python model is built from.
struct ModelBuffer {
  std::string name, source, crsWkt;
  std::optional<gis::Location> location;
  std::vector<unsigned char> bytes;
  Names names;
};

bool ReadModel(const gis::Model& model, const Request& request, Collected& diagnostics,
               ModelBuffer& out) {
  out.name = model.name, out.source = model.source;
  GeographicLocation own;
  ImportOptions import;
  import.extended = request.extended;
  import.diagnostics = &diagnostics;
  import.geographicLocation = &own;
  import.sceneObserver = &out.names;
  import.textureObserver = &out.names;
  import = gis::ImportFor(model, import);
  Collector writer;
  if (model.memory.data())
    Varnel().CreateDataBufferFromMemory(model.memory.data(), model.memory.size(), writer, import);
  else
    Varnel().CreateDataBufferFromFile(String::FromNativePath(model.document), writer, import);
  if (writer.bytes.empty()) return false;
  bool failed = false;
  std::unique_ptr<gis::Placer> placer =
      gis::PlacerFor(model.placement, own, request.place, &diagnostics, failed);
  if (failed) return false;
  if (placer) {
    if (!gis::PlaceBuffer(writer.bytes.data(), static_cast<int32_t>(writer.bytes.size()), *placer)) {
      diagnostics.Report({DiagnosticKind::kPlacement, 0, "a point cannot be placed", false});
      return false;
    }
    out.crsWkt = placer->CrsWkt();
  }
  if (auto placement = gis::PlacementOf(model.placement, own, request.place))
    out.location = placement->location;
  out.bytes = std::move(writer.bytes);
  return true;
}

template <class T>
T At(const std::vector<unsigned char>& bytes, int64_t offset) {
  return multipatch::Load<T>(bytes.data() + offset);
}

template <class T, class Fill>
py::array_t<T> Array(std::vector<py::ssize_t> shape, Fill fill) {
  py::array_t<T> array(shape);
  T* data = array.mutable_data();
  py::ssize_t count = 1;
  for (py::ssize_t side : shape) count *= side;
  for (py::ssize_t i = 0; i < count; ++i) data[i] = fill(i);
  return array;
}

// Messages quote documents and names come from file names: neither need be valid UTF-8.
py::str Str(const std::string& text) {
  PyObject* decoded = PyUnicode_DecodeUTF8(text.data(), static_cast<py::ssize_t>(text.size()), "replace");
  if (!decoded) throw py::error_already_set();
  return py::reinterpret_steal<py::str>(decoded);
}

py::object Text(const std::vector<std::string>& list, int32_t at) {
  if (at < 0 || static_cast<size_t>(at) >= list.size() || list[static_cast<size_t>(at)].empty())
    return py::none();
  return Str(list[static_cast<size_t>(at)]);
}

void Materials(const std::vector<unsigned char>& b, int64_t first, int32_t count,
               const Names& names, py::list& materials) {
  using namespace multipatch;
  int64_t at = first;
  for (int32_t m = 0; m < count; ++m) {
    uint32_t flags = At<uint32_t>(b, at + kMatFlags);
    py::dict material;
    material["name"] = Text(names.materials, m);
    if (flags & kHasColor)
      material["color"] = py::make_tuple(At<int32_t>(b, at + kMatColor), At<int32_t>(b, at + kMatColor + 4),
                                         At<int32_t>(b, at + kMatColor + 8));
    else
      material["color"] = py::none();
    material["transparency"] =
        flags & kHasTransparency ? py::object(py::int_(At<int32_t>(b, at + kMatTransparency))) : py::none();
    material["cull"] = py::bool_(flags & kCullBackFaces);
    material["texture_of"] =
        flags & kHasSharedTexture ? py::object(py::int_(At<int32_t>(b, at + kMatSharedTexture))) : py::none();
    int32_t width = At<int32_t>(b, at + kMatTextureWidth), height = At<int32_t>(b, at + kMatTextureHeight),
            channels = At<int32_t>(b, at + kMatTextureChannels);
    if (flags & kHasTextureMap) {
      const unsigned char* pixels = b.data() + at + kMaterialHeaderBytes;
      material["texture"] = Array<uint8_t>({height, width, channels}, [&](py::ssize_t i) { return pixels[i]; });
    } else {
      material["texture"] = py::none();
    }
    material["texture_file"] = Text(names.files, m);
    materials.append(material);
    at += At<uint32_t>(b, at + kMatBytes);
  }
}

py::dict ToPython(const ModelBuffer& model, gis::Split split) {
  using namespace multipatch;
  const std::vector<unsigned char>& b = model.bytes;
  const int32_t parts = At<int32_t>(b, kPartCountOffset), points = At<int32_t>(b, kPointCountOffset);
  const Layout head = ComputeLayout(parts, points);
  const bool normals = At<uint32_t>(b, head.extension + kExtFlags) & kExtHasNormals;
  const int32_t dimension = At<int32_t>(b, head.extension + kExtTextureDimension);
  const int32_t declared = At<int32_t>(b, head.extension + kExtTexturePoints);
  const int32_t stored = dimension > 0 ? declared : 0;
  const Layout at = ComputeLayout(parts, points, normals, dimension, declared);
  py::dict out;
  out["name"] = Str(model.name);
  out["source"] = Str(model.source);
  out["crs"] = model.crsWkt.empty() ? py::object(py::none()) : py::str(model.crsWkt);
  out["location"] = model.location ? py::object(py::make_tuple(model.location->longitude,
                                                               model.location->latitude,
                                                               model.location->altitude))
                                   : py::none();
  out["points"] = Array<double>({points, 3}, [&](py::ssize_t i) {
    py::ssize_t point = i / 3, axis = i % 3;
    return axis < 2 ? At<double>(b, at.xy + kXyBytes * point + 8 * axis) : At<double>(b, at.z + kZBytes * point);
  });
  out["normals"] = normals ? py::object(Array<double>({points, 3}, [&](py::ssize_t i) {
    return At<double>(b, at.normals + 8 * i);
  })) : py::none();
  out["texture_points"] = Array<double>({stored, 2}, [&](py::ssize_t i) {
    return At<double>(b, at.texturePoints + 8 * i);
  });
  // Offsets run one past the last part, so that part i is [offsets[i], offsets[i + 1]).
  out["part_offsets"] = Array<int64_t>({parts + 1}, [&](py::ssize_t i) -> int64_t {
    return i < parts ? At<int32_t>(b, at.partStarts + kPartStartBytes * i) : points;
  });
  out["texture_offsets"] = Array<int64_t>({parts + 1}, [&](py::ssize_t i) -> int64_t {
    return i < parts ? At<int32_t>(b, at.partTextureStarts + kPartTextureStartBytes * i) : stored;
  });
  out["part_types"] = Array<int32_t>({parts}, [&](py::ssize_t i) { return At<int32_t>(b, at.partTypes + 4 * i); });
  out["part_materials"] =
      Array<int32_t>({parts}, [&](py::ssize_t i) { return At<int32_t>(b, at.partMaterials + 4 * i); });
  // Each part's node, and the feature it joins under the split, by convert's own rule.
  gis::SplitKeys byNode(gis::Split::kNode, model.names.spans), bySplit(split, model.names.spans);
  py::list nodes;
  std::vector<int64_t> keys(static_cast<size_t>(parts));
  for (int32_t p = 0; p < parts; ++p) {
    const int32_t type = At<int32_t>(b, at.partTypes + 4 * p), material = At<int32_t>(b, at.partMaterials + 4 * p);
    byNode.Next(p, type, material);
    nodes.append(byNode.span() ? Str(byNode.span()->name) : py::str());
    keys[static_cast<size_t>(p)] = bySplit.Next(p, type, material);
  }
  out["part_nodes"] = nodes;
  out["split_keys"] = Array<int64_t>({parts}, [&](py::ssize_t i) { return keys[static_cast<size_t>(i)]; });
  py::list materials;
  Materials(b, at.materials, At<int32_t>(b, head.extension + kExtMaterials), model.names, materials);
  out["materials"] = materials;
  return out;
}

py::list DiagnosticsOf(const Collected& collected) {
  py::list list;
  for (const Said& said : collected.said)
    list.append(py::make_tuple(DiagnosticKindName(said.kind), said.line, Str(said.message)));
  return list;
}

// The bytes of a source (kept alive by the caller's object) or its path.
struct Input {
  std::string path;
  std::string_view bytes;
  bool memory = false;
};

Input InputOf(const Source& source, const std::string& name) {
  if (const std::string* path = std::get_if<std::string>(&source)) return {*path, {}, false};
  const py::bytes& bytes = std::get<py::bytes>(source);
  char* data = nullptr;
  py::ssize_t size = 0;
  PyBytes_AsStringAndSize(bytes.ptr(), &data, &size);
  return {name, std::string_view(data, static_cast<size_t>(size)), true};
}

Request RequestOf(bool extended, const std::string& split, std::vector<double> origin,
                  std::string sourceCrs, std::vector<double> offset, std::string targetCrs,
                  std::string dem) {
  Request request;
  request.extended = extended;
  std::optional<gis::Split> named = gis::SplitNamed(split);
  if (!named) throw py::value_error("split: model, node, material or part");
  request.split = *named;
  if (!origin.empty() && (origin.size() < 2 || origin.size() > 4))
    throw py::value_error("origin: longitude, latitude[, altitude[, heading]]");
  if (!offset.empty() && (offset.size() < 2 || offset.size() > 3))
    throw py::value_error("offset: x, y[, z]");
  request.place.origin = std::move(origin);
  request.place.sourceCrs = std::move(sourceCrs);
  request.place.offset = std::move(offset);
  request.place.targetCrs = std::move(targetCrs);
  request.dem = std::move(dem);
  return request;
}

// The terrain is opened without the GIL; false when a DEM was named and cannot be read.
bool OpenDem(Request& request, Collected& diagnostics) {
  if (request.dem.empty()) return true;
  request.place.terrain = gis::OpenTerrain(request.dem, &diagnostics);
  return request.place.terrain != nullptr;
}

py::tuple Read(const Source& source, const std::string& name, bool extended, const std::string& split,
               std::vector<double> origin, std::string sourceCrs, std::vector<double> offset,
               std::string targetCrs, std::string dem) {
  Request request = RequestOf(extended, split, std::move(origin), std::move(sourceCrs),
                              std::move(offset), std::move(targetCrs), std::move(dem));
  Input input = InputOf(source, name);
  Collected diagnostics;
  Opened opened;
  std::vector<ModelBuffer> models;
  {
    py::gil_scoped_release released;
    if (OpenDem(request, diagnostics)) Open(input.path, input.bytes, input.memory, request, diagnostics, opened);
    if (opened.usable) {
      for (const gis::Model& model : opened.set.models()) {
        ModelBuffer buffer;
        if (ReadModel(model, request, diagnostics, buffer)) models.push_back(std::move(buffer));
      }
    }
  }
  py::list list;
  for (const ModelBuffer& model : models) list.append(ToPython(model, request.split));
  return py::make_tuple(list, DiagnosticsOf(diagnostics));
}

py::object FieldValue(const OGRFeature& feature, int index) {
  if (!feature.IsFieldSetAndNotNull(index)) return py::none();
  const OGRFieldDefn* field = feature.GetFieldDefnRef(index);
  if (field->GetType() == OFTInteger)
    return field->GetSubType() == OFSTBoolean ? py::object(py::bool_(feature.GetFieldAsInteger(index) != 0))
                                              : py::object(py::int_(feature.GetFieldAsInteger(index)));
  return Str(feature.GetFieldAsString(index));
}

// The features `convert` would write for the file, with the layer's fields and CRS.
py::tuple Features(const Source& source, const std::string& name, bool extended,
                   const std::string& split, std::vector<double> origin, std::string sourceCrs,
                   std::vector<double> offset, std::string targetCrs, std::string dem) {
  Request request = RequestOf(extended, split, std::move(origin), std::move(sourceCrs),
                              std::move(offset), std::move(targetCrs), std::move(dem));
  Input input = InputOf(source, name);
  Collected diagnostics;
  gis::LayerSchema schema(request.split, false);
  std::unique_ptr<OGRFeatureDefn, void (*)(OGRFeatureDefn*)> held(
      new OGRFeatureDefn(), [](OGRFeatureDefn* d) { d->Release(); });
  OGRFeatureDefn& definition = *held;
  definition.Reference();
  for (const auto& field : schema.fields()) definition.AddFieldDefn(field.get());
  struct Row {
    std::vector<unsigned char> wkb;
    std::unique_ptr<OGRFeature> feature;
    size_t model;  // its model's index in the file
  };
  std::vector<Row> rows;
  bool crsSet = false;
  {
    py::gil_scoped_release released;
    Opened opened;
    if (OpenDem(request, diagnostics)) Open(input.path, input.bytes, input.memory, request, diagnostics, opened);
    gis::ConvertOptions options;
    options.extended = extended;
    options.decodeTextures = false;
    options.place = request.place;
    options.split = request.split;
    gis::ImportCache cache;
    const std::vector<gis::Model> none;
    const std::vector<gis::Model>& models = opened.usable ? opened.set.models() : none;
    for (size_t index = 0; index < models.size(); ++index) {
      const gis::Model& model = models[index];
      gis::ConvertedModel converted;
      if (!gis::ConvertModel(model, options, &diagnostics, converted, &cache)) continue;
      std::string error;
      if (!crsSet && !schema.SetCrs(converted.crs, error)) {
        diagnostics.Report({DiagnosticKind::kPlacement, 0, error.c_str(), false});
        continue;
      }
      crsSet = true;
      if (!schema.Fit(converted, error)) {
        std::string message = gis::ModelPrefix(input.path, converted.name, converted.source) + error;
        diagnostics.Report({DiagnosticKind::kPlacement, 0, message.c_str(), false});
        continue;
      }
      for (gis::Feature& part : converted.features) {
        auto feature = std::make_unique<OGRFeature>(&definition);
        schema.Fill(*feature, converted, part);
        std::vector<unsigned char> wkb(static_cast<size_t>(part.geometry->WkbSize()));
        part.geometry->exportToWkb(wkbNDR, wkb.data(), wkbVariantIso);
        rows.push_back({std::move(wkb), std::move(feature), index});
      }
    }
  }
  py::list names, geometries, records, modelOf;
  for (int i = 0; i < definition.GetFieldCount(); ++i) names.append(definition.GetFieldDefn(i)->GetNameRef());
  for (const Row& row : rows) {
    geometries.append(py::bytes(reinterpret_cast<const char*>(row.wkb.data()), row.wkb.size()));
    py::list values;
    for (int i = 0; i < definition.GetFieldCount(); ++i) values.append(FieldValue(*row.feature, i));
    records.append(values);
    modelOf.append(row.model);
  }
  rows.clear();
  py::object crs = py::none();
  if (schema.crs()) {
    char* wkt = nullptr;
    const char* const wkt2[] = {"FORMAT=WKT2_2019", nullptr};
    schema.crs()->exportToWkt(&wkt, wkt2);
    crs = py::str(wkt ? wkt : "");
    CPLFree(wkt);
  }
  return py::make_tuple(names, geometries, records, modelOf, crs, DiagnosticsOf(diagnostics));
}

}  // namespace
}  // namespace varnel::python

PYBIND11_MODULE(_varnel, m) {
  using namespace varnel::python;
  GDALAllRegister();  // DEMs are rasters GDAL reads
  auto args = [] {
    return std::make_tuple(py::arg("source"), py::arg("name"), py::arg("extended"), py::arg("split"),
                           py::arg("origin"), py::arg("a_srs"), py::arg("offset"), py::arg("t_srs"),
                           py::arg("dem"));
  };
  std::apply([&](auto... a) { m.def("read", &Read, a...); }, args());
  std::apply([&](auto... a) { m.def("features", &Features, a...); }, args());
}
