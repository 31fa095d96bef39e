#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <optional>
#include <vector>

#include "platform/image/CoreImage.h"
#include "platform/image/tests/TestPixels.h"

namespace {

using img::Bitmap;
using img::CIImage;
using img::Pixel;
using img::Rect;

using imagetest::kBlue;
using imagetest::kGreen;
using imagetest::kRed;

std::vector<Pixel> pixels(const CIImage& image) {
  std::vector<Pixel> out;
  for (int x = 0; x < image.bitmap()->pixelsWide(); ++x) out.push_back(image.bitmap()->pixel(x, 0));
  return out;
}

std::optional<CIImage> areaAverage(const CIImage& image, Rect extent) {
  img::CIAreaAverage filter;
  filter.inputImage = image;
  filter.inputExtent = extent;
  return filter.outputImage();
}

Pixel averagePixel(const CIImage& image, Rect extent) { return areaAverage(image, extent)->bitmap()->pixel(0, 0); }

std::optional<CIImage> kMeans(const CIImage& image, Rect extent, int count, int passes, bool perceptual,
                              std::vector<Pixel> means = {}) {
  img::CIKMeans filter;
  filter.inputImage = image;
  filter.inputExtent = extent;
  filter.inputCount = count;
  filter.inputPasses = passes;
  filter.inputPerceptual = perceptual;
  filter.inputMeans = std::move(means);
  return filter.outputImage();
}

// 100 x 100: 50 % red, 30 % green, 20 % blue in bands.
CIImage bands() {
  auto bitmap = Bitmap::filled(100, 100, kRed);
  bitmap->fillRect(0, 50, 100, 80, kGreen);
  bitmap->fillRect(0, 80, 100, 100, kBlue);
  return CIImage(std::move(*bitmap));
}

TEST(ImgAreaAverage, AveragesTheExtent) {
  auto bitmap = Bitmap::filled(4, 2, kRed);
  bitmap->fillRect(2, 0, 4, 2, kBlue);
  const CIImage image(std::move(*bitmap));
  EXPECT_EQ(image.extent(), (Rect{0, 0, 4, 2}));

  auto whole = areaAverage(image, image.extent());
  ASSERT_TRUE(whole);
  EXPECT_EQ(whole->extent(), (Rect{0, 0, 1, 1}));
  EXPECT_EQ(whole->bitmap()->pixel(0, 0), (Pixel{128, 0, 128, 255}));

  // Only the left half, then a quarter of the red plus all of one blue column.
  EXPECT_EQ(averagePixel(image, Rect{0, 0, 2, 2}), kRed);
  EXPECT_EQ(averagePixel(image, Rect{1.75, 0, 1.25, 2}),
            (Pixel{51, 0, 204, 255}));
}

TEST(ImgAreaAverage, TransparencyAndAreaBeyondTheImage) {
  auto bitmap = Bitmap::filled(2, 1, kRed);
  bitmap->setPixel(1, 0, Pixel{0, 255, 0, 0});
  const CIImage image(std::move(*bitmap));
  EXPECT_EQ(averagePixel(image, image.extent()), (Pixel{255, 0, 0, 128}));
  // Twice the image's area: the half outside is clear.
  EXPECT_EQ(averagePixel(image, Rect{0, 0, 2, 2}), (Pixel{255, 0, 0, 64}));
  EXPECT_EQ(averagePixel(image, Rect{10, 10, 2, 2}), (Pixel{0, 0, 0, 0}));
  // Extents far beyond any pixel index are clipped, not converted blindly.
  EXPECT_EQ(averagePixel(image, Rect{1e300, -1e300, 1e300, 1e300}), (Pixel{0, 0, 0, 0}));
  EXPECT_EQ(averagePixel(image, Rect{-1e300, 0, 2e300, 1}).a, 0);
  const CIImage opaque = image.imageBySettingAlphaOneInExtent({-1e300, -1e300, 2e300, 2e300});
  EXPECT_EQ(opaque.bitmap()->pixel(1, 0).a, 255);
}

TEST(ImgAreaAverage, NoOutputWithoutInput) {
  EXPECT_FALSE(areaAverage(CIImage(), {0, 0, 1, 1}));
  const CIImage image(*Bitmap::filled(2, 2, kRed));
  EXPECT_FALSE(areaAverage(image, Rect{0, 0, 0, 2}));
  EXPECT_FALSE(areaAverage(image, Rect{0, 0, std::numeric_limits<double>::quiet_NaN(), 2}));
}

TEST(ImgKMeans, FindsTheColoursAndTheirShares) {
  const CIImage image = bands();
  auto output = kMeans(image, image.extent(), 3, 5, true);
  ASSERT_TRUE(output);
  EXPECT_EQ(output->extent(), (Rect{0, 0, 3, 1}));
  // Heaviest first; alpha is the share (0.5, 0.3, 0.2 of 255).
  EXPECT_EQ(pixels(*output), (std::vector<Pixel>{{255, 0, 0, 128}, {0, 255, 0, 77}, {0, 0, 255, 51}}));
}

TEST(ImgKMeans, MoreClustersThanColoursLeavesEmptyClusters) {
  const CIImage image = bands();
  for (bool perceptual : {true, false}) {
    auto output = kMeans(image, image.extent(), 8, 10, perceptual);
    ASSERT_TRUE(output);
    const auto found = pixels(*output);
    ASSERT_EQ(found.size(), 8u);
    EXPECT_EQ(found[0], (Pixel{255, 0, 0, 128}));
    EXPECT_EQ(found[1], (Pixel{0, 255, 0, 77}));
    EXPECT_EQ(found[2], (Pixel{0, 0, 255, 51}));
    for (std::size_t i = 3; i < 8; ++i) EXPECT_EQ(found[i].a, 0) << i;
  }
}

TEST(ImgKMeans, ClustersNoisyColoursAroundTheirCentres) {
  // Two families of colours: dark reds and light blues, 3:1.
  auto bitmap = Bitmap::create(40, 40);
  for (int y = 0; y < 40; ++y) {
    for (int x = 0; x < 40; ++x) {
      const uint8_t jitter = static_cast<uint8_t>((x * 7 + y * 13) % 11);
      bitmap->setPixel(x, y, y < 30 ? Pixel{uint8_t(150 + jitter), 10, 10, 255}
                                    : Pixel{100, 150, uint8_t(240 + jitter / 2), 255});
    }
  }
  const CIImage image(std::move(*bitmap));
  auto output = kMeans(image, image.extent(), 2, 10, true);
  const auto found = pixels(*output);
  EXPECT_NEAR(found[0].r, 155, 2);
  EXPECT_EQ(found[0].a, 191);  // 0.75
  EXPECT_NEAR(found[1].b, 242, 2);
  EXPECT_EQ(found[1].a, 64);

  // Same input, same output.
  EXPECT_EQ(pixels(*kMeans(image, image.extent(), 2, 10, true)), found);
}

TEST(ImgKMeans, UsesGivenMeansAndValidatesInputs) {
  const CIImage image = bands();
  // One pass from given seeds: the seed nearest to nothing stays empty.
  auto output = kMeans(image, image.extent(), 2, 1, true, {kBlue, Pixel{255, 255, 255, 255}});
  ASSERT_TRUE(output);
  EXPECT_EQ(pixels(*output)[1], (Pixel{255, 255, 255, 0}));

  EXPECT_FALSE(kMeans(image, image.extent(), 0, 5, true));
  EXPECT_FALSE(kMeans(image, image.extent(), 129, 5, true));
  EXPECT_FALSE(kMeans(image, image.extent(), 8, 21, true));
  EXPECT_FALSE(kMeans(image, {}, 8, 5, true));
  EXPECT_FALSE(kMeans(CIImage(), {0, 0, 1, 1}, 8, 5, true));

  // A fully transparent input still gives its count of clusters, all clear.
  const CIImage clear(*Bitmap::create(5, 5));
  const auto empty = pixels(*kMeans(clear, clear.extent(), 4, 5, true));
  EXPECT_EQ(empty, std::vector<Pixel>(4, Pixel{0, 0, 0, 0}));
}

TEST(ImgOpaque, SettingAlphaOneKeepsColours) {
  auto bitmap = Bitmap::create(3, 1);
  bitmap->setPixel(0, 0, Pixel{10, 20, 30, 0});
  bitmap->setPixel(2, 0, Pixel{40, 50, 60, 7});
  const CIImage image(std::move(*bitmap));
  const CIImage opaque = image.imageBySettingAlphaOneInExtent({0, 0, 2, 1});
  EXPECT_EQ(opaque.bitmap()->pixel(0, 0), (Pixel{10, 20, 30, 255}));
  EXPECT_EQ(opaque.bitmap()->pixel(1, 0), (Pixel{0, 0, 0, 255}));
  EXPECT_EQ(opaque.bitmap()->pixel(2, 0), (Pixel{40, 50, 60, 7}));
  EXPECT_EQ(image.bitmap()->pixel(0, 0).a, 0);  // the input is unchanged
}

TEST(ImgRender, WritesOnlyIntoABufferThatFits) {
  const CIImage image(*Bitmap::filled(8, 1, kGreen));
  std::vector<uint8_t> buffer(32, 0xAA);
  EXPECT_TRUE(img::CIContext().render(image, buffer, 32, image.extent()));
  EXPECT_EQ(buffer[4 * 7 + 1], 255);

  // A bigger image than the buffer: refused, nothing written.
  const CIImage big(*Bitmap::filled(8, 2, kRed));
  std::vector<uint8_t> small(32, 0xAA);
  EXPECT_FALSE(img::CIContext().render(big, small, 32, big.extent()));
  EXPECT_FALSE(img::CIContext().render(image, small, 16, image.extent()));  // row too short
  EXPECT_FALSE(img::CIContext().render(image, small, 32, {0, 0, 8.5, 1}));
  EXPECT_EQ(std::count(small.begin(), small.end(), 0xAA), 32);

  // Padded rows, and bounds partly beyond the image read as clear.
  std::vector<uint8_t> padded(2 * 40 - 8, 0xAA);
  EXPECT_TRUE(img::CIContext().render(big, padded, 40, {7, 0, 2, 2}));
  EXPECT_EQ(padded[0], 255);
  EXPECT_EQ(padded[4], 0);
  EXPECT_EQ(padded[7], 0);
  EXPECT_EQ(padded[8], 0xAA);  // padding untouched
  EXPECT_EQ(padded[40], 255);
}

}  // namespace
