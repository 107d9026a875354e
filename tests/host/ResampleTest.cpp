#include <gtest/gtest.h>

#include <vector>

#include "host/Resample.h"

namespace varnel {
namespace {

using Pixels = std::vector<unsigned char>;

Pixels Resample(const Pixels& source, int width, int height, int newWidth, int newHeight, int channels) {
  Pixels target(size_t(newWidth) * newHeight * channels, 0xEE);
  brenwald::pixel_utils::resample_2d_uint8(width, height, newWidth, newHeight, source.data(), target.data(),
                                           channels);
  return target;
}

TEST(ResampleTest, CopiesShrinksByAreaAndGrowsByInterpolation) {
  Pixels image;
  for (int i = 0; i < 5 * 3 * 4; ++i) image.push_back(static_cast<unsigned char>(i * 17));
  EXPECT_EQ(Resample(image, 5, 3, 5, 3, 4), image);
  // 4x2 grey to 2x1: each target pixel is the mean of a 2x2 block.
  EXPECT_EQ(Resample({0, 100, 200, 40, 20, 60, 0, 0}, 4, 2, 2, 1, 1), (Pixels{45, 60}));
  // 3 to 2 covers 1.5 source pixels each: (10 + 0.5*40) / 1.5 and (0.5*40 + 70) / 1.5.
  EXPECT_EQ(Resample({10, 40, 70}, 3, 1, 2, 1, 1), (Pixels{20, 60}));
  // A single spike survives shrinking with its mass preserved instead of being skipped.
  EXPECT_EQ(Resample({0, 0, 0, 0, 90, 0, 0, 0, 0}, 9, 1, 1, 1, 1), (Pixels{10}));
  EXPECT_EQ(Resample({0, 255}, 2, 1, 4, 1, 1), (Pixels{0, 64, 191, 255}));
  EXPECT_EQ(Resample({0, 255}, 1, 2, 1, 4, 1), (Pixels{0, 64, 191, 255}));

  // Shrink across, grow down: channels stay apart.
  image.clear();
  for (int i = 0; i < 7 * 2; ++i) image.insert(image.end(), {10, 128, 250});
  Pixels out = Resample(image, 7, 2, 3, 5, 3);
  for (size_t i = 0; i < out.size(); ++i) ASSERT_EQ(out[i], image[i % 3]) << i;
}

TEST(ResampleTest, ClampsAnOverlongSideLikeTheMaterialBuilder) {
  // The texture side limit: 40000 columns of a rising ramp become 32767, rows stay as they are.
  Pixels image(40000 * 2 * 2);
  for (size_t x = 0; x < 40000; ++x) {
    image[2 * x] = 30;
    image[80000 + 2 * x] = 60;
    image[2 * x + 1] = image[80000 + 2 * x + 1] = static_cast<unsigned char>(x * 255 / 39999);
  }
  Pixels out = Resample(image, 40000, 2, 32767, 2, 2);
  EXPECT_TRUE(out[0] == 30 && out[2 * 32767] == 60);
  EXPECT_TRUE(out[1] == 0 && out[2 * 32766 + 1] == 255);
  for (size_t x = 1; x < 32767; ++x) ASSERT_GE(out[2 * x + 1], out[2 * x - 1]) << x;
}

}  // namespace
}  // namespace varnel
