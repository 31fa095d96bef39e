#include "platform/image/Bitmap.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace img {

std::optional<std::size_t> Bitmap::checkedLayout(int pixelsWide, int pixelsHigh, std::size_t bytesPerRow) {
  if (pixelsWide <= 0 || pixelsHigh <= 0 || pixelsWide > kMaxDimension || pixelsHigh > kMaxDimension) {
    return std::nullopt;
  }
  const std::size_t minRow = static_cast<std::size_t>(pixelsWide) * kBytesPerPixel;
  if (bytesPerRow == 0) bytesPerRow = minRow;
  if (bytesPerRow < minRow || bytesPerRow > kMaxBytes) return std::nullopt;
  if (bytesPerRow > kMaxBytes / static_cast<std::size_t>(pixelsHigh)) return std::nullopt;
  return bytesPerRow;
}

Bitmap::Bitmap(int width, int height, std::size_t bytesPerRow, std::vector<uint8_t> data)
    : width_(width), height_(height), bytesPerRow_(bytesPerRow), data_(std::move(data)) {}

std::optional<Bitmap> Bitmap::create(int pixelsWide, int pixelsHigh, std::size_t bytesPerRow) {
  const auto row = checkedLayout(pixelsWide, pixelsHigh, bytesPerRow);
  if (!row) return std::nullopt;
  return Bitmap(pixelsWide, pixelsHigh, *row, std::vector<uint8_t>(*row * static_cast<std::size_t>(pixelsHigh)));
}

std::optional<Bitmap> Bitmap::withData(int pixelsWide, int pixelsHigh, std::size_t bytesPerRow,
                                       std::vector<uint8_t> data) {
  const auto row = checkedLayout(pixelsWide, pixelsHigh, bytesPerRow);
  if (!row || data.size() != *row * static_cast<std::size_t>(pixelsHigh)) return std::nullopt;
  return Bitmap(pixelsWide, pixelsHigh, *row, std::move(data));
}

std::optional<Bitmap> Bitmap::filled(int pixelsWide, int pixelsHigh, Pixel pixel) {
  auto bitmap = create(pixelsWide, pixelsHigh);
  if (bitmap) bitmap->fill(pixel);
  return bitmap;
}

std::span<const uint8_t> Bitmap::row(int y) const {
  if (y < 0 || y >= height_) std::abort();
  return std::span<const uint8_t>(data_).subspan(static_cast<std::size_t>(y) * bytesPerRow_,
                                                 static_cast<std::size_t>(width_) * kBytesPerPixel);
}

std::span<uint8_t> Bitmap::row(int y) {
  if (y < 0 || y >= height_) std::abort();
  return std::span<uint8_t>(data_).subspan(static_cast<std::size_t>(y) * bytesPerRow_,
                                           static_cast<std::size_t>(width_) * kBytesPerPixel);
}

Pixel Bitmap::pixel(int x, int y) const {
  if (x < 0 || x >= width_) std::abort();
  const uint8_t* p = row(y).data() + static_cast<std::size_t>(x) * kBytesPerPixel;
  return {p[0], p[1], p[2], p[3]};
}

void Bitmap::setPixel(int x, int y, Pixel pixel) {
  if (x < 0 || x >= width_) std::abort();
  uint8_t* p = row(y).data() + static_cast<std::size_t>(x) * kBytesPerPixel;
  p[0] = pixel.r;
  p[1] = pixel.g;
  p[2] = pixel.b;
  p[3] = pixel.a;
}

void Bitmap::fill(Pixel pixel) { fillRect(0, 0, width_, height_, pixel); }

void Bitmap::fillRect(int x0, int y0, int x1, int y1, Pixel pixel) {
  x0 = std::clamp(x0, 0, width_);
  x1 = std::clamp(x1, 0, width_);
  y0 = std::clamp(y0, 0, height_);
  y1 = std::clamp(y1, 0, height_);
  for (int y = y0; y < y1; ++y) {
    for (int x = x0; x < x1; ++x) setPixel(x, y, pixel);
  }
}

bool Bitmap::samePixels(const Bitmap& other) const {
  if (width_ != other.width_ || height_ != other.height_) return false;
  for (int y = 0; y < height_; ++y) {
    const auto a = row(y);
    const auto b = other.row(y);
    if (std::memcmp(a.data(), b.data(), a.size()) != 0) return false;
  }
  return true;
}

}  // namespace img
