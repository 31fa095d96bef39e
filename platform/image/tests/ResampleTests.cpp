#include <gtest/gtest.h>

#include "platform/image/Resample.h"
#include "platform/image/tests/TestPixels.h"

namespace {

using img::Bitmap;
using img::Pixel;

using imagetest::kBlue;
using imagetest::kRed;

TEST(ImgRedraw, SameSizeCopiesEveryPixel) {
  auto source = Bitmap::create(5, 3, 64);
  for (int y = 0; y < 3; ++y) {
    for (int x = 0; x < 5; ++x) source->setPixel(x, y, Pixel{uint8_t(x * 40), uint8_t(y * 70), 7, uint8_t(100 + x)});
  }
  auto copy = img::redraw(*source, 5, 3);
  ASSERT_TRUE(copy);
  EXPECT_EQ(copy->bytesPerRow(), 20u);
  EXPECT_TRUE(copy->samePixels(*source));
}

TEST(ImgRedraw, ShrinkingAveragesAreas) {
  // 600 x 600 with the left half red and the right half blue, shrunk 6:1:
  // whole blocks stay pure and nothing bleeds across the edge.
  auto source = Bitmap::filled(600, 600, kRed);
  source->fillRect(300, 0, 600, 600, kBlue);
  auto small = img::redraw(*source, 100, 100);
  ASSERT_TRUE(small);
  EXPECT_EQ(small->pixel(49, 50), kRed);
  EXPECT_EQ(small->pixel(50, 50), kBlue);

  // A 2 x 1 pair averages to one pixel.
  auto pair = Bitmap::filled(2, 1, kRed);
  pair->setPixel(1, 0, kBlue);
  EXPECT_EQ(img::redraw(*pair, 1, 1)->pixel(0, 0), (Pixel{128, 0, 128, 255}));

  // Uneven ratios keep a solid colour exact.
  auto solid = Bitmap::filled(7, 11, Pixel{10, 200, 30, 255});
  auto odd = img::redraw(*solid, 3, 4);
  for (int y = 0; y < 4; ++y) {
    for (int x = 0; x < 3; ++x) EXPECT_EQ(odd->pixel(x, y), (Pixel{10, 200, 30, 255}));
  }
}

TEST(ImgRedraw, ShrinkingWeighsPartlyCoveredPixels) {
  // 3 -> 2: the middle source pixel is shared half and half.
  auto source = Bitmap::create(3, 1);
  source->setPixel(0, 0, Pixel{0, 0, 0, 255});
  source->setPixel(1, 0, Pixel{90, 0, 0, 255});
  source->setPixel(2, 0, Pixel{180, 0, 0, 255});
  auto out = img::redraw(*source, 2, 1);
  EXPECT_EQ(out->pixel(0, 0).r, 30);   // (0·1 + 90·0.5) / 1.5
  EXPECT_EQ(out->pixel(1, 0).r, 150);  // (90·0.5 + 180·1) / 1.5
}

TEST(ImgRedraw, EnlargingInterpolatesBetweenCentres) {
  auto source = Bitmap::create(2, 1);
  source->setPixel(0, 0, Pixel{0, 0, 0, 255});
  source->setPixel(1, 0, Pixel{200, 0, 0, 255});
  auto out = img::redraw(*source, 4, 1);
  ASSERT_TRUE(out);
  EXPECT_EQ(out->pixel(0, 0).r, 0);    // clamped edge
  EXPECT_EQ(out->pixel(1, 0).r, 50);   // position 0.25
  EXPECT_EQ(out->pixel(2, 0).r, 150);  // position 0.75
  EXPECT_EQ(out->pixel(3, 0).r, 200);
  EXPECT_EQ(out->pixelsHigh(), 1);
}

TEST(ImgRedraw, TransparentPixelsLendNoColour) {
  auto source = Bitmap::create(2, 1);
  source->setPixel(0, 0, kRed);
  source->setPixel(1, 0, Pixel{0, 255, 0, 0});
  EXPECT_EQ(img::redraw(*source, 1, 1)->pixel(0, 0), (Pixel{255, 0, 0, 128}));
  auto clear = Bitmap::filled(4, 4, Pixel{0, 255, 0, 0});
  EXPECT_EQ(img::redraw(*clear, 2, 2)->pixel(1, 1), (Pixel{0, 0, 0, 0}));
}

TEST(ImgRedraw, InvalidSizesAndImagesWithoutBitmaps) {
  auto source = Bitmap::filled(4, 4, kRed);
  EXPECT_FALSE(img::redraw(*source, 0, 4));
  EXPECT_FALSE(img::redraw(*source, 4, -1));
  EXPECT_FALSE(img::drawImage(img::Image(img::Size{4, 4}), 2, 2));
  auto drawn = img::drawImage(img::Image::withBitmap(*source), 2, 8);
  ASSERT_TRUE(drawn);
  EXPECT_EQ(drawn->pixel(1, 7), kRed);
}

}  // namespace
