#pragma once

#include <cmath>

namespace img {

// Sizes and rectangles of images. Point sizes for images, pixel coordinates
// (origin at the top-left pixel, y growing downwards) for bitmaps and the
// Core Image stand-ins.
struct Size {
  double width = 0;
  double height = 0;

  bool operator==(const Size&) const = default;
  bool isFinite() const { return std::isfinite(width) && std::isfinite(height); }
};

struct Rect {
  double x = 0;
  double y = 0;
  double width = 0;
  double height = 0;

  bool operator==(const Rect&) const = default;
  double maxX() const { return x + width; }
  double maxY() const { return y + height; }
  bool isFinite() const {
    return std::isfinite(x) && std::isfinite(y) && std::isfinite(width) && std::isfinite(height);
  }
  // Empty, or not a usable area at all.
  bool isEmpty() const { return !isFinite() || !(width > 0) || !(height > 0); }
  Size size() const { return {width, height}; }
};

}  // namespace img
