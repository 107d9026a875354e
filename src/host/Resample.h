// The host's pixel resampler.
#pragma once

namespace brenwald::pixel_utils {

// Resamples an 8-bit-per-channel image into a caller-allocated target of
// targetWidth x targetHeight x channels bytes.
void resample_2d_uint8(int sourceWidth, int sourceHeight, int targetWidth, int targetHeight,
                       const unsigned char* source, unsigned char* target, int channels);

}  // namespace brenwald::pixel_utils
