// glTF 2.0 from imported models: one node per model, one primitive per material, the model's
// identity as EXT_mesh_features and EXT_structural_metadata, its place on the earth in the
// asset's extras (or, asked, as a matrix to earth-centred coordinates).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "gis/ogr/Options.h"
#include "gltf/Frame.h"
#include "gltf/Model.h"

namespace varnel::gltf {

struct SceneOptions {
  gis::Split split = gis::Split::kModel;
  bool unlit = false;     // KHR_materials_unlit
  bool ecef = false;      // the root node takes the scene to earth-centred coordinates
  bool meshopt = false;   // EXT_meshopt_compression with KHR_mesh_quantization
  bool draco = false;     // KHR_draco_mesh_compression
  bool embedImages = true;  // .glb: images in the binary chunk; .gltf: files beside it
  // A tile of a tileset: every model placed in the east-north-up frame `tileFrame`, about
  // `tileCentre` in that frame, and the metadata schema named rather than held.
  bool tile = false;
  Frame tileFrame;
  double tileCentre[3] = {0, 0, 0};
  std::string schemaUri;
};

// The EXT_structural_metadata schema of every feature table the writer makes, as JSON.
std::string FeatureSchema();

struct Image {
  std::string bytes;
  std::string mimeType;  // image/png or image/jpeg
  std::string extension;  // png or jpg
};

// A written glTF never exceeds what a .glb's 32-bit lengths can say.
inline constexpr uint64_t kMaxGltfBytes = (uint64_t{1} << 32) - 64;
// Feature ids past 65,535 are floats, exact up to 2^24.
inline constexpr size_t kMaxFeatures = size_t{1} << 24;

// A tile's merged content as plain triangles, which a coarser copy of it starts from (3D Tiles
// --lod): per glTF material, points in the tile frame's east-north-up metres, each with its
// feature (an index into the features), and three point indices per triangle.
struct Surface {
  int32_t color[3] = {231, 231, 231};  // sRGB; a textured material's is its image's mean
  int32_t transparency = 0;            // percent
  bool cull = false;
  std::vector<double> points;  // x, y, z
  std::vector<uint32_t> features, indices;
};
struct Feature {
  std::string name, source, description;
};

class Scene {
 public:
  explicit Scene(SceneOptions options);
  ~Scene();
  Scene(const Scene&) = delete;
  Scene& operator=(const Scene&) = delete;

  // One node; the first model's frame is the scene's (the others are placed relative to it).
  void Add(std::unique_ptr<Model> model, std::string name, std::string source, const Frame& frame,
           std::string description = "");
  // Lays out the whole output; false (with `why`) when there is nothing to write or it would not
  // fit a glTF. Models' staged points are released as far as the writing allows.
  bool Build();
  std::string why;

  // The JSON document; for a .gltf `binName` and `imageNames` are the files beside it.
  std::string Json(const std::string& binName = "",
                   const std::vector<std::string>& imageNames = {}) const;
  uint64_t binBytes() const;
  // The binary buffer, in order, to `out` (which returns false to stop); false when it stopped.
  bool WriteBin(const std::function<bool(const void*, size_t)>& out) const;
  // The whole .glb.
  bool WriteGlb(const std::function<bool(const void*, size_t)>& out) const;
  const std::vector<Image>& images() const;
  // A built tile's surfaces and features (SceneOptions::tile); before or after the writing.
  void Export(std::vector<Surface>& surfaces, std::vector<Feature>& features) const;
  int64_t triangles() const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace varnel::gltf
