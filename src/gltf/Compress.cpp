#include "gltf/Compress.h"

#include <draco/compression/encode.h>
#include <draco/mesh/mesh.h>
#include <meshoptimizer.h>

#include <cstring>
#include <memory>

namespace varnel::gltf {

std::string MeshoptVertices(const std::vector<Vertex>& vertices, Layout layout, uint64_t& plain) {
  const size_t stride = size_t(layout.stride());
  std::string stream(vertices.size() * stride, '\0');
  for (size_t i = 0; i < vertices.size(); ++i) {
    char* at = stream.data() + i * stride;
    const Vertex& v = vertices[i];
    std::memcpy(at, v.position, 12);
    for (int k = 0; k < 3; ++k) at[12 + k] = static_cast<char>(meshopt_quantizeSnorm(v.normal[k], 8));
    if (layout.textured) std::memcpy(at + layout.uv(), v.uv, 8);
    std::memcpy(at + layout.feature(), &v.feature, 4);
  }
  plain = stream.size();
  std::string encoded(meshopt_encodeVertexBufferBound(vertices.size(), stride), '\0');
  encoded.resize(meshopt_encodeVertexBuffer(reinterpret_cast<unsigned char*>(encoded.data()),
                                            encoded.size(), stream.data(), vertices.size(), stride));
  return encoded;
}

std::string MeshoptIndices(const std::vector<uint32_t>& indices, size_t vertexCount) {
  std::string encoded(meshopt_encodeIndexBufferBound(indices.size(), vertexCount), '\0');
  encoded.resize(meshopt_encodeIndexBuffer(reinterpret_cast<unsigned char*>(encoded.data()),
                                           encoded.size(), indices.data(), indices.size()));
  return encoded;
}

std::string DracoMesh(const std::vector<Vertex>& vertices, const std::vector<uint32_t>& indices,
                      bool textured, bool floatFeatures, int ids[4]) {
  draco::Mesh mesh;
  mesh.set_num_points(static_cast<uint32_t>(vertices.size()));
  auto attribute = [&](draco::GeometryAttribute::Type type, int components, draco::DataType data,
                       size_t offset) {
    draco::GeometryAttribute a;
    const size_t size = data == draco::DT_UINT16 ? 2 : 4;
    a.Init(type, nullptr, static_cast<uint8_t>(components), data, false,
           static_cast<int64_t>(size * size_t(components)), 0);
    int id = mesh.AddAttribute(a, true, static_cast<uint32_t>(vertices.size()));
    draco::PointAttribute* values = mesh.attribute(id);
    for (size_t i = 0; i < vertices.size(); ++i)
      values->SetAttributeValue(draco::AttributeValueIndex(static_cast<uint32_t>(i)),
                                reinterpret_cast<const char*>(&vertices[i]) + offset);
    return static_cast<int>(values->unique_id());
  };
  ids[0] = attribute(draco::GeometryAttribute::POSITION, 3, draco::DT_FLOAT32, 0);
  ids[1] = attribute(draco::GeometryAttribute::NORMAL, 3, draco::DT_FLOAT32, 12);
  ids[2] = textured ? attribute(draco::GeometryAttribute::TEX_COORD, 2, draco::DT_FLOAT32, 24) : -1;
  ids[3] = attribute(draco::GeometryAttribute::GENERIC, 1,
                     floatFeatures ? draco::DT_FLOAT32 : draco::DT_UINT16, 32);
  for (size_t t = 0; t + 2 < indices.size(); t += 3)
    mesh.AddFace({draco::PointIndex(indices[t]), draco::PointIndex(indices[t + 1]),
                  draco::PointIndex(indices[t + 2])});
  draco::Encoder encoder;
  // Millimetres on a 65 m model; finer than the eye on normals and texture coordinates.
  encoder.SetAttributeQuantization(draco::GeometryAttribute::POSITION, 16);
  encoder.SetAttributeQuantization(draco::GeometryAttribute::NORMAL, 10);
  encoder.SetAttributeQuantization(draco::GeometryAttribute::TEX_COORD, 12);
  draco::EncoderBuffer buffer;
  if (!encoder.EncodeMeshToBuffer(mesh, &buffer).ok()) return {};
  return std::string(buffer.data(), buffer.size());
}

}  // namespace varnel::gltf
