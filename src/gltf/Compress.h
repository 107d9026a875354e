// The two compressions a glTF may carry: meshoptimizer's codecs (EXT_meshopt_compression, with
// normals as bytes under KHR_mesh_quantization) and Draco (KHR_draco_mesh_compression).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace varnel::gltf {

// One output vertex, Y-up. The feature id is an unsigned short in the low bytes, or the bits of
// a float when ids do not fit one.
struct Vertex {
  float position[3], normal[3], uv[2];
  uint32_t feature;
};
static_assert(sizeof(Vertex) == 36);

// What the vertex stream holds: position floats, normal bytes (and a pad byte), texture
// coordinate floats when `textured`, and the feature id in 4 bytes.
struct Layout {
  bool textured = false;
  int stride() const { return textured ? 28 : 20; }
  int uv() const { return 16; }
  int feature() const { return stride() - 4; }
};

// The interleaved stream, encoded; `plain` gets its size before encoding.
std::string MeshoptVertices(const std::vector<Vertex>& vertices, Layout layout, uint64_t& plain);
// Triangle indices, encoded (decoded as 2 or 4 bytes each, as the view's stride says).
std::string MeshoptIndices(const std::vector<uint32_t>& indices, size_t vertexCount);

// The mesh as Draco encodes it; `ids` receives the attribute ids of POSITION, NORMAL,
// TEXCOORD_0 (-1 when not `textured`) and _FEATURE_ID_0. Empty when Draco refuses it.
std::string DracoMesh(const std::vector<Vertex>& vertices, const std::vector<uint32_t>& indices,
                      bool textured, bool floatFeatures, int ids[4]);

}  // namespace varnel::gltf
