#include <gtest/gtest.h>
#include <png.h>

#include <csetjmp>
#include <cstdio>
#include <jpeglib.h>
#include <string>
#include <vector>

#include "host/TextureFile.h"
#include "support/TestSupport.h"

namespace varnel {
namespace {

using Bytes = std::vector<unsigned char>;

struct Texture {
  int width = 0, height = 0, channels = 0;
  Bytes pixels;
  bool ok = false;
};

Texture Read(const std::string& path) {
  Texture t;
  unsigned char* pixels = nullptr;
  TextureFile().ReadTextureMap(String::FromUtf8(path), t.width, t.height, t.channels, pixels);
  t.ok = pixels != nullptr;
  if (pixels) t.pixels.assign(pixels, pixels + size_t(t.width) * t.height * t.channels);
  ::operator delete(pixels);
  return t;
}

struct PngSpec {
  int width, height, colorType, bitDepth;
  bool interlaced = false;
  std::vector<png_color> palette = {};
  Bytes alphaOfPalette = {};
};

// `rows` holds packed rows exactly as PNG stores them (16-bit samples big-endian).
std::string EncodePng(const PngSpec& spec, const Bytes& rows) {
  std::string out;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    ADD_FAILURE() << "libpng refused to write";
    return "";
  }
  png_set_write_fn(png, &out, [](png_structp p, png_bytep data, size_t length) {
    static_cast<std::string*>(png_get_io_ptr(p))->append(reinterpret_cast<char*>(data), length);
  }, nullptr);
  png_set_compression_level(png, 1);
  png_set_IHDR(png, info, png_uint_32(spec.width), png_uint_32(spec.height), spec.bitDepth, spec.colorType,
               spec.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  if (!spec.palette.empty()) png_set_PLTE(png, info, spec.palette.data(), int(spec.palette.size()));
  if (!spec.alphaOfPalette.empty())
    png_set_tRNS(png, info, spec.alphaOfPalette.data(), int(spec.alphaOfPalette.size()), nullptr);
  png_write_info(png, info);
  size_t stride = rows.size() / size_t(spec.height);
  for (int pass = png_set_interlace_handling(png); pass > 0; --pass)
    for (int y = 0; y < spec.height; ++y) png_write_row(png, rows.data() + size_t(y) * stride);
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  return out;
}

// A width x height JPEG of one repeated pixel.
std::string EncodeJpeg(int width, int height, J_COLOR_SPACE space, const Bytes& pixel) {
  jpeg_compress_struct info;
  jpeg_error_mgr errors;
  info.err = jpeg_std_error(&errors);
  jpeg_create_compress(&info);
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&info, &buffer, &size);
  info.image_width = JDIMENSION(width);
  info.image_height = JDIMENSION(height);
  info.input_components = int(pixel.size());
  info.in_color_space = space;
  jpeg_set_defaults(&info);
  jpeg_set_quality(&info, 100, TRUE);
  jpeg_start_compress(&info, TRUE);
  Bytes row;
  for (int x = 0; x < width; ++x) row.insert(row.end(), pixel.begin(), pixel.end());
  for (JSAMPROW line = row.data(); info.next_scanline < info.image_height;) jpeg_write_scanlines(&info, &line, 1);
  jpeg_finish_compress(&info);
  jpeg_destroy_compress(&info);
  std::string out(reinterpret_cast<char*>(buffer), size);
  free(buffer);
  return out;
}

// Every byte of a literal, embedded zeros included.
template <size_t N>
std::string Raw(const char (&text)[N]) {
  return std::string(text, N - 1);
}

TEST(TextureFileTest, EveryPngKindBecomesEightBitsPerChannel) {
  Bytes rgb = {255, 0, 0, 0, 255, 0, 0, 0, 255, 10, 20, 30}, gray(9 * 7), wide(40000 * 2, 200);
  for (size_t i = 0; i < gray.size(); ++i) gray[i] = static_cast<unsigned char>(i * 3);
  const std::vector<png_color> palette = {{10, 20, 30}, {40, 50, 60}};
  const struct {
    PngSpec spec;
    Bytes rows;
    int channels;
    Bytes pixels;
  } cases[] = {
      {{2, 2, PNG_COLOR_TYPE_RGB, 8}, rgb, 3, rgb},
      {{2, 1, PNG_COLOR_TYPE_RGBA, 8}, {1, 2, 3, 4, 5, 6, 7, 8}, 4, {1, 2, 3, 4, 5, 6, 7, 8}},
      {{1, 2, PNG_COLOR_TYPE_GRAY_ALPHA, 8}, {9, 99, 7, 77}, 2, {9, 99, 7, 77}},
      // Four 2-bit grey samples in one byte: 0, 1, 2, 3 scale to 0, 85, 170, 255.
      {{4, 1, PNG_COLOR_TYPE_GRAY, 2}, {0x1B}, 1, {0, 85, 170, 255}},
      // 16-bit samples are scaled, not truncated: 0xC800 is 199 (not 200), 0xFFFF is 255.
      {{1, 1, PNG_COLOR_TYPE_RGB, 16}, {0xFF, 0xFF, 0xC8, 0x00, 0, 0}, 3, {255, 199, 0}},
      {{3, 1, PNG_COLOR_TYPE_PALETTE, 8, false, palette}, {1, 0, 1}, 3,
       {40, 50, 60, 10, 20, 30, 40, 50, 60}},
      {{3, 1, PNG_COLOR_TYPE_PALETTE, 8, false, palette, {0}}, {1, 0, 1}, 4,
       {40, 50, 60, 255, 10, 20, 30, 0, 40, 50, 60, 255}},
      {{9, 7, PNG_COLOR_TYPE_GRAY, 8, true}, gray, 1, gray},  // interlaced
      {{40000, 2, PNG_COLOR_TYPE_GRAY, 8}, wide, 1, wide},    // a long side, few pixels
  };
  int serial = 0;
  for (const auto& c : cases) {
    // The format comes from the content, and the path is UTF-8.
    std::string name = "fotografía ünd Ω/misnamed" + std::to_string(++serial) + ".jpg";
    Texture t = Read(testsupport::WriteFile(name, EncodePng(c.spec, c.rows)));
    EXPECT_TRUE(t.ok && t.width == c.spec.width && t.height == c.spec.height) << serial;
    EXPECT_EQ(t.channels, c.channels) << serial;
    EXPECT_EQ(t.pixels, c.pixels) << serial;
  }
}

TEST(TextureFileTest, JpegGreyRgbAndCmyk) {
  // libjpeg marks CMYK files as Adobe's, which store ink inverted: (128, 255, 255, 255) is half
  // cyan and nothing else, (128, 255, 255) in RGB.
  const struct {
    J_COLOR_SPACE space;
    Bytes pixel, expected;
  } cases[] = {
      {JCS_GRAYSCALE, {77}, {77}},
      {JCS_RGB, {200, 40, 90}, {200, 40, 90}},
      {JCS_CMYK, {128, 255, 255, 255}, {128, 255, 255}},
  };
  for (const auto& c : cases) {
    Texture t = Read(testsupport::WriteFile("picture.jpg", EncodeJpeg(8, 8, c.space, c.pixel)));
    ASSERT_TRUE(t.ok && t.width == 8 && t.height == 8);
    ASSERT_EQ(t.channels, int(c.expected.size()));
    for (size_t i = 0; i < t.pixels.size(); ++i) ASSERT_NEAR(t.pixels[i], c.expected[i % c.expected.size()], 4) << i;
  }
}

TEST(TextureFileTest, TgaBmpAndGifThroughStb) {
  // 2x2 uncompressed true-colour TGA, BGR, bottom row first; the same as a bottom-up 24-bit BMP
  // with rows padded to 8 bytes.
  const std::string tga =
      Raw("\0\0\2\0\0\0\0\0\0\0\0\0\2\0\2\0\x18\0" "\x01\x02\x03\x04\x05\x06\x07\x08\x09\x0A\x0B\x0C");
  const std::string bmp = Raw("BM\x46\0\0\0\0\0\0\0\x36\0\0\0\x28\0\0\0\2\0\0\0\2\0\0\0\1\0\x18\0") +
                          std::string(24, '\0') + Raw("\x01\x02\x03\x04\x05\x06\0\0\x07\x08\x09\x0A\x0B\x0C\0\0");
  for (const std::string* file : {&tga, &bmp}) {
    std::string name = file == &tga ? "picture.tga" : "picture.bmp";
    Texture t = Read(testsupport::WriteFile(name, *file));
    EXPECT_TRUE(t.width == 2 && t.height == 2 && t.channels == 3) << name;
    EXPECT_EQ(t.pixels, (Bytes{9, 8, 7, 12, 11, 10, 3, 2, 1, 6, 5, 4})) << name;
    EXPECT_FALSE(Read(testsupport::WriteFile("short-" + name, file->substr(0, file->size() - 3))).ok) << name;
  }
  // 1x1 GIF whose only pixel is palette entry 0, red.
  Texture t = Read(testsupport::WriteFile(
      "picture.gif", Raw("GIF89a\1\0\1\0\x80\0\0\xFF\0\0\0\0\0,\0\0\0\0\1\0\1\0\0\2\2\x44\1\0;")));
  ASSERT_TRUE(t.ok && t.pixels.size() == size_t(t.channels) && t.channels >= 3);
  EXPECT_EQ(t.pixels[0], 255);
  EXPECT_EQ(t.pixels[1], 0);
}

TEST(TextureFileTest, BrokenFilesFailWithoutOutput) {
  using testsupport::WriteFile;
  std::string png = EncodePng({16, 16, PNG_COLOR_TYPE_RGB, 8}, Bytes(16 * 16 * 3, 5));
  std::string jpeg = EncodeJpeg(16, 16, JCS_RGB, {100, 100, 100});
  for (const std::string* file : {&png, &jpeg}) {
    for (size_t length = 0; length < file->size() - 2; length += 7) {
      Texture t = Read(WriteFile("cut", file->substr(0, length)));
      EXPECT_TRUE(!t.ok && t.width == 0) << "prefix of " << length << " bytes";
    }
  }
  std::string badCrc = png, badData = png;
  badCrc[30] = static_cast<char>(badCrc[30] ^ 0x55);  // inside the IHDR checksum
  for (size_t i = 45; i < badData.size() - 12; ++i) badData[i] = static_cast<char>(0xA5);
  EXPECT_FALSE(Read(WriteFile("crc.png", badCrc)).ok);
  EXPECT_FALSE(Read(WriteFile("data.png", badData)).ok);
  EXPECT_FALSE(Read(WriteFile("text.png", "not an image at all")).ok);
  EXPECT_FALSE(Read(WriteFile("empty.png", "")).ok);
  EXPECT_FALSE(Read(testsupport::ScratchDir() + "/missing.png").ok);
  EXPECT_FALSE(Read(testsupport::ScratchDir()).ok);  // a directory

  // 17000 x 17000 one-bit pixels compress to a few hundred kilobytes but would decode to 289 MB:
  // refused before decoding.
  Bytes rows(size_t(17000 / 8 + 1) * 17000, 0);
  EXPECT_FALSE(Read(WriteFile("bomb.png", EncodePng({17000, 17000, PNG_COLOR_TYPE_GRAY, 1}, rows))).ok);
}

}  // namespace
}  // namespace varnel
