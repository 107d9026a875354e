// Decoders behind TextureFile: each turns the bytes of one image file into 8-bit pixels.
#pragma once

#include <cstddef>
#include <cstdint>

namespace varnel::image {

// Decoded pixels, top row first, `channels` interleaved bytes per pixel. `pixels` comes from the
// global operator new; Release frees it.
struct DecodedImage {
  int width = 0;
  int height = 0;
  int channels = 0;
  unsigned char* pixels = nullptr;
  void Release();
};

// Images above this many pixels are refused before anything is decoded, so a small compressed
// file cannot demand gigabytes. One side may still be far beyond what a renderer accepts.
constexpr uint64_t kMaxPixels = uint64_t(1) << 28;
constexpr uint32_t kMaxSide = uint32_t(1) << 24;

bool ImageSizeAllowed(uint64_t width, uint64_t height);
// Allocates width x height x channels bytes without throwing; null when that fails.
unsigned char* AllocatePixels(int width, int height, int channels);

bool IsPng(const unsigned char* data, size_t size);
bool IsJpeg(const unsigned char* data, size_t size);
bool IsGif(const unsigned char* data, size_t size);
bool IsBmp(const unsigned char* data, size_t size);
// TGA has no signature: a header whose fields all make sense is taken as one.
bool IsTga(const unsigned char* data, size_t size);

// Each returns false and leaves `image` empty on any failure (corrupt, truncated, too large).
bool DecodePng(const unsigned char* data, size_t size, DecodedImage& image);
bool DecodeJpeg(const unsigned char* data, size_t size, DecodedImage& image);
// BMP, GIF (first frame) and TGA.
bool DecodeStb(const unsigned char* data, size_t size, DecodedImage& image);

}  // namespace varnel::image
