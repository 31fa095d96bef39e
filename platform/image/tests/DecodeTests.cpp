#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdlib>

#include "platform/image/Decode.h"
#include "platform/image/Image.h"
#include "platform/image/PNG.h"
#include "platform/image/Resample.h"
#include "platform/image/tests/EncodeSupport.h"

namespace {

using img::Bitmap;
using img::Pixel;

// A pattern with every channel and the alpha varying, so averaging mistakes show.
Bitmap pattern(int wide, int high) {
  auto bitmap = Bitmap::create(wide, high);
  for (int y = 0; y < high; ++y) {
    for (int x = 0; x < wide; ++x) {
      bitmap->setPixel(x, y, Pixel{uint8_t(x * 7 + y), uint8_t(y * 5), uint8_t((x * y) % 251), uint8_t(40 + (x + y) % 200)});
    }
  }
  return std::move(*bitmap);
}

int largestDifference(const Bitmap& a, const Bitmap& b) {
  int largest = 0;
  for (int y = 0; y < a.pixelsHigh(); ++y) {
    for (int x = 0; x < a.pixelsWide(); ++x) {
      const Pixel p = a.pixel(x, y), q = b.pixel(x, y);
      for (int d : {p.r - q.r, p.g - q.g, p.b - q.b, p.a - q.a}) largest = std::max(largest, std::abs(d));
    }
  }
  return largest;
}

TEST(ImgDecode, PNGShrinksAsTheResamplerDoesAndIsNeverEnlarged) {
  const Bitmap source = pattern(97, 61);
  const std::vector<uint8_t> plain = imagetest::encodePNG(source);
  const std::vector<uint8_t> interlaced = imagetest::encodePNG(source, true);
  struct Case {
    int maxWide, maxHigh, wide, high;
  };
  for (const auto* data : {&plain, &interlaced}) {
    for (const Case c : {Case{40, 40, 40, 25}, Case{1000, 30, 48, 30}, Case{97, 61, 97, 61}, Case{500, 500, 97, 61}}) {
      std::string error;
      auto decoded = img::decodeImageFitting(*data, c.maxWide, c.maxHigh, &error);
      ASSERT_TRUE(decoded) << error;
      ASSERT_EQ(decoded->pixelsWide(), c.wide);
      ASSERT_EQ(decoded->pixelsHigh(), c.high);
      EXPECT_LE(largestDifference(*decoded, *img::redraw(source, c.wide, c.high)), 1) << c.maxWide << "x" << c.maxHigh;
    }
  }
}

TEST(ImgDecode, JPEGDecodesWholeOrScaledToTheBox) {
  // Left half orange, right half teal, as JPEG at a high quality.
  auto source = Bitmap::filled(1600, 800, Pixel{230, 120, 20, 255});
  source->fillRect(800, 0, 1600, 800, Pixel{20, 140, 150, 255});
  const std::vector<uint8_t> jpeg = imagetest::encodeJPEG(*source, 95);
  auto near = [](Pixel p, Pixel q) { return std::abs(p.r - q.r) + std::abs(p.g - q.g) + std::abs(p.b - q.b) <= 12; };

  auto small = img::decodeImageFitting(jpeg, 480, 160);
  ASSERT_TRUE(small);
  EXPECT_EQ(small->pixelsWide(), 320);
  EXPECT_EQ(small->pixelsHigh(), 160);
  EXPECT_TRUE(near(small->pixel(40, 80), source->pixel(0, 0)));
  EXPECT_TRUE(near(small->pixel(280, 80), source->pixel(1599, 0)));
  EXPECT_EQ(small->pixel(10, 10).a, 255);

  auto image = img::Image::withData(jpeg);
  ASSERT_TRUE(image);
  EXPECT_EQ(image->size(), (img::Size{1600, 800}));
  EXPECT_TRUE(near(image->bestRepresentation()->pixel(1500, 700), source->pixel(1500, 700)));

  // Progressive, held whole within its budget, it decodes alike.
  auto progressive = img::decodeImageFitting(imagetest::encodeJPEG(*source, 95, true), 480, 160);
  ASSERT_TRUE(progressive && progressive->pixelsWide() == 320 && progressive->pixelsHigh() == 160);
  EXPECT_LE(largestDifference(*progressive, *small), 1);
}

// The data with `bytes` bytes at `at` replaced by a big-endian number.
std::vector<uint8_t> patched(std::vector<uint8_t> data, std::size_t at, std::uint32_t value, int bytes = 4) {
  for (int i = 0; i < bytes; ++i) data.at(at + i) = uint8_t(value >> (8 * (bytes - 1 - i)));
  return data;
}

TEST(ImgDecode, BadOrHugeImagesAreRefusedWithAReason) {
  const Bitmap source = pattern(40, 30);
  const std::vector<uint8_t> png = *img::encodePNG(source);
  const std::vector<uint8_t> jpeg = imagetest::encodeJPEG(source);
  // A PNG that says 20000 x 20000, with its header's checksum mended.
  std::vector<uint8_t> hugePNG = patched(patched(png, 16, 20000), 20, 20000);
  hugePNG = patched(hugePNG, 29, static_cast<std::uint32_t>(crc32(0, hugePNG.data() + 12, 17)));
  // A JPEG whose frame (of the given kind) says side x side.
  auto resized = [](const std::vector<uint8_t>& data, uint8_t kind, std::uint32_t side) {
    std::size_t frame = 2;
    while (frame + 1 < data.size() && !(data[frame] == 0xff && data[frame + 1] == kind)) ++frame;
    return patched(patched(data, frame + 5, side, 2), frame + 7, side, 2);
  };
  const std::vector<uint8_t> hugeJPEG = resized(jpeg, 0xc0, 20000);
  // Within the pixel limit, but a progressive one holds all its coefficients (some 100 MB here) at once.
  const std::vector<uint8_t> deepJPEG = resized(imagetest::encodeJPEG(source, 90, true), 0xc2, 6000);

  struct Case {
    const char* name;
    std::vector<uint8_t> data;
    const char* reason;
  };
  const std::vector<Case> cases = {
      {"empty", {}, "not a PNG or JPEG image"},
      {"text", {'h', 'e', 'l', 'l', 'o'}, "not a PNG or JPEG image"},
      {"cut PNG", std::vector<uint8_t>(png.begin(), png.begin() + 60), "PNG: "},
      {"cut JPEG", std::vector<uint8_t>(jpeg.begin(), jpeg.begin() + 40), "JPEG: "},
      {"huge PNG", hugePNG, "image too large (20000x20000)"},
      {"huge JPEG", hugeJPEG, "image too large (20000x20000)"},
      {"progressive JPEG past the memory budget", deepJPEG, "image needs more than 64 MiB to decode (6000x6000)"},
  };
  for (const Case& c : cases) {
    std::string error;
    EXPECT_FALSE(img::decodeImageFitting(c.data, 100, 100, &error)) << c.name;
    EXPECT_EQ(error.rfind(c.reason, 0), 0u) << c.name << ": " << error;
  }
  EXPECT_FALSE(img::Image::withData(cases[3].data));
}

}  // namespace
