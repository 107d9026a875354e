// The host's pixel resampler.
#pragma once

#include <memory>

namespace brenwald::pixel_utils {

// Resamples an 8-bit-per-channel image into a caller-allocated target of
// targetWidth x targetHeight x channels bytes.
void resample_2d_uint8(int sourceWidth, int sourceHeight, int targetWidth, int targetHeight,
                       const unsigned char* source, unsigned char* target, int channels);

// The same resampling, shrinking only (target sides no larger than the source's), fed one
// source row at a time, top first: the whole source never needs to be in memory. The target
// bytes are exactly those resample_2d_uint8 writes.
class RowResampler {
 public:
  RowResampler();
  ~RowResampler();
  // False (nothing allocated) when the sizes are not a shrink or memory is short.
  bool Start(int sourceWidth, int sourceHeight, int targetWidth, int targetHeight, int channels,
             unsigned char* target) noexcept;
  // Takes the next source row of sourceWidth x channels bytes.
  void AddRow(const unsigned char* row) noexcept;
  // Whether every source row has arrived, so the target is complete.
  bool Done() const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace brenwald::pixel_utils
