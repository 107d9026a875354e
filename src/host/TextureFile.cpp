#include "host/TextureFile.h"

#include <algorithm>
#include <cmath>
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

bool DeliveredSize(uint64_t width, uint64_t height, const DecodeRequest& request, DecodedImage& image) {
  if (width < 1 || height < 1 || width > kMaxSide || height > kMaxSide || request.maxSide < 1 ||
      request.maxPixels < 1) {
    image.tooLarge = width > kMaxSide || height > kMaxSide;
    return false;
  }
  image.sourceWidth = int(width);
  image.sourceHeight = int(height);
  uint64_t w = std::min<uint64_t>(width, uint64_t(request.maxSide));
  uint64_t h = std::min<uint64_t>(height, uint64_t(request.maxSide));
  const uint64_t budget = uint64_t(request.maxPixels);
  image.fitted = w * h > budget;
  if (image.fitted) {
    const double scale = std::sqrt(double(budget) / (double(w) * double(h)));
    w = std::max<uint64_t>(1, uint64_t(double(w) * scale));
    h = std::max<uint64_t>(1, uint64_t(double(h) * scale));
    while (w * h > budget) (w > h ? w : h) -= 1;
  }
  image.width = int(w);
  image.height = int(h);
  return true;
}

bool RowTarget::Start(DecodedImage& image, int sourceWidth, int sourceHeight, int channels,
                      bool whole) noexcept {
  image_ = &image;
  rowWidth_ = sourceWidth;
  rowCount_ = sourceHeight;
  const bool shrinks = image.width != sourceWidth || image.height != sourceHeight;
  const uint64_t sourcePixels = uint64_t(sourceWidth) * uint64_t(sourceHeight);
  if (shrinks && sourcePixels > (whole ? kMaxWholePixels : kMaxStreamedPixels)) {
    image.tooLarge = true;
    return false;
  }
  image.pixels = AllocatePixels(image.width, image.height, channels);
  if (!image.pixels) return false;
  image.channels = channels;
  stride_ = size_t(sourceWidth) * size_t(channels);
  whole_ = whole;
  if (!shrinks) return true;
  scratch_ = AllocatePixels(sourceWidth, whole ? sourceHeight : 1, channels);
  return scratch_ && (whole || resampler_.Start(sourceWidth, sourceHeight, image.width,
                                                image.height, channels, image.pixels));
}

unsigned char* RowTarget::Row(int y) noexcept {
  if (!scratch_) return image_->pixels + size_t(y) * stride_;
  return whole_ ? scratch_ + size_t(y) * stride_ : scratch_;
}

void RowTarget::Done() noexcept {
  if (scratch_ && !whole_) resampler_.AddRow(scratch_);
}

bool RowTarget::Finish() noexcept {
  if (!scratch_) return true;
  if (!whole_) return resampler_.Done();
  brenwald::pixel_utils::resample_2d_uint8(rowWidth_, rowCount_, image_->width, image_->height,
                                           scratch_, image_->pixels, image_->channels);
  return true;
}

RowTarget::~RowTarget() { ::operator delete(scratch_); }

unsigned char* AllocatePixels(int width, int height, int channels) {
  size_t bytes = size_t(width) * size_t(height) * size_t(channels);
  return static_cast<unsigned char*>(::operator new(bytes, std::nothrow));
}

}  // namespace image

namespace {

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

// False when the file cannot be read, or (`tooLarge`) is over the size a texture file may have.
bool ReadWholeFile(const String& path, std::vector<unsigned char>& bytes, bool& tooLarge) {
  std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.ToNativePath().c_str(), "rb"));
  if (!file) return false;
  if (std::fseek(file.get(), 0, SEEK_END) != 0) return false;
  long size = std::ftell(file.get());
  tooLarge = size > image::kMaxTextureFileBytes;
  if (size <= 0 || tooLarge || std::fseek(file.get(), 0, SEEK_SET) != 0) return false;
  bytes.resize(size_t(size));
  return std::fread(bytes.data(), 1, bytes.size(), file.get()) == bytes.size();
}

}  // namespace

void TextureFile::ReadTextureMap(const String& path, int& width, int& height, int& channels,
                                 unsigned char*& pixels) {
  ReadTextureMap(path, width, height, channels, pixels, TextureLimits(), nullptr);
}

void TextureFile::ReadTextureMap(const String& path, int& width, int& height, int& channels,
                                 unsigned char*& pixels, const TextureLimits& limits,
                                 TextureReport* report) {
  std::vector<unsigned char> bytes;
  image::DecodedImage decoded;
  if (!ReadWholeFile(path, bytes, decoded.tooLarge)) {
    if (report) report->tooLarge = decoded.tooLarge;
    return;
  }
  const unsigned char* data = bytes.data();
  size_t size = bytes.size();

  // The content decides the format: texture files are often misnamed.
  bool ok = false;
  if (image::IsPng(data, size))
    ok = image::DecodePng(data, size, limits, decoded);
  else if (image::IsJpeg(data, size))
    ok = image::DecodeJpeg(data, size, limits, decoded);
  else if (image::IsGif(data, size) || image::IsBmp(data, size) || image::IsTga(data, size))
    ok = image::DecodeStb(data, size, limits, decoded);
  if (report) *report = {decoded.sourceWidth, decoded.sourceHeight, decoded.fitted, decoded.tooLarge};
  if (!ok) return;
  width = decoded.width;
  height = decoded.height;
  channels = decoded.channels;
  pixels = decoded.pixels;
}

}  // namespace varnel
