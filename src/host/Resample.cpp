#include <algorithm>
#include <cmath>
#include <new>
#include <vector>

#include "host/Resample.h"

namespace brenwald::pixel_utils {
namespace {

// The source samples that make up each target sample along one axis, with their weights.
struct AxisWeights {
  std::vector<int> first;   // per target sample: index into `source`/`weight`
  std::vector<int> count;   // per target sample: number of contributors
  std::vector<int> source;  // contributing source sample
  std::vector<float> weight;
};

// Shrinking averages the source interval each target sample covers (box filter), so no source
// sample is skipped; growing interpolates between the two nearest source centres (bilinear).
AxisWeights ComputeWeights(int sourceSize, int targetSize) {
  AxisWeights axis;
  axis.first.resize(size_t(targetSize));
  axis.count.resize(size_t(targetSize));
  double scale = double(sourceSize) / double(targetSize);
  for (int i = 0; i < targetSize; ++i) {
    axis.first[size_t(i)] = int(axis.source.size());
    if (targetSize < sourceSize) {
      double start = i * scale, end = (i + 1) * scale;
      int last = std::min(sourceSize - 1, int(std::ceil(end)) - 1);
      for (int s = int(start); s <= last; ++s) {
        double cover = std::min(end, s + 1.0) - std::max(start, double(s));
        if (cover <= 0) continue;
        axis.source.push_back(s);
        axis.weight.push_back(float(cover / scale));
      }
    } else {
      double centre = std::clamp((i + 0.5) * scale - 0.5, 0.0, double(sourceSize - 1));
      int low = int(centre);
      int high = std::min(low + 1, sourceSize - 1);
      float upper = float(centre - low);
      axis.source.push_back(low);
      axis.weight.push_back(1.0f - upper);
      if (high != low && upper > 0) {
        axis.source.push_back(high);
        axis.weight.push_back(upper);
      }
    }
    axis.count[size_t(i)] = int(axis.source.size()) - axis.first[size_t(i)];
  }
  return axis;
}

// Channel count as a template argument keeps the inner loops unrolled and in registers.
template <int Channels>
void ResampleRowOf(const unsigned char* row, const AxisWeights& axis, float* out) {
  size_t targetSize = axis.first.size();
  const int* source = axis.source.data();
  const float* weight = axis.weight.data();
  for (size_t i = 0; i < targetSize; ++i, out += Channels) {
    float sum[Channels] = {};
    int end = axis.first[i] + axis.count[i];
    for (int k = axis.first[i]; k < end; ++k) {
      const unsigned char* pixel = row + size_t(source[k]) * Channels;
      for (int c = 0; c < Channels; ++c) sum[c] += weight[k] * float(pixel[c]);
    }
    for (int c = 0; c < Channels; ++c) out[c] = sum[c];
  }
}

void ResampleRow(const unsigned char* row, const AxisWeights& axis, int channels, float* out) {
  switch (channels) {
    case 1: return ResampleRowOf<1>(row, axis, out);
    case 2: return ResampleRowOf<2>(row, axis, out);
    case 3: return ResampleRowOf<3>(row, axis, out);
    case 4: return ResampleRowOf<4>(row, axis, out);
  }
  size_t targetSize = axis.first.size();
  for (size_t i = 0; i < targetSize; ++i, out += channels) {
    for (int c = 0; c < channels; ++c) out[c] = 0;
    int end = axis.first[i] + axis.count[i];
    for (int k = axis.first[i]; k < end; ++k) {
      const unsigned char* pixel = row + size_t(axis.source[size_t(k)]) * size_t(channels);
      for (int c = 0; c < channels; ++c) out[c] += axis.weight[size_t(k)] * float(pixel[c]);
    }
  }
}

void WriteRow(const float* sum, size_t count, unsigned char* out) {
  for (size_t i = 0; i < count; ++i)
    out[i] = static_cast<unsigned char>(std::clamp(sum[i] + 0.5f, 0.0f, 255.0f));
}

}  // namespace

void resample_2d_uint8(int sourceWidth, int sourceHeight, int targetWidth, int targetHeight,
                       const unsigned char* source, unsigned char* target, int channels) {
  if (sourceWidth < 1 || sourceHeight < 1 || targetWidth < 1 || targetHeight < 1 || channels < 1 ||
      !source || !target)
    return;
  AxisWeights columns = ComputeWeights(sourceWidth, targetWidth);
  AxisWeights rows = ComputeWeights(sourceHeight, targetHeight);

  // Rows are resampled horizontally on demand into two cached slots, so memory stays at a few
  // target rows however large the images are. Contributing source rows only ever increase,
  // which makes "evict the lower row" the right choice.
  size_t rowFloats = size_t(targetWidth) * size_t(channels);
  size_t sourceStride = size_t(sourceWidth) * size_t(channels);
  std::vector<float> cache(rowFloats * 2), sum(rowFloats);
  int cachedRow[2] = {-1, -1};

  for (int y = 0; y < targetHeight; ++y) {
    int begin = rows.first[size_t(y)];
    int end = begin + rows.count[size_t(y)];
    for (int k = begin; k < end; ++k) {
      int sourceRow = rows.source[size_t(k)];
      int slot = cachedRow[0] == sourceRow ? 0 : cachedRow[1] == sourceRow ? 1 : -1;
      if (slot < 0) {
        slot = cachedRow[0] < cachedRow[1] ? 0 : 1;
        ResampleRow(source + size_t(sourceRow) * sourceStride, columns, channels,
                    cache.data() + size_t(slot) * rowFloats);
        cachedRow[slot] = sourceRow;
      }
      const float* resampled = cache.data() + size_t(slot) * rowFloats;
      float w = rows.weight[size_t(k)];
      if (k == begin)
        for (size_t i = 0; i < rowFloats; ++i) sum[i] = w * resampled[i];
      else
        for (size_t i = 0; i < rowFloats; ++i) sum[i] += w * resampled[i];
    }
    WriteRow(sum.data(), rowFloats, target + size_t(y) * rowFloats);
  }
}

// Target rows are open from their first contributing source row to their last; each keeps its
// running sum, added to in source order, so every sum is formed as resample_2d_uint8 forms it.
struct RowResampler::State {
  AxisWeights columns, rows;
  int channels = 0;
  unsigned char* target = nullptr;
  size_t rowFloats = 0;
  std::vector<float> resampled;  // the current source row, resampled horizontally
  std::vector<float> sums;       // `slots` open target rows, row y in slot y % slots
  std::vector<int> added;        // per slot: contributors added so far
  int slots = 0;
  int nextSource = 0;
  int firstOpen = 0;  // target rows before it are written
};

RowResampler::RowResampler() = default;
RowResampler::~RowResampler() = default;

bool RowResampler::Start(int sourceWidth, int sourceHeight, int targetWidth, int targetHeight,
                         int channels, unsigned char* target) noexcept {
  state_.reset();
  if (targetWidth < 1 || targetHeight < 1 || targetWidth > sourceWidth ||
      targetHeight > sourceHeight || channels < 1 || !target)
    return false;
  try {
    auto state = std::make_unique<State>();
    state->columns = ComputeWeights(sourceWidth, targetWidth);
    state->rows = ComputeWeights(sourceHeight, targetHeight);
    const AxisWeights& rows = state->rows;
    // As many slots as target rows can share one source row.
    int slots = 1;
    for (int y = 0, later = 0; y < targetHeight; ++y) {
      const int last = rows.source[size_t(rows.first[size_t(y)] + rows.count[size_t(y)] - 1)];
      later = std::max(later, y + 1);
      while (later < targetHeight && rows.source[size_t(rows.first[size_t(later)])] <= last) ++later;
      slots = std::max(slots, later - y);
    }
    state->channels = channels;
    state->target = target;
    state->rowFloats = size_t(targetWidth) * size_t(channels);
    state->resampled.resize(state->rowFloats);
    state->sums.resize(state->rowFloats * size_t(slots));
    state->added.assign(size_t(slots), 0);
    state->slots = slots;
    state_ = std::move(state);
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

void RowResampler::AddRow(const unsigned char* row) noexcept {
  if (!state_) return;
  State& s = *state_;
  const AxisWeights& rows = s.rows;
  const int source = s.nextSource++;
  const int targetHeight = int(rows.first.size());
  const int lastOpen = std::min(targetHeight, s.firstOpen + s.slots);
  bool resampled = false;
  for (int y = s.firstOpen; y < lastOpen; ++y) {
    const size_t slot = size_t(y % s.slots);
    const int k = rows.first[size_t(y)] + s.added[slot];
    if (rows.source[size_t(k)] > source) break;  // so do the rows after it
    if (rows.source[size_t(k)] < source) continue;
    if (!resampled) ResampleRow(row, s.columns, s.channels, s.resampled.data());
    resampled = true;
    const float w = rows.weight[size_t(k)];
    float* sum = s.sums.data() + slot * s.rowFloats;
    if (s.added[slot]++ == 0)
      for (size_t i = 0; i < s.rowFloats; ++i) sum[i] = w * s.resampled[i];
    else
      for (size_t i = 0; i < s.rowFloats; ++i) sum[i] += w * s.resampled[i];
  }
  // Rows whose last contributor has arrived are finished, in order.
  while (s.firstOpen < targetHeight) {
    const size_t slot = size_t(s.firstOpen % s.slots);
    if (s.added[slot] < rows.count[size_t(s.firstOpen)]) break;
    WriteRow(s.sums.data() + slot * s.rowFloats, s.rowFloats,
             s.target + size_t(s.firstOpen) * s.rowFloats);
    s.added[slot] = 0;
    ++s.firstOpen;
  }
}

bool RowResampler::Done() const {
  return state_ && state_->firstOpen == int(state_->rows.first.size());
}

}  // namespace brenwald::pixel_utils
