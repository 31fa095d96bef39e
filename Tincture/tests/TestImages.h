#pragma once

#include <initializer_list>
#include <utility>

#include "platform/image/Bitmap.h"
#include "platform/image/Color.h"
#include "platform/image/Image.h"

namespace tincture::testing {

constexpr img::Pixel kRed{255, 0, 0, 255};
constexpr img::Pixel kGreen{0, 255, 0, 255};
constexpr img::Pixel kBlue{0, 0, 255, 255};

constexpr img::Color kRedColor(1, 0, 0);
constexpr img::Color kGreenColor(0, 1, 0);
constexpr img::Color kBlueColor(0, 0, 1);
constexpr img::Color kWhiteColor(1, 1, 1);
constexpr img::Color kBlackColor(0, 0, 0);

// An image whose point size equals its pixel size.
inline img::Image imageOf(img::Bitmap bitmap) { return img::Image::withBitmap(std::move(bitmap)); }

// Horizontal bands of colour, each as many rows high as given.
inline img::Bitmap bands(int width, std::initializer_list<std::pair<img::Pixel, int>> rows) {
  int height = 0;
  for (const auto& band : rows) height += band.second;
  auto bitmap = img::Bitmap::create(width, height);
  int y = 0;
  for (const auto& [pixel, count] : rows) {
    bitmap->fillRect(0, y, width, y + count, pixel);
    y += count;
  }
  return *bitmap;
}

// Pixels in reading order: count of each colour, the rest transparent.
inline img::Bitmap counted(int width, int height, std::initializer_list<std::pair<img::Pixel, int>> counts) {
  auto bitmap = img::Bitmap::create(width, height);
  int i = 0;
  for (const auto& [pixel, count] : counts) {
    for (int n = 0; n < count; ++n, ++i) bitmap->setPixel(i % width, i / width, pixel);
  }
  return *bitmap;
}

}  // namespace tincture::testing
