#include <stb/stb_image.h>

#include <climits>
#include <cstdlib>
#include <cstring>

#include "host/ImageDecoders.h"

namespace varnel::image {
namespace {

uint32_t Le16(const unsigned char* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8; }
uint32_t Le32(const unsigned char* p) { return Le16(p) | Le16(p + 2) << 16; }

// stb_image pads a short file with zero bytes instead of failing, so uncompressed BMP and TGA
// files are measured against their headers first. Compressed ones end in stb's own checks.
bool BmpComplete(const unsigned char* data, size_t size) {
  uint32_t dibSize = Le32(data + 14);
  if (size < 14 + uint64_t(dibSize)) return false;
  int64_t width, height;
  uint32_t bitsPerPixel, compression;
  if (dibSize == 12) {
    width = Le16(data + 18);
    height = Le16(data + 20);
    bitsPerPixel = Le16(data + 24);
    compression = 0;
  } else {
    width = int32_t(Le32(data + 18));
    height = int32_t(Le32(data + 22));
    bitsPerPixel = Le16(data + 28);
    compression = Le32(data + 30);
  }
  bool uncompressed = compression == 0 || compression == 3 || compression == 6;
  if (!uncompressed) return true;
  uint64_t stride = (uint64_t(std::llabs(width)) * bitsPerPixel + 31) / 32 * 4;
  return Le32(data + 10) + stride * uint64_t(std::llabs(height)) <= size;
}

bool TgaComplete(const unsigned char* data, size_t size) {
  unsigned imageType = data[2];
  if (imageType > 3) return true;  // run-length encoded
  uint64_t colorMapBytes = data[1] ? uint64_t(Le16(data + 5)) * ((data[7] + 7u) / 8u) : 0;
  uint64_t pixelBytes = uint64_t(Le16(data + 12)) * Le16(data + 14) * ((data[16] + 7u) / 8u);
  return 18 + uint64_t(data[0]) + colorMapBytes + pixelBytes <= size;
}

}  // namespace

bool IsGif(const unsigned char* data, size_t size) {
  return size >= 6 && (std::memcmp(data, "GIF87a", 6) == 0 || std::memcmp(data, "GIF89a", 6) == 0);
}

bool IsBmp(const unsigned char* data, size_t size) {
  if (size < 26 || data[0] != 'B' || data[1] != 'M') return false;
  uint32_t dibSize = Le32(data + 14);
  return dibSize == 12 || dibSize == 40 || dibSize == 52 || dibSize == 56 || dibSize == 108 ||
         dibSize == 124;
}

bool IsTga(const unsigned char* data, size_t size) {
  if (size < 18) return false;
  unsigned colorMapType = data[1], imageType = data[2], bitsPerPixel = data[16];
  if (Le16(data + 12) < 1 || Le16(data + 14) < 1) return false;
  if (colorMapType == 1) {
    unsigned entryBits = data[7];
    return (imageType == 1 || imageType == 9) && (bitsPerPixel == 8 || bitsPerPixel == 16) &&
           (entryBits == 8 || entryBits == 15 || entryBits == 16 || entryBits == 24 ||
            entryBits == 32);
  }
  return colorMapType == 0 &&
         (imageType == 2 || imageType == 3 || imageType == 10 || imageType == 11) &&
         (bitsPerPixel == 8 || bitsPerPixel == 15 || bitsPerPixel == 16 || bitsPerPixel == 24 ||
          bitsPerPixel == 32);
}

bool DecodeStb(const unsigned char* data, size_t size, const DecodeRequest& request, DecodedImage& image) {
  if (size > size_t(INT_MAX)) return false;
  if (IsBmp(data, size) && !BmpComplete(data, size)) return false;
  if (IsTga(data, size) && !TgaComplete(data, size)) return false;
  int width = 0, height = 0, channels = 0;
  int length = int(size);
  if (!stbi_info_from_memory(data, length, &width, &height, &channels)) return false;
  if (width < 1 || height < 1 || !DeliveredSize(uint64_t(width), uint64_t(height), request, image))
    return false;
  // stb decodes whole images only.
  const bool shrinks = image.width != width || image.height != height;
  if (shrinks && uint64_t(width) * uint64_t(height) > kMaxWholePixels) {
    image.tooLarge = true;
    return false;
  }

  unsigned char* decoded = stbi_load_from_memory(data, length, &width, &height, &channels, 0);
  if (!decoded) return false;
  if (channels >= 1 && channels <= 4 && width == image.sourceWidth && height == image.sourceHeight)
    image.pixels = AllocatePixels(image.width, image.height, channels);
  if (image.pixels) {
    if (shrinks)
      brenwald::pixel_utils::resample_2d_uint8(width, height, image.width, image.height, decoded,
                                               image.pixels, channels);
    else
      std::memcpy(image.pixels, decoded, size_t(width) * size_t(height) * size_t(channels));
    image.channels = channels;
  }
  stbi_image_free(decoded);
  if (!image.pixels) image.Release();
  return image.pixels != nullptr;
}

}  // namespace varnel::image
