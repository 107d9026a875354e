// Decoders behind TextureFile: each turns the bytes of one image file into 8-bit pixels, at most
// as large as the caller asks, resampling while it decodes where the format allows.
#pragma once

#include <cstddef>
#include <cstdint>

#include "host/Resample.h"
#include "host/TextureFile.h"

namespace varnel::image {

using DecodeRequest = TextureLimits;

// Decoded pixels, top row first, `channels` interleaved bytes per pixel. `pixels` comes from the
// global operator new; Release frees it.
struct DecodedImage {
  int width = 0;
  int height = 0;
  int channels = 0;
  unsigned char* pixels = nullptr;
  // The file's own size; `fitted` when `maxPixels` made it smaller than `maxSide` alone would,
  // `tooLarge` when it was refused for its size.
  int sourceWidth = 0;
  int sourceHeight = 0;
  bool fitted = false;
  bool tooLarge = false;
  void Release();
};

// No side may be longer: a header claiming more is corrupt or hostile.
constexpr uint32_t kMaxSide = uint32_t(1) << 24;
// Images that must be decoded whole before they are resampled (interlaced PNG, GIF, BMP, TGA)
// may have no more source pixels than this.
constexpr uint64_t kMaxWholePixels = uint64_t(1) << 28;
// Images decoded row by row (after libjpeg's scaling) may have no more source pixels than this:
// it bounds the time a small file can demand.
constexpr uint64_t kMaxStreamedPixels = uint64_t(1) << 30;
// Memory libjpeg may take for itself (a progressive file keeps every coefficient).
constexpr long kMaxJpegMemory = 2l << 30;
// Scans of a progressive JPEG: each may rescan the whole image.
constexpr int kMaxJpegScans = 1000;
// A PNG chunk libpng may hold whole (image data streams; this bounds metadata).
constexpr size_t kMaxPngChunkBytes = size_t(64) << 20;
// A texture file larger than this is not read at all.
constexpr long kMaxTextureFileBytes = long(1) << 29;

// The size a width x height image is delivered at under `request`; false when it cannot be
// delivered at all (a side of 0 or a budget below one pixel).
bool DeliveredSize(uint64_t width, uint64_t height, const DecodeRequest& request, DecodedImage& image);

// Takes a decoder's rows and delivers the image at the size DeliveredSize set in `image`:
// written straight into the pixels, passed through a RowResampler, or (`whole`) kept whole and
// resampled at the end, for decoders that come back to rows.
class RowTarget {
 public:
  // Rows of rowWidth x channels bytes will arrive (the source's size, or libjpeg's scaled one).
  // False (refused for size, or no memory) leaves `image` without pixels.
  bool Start(DecodedImage& image, int rowWidth, int rowCount, int channels, bool whole) noexcept;
  // Where source row y goes; call Done once it is complete.
  unsigned char* Row(int y) noexcept;
  void Done() noexcept;
  // True when the image is complete.
  bool Finish() noexcept;
  ~RowTarget();

 private:
  DecodedImage* image_ = nullptr;
  size_t stride_ = 0;
  int rowWidth_ = 0, rowCount_ = 0;
  unsigned char* scratch_ = nullptr;  // one row when streaming, every row when whole
  bool whole_ = false;
  brenwald::pixel_utils::RowResampler resampler_;
};

// Allocates width x height x channels bytes without throwing; null when that fails.
unsigned char* AllocatePixels(int width, int height, int channels);

bool IsPng(const unsigned char* data, size_t size);
bool IsJpeg(const unsigned char* data, size_t size);
bool IsGif(const unsigned char* data, size_t size);
bool IsBmp(const unsigned char* data, size_t size);
// TGA has no signature: a header whose fields all make sense is taken as one.
bool IsTga(const unsigned char* data, size_t size);

// Each returns false and leaves `image` without pixels on any failure (corrupt, truncated, too
// large: then `tooLarge` is set).
bool DecodePng(const unsigned char* data, size_t size, const DecodeRequest& request, DecodedImage& image);
bool DecodeJpeg(const unsigned char* data, size_t size, const DecodeRequest& request, DecodedImage& image);
// BMP, GIF (first frame) and TGA.
bool DecodeStb(const unsigned char* data, size_t size, const DecodeRequest& request, DecodedImage& image);

}  // namespace varnel::image
