#include <gtest/gtest.h>

#include "platform/image/Bitmap.h"
#include "platform/image/Color.h"
#include "platform/image/Image.h"

namespace {

using img::Bitmap;
using img::Pixel;

TEST(ImgBitmapLayout, RejectsImpossibleLayouts) {
  EXPECT_FALSE(Bitmap::create(0, 10));
  EXPECT_FALSE(Bitmap::create(10, 0));
  EXPECT_FALSE(Bitmap::create(-1, 10));
  EXPECT_FALSE(Bitmap::create(10, 10, 39));  // shorter than 4 x width
  EXPECT_FALSE(Bitmap::create(Bitmap::kMaxDimension + 1, 1));
  EXPECT_FALSE(Bitmap::create(Bitmap::kMaxDimension, Bitmap::kMaxDimension));  // over kMaxBytes
  EXPECT_FALSE(Bitmap::withData(2, 2, 8, std::vector<uint8_t>(15)));
  EXPECT_FALSE(Bitmap::withData(2, 2, 8, std::vector<uint8_t>(17)));
  EXPECT_TRUE(Bitmap::withData(2, 2, 8, std::vector<uint8_t>(16)));
}

TEST(ImgBitmapLayout, PaddedRowsAreAddressedByBytesPerRow) {
  auto bitmap = Bitmap::create(3, 2, 20);
  ASSERT_TRUE(bitmap);
  EXPECT_EQ(bitmap->bytesPerRow(), 20u);
  EXPECT_EQ(bitmap->bytes().size(), 40u);
  bitmap->setPixel(2, 1, Pixel{1, 2, 3, 4});
  EXPECT_EQ(bitmap->pixel(2, 1), (Pixel{1, 2, 3, 4}));
  EXPECT_EQ(bitmap->bytes()[20 + 8], 1);
  EXPECT_EQ(bitmap->row(1).size(), 12u);

  auto tight = Bitmap::create(3, 2);
  tight->setPixel(2, 1, Pixel{1, 2, 3, 4});
  EXPECT_TRUE(bitmap->samePixels(*tight));
}

TEST(ImgBitmapLayout, FillRectIsClipped) {
  auto bitmap = Bitmap::create(4, 4);
  bitmap->fillRect(-5, 2, 2, 99, Pixel{9, 9, 9, 255});
  EXPECT_EQ(bitmap->pixel(0, 3), (Pixel{9, 9, 9, 255}));
  EXPECT_EQ(bitmap->pixel(1, 2), (Pixel{9, 9, 9, 255}));
  EXPECT_EQ(bitmap->pixel(2, 2), (Pixel{}));
  EXPECT_EQ(bitmap->pixel(0, 1), (Pixel{}));
}

TEST(ImgImageObject, CopiesReferToOneImage) {
  img::Image image(img::Size{10, 20});
  img::Image copy = image;
  copy.setSize({3, 4});
  EXPECT_EQ(image.size(), (img::Size{3, 4}));
  EXPECT_TRUE(copy.isSameObject(image));
  EXPECT_FALSE(img::Image().isSameObject(image));
}

TEST(ImgImageObject, QuartzImageIsTheLargestRepresentation) {
  img::Image image(img::Size{2, 2});
  EXPECT_EQ(image.cgImage(), nullptr);  // no representation
  image.addRepresentation(*Bitmap::create(2, 2));
  image.addRepresentation(*Bitmap::create(4, 4));
  image.addRepresentation(*Bitmap::create(4, 4));
  ASSERT_NE(image.cgImage(), nullptr);
  EXPECT_EQ(image.cgImage()->pixelsWide(), 4);
  EXPECT_EQ(image.cgImage(), image.representations()[1]);

  image.setSize({0, 0});
  EXPECT_EQ(image.cgImage(), nullptr);
  image.setSize({2, std::numeric_limits<double>::infinity()});
  EXPECT_EQ(image.cgImage(), nullptr);
}

TEST(ImgColorObject, EqualityAndDescription) {
  EXPECT_EQ(img::Color::colorWithRed(1, 0, 0, 1), img::Color(1, 0, 0));
  EXPECT_NE(img::Color(1, 0, 0, 1), img::Color(1, 0, 0, 0.5));
  EXPECT_EQ(img::Color::grayColor(), img::Color::colorWithWhite(0.5, 1));
  EXPECT_EQ(img::Color(1, 0, 0.25, 1).description(), "sRGB 1 0 0.25 1");
  EXPECT_EQ(img::shortestDecimal(0.37), "0.37");
  EXPECT_EQ(img::shortestDecimal(1.0), "1.0");
  EXPECT_EQ(img::shortestDecimal(1.0 / 3.0), "0.3333333333333333");
}

}  // namespace
