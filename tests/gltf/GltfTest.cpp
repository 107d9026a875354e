#include <draco/compression/decode.h>
#include <gtest/gtest.h>
#include <meshoptimizer.h>
#include <tiny_gltf.h>

#include <nlohmann/json.hpp>

#include <array>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <sstream>

#include "gltf/Triangulate.h"
#include "support/Outputs.h"
#include "support/TestSupport.h"

namespace {

using namespace testsupport;
namespace fs = std::filesystem;
using varnel::IGeometry;

const std::string kHouse = VARNEL_TEST_DATA "/demo/house.dae";

std::string Corpus(const std::string& name) {
  std::string path = CorpusDir().empty() ? "" : CorpusDir() + "/" + name;
  return !path.empty() && fs::exists(path) ? path : "";
}

// Errors and warnings the Khronos validator finds in the files together; -1 when it is missing.
std::pair<int, int> Validate(const std::vector<std::string>& files, std::string* report = nullptr) {
  std::string command = "node " + Quote(VARNEL_TEST_DATA "/../gltf/validate.mjs");
  for (const std::string& f : files) command += " " + Quote(f);
  CommandResult r = RunShell(command);
  if (r.status == 77) return {-1, -1};
  EXPECT_EQ(r.status, 0) << r.err;
  std::istringstream lines(r.out);
  int errors = 0, warnings = 0, e, w;
  for (std::string line; std::getline(lines, line);)
    if (std::istringstream(line) >> e >> w) errors += e, warnings += w;
  if (report) *report = r.out;
  return {errors, warnings};
}

void ExpectValid(const std::vector<std::string>& files) {
  std::string report;
  auto [errors, warnings] = Validate(files, &report);
  if (errors < 0) GTEST_SKIP() << "gltf-validator is not installed (make deps)";
  EXPECT_EQ(errors, 0) << report;
  EXPECT_EQ(warnings, 0) << report;
}

tinygltf::Model Load(const std::string& path) {
  tinygltf::Model model;
  std::string error, warning;
  tinygltf::TinyGLTF loader;
  bool loaded = path.ends_with(".glb") ? loader.LoadBinaryFromFile(&model, &error, &warning, path)
                                       : loader.LoadASCIIFromFile(&model, &error, &warning, path);
  EXPECT_TRUE(loaded) << path << ": " << error;
  return model;
}

// What the .glb and the multipatch buffer of the same model must share.
struct Summary {
  int64_t triangles = 0;
  int64_t backwards = 0;  // triangles whose corners turn against their normals
  std::array<double, 6> extent{INFINITY, INFINITY, INFINITY, -INFINITY, -INFINITY, -INFINITY};
  std::vector<std::vector<unsigned char>> textures;  // RGBA each, sorted
  std::array<double, 4> uv{};  // the texture points' box, when there are any
  bool textured = false;
};

void GrowUv(Summary& s, double u, double v) {
  if (!s.textured) s.uv = {u, v, u, v};
  s.textured = true;
  s.uv = {std::min(s.uv[0], u), std::min(s.uv[1], v), std::max(s.uv[2], u), std::max(s.uv[3], v)};
}

std::vector<unsigned char> Rgba(const unsigned char* pixels, size_t count, int channels) {
  std::vector<unsigned char> rgba;
  for (size_t i = 0; i < count; ++i) {
    const unsigned char* p = pixels + i * size_t(channels);
    unsigned char gray = p[0];
    if (channels <= 2) rgba.insert(rgba.end(), {gray, gray, gray, channels == 2 ? p[1] : (unsigned char)255});
    else rgba.insert(rgba.end(), {p[0], p[1], p[2], channels == 4 ? p[3] : (unsigned char)255});
  }
  return rgba;
}

void Grow(Summary& s, double x, double y, double z) {
  const double v[3] = {x, y, z};
  for (int k = 0; k < 3; ++k) s.extent[k] = std::min(s.extent[k], v[k]), s.extent[k + 3] = std::max(s.extent[k + 3], v[k]);
}

Summary OfBuffer(const std::string& path) {
  std::string bytes = ReadFile(path);
  IGeometry* g = pipelinetest::ImportBuffer(int32_t(bytes.size()), reinterpret_cast<unsigned char*>(bytes.data()));
  Summary s;
  for (int32_t p = 0; p < g->GetPartCount(); ++p) {
    int32_t n = g->GetPartPointCount(p), first = g->GetPartFirstPoint(p);
    for (int32_t i = 0; i < n; ++i) {
      varnel::WKSPointZ v;
      g->GetPoint(first + i, &v);
      Grow(s, v.X, v.Y, v.Z);
    }
    const int32_t texture = g->GetPartFirstTexturePoint(p);
    for (int32_t i = 0; texture >= 0 && i < n; ++i) {
      double u, v;
      if (g->GetTexturePoint(texture + i, &u, &v)) GrowUv(s, u, v);
    }
    if (g->GetPartType(p) == varnel::kPatchTriangles) s.triangles += n / 3;
    // A polygon of n corners and h holes: n + 2h - 2 triangles (rings repeat their first point).
    if (g->GetPartType(p) == varnel::kPatchOuterRing) s.triangles += n - 1 - 2;
    if (g->GetPartType(p) == varnel::kPatchInnerRing) s.triangles += n - 1 + 2;
  }
  for (int32_t m = 0; m < g->GetMaterialCount(); ++m) {
    varnel::GeometryMaterial record;
    if (g->GetMaterial(m, &record) && record.texturePixels)
      s.textures.push_back(Rgba(record.texturePixels, size_t(record.textureWidth) * size_t(record.textureHeight),
                                record.textureChannels));
  }
  g->Release();
  std::sort(s.textures.begin(), s.textures.end());
  s.textures.erase(std::unique(s.textures.begin(), s.textures.end()), s.textures.end());
  return s;
}

// The values of a float or unsigned accessor, as doubles.
std::vector<double> Values(const tinygltf::Model& model, int index) {
  const tinygltf::Accessor& a = model.accessors[size_t(index)];
  const tinygltf::BufferView& view = model.bufferViews[size_t(a.bufferView)];
  const int n = tinygltf::GetNumComponentsInType(uint32_t(a.type));
  const int size = tinygltf::GetComponentSizeInBytes(uint32_t(a.componentType));
  const size_t stride = view.byteStride ? view.byteStride : size_t(n * size);
  const unsigned char* at = model.buffers[0].data.data() + view.byteOffset + a.byteOffset;
  std::vector<double> values;
  for (size_t i = 0; i < a.count; ++i)
    for (int k = 0; k < n; ++k) {
      const unsigned char* v = at + i * stride + size_t(k * size);
      uint32_t u = 0;
      float f = 0;
      if (a.componentType == TINYGLTF_COMPONENT_TYPE_FLOAT) std::memcpy(&f, v, 4);
      else std::memcpy(&u, v, size_t(size));
      values.push_back(a.componentType == TINYGLTF_COMPONENT_TYPE_FLOAT ? f : u);
    }
  return values;
}

int64_t Backwards(const tinygltf::Model& model, const tinygltf::Primitive& p) {
  std::vector<double> xyz = Values(model, p.attributes.at("POSITION")),
                      normal = Values(model, p.attributes.at("NORMAL")), index = Values(model, p.indices);
  int64_t backwards = 0;
  for (size_t t = 0; t + 2 < index.size(); t += 3) {
    const double *a = &xyz[3 * size_t(index[t])], *b = &xyz[3 * size_t(index[t + 1])],
                 *c = &xyz[3 * size_t(index[t + 2])], *n = &normal[3 * size_t(index[t])];
    double u[3] = {b[0] - a[0], b[1] - a[1], b[2] - a[2]}, w[3] = {c[0] - a[0], c[1] - a[1], c[2] - a[2]};
    backwards += (u[1] * w[2] - u[2] * w[1]) * n[0] + (u[2] * w[0] - u[0] * w[2]) * n[1] +
                     (u[0] * w[1] - u[1] * w[0]) * n[2] < 0;
  }
  return backwards;
}

// Assumes no node matrices (an unplaced model): a mesh node's translation and its positions.
Summary OfGltf(const tinygltf::Model& model) {
  Summary s;
  for (const tinygltf::Node& node : model.nodes) {
    if (node.mesh < 0) continue;
    EXPECT_TRUE(node.matrix.empty());
    for (const tinygltf::Primitive& p : model.meshes[size_t(node.mesh)].primitives) {
      s.triangles += int64_t(model.accessors[size_t(p.indices)].count / 3);
      s.backwards += Backwards(model, p);
      if (p.attributes.count("TEXCOORD_0")) {
        const std::vector<double> uv = Values(model, p.attributes.at("TEXCOORD_0"));
        for (size_t i = 0; i + 1 < uv.size(); i += 2) GrowUv(s, uv[i], uv[i + 1]);
      }
      const tinygltf::Accessor& at = model.accessors[size_t(p.attributes.at("POSITION"))];
      const std::vector<double>& t = node.translation;
      // Y-up back to Z-up: (x, y, z) is (x, -z, y).
      Grow(s, t[0] + at.minValues[0], -(t[2] + at.maxValues[2]), t[1] + at.minValues[1]);
      Grow(s, t[0] + at.maxValues[0], -(t[2] + at.minValues[2]), t[1] + at.maxValues[1]);
    }
  }
  for (const tinygltf::Image& image : model.images)
    s.textures.push_back(Rgba(image.image.data(), size_t(image.width) * size_t(image.height), image.component));
  std::sort(s.textures.begin(), s.textures.end());
  return s;
}

TEST(Gltf, ReadsBackAsTheMultipatchBufferAndValidates) {
  struct Case { std::string input, args; };
  const std::vector<Case> cases = {
      {kHouse, ""}, {kHouse, "--split part"}, {Corpus("assimp/duck.dae"), ""},
      {Corpus("pycollada/duck_polylist.dae"), "--split material"}, {Corpus("assimp/ConcavePolygon.dae"), ""},
      {Corpus("assimp/teapot_instancenodes.DAE"), "--split node"}};
  std::vector<std::string> written;
  for (size_t i = 0; i < cases.size(); ++i) {
    const Case& c = cases[i];
    if (c.input.empty()) continue;
    SCOPED_TRACE(c.input + " " + c.args);
    std::string glb = ScratchDir() + "/read" + std::to_string(i) + ".glb", mpb = glb + ".mpb";
    CommandResult made = RunTool("gltf " + Quote(c.input) + " " + c.args + " -o " + Quote(glb));
    ASSERT_EQ(made.status, 0) << made.err;
    ASSERT_EQ(RunTool("buffer " + Quote(c.input) + " -o " + Quote(mpb)).status, 0);
    Summary expected = OfBuffer(mpb), got = OfGltf(Load(glb));
    EXPECT_EQ(got.triangles, expected.triangles);
    EXPECT_EQ(got.backwards, 0);
    for (int k = 0; k < 6; ++k) EXPECT_NEAR(got.extent[k], expected.extent[k], 1e-3) << k;
    EXPECT_EQ(got.textures, expected.textures);
    for (int k = 0; k < 4; ++k) EXPECT_NEAR(got.uv[k] - expected.uv[k], 0, 1e-6) << k;
    written.push_back(glb);
  }
  ExpectValid(written);
}

TEST(Gltf, OptionsSayWhatTheyAsk) {
  const std::string out = ScratchDir() + "/opt";
  struct Case { std::string args, file, expect; };
  const std::vector<Case> cases = {
      {"--unlit", "unlit.glb", "\"KHR_materials_unlit\""},
      {"--origin 9,45,100,30", "placed.glb", "\"longitude\":9.0"},
      {"--origin 9,45,100 --altitude-mode ellipsoid --ecef", "ecef.glb", "\"earth-centred\""},
      {"--split node", "node.glb", "\"EXT_structural_metadata\""},
      {"", "house.gltf", "\"uri\":\"house.bin\""},
  };
  std::vector<std::string> written;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args);
    std::string path = out + "/" + c.file;
    fs::create_directories(out);
    CommandResult r = RunTool("gltf " + Quote(kHouse) + " " + c.args + " -o " + Quote(path));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(ReadFile(path).find(c.expect), std::string::npos);
    written.push_back(path);
  }
  ASSERT_EQ(RunTool("batch --format gltf -o " + Quote(out + "/batch") + " " + Quote(kHouse)).status, 0);
  written.push_back(out + "/batch/house.glb");
  // A PNG is written as its file has it.
  EXPECT_NE(ReadFile(out + "/unlit.glb").find(ReadFile(VARNEL_TEST_DATA "/demo/brick.png")), std::string::npos);
  EXPECT_TRUE(fs::exists(out + "/house.bin"));
  EXPECT_TRUE(fs::exists(out + "/house_0.png"));
  // The east-north-up frame at 9 E 45 N 100 m in earth-centred coordinates.
  tinygltf::Model ecef = Load(out + "/ecef.glb");
  const std::vector<double>& m = ecef.nodes[0].matrix;
  ASSERT_EQ(m.size(), 16u);
  EXPECT_NEAR(std::hypot(m[12], m[13], m[14]), 6367489.5 + 100, 1);
  ExpectValid(written);
}

// Per primitive of a .glb, compressed or not: triangles, and the extent of its positions.
std::vector<std::pair<size_t, std::array<double, 6>>> Decoded(const std::string& path) {
  std::string glb = ReadFile(path);
  uint32_t jsonBytes;
  std::memcpy(&jsonBytes, glb.data() + 12, 4);
  nlohmann::json json = nlohmann::json::parse(glb.substr(20, jsonBytes));
  const unsigned char* bin = reinterpret_cast<const unsigned char*>(glb.data()) + 28 + jsonBytes;
  std::vector<std::pair<size_t, std::array<double, 6>>> out;
  // Not const: a missing member reads as null.
  for (auto& primitive : json["meshes"][0]["primitives"]) {
    std::array<double, 6> box{INFINITY, INFINITY, INFINITY, -INFINITY, -INFINITY, -INFINITY};
    auto grow = [&](const float* p) {
      for (int k = 0; k < 3; ++k) box[k] = std::min(box[k], double(p[k])), box[k + 3] = std::max(box[k + 3], double(p[k]));
    };
    auto& draco = primitive["extensions"]["KHR_draco_mesh_compression"];
    const auto& position = json["accessors"][primitive["attributes"]["POSITION"].get<int>()];
    const auto& view = json["bufferViews"][position.value("bufferView", 0)];
    size_t triangles = json["accessors"][primitive["indices"].get<int>()]["count"].get<size_t>() / 3;
    if (!draco.is_null()) {
      const auto& data = json["bufferViews"][draco["bufferView"].get<int>()];
      draco::DecoderBuffer buffer;
      buffer.Init(reinterpret_cast<const char*>(bin) + data.value("byteOffset", 0), data["byteLength"]);
      auto mesh = draco::Decoder().DecodeMeshFromBuffer(&buffer).value();
      triangles = mesh->num_faces();
      const draco::PointAttribute* a = mesh->GetAttributeByUniqueId(draco["attributes"]["POSITION"]);
      for (uint32_t i = 0; i < a->size(); ++i) {
        float p[3];
        a->GetValue(draco::AttributeValueIndex(i), p);
        grow(p);
      }
    } else if (view.contains("extensions")) {
      const auto& codes = view["extensions"]["EXT_meshopt_compression"];
      size_t count = codes["count"], stride = codes["byteStride"];
      std::vector<unsigned char> vertices(count * stride);
      EXPECT_EQ(meshopt_decodeVertexBuffer(vertices.data(), count, stride, bin + codes.value("byteOffset", 0),
                                           codes["byteLength"]), 0);
      for (size_t i = 0; i < count; ++i) grow(reinterpret_cast<const float*>(&vertices[i * stride]));
    } else {
      for (int k = 0; k < 3; ++k) box[k] = position["min"][k], box[k + 3] = position["max"][k];
    }
    out.push_back({triangles, box});
  }
  return out;
}

TEST(Gltf, CompressedFilesDecodeToTheSameMeshes) {
  for (const std::string& input : {kHouse, Corpus("assimp/duck.dae")}) {
    if (input.empty()) continue;
    std::vector<std::string> paths;
    for (const char* option : {"", "--meshopt", "--draco"}) {
      paths.push_back(ScratchDir() + "/packed" + option + ".glb");
      ASSERT_EQ(RunTool("gltf " + Quote(input) + " " + option + " -o " + Quote(paths.back())).status, 0);
    }
    auto plain = Decoded(paths[0]);
    for (size_t i : {1, 2}) {
      SCOPED_TRACE(paths[i]);
      auto packed = Decoded(paths[i]);
      ASSERT_EQ(packed.size(), plain.size());
      for (size_t p = 0; p < plain.size(); ++p) {
        EXPECT_EQ(packed[p].first, plain[p].first);
        // Draco keeps 16 bits of each coordinate over the mesh's extent.
        double size = plain[p].second[3] - plain[p].second[0], slack = i == 2 ? size / 30000 : 0;
        for (int k = 0; k < 6; ++k) EXPECT_NEAR(packed[p].second[k], plain[p].second[k], slack + 1e-6);
      }
    }
    std::string report;
    const int errors = Validate({paths[1], paths[2]}, &report).first;  // it cannot decode them
    if (errors >= 0) {
      EXPECT_EQ(errors, 0) << report;
    }
  }
}

TEST(Gltf, AllPlacesEachModelRelativeToTheFirst) {
  const std::string dir = ScratchDir() + "/all";
  fs::create_directories(dir);
  for (const char* name : {"house.dae", "brick.png"})
    fs::copy_file(VARNEL_TEST_DATA "/demo/" + std::string(name), dir + "/" + name);
  std::string kml = "<kml><Document>";
  for (const char* longitude : {"9", "9.001"})
    kml += "<Placemark><Model><Location><longitude>" + std::string(longitude) +
           "</longitude><latitude>45</latitude></Location><Orientation><heading>90</heading>"
           "</Orientation><Link><href>house.dae</href></Link></Model></Placemark>";
  WriteFile("all/doc.kml", kml + "</Document></kml>");
  ASSERT_EQ(RunTool("gltf " + Quote(dir + "/doc.kml") + " --all -o " + Quote(dir + "/all.glb")).status, 0);
  ASSERT_EQ(RunTool("gltf " + Quote(dir + "/doc.kml") + " --model 2 -o " + Quote(dir + "/2.glb")).status, 0);
  tinygltf::Model all = Load(dir + "/all.glb"), second = Load(dir + "/2.glb");
  ASSERT_EQ(all.nodes.size(), 4u);  // a model node over a mesh node each
  // Heading 90 turns the model's north (glTF -Z) east; the second stands 78.85 m east of the first.
  for (const tinygltf::Node* node : {&all.nodes[0], &all.nodes[2]}) EXPECT_NEAR(node->matrix[8], -1, 1e-9);
  EXPECT_NEAR(all.nodes[2].matrix[12], 78.85, 0.01);
  EXPECT_NEAR(all.nodes[2].matrix[14], 0, 0.01);
  EXPECT_EQ(second.nodes.size(), 2u);
  EXPECT_EQ(second.asset.extras.Get("longitude").GetNumberAsDouble(), 9.001);
  ExpectValid({dir + "/all.glb", dir + "/2.glb"});
}

TEST(Gltf, FailuresSayWhyAndLeaveNothing) {
  const std::string dir = ScratchDir() + "/fail";
  fs::create_directories(dir);
  struct Case { std::string args; int status; std::string says; };
  const std::vector<Case> cases = {
      {Quote(dir + "/missing.dae") + " -o " + Quote(dir + "/a.glb"), 1, "missing.dae: "},
      {Quote(kHouse) + " --ecef -o " + Quote(dir + "/b.glb"), 1, "--ecef"},
      {Quote(kHouse) + " -o " + Quote(dir + "/no/such/folder/c.glb"), 2, "c.glb: "},
      {Quote(kHouse) + " --model 2 -o " + Quote(dir + "/d.glb"), 1, "no model 2"},
  };
  for (const Case& c : cases) {
    CommandResult r = RunTool("gltf " + c.args);
    EXPECT_EQ(r.status, c.status) << c.args << r.err;
    EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
  }
  EXPECT_TRUE(DirectoryEntries(dir).empty());
}

TEST(Gltf, TriangulatesPolygonsWithHoles) {
  using Ring = std::vector<std::array<float, 3>>;
  struct Case {
    const char* what;
    std::vector<Ring> rings;
    size_t triangles;
    double area;
  };
  const std::vector<Case> cases = {
      {"square with a hole", {{{0, 0, 0}, {4, 0, 0}, {4, 4, 0}, {0, 4, 0}, {0, 0, 0}},
                              {{1, 1, 0}, {1, 3, 0}, {3, 3, 0}, {3, 1, 0}, {1, 1, 0}}}, 8, 12},
      {"upright L", {{{0, 0, 0}, {2, 0, 0}, {2, 0, 1}, {1, 0, 1}, {1, 0, 2}, {0, 0, 2}}}, 4, 3},
      {"clockwise triangle", {{{0, 0, 5}, {0, 1, 5}, {1, 0, 5}}}, 1, 0.5},
      {"points on a line", {{{0, 0, 0}, {1, 1, 1}, {2, 2, 2}, {0, 0, 0}}}, 0, 0},
      {"bow tie: its lobes cancel, no plane", {{{0, 0, 0}, {1, 1, 0}, {1, 0, 0}, {0, 1, 0}}}, 0, 0},
      {"crossing itself: a fan", {{{0, 0, 0}, {4, 0, 0}, {4, 4, 0}, {3, -1, 0}, {0, 4, 0}}}, 3, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<float> positions;
    std::vector<std::pair<int32_t, int32_t>> rings;
    for (const Ring& ring : c.rings) {
      rings.emplace_back(int32_t(positions.size() / 3), int32_t(ring.size()));
      for (const auto& p : ring) positions.insert(positions.end(), p.begin(), p.end());
    }
    std::vector<uint32_t> corners;
    varnel::gltf::Triangulate(positions.data(), rings, corners);
    ASSERT_EQ(corners.size(), 3 * c.triangles);
    // Each triangle's normal along the outline's (Newell) normal; areas add up to the polygon's.
    auto p = [&](uint32_t i) { return &positions[3 * size_t(i)]; };
    double outline[3] = {0, 0, 0}, area = 0;
    for (int32_t i = 0; i < rings[0].second; ++i) {
      const float *a = p(uint32_t(i)), *b = p(uint32_t((i + 1) % rings[0].second));
      outline[0] += (a[1] - b[1]) * (a[2] + b[2]), outline[1] += (a[2] - b[2]) * (a[0] + b[0]);
      outline[2] += (a[0] - b[0]) * (a[1] + b[1]);
    }
    for (size_t t = 0; t < corners.size(); t += 3) {
      const float *a = p(corners[t]), *b = p(corners[t + 1]), *d = p(corners[t + 2]);
      double u[3] = {b[0] - a[0], b[1] - a[1], b[2] - a[2]}, w[3] = {d[0] - a[0], d[1] - a[1], d[2] - a[2]};
      double n[3] = {u[1] * w[2] - u[2] * w[1], u[2] * w[0] - u[0] * w[2], u[0] * w[1] - u[1] * w[0]};
      EXPECT_GE(n[0] * outline[0] + n[1] * outline[1] + n[2] * outline[2], 0);
      area += std::hypot(n[0], n[1], n[2]) / 2;
    }
    if (c.area >= 0) {
      EXPECT_NEAR(area, c.area, 1e-6);
    }
  }
}

// Every corpus model that gives a multipatch gives a valid glTF (the compressed ones are read
// back by the library only: the validator cannot decode them).
TEST(Gltf, EveryCorpusModelGivesAValidFile) {
  if (CorpusDir().empty()) GTEST_SKIP() << "no shared corpus";
  const std::string dir = ScratchDir() + "/corpus";
  fs::create_directories(dir);
  std::vector<std::string> written;
#ifdef VARNEL_SANITIZED_BUILD
  const size_t every = 8;  // a sample: the sanitizers make each run several times dearer
#else
  const size_t every = 1;
#endif
  size_t index = 0;
  for (const auto& entry : fs::recursive_directory_iterator(CorpusDir())) {
    std::string path = entry.path().string(), extension = entry.path().extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(), ::tolower);
    if ((extension != ".dae" && extension != ".zae" && extension != ".kmz") || index++ % every) continue;
    std::string glb = dir + "/" + std::to_string(index) + ".glb";
    CommandResult r = RunTool("gltf " + Quote(path) + " --all -o " + Quote(glb));
    EXPECT_TRUE(r.status == 0 || r.status == 1) << path << ": " << r.err;
    EXPECT_EQ(r.status == 0, fs::exists(glb)) << path;
    if (r.status == 0) written.push_back(glb);
  }
  EXPECT_GT(written.size() * every, 400u);
  ExpectValid(written);
}

}  // namespace
