#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace img {

// One pixel of an 8-bit RGBA bitmap, straight (not premultiplied) alpha.
struct Pixel {
  uint8_t r = 0;
  uint8_t g = 0;
  uint8_t b = 0;
  uint8_t a = 0;

  bool operator==(const Pixel&) const = default;
};

// A channel value on the 0...255 scale as a byte: rounded to nearest, clamped.
inline uint8_t channelByte(double value) { return static_cast<uint8_t>(std::clamp(std::lround(value), 0L, 255L)); }

// An 8-bit RGBA bitmap (the bitmap image representation and the Quartz image
// of the platform in one). Its layout is checked when it is made: at least one
// pixel each way, rows of at least 4 x width bytes (padding allowed) and
// exactly bytesPerRow x height bytes of storage, so every read through it stays
// inside its storage.
class Bitmap {
 public:
  static constexpr std::size_t kBytesPerPixel = 4;
  static constexpr int kMaxDimension = 1 << 16;
  static constexpr std::size_t kMaxBytes = std::size_t{1} << 30;

  // A zero-filled (fully transparent) bitmap; bytesPerRow 0 means 4 x width.
  // Nothing when the layout is impossible or larger than kMaxBytes.
  static std::optional<Bitmap> create(int pixelsWide, int pixelsHigh, std::size_t bytesPerRow = 0);
  // Takes existing storage; nothing unless data holds exactly bytesPerRow x
  // pixelsHigh bytes and the layout is valid.
  static std::optional<Bitmap> withData(int pixelsWide, int pixelsHigh, std::size_t bytesPerRow,
                                        std::vector<uint8_t> data);
  // A bitmap of one colour.
  static std::optional<Bitmap> filled(int pixelsWide, int pixelsHigh, Pixel pixel);

  int pixelsWide() const { return width_; }
  int pixelsHigh() const { return height_; }
  std::size_t bytesPerRow() const { return bytesPerRow_; }

  std::span<const uint8_t> bytes() const { return data_; }
  std::span<const uint8_t> row(int y) const;
  std::span<uint8_t> row(int y);

  // Out-of-range coordinates are a programming error and abort.
  Pixel pixel(int x, int y) const;
  void setPixel(int x, int y, Pixel pixel);
  void fill(Pixel pixel);
  // Fills the pixels of [x0, x1) x [y0, y1), clipped to the bitmap.
  void fillRect(int x0, int y0, int x1, int y1, Pixel pixel);

  // Same size and pixels; padding bytes are not compared.
  bool samePixels(const Bitmap& other) const;

 private:
  Bitmap(int width, int height, std::size_t bytesPerRow, std::vector<uint8_t> data);
  static std::optional<std::size_t> checkedLayout(int pixelsWide, int pixelsHigh, std::size_t bytesPerRow);

  int width_;
  int height_;
  std::size_t bytesPerRow_;
  std::vector<uint8_t> data_;
};

}  // namespace img
