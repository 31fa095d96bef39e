#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "Tincture/AverageColor.h"
#include "Tincture/tests/TestImages.h"

namespace {

using namespace tincture::testing;
using tincture::ImageColorError;

ImageColorError::Code averageColorError(const img::Image& image) {
  try {
    tincture::averageColor(image);
  } catch (const ImageColorError& error) {
    return error.code();
  }
  ADD_FAILURE() << "no error";
  return ImageColorError::nsImageResizeFailure;
}

TEST(TinctureResized, SameSizeIsTheSameObject) {
  const img::Image image = imageOf(*img::Bitmap::filled(8, 4, kRed));
  const auto same = tincture::resized(image, {8, 4});
  ASSERT_TRUE(same);
  EXPECT_TRUE(same->isSameObject(image));
  const auto other = tincture::resized(image, {4, 2});
  ASSERT_TRUE(other);
  EXPECT_FALSE(other->isSameObject(image));
}

TEST(TinctureResized, TruncatesToWholePixelsAndKeepsThePointSize) {
  const img::Image image = imageOf(bands(300, {{kRed, 100}, {kBlue, 100}}));
  const auto resized = tincture::resized(image, {100.7, 50.2});
  ASSERT_TRUE(resized);
  EXPECT_EQ(resized->size(), (img::Size{100.7, 50.2}));
  ASSERT_EQ(resized->representations().size(), 1u);
  const auto bitmap = resized->cgImage();
  EXPECT_EQ(bitmap->pixelsWide(), 100);
  EXPECT_EQ(bitmap->pixelsHigh(), 50);
  EXPECT_EQ(bitmap->pixel(50, 10), kRed);
  EXPECT_EQ(bitmap->pixel(50, 40), kBlue);
}

TEST(TinctureResized, SizesWithoutABitmapGiveNothing) {
  const img::Image image = imageOf(*img::Bitmap::filled(8, 4, kRed));
  const double nan = std::numeric_limits<double>::quiet_NaN();
  EXPECT_FALSE(tincture::resized(image, {0.9, 10}));
  EXPECT_FALSE(tincture::resized(image, {nan, 10}));
  EXPECT_FALSE(tincture::resized(image, {std::numeric_limits<double>::infinity(), 10}));
  EXPECT_FALSE(tincture::resized(image, {1e12, 1e12}));
  EXPECT_FALSE(tincture::resized(img::Image(img::Size{8, 4}), {4, 2}));
}

TEST(TinctureAverageColor, AveragesEveryPixel) {
  const img::Color average = tincture::averageColor(imageOf(bands(10, {{kRed, 5}, {kBlue, 5}})));
  EXPECT_EQ(average, img::Color(128 / 255.0, 0, 128 / 255.0, 1));

  const img::Color odd = tincture::averageColor(imageOf(bands(3, {{kRed, 1}, {kGreen, 1}, {{10, 20, 30, 255}, 1}})));
  for (double c : {odd.redComponent(), odd.greenComponent(), odd.blueComponent(), odd.alphaComponent()}) {
    EXPECT_EQ(c * 255, std::round(c * 255));  // read back from one 8-bit pixel
  }
  EXPECT_EQ(odd, img::Color(88 / 255.0, 92 / 255.0, 10 / 255.0, 1));
}

TEST(TinctureAverageColor, ImagesWithoutAUsableBitmapFail) {
  EXPECT_EQ(averageColorError(img::Image(img::Size{10, 10})), ImageColorError::ciImageFailure);
  EXPECT_EQ(averageColorError(img::Image()), ImageColorError::ciImageFailure);
  img::Image zero = imageOf(*img::Bitmap::filled(4, 4, kRed));
  zero.setSize({0, 0});
  EXPECT_EQ(averageColorError(zero), ImageColorError::ciImageFailure);
  EXPECT_STREQ(ImageColorError(ImageColorError::ciImageFailure).what(), "ciImageFailure");
}

TEST(TinctureCoreImageImage, UsesTheLargestBitmap) {
  img::Image image(img::Size{10, 10});
  EXPECT_FALSE(tincture::ciImage(image));
  image.addRepresentation(*img::Bitmap::filled(10, 10, kRed));
  image.addRepresentation(*img::Bitmap::filled(20, 20, kBlue));
  const auto ci = tincture::ciImage(image);
  ASSERT_TRUE(ci);
  EXPECT_EQ(ci->extent(), (img::Rect{0, 0, 20, 20}));
  EXPECT_EQ(tincture::averageColor(image), img::Color(0, 0, 1, 1));
}

}  // namespace
