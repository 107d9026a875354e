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
