// The host's material record: everything the material builder sets, owning its pixels.
#pragma once

#include <cstdint>

#include <varnel/Export.h>

namespace varnel {

class VARNEL_API MaterialProperties {
 public:
  MaterialProperties() = default;
  ~MaterialProperties();
  MaterialProperties(const MaterialProperties&) = delete;
  MaterialProperties& operator=(const MaterialProperties&) = delete;

  void SetColor(int red, int green, int blue);
  void SetEdgeDisplay(bool display);
  void SetEdgeWidth(int width);
  void SetEdgeColor(int red, int green, int blue);
  void SetCullBackFaces(bool cull);
  void SetTransparency(int percent);
  void SetSharedTexture(int effectIndex);
  // Takes over `pixels` (width x height x channels bytes from the global operator new).
  void SetTextureMap(int width, int height, int channels, unsigned char* pixels);

  // What the setters received; "has" flags tell which setters were called.
  bool hasColor = false;
  int color[3] = {0, 0, 0};
  bool hasEdgeDisplay = false;
  bool edgeDisplay = false;
  bool hasEdgeWidth = false;
  int edgeWidth = 0;
  bool hasEdgeColor = false;
  int edgeColor[3] = {0, 0, 0};
  bool cullBackFaces = false;
  bool hasTransparency = false;
  int transparency = 0;
  bool hasSharedTexture = false;
  int sharedTexture = -1;
  int textureWidth = 0;
  int textureHeight = 0;
  int textureChannels = 0;
  unsigned char* texturePixels = nullptr;
};

}  // namespace varnel
