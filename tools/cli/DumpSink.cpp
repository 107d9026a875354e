#include "cli/DumpSink.h"

#include <cerrno>
#include <cmath>
#include <cstring>

#include "cli/Json.h"

namespace varnel::cli {

DumpSink::~DumpSink() { delete[] materials_; }

void DumpSink::Put(const char* data, size_t size) {
  if (!error_ && std::fwrite(data, 1, size, out_) != size) error_ = errno ? errno : EIO;
}

void DumpSink::Emit(std::string& line) {
  line += '\n';
  Put(line.data(), line.size());
}

static void AppendColor(std::string& out, const int* rgb) {
  out += '[' + std::to_string(rgb[0]) + ',' + std::to_string(rgb[1]) + ',' +
         std::to_string(rgb[2]) + ']';
}

void AppendMaterial(std::string& out, const MaterialProperties& m) {
  out += "{\"color\":";
  if (m.hasColor) AppendColor(out, m.color);
  else out += "null";
  out += ",\"cull\":";
  AppendBool(out, m.cullBackFaces);
  out += ",\"transparency\":";
  out += m.hasTransparency ? std::to_string(m.transparency) : "null";
  out += ",\"edge\":";
  if (m.hasEdgeDisplay && m.edgeDisplay) {
    out += "{\"width\":" + std::to_string(m.edgeWidth) + ",\"color\":";
    AppendColor(out, m.edgeColor);
    out += '}';
  } else {
    out += "null";
  }
  out += ",\"texture\":";
  if (m.texturePixels) {
    out += "{\"width\":" + std::to_string(m.textureWidth) + ",\"height\":" +
           std::to_string(m.textureHeight) + ",\"channels\":" + std::to_string(m.textureChannels) +
           '}';
  } else {
    out += "null";
  }
  out += ",\"sharedTexture\":";
  out += m.sharedTexture >= 0 ? std::to_string(m.sharedTexture) : "null";
  out += '}';
}

void DumpSink::SetMaterials(long count, MaterialProperties* materials) {
  delete[] materials_;
  materials_ = materials;
  std::string line = "{\"call\":\"SetMaterials\",\"count\":" + std::to_string(count) +
                     ",\"materials\":[";
  for (long i = 0; materials && i < count; ++i) {
    if (i) line += ',';
    AppendMaterial(line, materials[i]);
  }
  line += "]}";
  Emit(line);
}

void DumpSink::SetCurrentLine(long materialIndex, bool isStrip) {
  std::string line = "{\"call\":\"SetCurrentLine\",\"material\":" + std::to_string(materialIndex) +
                     ",\"strip\":";
  AppendBool(line, isStrip);
  line += '}';
  Emit(line);
}

void DumpSink::SetCurrentPart(long materialIndex, tavuPatchType partType) {
  std::string line = "{\"call\":\"SetCurrentPart\",\"material\":" + std::to_string(materialIndex) +
                     ",\"type\":" + std::to_string(static_cast<int>(partType)) + '}';
  Emit(line);
}

// `head`, then the floats as a JSON array closed with "]}": a part can hold millions, so they go
// out through a window rather than as one string.
void DumpSink::EmitFloats(const std::string& head, const float* data, long n) {
  char window[1 << 16];
  char* at = window + head.copy(window, sizeof window - 64);
  *at++ = '[';
  for (long i = 0; data && i < n; ++i) {
    if (at > window + sizeof window - 40) {
      Put(window, static_cast<size_t>(at - window));
      at = window;
    }
    if (i) *at++ = ',';
    if (std::isfinite(data[i])) {
      at = Print9(at, data[i]);
    } else {
      std::memcpy(at, "null", 4);
      at += 4;
    }
  }
  std::memcpy(at, "]}\n", 3);
  Put(window, static_cast<size_t>(at + 3 - window));
}

void DumpSink::SetLineData(long pointCount, float* data) {
  EmitFloats("{\"call\":\"SetLineData\",\"points\":" + std::to_string(pointCount) + ",\"data\":",
             data, pointCount * 3);
}

void DumpSink::SetPartData(long pointCount, bool hasNormals, bool hasTextures, float* data) {
  long stride = 3 + (hasNormals ? 3 : 0) + (hasTextures ? 2 : 0);
  std::string line = "{\"call\":\"SetPartData\",\"points\":" + std::to_string(pointCount) +
                     ",\"normals\":";
  AppendBool(line, hasNormals);
  line += ",\"textures\":";
  AppendBool(line, hasTextures);
  line += ",\"data\":";
  EmitFloats(line, data, pointCount * stride);
}

void DumpSink::SetExtent(double xMin, double yMin, double zMin, double xMax, double yMax,
                         double zMax) {
  gotExtent = true;
  std::string line = "{\"call\":\"SetExtent\",\"extent\":[";
  const double values[6] = {xMin, yMin, zMin, xMax, yMax, zMax};
  for (int i = 0; i < 6; ++i) {
    if (i) line += ',';
    AppendDouble(line, values[i]);
  }
  line += "]}";
  Emit(line);
}

}  // namespace varnel::cli
