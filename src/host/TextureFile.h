// The host's texture reader: PNG, JPEG, TGA, BMP and GIF decoded to 8 bits per channel.
#pragma once

#include <cstdint>

#include <varnel/String.h>

namespace varnel {

// How large a read texture may come out: sides above `maxSide` are resampled to it, each on its
// own; an image then above `maxPixels` is resampled down, both sides alike, until it fits.
struct TextureLimits {
  int maxSide = 1 << 24;
  int64_t maxPixels = int64_t(1) << 28;
};

// What a read did besides delivering pixels: the file's own size, whether `maxPixels` made it
// smaller (`fitted`), whether it was refused for its size (`tooLarge`).
struct TextureReport {
  int sourceWidth = 0;
  int sourceHeight = 0;
  bool fitted = false;
  bool tooLarge = false;
};

class TextureFile {
 public:
  // On success: width, height, channels (1 to 4) and `pixels`, a buffer of
  // width x height x channels bytes from the global operator new that the caller owns.
  // On failure pixels stays null.
  void ReadTextureMap(const String& path, int& width, int& height, int& channels,
                      unsigned char*& pixels);
  // The same within `limits`; large images are resampled while they are decoded, so the whole
  // file's pixels need not be held.
  void ReadTextureMap(const String& path, int& width, int& height, int& channels,
                      unsigned char*& pixels, const TextureLimits& limits, TextureReport* report);
};

}  // namespace varnel
