// Texture files become eight bits a channel whatever their kind, or fail without output.
#include <gtest/gtest.h>
#include <jpeglib.h>
#include <png.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include <zlib.h>

#include "host/Resample.h"
#include "host/TextureFile.h"
#include "support/TestSupport.h"

namespace varnel {
namespace {

using Bytes = std::vector<unsigned char>;

// The pixels read from `path` (empty on failure) and their channel count.
std::pair<Bytes, int> Read(const std::string& path) {
  int width = 0, height = 0, channels = 0;
  unsigned char* pixels = nullptr;
  TextureFile().ReadTextureMap(String::FromUtf8(path), width, height, channels, pixels);
  Bytes out(pixels, pixels + (pixels ? size_t(width) * size_t(height) * size_t(channels) : 0));
  ::operator delete(pixels);
  return {out, channels};
}

struct PngKind {
  int width, height, colorType, bitDepth;
  bool interlaced = false;
  std::vector<png_color> palette = {};
  Bytes alphaOfPalette = {};
};

// `rows` holds packed rows exactly as PNG stores them (16-bit samples big-endian).
std::string EncodePng(const PngKind& kind, const Bytes& rows) {
  std::string out;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  png_set_write_fn(png, &out, [](png_structp p, png_bytep data, size_t length) {
    static_cast<std::string*>(png_get_io_ptr(p))->append(reinterpret_cast<char*>(data), length);
  }, nullptr);
  png_set_compression_level(png, 1);
  png_set_IHDR(png, info, png_uint_32(kind.width), png_uint_32(kind.height), kind.bitDepth, kind.colorType,
               kind.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  if (!kind.palette.empty()) png_set_PLTE(png, info, kind.palette.data(), int(kind.palette.size()));
  if (!kind.alphaOfPalette.empty())
    png_set_tRNS(png, info, kind.alphaOfPalette.data(), int(kind.alphaOfPalette.size()), nullptr);
  png_write_info(png, info);
  size_t stride = rows.size() / size_t(kind.height);
  for (int pass = png_set_interlace_handling(png); pass > 0; --pass)
    for (int y = 0; y < kind.height; ++y) png_write_row(png, rows.data() + size_t(y) * stride);
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  return out;
}

// A JPEG of `components` channels in `space` at quality 100, each row filled by `fill`.
std::string EncodeJpeg(int width, int height, int components, J_COLOR_SPACE space,
                       const std::function<void(JDIMENSION y, unsigned char* row)>& fill) {
  jpeg_compress_struct info;
  jpeg_error_mgr errors;
  info.err = jpeg_std_error(&errors);
  jpeg_create_compress(&info);
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&info, &buffer, &size);
  info.image_width = JDIMENSION(width);
  info.image_height = JDIMENSION(height);
  info.input_components = components;
  info.in_color_space = space;
  jpeg_set_defaults(&info);
  jpeg_set_quality(&info, 100, TRUE);
  jpeg_start_compress(&info, TRUE);
  Bytes row(size_t(width) * size_t(components));
  for (JSAMPROW line = row.data(); info.next_scanline < info.image_height;) {
    fill(info.next_scanline, row.data());
    jpeg_write_scanlines(&info, &line, 1);
  }
  jpeg_finish_compress(&info);
  jpeg_destroy_compress(&info);
  std::string out(reinterpret_cast<char*>(buffer), size);
  free(buffer);
  return out;
}

// An 8 x 8 CMYK JPEG of one repeated pixel.
std::string EncodeCmykJpeg(const Bytes& pixel) {
  return EncodeJpeg(8, 8, 4, JCS_CMYK, [&](JDIMENSION, unsigned char* row) {
    for (int x = 0; x < 8; ++x) std::copy(pixel.begin(), pixel.end(), row + 4 * x);
  });
}

TEST(TextureFile, EveryPngKindBecomesEightBitsPerChannel) {
  Bytes rgb = {255, 0, 0, 0, 255, 0, 0, 0, 255, 10, 20, 30}, gray(9 * 7), wide(40000 * 2, 200);
  for (size_t i = 0; i < gray.size(); ++i) gray[i] = static_cast<unsigned char>(i * 3);
  const struct {
    PngKind kind;
    Bytes rows;
    int channels;
    Bytes pixels;
  } cases[] = {
      {{2, 2, PNG_COLOR_TYPE_RGB, 8}, rgb, 3, rgb},
      // Four 2-bit grey samples in one byte: 0, 1, 2, 3 scale to 0, 85, 170, 255.
      {{4, 1, PNG_COLOR_TYPE_GRAY, 2}, {0x1B}, 1, {0, 85, 170, 255}},
      // 16-bit samples are scaled, not truncated: 0xC800 is 199 (not 200), 0xFFFF is 255.
      {{1, 1, PNG_COLOR_TYPE_RGB, 16}, {0xFF, 0xFF, 0xC8, 0x00, 0, 0}, 3, {255, 199, 0}},
      {{3, 1, PNG_COLOR_TYPE_PALETTE, 8, false, {{10, 20, 30}, {40, 50, 60}}, {0}}, {1, 0, 1}, 4,
       {40, 50, 60, 255, 10, 20, 30, 0, 40, 50, 60, 255}},
      {{9, 7, PNG_COLOR_TYPE_GRAY, 8, true}, gray, 1, gray},  // interlaced
      {{40000, 2, PNG_COLOR_TYPE_GRAY, 8}, wide, 1, wide},    // a long side, few pixels
  };
  int serial = 0;
  for (const auto& c : cases) {
    // The format comes from the content, and the path is UTF-8.
    std::string name = "fotografía ünd Ω/misnamed" + std::to_string(++serial) + ".jpg";
    EXPECT_EQ(Read(testsupport::WriteFile(name, EncodePng(c.kind, c.rows))), std::make_pair(c.pixels, c.channels))
        << serial;
  }
}

TEST(TextureFile, CmykJpegInkIsInverted) {
  // libjpeg marks CMYK files as Adobe's, which store ink inverted: (128, 255, 255, 255) is half
  // cyan and nothing else, (128, 255, 255) in RGB.
  auto [pixels, channels] = Read(testsupport::WriteFile("cmyk.jpg", EncodeCmykJpeg({128, 255, 255, 255})));
  ASSERT_EQ(channels, 3);
  ASSERT_EQ(pixels.size(), 8u * 8 * 3);
  for (size_t i = 0; i < pixels.size(); ++i) ASSERT_NEAR(pixels[i], i % 3 ? 255 : 128, 4) << i;
}

TEST(TextureFile, BrokenFilesFailWithoutOutput) {
  using testsupport::WriteFile;
  std::string png = EncodePng({16, 16, PNG_COLOR_TYPE_RGB, 8}, Bytes(16 * 16 * 3, 5));
  std::string jpeg = EncodeCmykJpeg({100, 100, 100, 100});
  for (const std::string* file : {&png, &jpeg})
    for (size_t length = 0; length < file->size() - 2; length += 7)
      EXPECT_EQ(Read(WriteFile("cut", file->substr(0, length))), std::make_pair(Bytes(), 0)) << length;
  std::string badData = png;
  for (size_t i = 45; i < badData.size() - 12; ++i) badData[i] = static_cast<char>(0xA5);
  EXPECT_TRUE(Read(WriteFile("data.png", badData)).first.empty());
  EXPECT_TRUE(Read(testsupport::ScratchDir()).first.empty());  // a directory
}

struct Limited {
  Bytes pixels;
  int width = 0, height = 0;
  TextureReport report;
};

Limited ReadWithin(const std::string& path, int maxSide, int64_t maxPixels) {
  Limited out;
  int channels = 0;
  unsigned char* pixels = nullptr;
  TextureFile().ReadTextureMap(String::FromUtf8(path), out.width, out.height, channels, pixels,
                               {maxSide, maxPixels}, &out.report);
  out.pixels.assign(pixels, pixels + (pixels ? size_t(out.width) * size_t(out.height) * size_t(channels) : 0));
  ::operator delete(pixels);
  return out;
}

// Sides over the limit are resampled while rows are decoded, to the very bytes the resampler
// gives the whole image; interlaced PNG is kept whole first, JPEG and plain PNG are not.
TEST(TextureFile, LongSidesAreResampledWhileDecodingAsTheWholeImageWouldBe) {
  const int width = 40000, height = 5;
  Bytes gray(size_t(width) * height);
  for (size_t i = 0; i < gray.size(); ++i) gray[i] = static_cast<unsigned char>(i * 7 % 251);
  Bytes expected(size_t(32767) * height);
  brenwald::pixel_utils::resample_2d_uint8(width, height, 32767, height, gray.data(), expected.data(), 1);
  for (bool interlaced : {false, true}) {
    std::string path = testsupport::WriteFile("long.png", EncodePng({width, height, PNG_COLOR_TYPE_GRAY, 8, interlaced}, gray));
    Limited read = ReadWithin(path, 32767, int64_t(1) << 28);
    EXPECT_EQ(read.width * 10 + read.height, 327675);
    EXPECT_TRUE(read.pixels == expected) << interlaced;
    EXPECT_FALSE(read.report.fitted);
  }
  // A JPEG against its own whole decoding.
  std::string jpeg = testsupport::WriteFile("long.jpg", EncodeJpeg(width, 16, 3, JCS_RGB, [&](JDIMENSION y, unsigned char* row) {
    for (size_t x = 0; x < size_t(width); ++x) std::fill_n(row + 3 * x, 3, gray[(y * size_t(width) + x) % gray.size()]);
  }));
  auto [whole, channels] = Read(jpeg);
  ASSERT_EQ(whole.size(), size_t(width) * 16 * 3);
  Bytes shrunk(size_t(32767) * 16 * 3);
  brenwald::pixel_utils::resample_2d_uint8(width, 16, 32767, 16, whole.data(), shrunk.data(), 3);
  EXPECT_TRUE(ReadWithin(jpeg, 32767, int64_t(1) << 28).pixels == shrunk);
}

// A small file declaring a huge image: within the pixel budget it is resampled row by row (the
// decoder never holds more than a row of the source); beyond what is decoded at all it is
// refused before decoding.
TEST(TextureFile, TextureBombsAreResampledOrRefusedBeforeDecoding) {
  Bytes rows(size_t(16384 / 8 + 1) * 16384, 0);
  std::string bomb = EncodePng({16384, 16384, PNG_COLOR_TYPE_GRAY, 1}, rows);
  EXPECT_LT(bomb.size(), 200000u);
  Limited read = ReadWithin(testsupport::WriteFile("bomb.png", bomb), 32767, int64_t(1) << 20);
  EXPECT_EQ(read.width * 10000 + read.height, 10241024);
  EXPECT_TRUE(read.report.fitted);
  EXPECT_EQ(read.report.sourceWidth, 16384);

  // 60000 x 60000 declared by a one-pixel file: IHDR rewritten, its checksum mended.
  std::string huge = EncodePng({1, 1, PNG_COLOR_TYPE_GRAY, 1}, {0});
  for (int at : {16, 20}) {
    huge[size_t(at)] = 0, huge[size_t(at) + 1] = 0, huge[size_t(at) + 2] = char(60000 >> 8), huge[size_t(at) + 3] = char(60000 & 255);
  }
  uLong crc = crc32(0, reinterpret_cast<const Bytef*>(huge.data() + 12), 17);
  for (int i = 0; i < 4; ++i) huge[size_t(29 + i)] = char(crc >> (24 - 8 * i));
  read = ReadWithin(testsupport::WriteFile("huge.png", huge), 32767, int64_t(1) << 28);
  EXPECT_TRUE(read.pixels.empty());
  EXPECT_TRUE(read.report.tooLarge);
  EXPECT_EQ(int64_t(read.report.sourceWidth) * 100000 + read.report.sourceHeight, 6000060000);
}

}  // namespace
}  // namespace varnel
