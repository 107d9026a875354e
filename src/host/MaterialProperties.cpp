#include <varnel/MaterialProperties.h>

#include <new>

namespace varnel {

MaterialProperties::~MaterialProperties() { ::operator delete(texturePixels); }

void MaterialProperties::SetColor(int32_t red, int32_t green, int32_t blue) {
  hasColor = true;
  color[0] = red;
  color[1] = green;
  color[2] = blue;
}

void MaterialProperties::SetEdgeDisplay(bool display) {
  hasEdgeDisplay = true;
  edgeDisplay = display;
}

void MaterialProperties::SetEdgeWidth(int32_t width) {
  hasEdgeWidth = true;
  edgeWidth = width;
}

void MaterialProperties::SetEdgeColor(int32_t red, int32_t green, int32_t blue) {
  hasEdgeColor = true;
  edgeColor[0] = red;
  edgeColor[1] = green;
  edgeColor[2] = blue;
}

void MaterialProperties::SetCullBackFaces(bool cull) { cullBackFaces = cull; }

void MaterialProperties::SetTransparency(int32_t percent) {
  hasTransparency = true;
  transparency = percent;
}

void MaterialProperties::SetSharedTexture(int32_t effectIndex) {
  hasSharedTexture = true;
  sharedTexture = effectIndex;
}

void MaterialProperties::SetTextureMap(int32_t width, int32_t height, int32_t channels, unsigned char* pixels) {
  // A second map replaces the first; the record owns exactly one pixel buffer.
  if (texturePixels != pixels) ::operator delete(texturePixels);
  textureWidth = width;
  textureHeight = height;
  textureChannels = channels;
  texturePixels = pixels;
}

}  // namespace varnel
