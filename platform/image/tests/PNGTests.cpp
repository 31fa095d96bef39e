#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "platform/image/Image.h"
#include "platform/image/PNG.h"
#include "platform/foundation/TestSupport.h"

namespace {

using img::Bitmap;
using img::Pixel;

Bitmap sample() {
  auto bitmap = Bitmap::create(7, 5, 40);
  for (int y = 0; y < 5; ++y) {
    for (int x = 0; x < 7; ++x) bitmap->setPixel(x, y, Pixel{uint8_t(x * 36), uint8_t(y * 60), uint8_t(x * y), 255});
  }
  bitmap->setPixel(0, 0, Pixel{0, 0, 0, 0});
  return *bitmap;
}

TEST(ImgPNGFile, SaveAndLoadRoundTrip) {
  ns::test::TemporaryDirectory dir;
  const Bitmap original = sample();
  const std::string path = dir.file("round trip.png");
  ASSERT_TRUE(img::savePNG(original, path));
  auto loaded = img::loadPNG(path);
  ASSERT_TRUE(loaded);
  EXPECT_TRUE(loaded->samePixels(original));

  auto image = img::Image::withContentsOfFile(path);
  ASSERT_TRUE(image);
  EXPECT_EQ(image->size(), (img::Size{7, 5}));
  EXPECT_TRUE(image->cgImage()->samePixels(original));

  // No temporary files are left next to it.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), std::filesystem::directory_iterator()), 1);
}

TEST(ImgPNGFile, PartlyTransparentPixelsStayWithinOneStep) {
  auto bitmap = Bitmap::create(3, 1);
  bitmap->setPixel(0, 0, Pixel{200, 100, 50, 128});
  bitmap->setPixel(1, 0, Pixel{255, 255, 255, 1});
  bitmap->setPixel(2, 0, Pixel{13, 17, 19, 254});
  auto encoded = img::encodePNG(*bitmap);
  ASSERT_TRUE(encoded);
  auto decoded = img::decodePNG(*encoded);
  ASSERT_TRUE(decoded);
  const Pixel a = decoded->pixel(0, 0);
  EXPECT_EQ(a.a, 128);
  EXPECT_NEAR(a.r, 200, 1);
  EXPECT_NEAR(a.g, 100, 1);
  EXPECT_NEAR(a.b, 50, 1);
  EXPECT_EQ(decoded->pixel(1, 0).a, 1);
  EXPECT_NEAR(decoded->pixel(2, 0).r, 13, 1);
}

TEST(ImgPNGFile, BadInputYieldsNothing) {
  ns::test::TemporaryDirectory dir;
  EXPECT_FALSE(img::loadPNG(dir.file("missing.png")));
  {
    std::ofstream out(dir.file("garbage.png"), std::ios::binary);
    out << "\x89PNG\r\n\x1a\n but not really";
  }
  EXPECT_FALSE(img::loadPNG(dir.file("garbage.png")));
  EXPECT_FALSE(img::Image::withContentsOfFile(dir.file("garbage.png")));
  const uint8_t junk[] = {1, 2, 3};
  EXPECT_FALSE(img::decodePNG(junk));
  EXPECT_FALSE(img::decodePNG({}));
  EXPECT_FALSE(img::Image::withData(junk));

  // A truncated PNG gives nothing rather than a partial image.
  auto encoded = img::encodePNG(sample());
  encoded->resize(encoded->size() / 2);
  EXPECT_FALSE(img::decodePNG(*encoded));
}

TEST(ImgPNGFile, FailedSaveLeavesNothingBehind) {
  ns::test::TemporaryDirectory dir;
  EXPECT_FALSE(img::savePNG(sample(), dir.file("no such dir/out.png")));
  EXPECT_FALSE(img::savePNG(sample(), ""));
  // Saving over an existing file replaces it whole.
  const std::string path = dir.file("out.png");
  ASSERT_TRUE(img::savePNG(*Bitmap::filled(2, 2, Pixel{1, 2, 3, 255}), path));
  ASSERT_TRUE(img::savePNG(sample(), path));
  EXPECT_TRUE(img::loadPNG(path)->samePixels(sample()));
}

TEST(ImgPNGFile, BitmapsBeyondCairosLimitAreRefused) {
  auto wide = Bitmap::create(40000, 1);
  ASSERT_TRUE(wide);
  EXPECT_FALSE(img::encodePNG(*wide));
}

}  // namespace
