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

struct Texture {
  int width = 0, height = 0, channels = 0;
  std::vector<unsigned char> pixels;
  bool ok = false;
};

Texture Read(const std::string& path) {
  Texture t;
  unsigned char* pixels = nullptr;
  TextureFile().ReadTextureMap(String::FromUtf8(path), t.width, t.height, t.channels, pixels);
  t.ok = pixels != nullptr;
  if (pixels) {
    t.pixels.assign(pixels, pixels + size_t(t.width) * t.height * t.channels);
    ::operator delete(pixels);
  }
  return t;
}

struct PngSpec {
  PngSpec(int w, int h, int type, int depth, bool adam7 = false)
      : width(w), height(h), colorType(type), bitDepth(depth), interlaced(adam7) {}
  int width, height, colorType, bitDepth;
  bool interlaced;
  std::vector<png_color> palette;
  std::vector<unsigned char> alphaOfPalette;
};

void AppendToString(png_structp png, png_bytep data, size_t length) {
  static_cast<std::string*>(png_get_io_ptr(png))->append(reinterpret_cast<char*>(data), length);
}

// `rows` holds packed rows exactly as PNG stores them (16-bit samples big-endian).
std::string EncodePng(const PngSpec& spec, const std::vector<unsigned char>& rows) {
  std::string out;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    ADD_FAILURE() << "libpng refused to write";
    return "";
  }
  png_set_write_fn(png, &out, AppendToString, nullptr);
  png_set_compression_level(png, 1);
  png_set_IHDR(png, info, png_uint_32(spec.width), png_uint_32(spec.height), spec.bitDepth,
               spec.colorType, spec.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  if (!spec.palette.empty())
    png_set_PLTE(png, info, spec.palette.data(), int(spec.palette.size()));
  if (!spec.alphaOfPalette.empty())
    png_set_tRNS(png, info, spec.alphaOfPalette.data(), int(spec.alphaOfPalette.size()), nullptr);
  png_write_info(png, info);
  size_t stride = rows.size() / size_t(spec.height);
  int passes = png_set_interlace_handling(png);
  for (int pass = 0; pass < passes; ++pass)
    for (int y = 0; y < spec.height; ++y)
      png_write_row(png, const_cast<unsigned char*>(rows.data()) + size_t(y) * stride);
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  return out;
}

std::string EncodeJpeg(int width, int height, int components, J_COLOR_SPACE space,
                       const std::vector<unsigned char>& pixels) {
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
  while (info.next_scanline < info.image_height) {
    JSAMPROW row = const_cast<unsigned char*>(pixels.data()) +
                   size_t(info.next_scanline) * size_t(width * components);
    jpeg_write_scanlines(&info, &row, 1);
  }
  jpeg_finish_compress(&info);
  jpeg_destroy_compress(&info);
  std::string out(reinterpret_cast<char*>(buffer), size);
  free(buffer);
  return out;
}

// A string of every byte of a literal, embedded zeros included.
template <size_t N>
std::string Raw(const char (&text)[N]) {
  return std::string(text, N - 1);
}

std::vector<unsigned char> Bytes(std::initializer_list<int> values) {
  return std::vector<unsigned char>(values.begin(), values.end());
}

// Accepts a decoded lossy pixel list within `tolerance` of the expected one.
void ExpectNear(const std::vector<unsigned char>& got, const std::vector<unsigned char>& want,
                int tolerance) {
  ASSERT_EQ(got.size(), want.size());
  for (size_t i = 0; i < got.size(); ++i) EXPECT_NEAR(got[i], want[i], tolerance) << "byte " << i;
}

TEST(TextureFileTest, PngColourTypesBecomeEightBitsPerChannel) {
  using testsupport::WriteFile;
  std::vector<unsigned char> rgb = Bytes({255, 0, 0, 0, 255, 0, 0, 0, 255, 10, 20, 30});
  Texture t = Read(WriteFile("rgb.png", EncodePng({2, 2, PNG_COLOR_TYPE_RGB, 8}, rgb)));
  EXPECT_TRUE(t.ok);
  EXPECT_EQ(t.width, 2);
  EXPECT_EQ(t.height, 2);
  EXPECT_EQ(t.channels, 3);
  EXPECT_EQ(t.pixels, rgb);

  std::vector<unsigned char> rgba = Bytes({1, 2, 3, 4, 5, 6, 7, 8});
  t = Read(WriteFile("rgba.png", EncodePng({2, 1, PNG_COLOR_TYPE_RGBA, 8}, rgba)));
  EXPECT_EQ(t.channels, 4);
  EXPECT_EQ(t.pixels, rgba);

  t = Read(WriteFile("ga.png", EncodePng({1, 2, PNG_COLOR_TYPE_GRAY_ALPHA, 8}, Bytes({9, 99, 7, 77}))));
  EXPECT_EQ(t.channels, 2);
  EXPECT_EQ(t.pixels, Bytes({9, 99, 7, 77}));

  // Four 2-bit grey samples in one byte: 0, 1, 2, 3 scale to 0, 85, 170, 255.
  t = Read(WriteFile("gray2.png", EncodePng({4, 1, PNG_COLOR_TYPE_GRAY, 2}, Bytes({0x1B}))));
  EXPECT_EQ(t.channels, 1);
  EXPECT_EQ(t.pixels, Bytes({0, 85, 170, 255}));

  // 16-bit samples are scaled, not truncated: 0x8080 is 128, 0xFFFF is 255.
  t = Read(WriteFile("rgb16.png", EncodePng({1, 1, PNG_COLOR_TYPE_RGB, 16},
                                            Bytes({0xFF, 0xFF, 0x80, 0x80, 0, 0}))));
  EXPECT_EQ(t.channels, 3);
  EXPECT_EQ(t.pixels, Bytes({255, 128, 0}));

  PngSpec palette{3, 1, PNG_COLOR_TYPE_PALETTE, 8};
  palette.palette = {{10, 20, 30}, {40, 50, 60}};
  t = Read(WriteFile("palette.png", EncodePng(palette, Bytes({1, 0, 1}))));
  EXPECT_EQ(t.channels, 3);
  EXPECT_EQ(t.pixels, Bytes({40, 50, 60, 10, 20, 30, 40, 50, 60}));
  palette.alphaOfPalette = {0};
  t = Read(WriteFile("palette-trns.png", EncodePng(palette, Bytes({1, 0, 1}))));
  EXPECT_EQ(t.channels, 4);
  EXPECT_EQ(t.pixels, Bytes({40, 50, 60, 255, 10, 20, 30, 0, 40, 50, 60, 255}));
}

TEST(TextureFileTest, InterlacedPngMatchesItsRows) {
  PngSpec spec{9, 7, PNG_COLOR_TYPE_GRAY, 8, true};
  std::vector<unsigned char> gray(9 * 7);
  for (size_t i = 0; i < gray.size(); ++i) gray[i] = static_cast<unsigned char>(i * 3);
  Texture t = Read(testsupport::WriteFile("adam7.png", EncodePng(spec, gray)));
  EXPECT_TRUE(t.ok);
  EXPECT_EQ(t.pixels, gray);
}

TEST(TextureFileTest, JpegGreyRgbAndCmyk) {
  using testsupport::WriteFile;
  std::vector<unsigned char> gray(8 * 8, 77);
  Texture t = Read(WriteFile("gray.jpg", EncodeJpeg(8, 8, 1, JCS_GRAYSCALE, gray)));
  EXPECT_EQ(t.channels, 1);
  ExpectNear(t.pixels, gray, 2);

  std::vector<unsigned char> rgb;
  for (int i = 0; i < 64; ++i) rgb.insert(rgb.end(), {200, 40, 90});
  t = Read(WriteFile("rgb.jpeg", EncodeJpeg(8, 8, 3, JCS_RGB, rgb)));
  EXPECT_EQ(t.width, 8);
  EXPECT_EQ(t.channels, 3);
  ExpectNear(t.pixels, rgb, 4);

  // libjpeg marks CMYK files as Adobe's, which store ink inverted: (128, 255, 255, 255) is half
  // cyan and nothing else, (128, 255, 255) in RGB.
  std::vector<unsigned char> cmyk, expected;
  for (int i = 0; i < 64; ++i) {
    cmyk.insert(cmyk.end(), {128, 255, 255, 255});
    expected.insert(expected.end(), {128, 255, 255});
  }
  t = Read(WriteFile("cmyk.jpg", EncodeJpeg(8, 8, 4, JCS_CMYK, cmyk)));
  EXPECT_EQ(t.channels, 3);
  ExpectNear(t.pixels, expected, 4);
}

TEST(TextureFileTest, TgaBmpAndGifThroughStb) {
  using testsupport::WriteFile;
  // 2x2 uncompressed true-colour TGA, BGR, bottom row first.
  std::string tga = Raw("\0\0\2\0\0\0\0\0\0\0\0\0\2\0\2\0\x18\0");
  tga += Raw("\x01\x02\x03" "\x04\x05\x06" "\x07\x08\x09" "\x0A\x0B\x0C");
  Texture t = Read(WriteFile("picture.tga", tga));
  EXPECT_EQ(t.channels, 3);
  EXPECT_EQ(t.pixels, Bytes({9, 8, 7, 12, 11, 10, 3, 2, 1, 6, 5, 4}));
  EXPECT_FALSE(Read(WriteFile("short.tga", tga.substr(0, tga.size() - 1))).ok);

  // 2x2 24-bit BMP, bottom-up, rows padded to 8 bytes.
  std::string bmp = Raw("BM\x46\0\0\0\0\0\0\0\x36\0\0\0\x28\0\0\0\2\0\0\0\2\0\0\0\1\0\x18\0");
  bmp += std::string(24, '\0');
  bmp += Raw("\x01\x02\x03\x04\x05\x06\0\0\x07\x08\x09\x0A\x0B\x0C\0\0");
  t = Read(WriteFile("picture.bmp", bmp));
  EXPECT_EQ(t.width, 2);
  EXPECT_EQ(t.channels, 3);
  EXPECT_EQ(t.pixels, Bytes({9, 8, 7, 12, 11, 10, 3, 2, 1, 6, 5, 4}));
  EXPECT_FALSE(Read(WriteFile("short.bmp", bmp.substr(0, bmp.size() - 3))).ok);

  // 1x1 GIF whose only pixel is palette entry 0, red.
  std::string gif = Raw("GIF89a\1\0\1\0\x80\0\0\xFF\0\0\0\0\0,\0\0\0\0\1\0\1\0\0\2\2\x44\1\0;");
  t = Read(WriteFile("picture.gif", gif));
  ASSERT_TRUE(t.ok);
  ASSERT_EQ(t.pixels.size(), size_t(t.channels));
  EXPECT_EQ(t.pixels[0], 255);
  EXPECT_EQ(t.pixels[1], 0);
}

TEST(TextureFileTest, FormatComesFromContentAndPathsAreUtf8) {
  std::string png = EncodePng({1, 1, PNG_COLOR_TYPE_GRAY, 8}, Bytes({42}));
  Texture t = Read(testsupport::WriteFile("fotografía ünd Ω/misnamed.jpg", png));
  EXPECT_TRUE(t.ok);
  EXPECT_EQ(t.pixels, Bytes({42}));
}

TEST(TextureFileTest, WideImagesAreReadWhenTheirPixelCountIsBounded) {
  std::vector<unsigned char> rows(40000 * 2, 200);
  Texture t = Read(testsupport::WriteFile("wide.png",
                                          EncodePng({40000, 2, PNG_COLOR_TYPE_GRAY, 8}, rows)));
  EXPECT_EQ(t.width, 40000);
  EXPECT_EQ(t.height, 2);
}

TEST(TextureFileTest, BrokenFilesFailWithoutOutput) {
  using testsupport::WriteFile;
  std::string png =
      EncodePng({16, 16, PNG_COLOR_TYPE_RGB, 8}, std::vector<unsigned char>(16 * 16 * 3, 5));
  std::vector<unsigned char> rgb(16 * 16 * 3, 100);
  std::string jpeg = EncodeJpeg(16, 16, 3, JCS_RGB, rgb);
  for (const std::string* file : {&png, &jpeg}) {
    for (size_t length = 0; length < file->size() - 2; length += 7) {
      Texture t = Read(WriteFile("cut", file->substr(0, length)));
      EXPECT_FALSE(t.ok) << "prefix of " << length << " bytes";
      EXPECT_EQ(t.width, 0);
    }
  }
  std::string badCrc = png;
  badCrc[30] = static_cast<char>(badCrc[30] ^ 0x55);  // inside the IHDR checksum
  EXPECT_FALSE(Read(WriteFile("crc.png", badCrc)).ok);
  std::string badData = png;
  for (size_t i = 45; i < badData.size() - 12; ++i) badData[i] = static_cast<char>(0xA5);
  EXPECT_FALSE(Read(WriteFile("data.png", badData)).ok);
  EXPECT_FALSE(Read(WriteFile("text.png", "not an image at all")).ok);
  EXPECT_FALSE(Read(WriteFile("empty.png", "")).ok);
  EXPECT_FALSE(Read(testsupport::ScratchDir() + "/missing.png").ok);
  EXPECT_FALSE(Read(testsupport::ScratchDir()).ok);  // a directory
}

TEST(TextureFileTest, ImagesOfTooManyPixelsAreRefusedBeforeDecoding) {
  // 17000 x 17000 one-bit pixels compress to a few hundred kilobytes but would decode to 289 MB.
  PngSpec spec{17000, 17000, PNG_COLOR_TYPE_GRAY, 1};
  std::vector<unsigned char> rows(size_t(17000 / 8 + 1) * 17000, 0);
  Texture t = Read(testsupport::WriteFile("bomb.png", EncodePng(spec, rows)));
  EXPECT_FALSE(t.ok);
}

}  // namespace
}  // namespace varnel
