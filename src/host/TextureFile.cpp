#include "host/TextureFile.h"

#include <cstdio>
#include <memory>
#include <new>
#include <vector>

#include "host/ImageDecoders.h"

namespace varnel {
namespace image {

void DecodedImage::Release() {
  ::operator delete(pixels);
  pixels = nullptr;
  width = height = channels = 0;
}

bool ImageSizeAllowed(uint64_t width, uint64_t height) {
  return width >= 1 && height >= 1 && width <= kMaxSide && height <= kMaxSide &&
         width * height <= kMaxPixels;
}

unsigned char* AllocatePixels(int width, int height, int channels) {
  size_t bytes = size_t(width) * size_t(height) * size_t(channels);
  return static_cast<unsigned char*>(::operator new(bytes, std::nothrow));
}

}  // namespace image

namespace {

// Larger files are not textures anyone can render; refusing them bounds the read.
constexpr long kMaxFileBytes = long(1) << 29;

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

bool ReadWholeFile(const String& path, std::vector<unsigned char>& bytes) {
  std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.ToUtf8().c_str(), "rb"));
  if (!file) return false;
  if (std::fseek(file.get(), 0, SEEK_END) != 0) return false;
  long size = std::ftell(file.get());
  if (size <= 0 || size > kMaxFileBytes || std::fseek(file.get(), 0, SEEK_SET) != 0) return false;
  bytes.resize(size_t(size));
  return std::fread(bytes.data(), 1, bytes.size(), file.get()) == bytes.size();
}

}  // namespace

void TextureFile::ReadTextureMap(const String& path, int& width, int& height, int& channels,
                                 unsigned char*& pixels) {
  std::vector<unsigned char> bytes;
  if (!ReadWholeFile(path, bytes)) return;
  const unsigned char* data = bytes.data();
  size_t size = bytes.size();

  // The content decides the format: texture files are often misnamed.
  image::DecodedImage decoded;
  bool ok = false;
  if (image::IsPng(data, size))
    ok = image::DecodePng(data, size, decoded);
  else if (image::IsJpeg(data, size))
    ok = image::DecodeJpeg(data, size, decoded);
  else if (image::IsGif(data, size) || image::IsBmp(data, size) || image::IsTga(data, size))
    ok = image::DecodeStb(data, size, decoded);
  if (!ok) return;
  width = decoded.width;
  height = decoded.height;
  channels = decoded.channels;
  pixels = decoded.pixels;
}

}  // namespace varnel
