#include <png.h>

#include <csetjmp>
#include <cstring>

#include "host/ImageDecoders.h"

namespace varnel::image {
namespace {

struct MemoryReader {
  const unsigned char* data;
  size_t size;
  size_t offset;
};

void ReadFromMemory(png_structp png, png_bytep out, size_t length) {
  auto* reader = static_cast<MemoryReader*>(png_get_io_ptr(png));
  if (length > reader->size - reader->offset) png_error(png, "truncated");
  std::memcpy(out, reader->data + reader->offset, length);
  reader->offset += length;
}

// libpng's own limits (sides, chunk sizes) end the read with these words.
[[noreturn]] void OnError(png_structp png, png_const_charp message) {
  if (std::strstr(message, "too large") || std::strstr(message, "exceeds"))
    static_cast<DecodedImage*>(png_get_error_ptr(png))->tooLarge = true;
  png_longjmp(png, 1);
}
void OnWarning(png_structp, png_const_charp) {}

// libpng reports errors by longjmp to here, so nothing in this frame may need a destructor;
// the caller owns the png structs, `target` and `image`.
bool ReadRows(png_structp png, png_infop info, const DecodeRequest& request, RowTarget& target,
              DecodedImage& image) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_read_info(png, info);
  png_uint_32 width = 0, height = 0;
  int depth = 0, colorType = 0, interlace = 0;
  png_get_IHDR(png, info, &width, &height, &depth, &colorType, &interlace, nullptr, nullptr);
  if (!DeliveredSize(width, height, request, image)) return false;

  // Everything becomes 8 bits per channel; palettes become RGB, transparency keys an alpha channel.
  if (colorType == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(png);
  if (colorType == PNG_COLOR_TYPE_GRAY && depth < 8) png_set_expand_gray_1_2_4_to_8(png);
  if (png_get_valid(png, info, PNG_INFO_tRNS)) png_set_tRNS_to_alpha(png);
  if (depth == 16) png_set_scale_16(png);
  int passes = png_set_interlace_handling(png);
  png_read_update_info(png, info);

  int channels = png_get_channels(png, info);
  if (channels < 1 || channels > 4 || png_get_rowbytes(png, info) != size_t(width) * size_t(channels))
    return false;
  // Interlaced images take several passes, each refining rows already in place, so they are
  // kept whole; others go row by row.
  if (!target.Start(image, int(width), int(height), channels, interlace != PNG_INTERLACE_NONE))
    return false;
  for (int pass = 0; pass < passes; ++pass) {
    for (png_uint_32 y = 0; y < height; ++y) {
      png_read_row(png, target.Row(int(y)), nullptr);
      if (pass == passes - 1) target.Done();
    }
  }
  png_read_end(png, nullptr);  // a file cut anywhere, even in its last chunk, is refused
  return target.Finish();
}

}  // namespace

bool IsPng(const unsigned char* data, size_t size) {
  return size >= 8 && png_sig_cmp(data, 0, 8) == 0;
}

bool DecodePng(const unsigned char* data, size_t size, const DecodeRequest& request, DecodedImage& image) {
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &image, OnError, OnWarning);
  if (!png) return false;
  png_infop info = png_create_info_struct(png);
  if (!info) {
    png_destroy_read_struct(&png, nullptr, nullptr);
    return false;
  }
  MemoryReader reader{data, size, 0};
  png_set_read_fn(png, &reader, ReadFromMemory);
  png_set_user_limits(png, kMaxSide, kMaxSide);
  png_set_chunk_malloc_max(png, kMaxPngChunkBytes);
  RowTarget target;
  bool ok = ReadRows(png, info, request, target, image);
  png_destroy_read_struct(&png, &info, nullptr);
  if (!ok) image.Release();
  return ok;
}

}  // namespace varnel::image
