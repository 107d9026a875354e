#include <cstdio>  // jpeglib.h needs FILE and size_t declared first

#include <jerror.h>
#include <jpeglib.h>

#include <csetjmp>
#include <cstring>

#include "host/ImageDecoders.h"

namespace varnel::image {
namespace {

struct ErrorManager {
  jpeg_error_mgr base;
  jmp_buf jump;
  bool truncated;
  bool tooLarge;  // a limit ended the read: memory or scans
};

struct ProgressMonitor {
  jpeg_progress_mgr base;
  j_decompress_ptr decompressor;
};

[[noreturn]] void OnError(j_common_ptr info) {
  auto* errors = reinterpret_cast<ErrorManager*>(info->err);
  const int code = info->err->msg_code;
  if (code == JERR_OUT_OF_MEMORY || code == JERR_NO_BACKING_STORE) errors->tooLarge = true;
  longjmp(errors->jump, 1);
}

// Warnings are tolerated (stray bytes between markers are common) except a premature end:
// libjpeg would pad the missing rows with grey, which is not the picture.
void OnMessage(j_common_ptr info, int level) {
  if (level < 0 && info->err->msg_code == JWRN_JPEG_EOF)
    reinterpret_cast<ErrorManager*>(info->err)->truncated = true;
}

void OnProgress(j_common_ptr info) {
  auto* monitor = reinterpret_cast<ProgressMonitor*>(info->progress);
  if (monitor->decompressor->input_scan_number > kMaxJpegScans) {
    reinterpret_cast<ErrorManager*>(info->err)->tooLarge = true;
    OnError(info);
  }
}

// Adobe writes CMYK inverted (0 = full ink); other writers store it plain.
void CmykToRgb(const unsigned char* cmyk, unsigned char* rgb, JDIMENSION width, bool inverted) {
  for (JDIMENSION x = 0; x < width; ++x, cmyk += 4, rgb += 3) {
    unsigned k = inverted ? cmyk[3] : 255u - cmyk[3];
    for (int i = 0; i < 3; ++i) {
      unsigned c = inverted ? cmyk[i] : 255u - cmyk[i];
      rgb[i] = static_cast<unsigned char>((c * k + 127) / 255);
    }
  }
}

// libjpeg's own scaling (1/2, 1/4 or 1/8 in its transform) for an image that shrinks a lot, so
// far fewer samples are made. It changes the pixels, so it is kept to images that only a limit
// lets through: ones beyond what is decoded whole, or fitted to the pixel budget.
void ScaleForTarget(jpeg_decompress_struct& info, const DecodedImage& image) {
  const uint64_t sourcePixels = uint64_t(info.image_width) * info.image_height;
  if (!image.fitted && sourcePixels <= kMaxWholePixels) return;
  for (unsigned denom = 8; denom > 1; denom /= 2) {
    if ((info.image_width + denom - 1) / denom >= unsigned(image.width) &&
        (info.image_height + denom - 1) / denom >= unsigned(image.height)) {
      info.scale_num = 1;
      info.scale_denom = denom;
      return;
    }
  }
}

// libjpeg reports errors by longjmp to here, so nothing in this frame may need a destructor;
// the caller owns `target` and `image`.
bool ReadRows(jpeg_decompress_struct& info, ErrorManager& errors, ProgressMonitor& progress,
              const unsigned char* data, size_t size, const DecodeRequest& request,
              RowTarget& target, DecodedImage& image) {
  if (setjmp(errors.jump)) return false;
  jpeg_create_decompress(&info);  // clears every field but the error manager
  info.progress = &progress.base;
  info.mem->max_memory_to_use = kMaxJpegMemory;
  jpeg_mem_src(&info, data, static_cast<unsigned long>(size));
  jpeg_read_header(&info, TRUE);
  if (!DeliveredSize(info.image_width, info.image_height, request, image)) return false;
  ScaleForTarget(info, image);

  bool cmyk = info.jpeg_color_space == JCS_CMYK || info.jpeg_color_space == JCS_YCCK;
  if (info.jpeg_color_space == JCS_GRAYSCALE)
    info.out_color_space = JCS_GRAYSCALE;
  else
    info.out_color_space = cmyk ? JCS_CMYK : JCS_RGB;
  jpeg_start_decompress(&info);

  int channels = cmyk ? 3 : info.output_components;
  if (channels != 1 && channels != 3) return false;
  if (cmyk && info.output_components != 4) return false;
  // Scaled, the rows that arrive are the scaled ones.
  if (!target.Start(image, int(info.output_width), int(info.output_height), channels, false))
    return false;

  JSAMPARRAY cmykRow = nullptr;
  if (cmyk)
    cmykRow = (*info.mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(&info), JPOOL_IMAGE,
                                        info.output_width * 4, 1);
  while (info.output_scanline < info.output_height) {
    unsigned char* row = target.Row(int(info.output_scanline));
    JSAMPROW decoded = cmyk ? cmykRow[0] : row;
    if (jpeg_read_scanlines(&info, &decoded, 1) != 1) return false;
    if (cmyk) CmykToRgb(cmykRow[0], row, info.output_width, info.saw_Adobe_marker);
    if (errors.truncated) return false;
    target.Done();
  }
  jpeg_finish_decompress(&info);
  return !errors.truncated && target.Finish();
}

}  // namespace

bool IsJpeg(const unsigned char* data, size_t size) {
  return size >= 3 && data[0] == 0xFF && data[1] == 0xD8 && data[2] == 0xFF;
}

bool DecodeJpeg(const unsigned char* data, size_t size, const DecodeRequest& request, DecodedImage& image) {
  jpeg_decompress_struct info;
  std::memset(&info, 0, sizeof info);
  ErrorManager errors;
  std::memset(&errors, 0, sizeof errors);
  info.err = jpeg_std_error(&errors.base);
  errors.base.error_exit = OnError;
  errors.base.emit_message = OnMessage;
  ProgressMonitor progress;
  std::memset(&progress, 0, sizeof progress);
  progress.base.progress_monitor = OnProgress;
  progress.decompressor = &info;

  RowTarget target;
  bool ok = ReadRows(info, errors, progress, data, size, request, target, image);
  jpeg_destroy_decompress(&info);
  if (errors.tooLarge) image.tooLarge = true;
  if (!ok) image.Release();
  return ok;
}

}  // namespace varnel::image
