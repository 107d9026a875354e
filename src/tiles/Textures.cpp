#include "tiles/Textures.h"

#include <algorithm>

namespace varnel::tiles {

int LimitTextures(gltf::Model& model, int maxSide, std::deque<std::string>& pixels) {
  int resampled = 0;
  for (size_t i = 0; i < model.materials.size(); ++i) {
    gltf::Material& m = model.materials[i];
    if (!m.pixels || m.channels < 1 || std::max(m.width, m.height) <= maxSide) continue;
    const double factor = double(std::max(m.width, m.height)) / maxSide;
    const int width = std::max(1, int(m.width / factor)), height = std::max(1, int(m.height / factor));
    const size_t channels = size_t(m.channels);
    std::string& out = pixels.emplace_back(size_t(width) * size_t(height) * channels, '\0');
    // Each new pixel is the mean of the source pixels its area covers.
    for (int y = 0; y < height; ++y) {
      const int y0 = int(int64_t(y) * m.height / height), y1 = std::max(y0 + 1, int(int64_t(y + 1) * m.height / height));
      for (int x = 0; x < width; ++x) {
        const int x0 = int(int64_t(x) * m.width / width), x1 = std::max(x0 + 1, int(int64_t(x + 1) * m.width / width));
        for (size_t c = 0; c < channels; ++c) {
          uint64_t sum = 0;
          for (int sy = y0; sy < y1; ++sy)
            for (int sx = x0; sx < x1; ++sx)
              sum += m.pixels[(size_t(sy) * size_t(m.width) + size_t(sx)) * channels + c];
          out[(size_t(y) * size_t(width) + size_t(x)) * channels + c] =
              static_cast<char>(sum / uint64_t((y1 - y0) * (x1 - x0)));
        }
      }
    }
    m.pixels = reinterpret_cast<const unsigned char*>(out.data());
    m.width = width, m.height = height;
    // The file's own bytes no longer match: the writer encodes the pixels.
    model.files.erase(int32_t(i));
    ++resampled;
  }
  return resampled;
}

}  // namespace varnel::tiles
