// The host's texture reader: PNG, JPEG, TGA, BMP and GIF decoded to 8 bits per channel.
#pragma once

#include <varnel/String.h>

namespace varnel {

class TextureFile {
 public:
  // On success: width, height, channels (1 to 4) and `pixels`, a buffer of
  // width x height x channels bytes from the global operator new that the caller owns.
  // On failure pixels stays null.
  void ReadTextureMap(const String& path, int& width, int& height, int& channels,
                      unsigned char*& pixels);
};

}  // namespace varnel

namespace brenwald::pixel_utils {

// Resamples an 8-bit-per-channel image into a caller-allocated target of
// targetWidth x targetHeight x channels bytes.
void resample_2d_uint8(int sourceWidth, int sourceHeight, int targetWidth, int targetHeight,
                       const unsigned char* source, unsigned char* target, int channels);

}  // namespace brenwald::pixel_utils
