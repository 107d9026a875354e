// The host's material record: everything the material builder sets, owning its pixels.
//
// Records come to a caller in arrays made with array new (DaeDisplayList::SetMaterials hands one
// over with its count); the receiver deletes the array with delete[], which frees each record's
// pixels. A record is not copyable: its pixels have exactly one owner.
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

  // Each setter records its values as given (no clamping) and sets the matching "has" flag.
  // red, green, blue: 255 times the document's colour, truncated (a colour beyond 1 gives more).
  void SetColor(int32_t red, int32_t green, int32_t blue);
  void SetEdgeDisplay(bool display);
  // width: in pixels, as passed.
  void SetEdgeWidth(int32_t width);
  void SetEdgeColor(int32_t red, int32_t green, int32_t blue);
  // Sets no "has" flag: culling is off until set.
  void SetCullBackFaces(bool cull);
  // percent: 0 opaque to 100 invisible.
  void SetTransparency(int32_t percent);
  // effectIndex: the record, in the same array, whose pixels this one shows; -1 for none.
  void SetSharedTexture(int32_t effectIndex);
  // width, height: pixels, each at least 1; channels: 1 to 4 (grey, grey and alpha, RGB, RGBA),
  // interleaved, rows top first.
  // pixels: width x height x channels bytes from the global operator new, handed over: the
  // record frees them (and any earlier map) and the caller must not touch them again. Null with
  // zero sizes clears the map.
  void SetTextureMap(int32_t width, int32_t height, int32_t channels, unsigned char* pixels);

  // What the setters received; "has" flags tell which setters were called.
  bool hasColor = false;
  int32_t color[3] = {0, 0, 0};
  bool hasEdgeDisplay = false;
  bool edgeDisplay = false;
  bool hasEdgeWidth = false;
  int32_t edgeWidth = 0;
  bool hasEdgeColor = false;
  int32_t edgeColor[3] = {0, 0, 0};
  bool cullBackFaces = false;
  bool hasTransparency = false;
  int32_t transparency = 0;
  bool hasSharedTexture = false;
  int32_t sharedTexture = -1;
  int32_t textureWidth = 0;
  int32_t textureHeight = 0;
  int32_t textureChannels = 0;
  // Owned by the record, valid until it is destroyed or given another map; null without one.
  unsigned char* texturePixels = nullptr;
};

}  // namespace varnel
