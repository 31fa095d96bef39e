#include "platform/image/CoreImage.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <numeric>
#include <utility>

namespace img {
namespace {

// A pixel index from an extent edge, kept within 0...limit whatever the edge.
int pixelIndex(double edge, int limit) { return static_cast<int>(std::clamp(edge, 0.0, static_cast<double>(limit))); }

struct PixelRange {
  int x0, y0, x1, y1;
};

PixelRange touchedPixels(const Bitmap& bitmap, Rect extent) {
  return {pixelIndex(std::floor(extent.x), bitmap.pixelsWide()), pixelIndex(std::floor(extent.y), bitmap.pixelsHigh()),
          pixelIndex(std::ceil(extent.maxX()), bitmap.pixelsWide()),
          pixelIndex(std::ceil(extent.maxY()), bitmap.pixelsHigh())};
}

// The pixels of a bitmap that an extent touches, each with the part of it the
// extent covers.
template <typename Visit>
void forEachCoveredPixel(const Bitmap& bitmap, Rect extent, Visit&& visit) {
  const double ex0 = extent.x;
  const double ex1 = extent.maxX();
  const double ey0 = extent.y;
  const double ey1 = extent.maxY();
  const PixelRange range = touchedPixels(bitmap, extent);
  for (int y = range.y0; y < range.y1; ++y) {
    const double coverY = std::min(ey1, y + 1.0) - std::max(ey0, static_cast<double>(y));
    for (int x = range.x0; x < range.x1; ++x) {
      const double coverX = std::min(ex1, x + 1.0) - std::max(ex0, static_cast<double>(x));
      visit(bitmap.pixel(x, y), coverX * coverY);
    }
  }
}

double srgbToLinear(double c) { return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4); }
double linearToSrgb(double c) {
  c = std::clamp(c, 0.0, 1.0);
  return c <= 0.0031308 ? c * 12.92 : 1.055 * std::pow(c, 1.0 / 2.4) - 0.055;
}

using Point = std::array<double, 3>;

double distanceSquared(const Point& a, const Point& b) {
  const double d0 = a[0] - b[0];
  const double d1 = a[1] - b[1];
  const double d2 = a[2] - b[2];
  return d0 * d0 + d1 * d1 + d2 * d2;
}

struct WorkingSpace {
  bool perceptual;
  std::array<double, 256> table{};

  explicit WorkingSpace(bool perceptual) : perceptual(perceptual) {
    for (int i = 0; i < 256; ++i) table[static_cast<std::size_t>(i)] = perceptual ? i / 255.0 : srgbToLinear(i / 255.0);
  }
  Point point(uint8_t r, uint8_t g, uint8_t b) const { return {table[r], table[g], table[b]}; }
  Pixel pixel(const Point& p, uint8_t alpha) const {
    auto encode = [this](double c) {
      return channelByte((perceptual ? std::clamp(c, 0.0, 1.0) : linearToSrgb(c)) * 255.0);
    };
    return {encode(p[0]), encode(p[1]), encode(p[2]), alpha};
  }
};

// The distinct colours of the extent with their weights, ordered by 0xRRGGBB.
struct WeightedColors {
  std::vector<uint32_t> keys;
  std::vector<double> weights;
};

WeightedColors collectColors(const Bitmap& bitmap, Rect extent) {
  std::vector<std::pair<uint32_t, double>> samples;
  samples.reserve(static_cast<std::size_t>(bitmap.pixelsWide()) * static_cast<std::size_t>(bitmap.pixelsHigh()));
  forEachCoveredPixel(bitmap, extent, [&](Pixel p, double cover) {
    const double weight = p.a / 255.0 * cover;
    if (weight > 0) samples.emplace_back((uint32_t{p.r} << 16) | (uint32_t{p.g} << 8) | p.b, weight);
  });
  std::sort(samples.begin(), samples.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
  WeightedColors colors;
  for (const auto& [key, weight] : samples) {
    if (!colors.keys.empty() && colors.keys.back() == key) {
      colors.weights.back() += weight;
    } else {
      colors.keys.push_back(key);
      colors.weights.push_back(weight);
    }
  }
  return colors;
}

}  // namespace

CIImage::CIImage(std::shared_ptr<const Bitmap> bitmap) : bitmap_(std::move(bitmap)) {}

CIImage::CIImage(Bitmap bitmap) : bitmap_(std::make_shared<const Bitmap>(std::move(bitmap))) {}

Rect CIImage::extent() const {
  if (!bitmap_) return {};
  return {0, 0, static_cast<double>(bitmap_->pixelsWide()), static_cast<double>(bitmap_->pixelsHigh())};
}

CIImage CIImage::imageBySettingAlphaOneInExtent(Rect extent) const {
  if (!bitmap_ || extent.isEmpty()) return *this;
  Bitmap copy = *bitmap_;
  const PixelRange range = touchedPixels(copy, extent);
  for (int y = range.y0; y < range.y1; ++y) {
    for (int x = range.x0; x < range.x1; ++x) {
      Pixel p = copy.pixel(x, y);
      p.a = 255;
      copy.setPixel(x, y, p);
    }
  }
  return CIImage(std::move(copy));
}

std::optional<CIImage> CIAreaAverage::outputImage() const {
  if (inputImage.isEmpty() || inputExtent.isEmpty()) return std::nullopt;
  std::array<double, 3> colour{};
  double alpha = 0;
  forEachCoveredPixel(*inputImage.bitmap(), inputExtent, [&](Pixel p, double cover) {
    const double a = p.a / 255.0 * cover;
    colour[0] += p.r * a;
    colour[1] += p.g * a;
    colour[2] += p.b * a;
    alpha += a;
  });
  Pixel out{};
  if (alpha > 0)
    out = {channelByte(colour[0] / alpha), channelByte(colour[1] / alpha), channelByte(colour[2] / alpha), 0};
  out.a = channelByte(alpha / (inputExtent.width * inputExtent.height) * 255.0);
  auto bitmap = Bitmap::filled(1, 1, out);
  return CIImage(std::move(*bitmap));
}

std::optional<CIImage> CIKMeans::outputImage() const {
  if (inputImage.isEmpty() || inputExtent.isEmpty()) return std::nullopt;
  if (inputCount < 1 || inputCount > 128 || inputPasses < 0 || inputPasses > 20) return std::nullopt;
  const auto count = static_cast<std::size_t>(inputCount);
  const WorkingSpace space(inputPerceptual);
  const WeightedColors colors = collectColors(*inputImage.bitmap(), inputExtent);
  const std::size_t n = colors.keys.size();

  std::vector<Point> points(n);
  for (std::size_t i = 0; i < n; ++i) {
    const uint32_t k = colors.keys[i];
    points[i] = space.point(static_cast<uint8_t>(k >> 16), static_cast<uint8_t>(k >> 8), static_cast<uint8_t>(k));
  }

  std::vector<Point> means;
  if (inputMeans.size() == count) {
    for (const Pixel& p : inputMeans) means.push_back(space.point(p.r, p.g, p.b));
  } else if (n > 0) {
    const auto heaviest = std::max_element(colors.weights.begin(), colors.weights.end()) - colors.weights.begin();
    means.push_back(points[static_cast<std::size_t>(heaviest)]);
    std::vector<double> nearest(n);
    for (std::size_t i = 0; i < n; ++i) nearest[i] = distanceSquared(points[i], means[0]);
    while (means.size() < count) {
      std::size_t best = 0;
      double bestScore = 0;
      for (std::size_t i = 0; i < n; ++i) {
        const double score = colors.weights[i] * nearest[i];
        if (score > bestScore) {
          bestScore = score;
          best = i;
        }
      }
      if (bestScore <= 0) {
        means.resize(count, means[0]);
        break;
      }
      means.push_back(points[best]);
      for (std::size_t i = 0; i < n; ++i) nearest[i] = std::min(nearest[i], distanceSquared(points[i], points[best]));
    }
  } else {
    means.assign(count, Point{0, 0, 0});
  }

  std::vector<std::size_t> assignment(n, count);
  auto assign = [&]() {
    bool changed = false;
    for (std::size_t i = 0; i < n; ++i) {
      std::size_t best = 0;
      double bestDistance = distanceSquared(points[i], means[0]);
      for (std::size_t c = 1; c < count; ++c) {
        const double d = distanceSquared(points[i], means[c]);
        if (d < bestDistance) {
          bestDistance = d;
          best = c;
        }
      }
      if (assignment[i] != best) {
        assignment[i] = best;
        changed = true;
      }
    }
    return changed;
  };

  for (int pass = 0; pass < inputPasses; ++pass) {
    if (!assign() && pass > 0) break;
    std::vector<Point> sums(count, Point{0, 0, 0});
    std::vector<double> totals(count, 0.0);
    for (std::size_t i = 0; i < n; ++i) {
      const std::size_t c = assignment[i];
      for (int j = 0; j < 3; ++j) sums[c][static_cast<std::size_t>(j)] += points[i][static_cast<std::size_t>(j)] * colors.weights[i];
      totals[c] += colors.weights[i];
    }
    for (std::size_t c = 0; c < count; ++c) {
      if (totals[c] > 0) {
        for (int j = 0; j < 3; ++j) means[c][static_cast<std::size_t>(j)] = sums[c][static_cast<std::size_t>(j)] / totals[c];
      }
    }
  }
  assign();

  std::vector<double> clusterWeights(count, 0.0);
  double total = 0;
  for (std::size_t i = 0; i < n; ++i) {
    clusterWeights[assignment[i]] += colors.weights[i];
    total += colors.weights[i];
  }
  std::vector<std::size_t> order(count);
  std::iota(order.begin(), order.end(), std::size_t{0});
  std::stable_sort(order.begin(), order.end(),
                   [&](std::size_t a, std::size_t b) { return clusterWeights[a] > clusterWeights[b]; });

  auto output = Bitmap::create(inputCount, 1);
  for (std::size_t i = 0; i < count; ++i) {
    const std::size_t c = order[i];
    const uint8_t alpha = total > 0 ? channelByte(clusterWeights[c] / total * 255.0) : 0;
    output->setPixel(static_cast<int>(i), 0, space.pixel(means[c], alpha));
  }
  return CIImage(std::move(*output));
}

bool CIContext::render(const CIImage& image, std::span<uint8_t> buffer, std::size_t rowBytes, Rect bounds) const {
  if (bounds.isEmpty() || bounds.x != std::floor(bounds.x) || bounds.y != std::floor(bounds.y) ||
      bounds.width != std::floor(bounds.width) || bounds.height != std::floor(bounds.height) ||
      bounds.width > Bitmap::kMaxDimension || bounds.height > Bitmap::kMaxDimension) {
    return false;
  }
  const auto width = static_cast<std::size_t>(bounds.width);
  const auto height = static_cast<std::size_t>(bounds.height);
  const std::size_t rowLength = width * Bitmap::kBytesPerPixel;
  if (rowBytes < rowLength) return false;
  if (height > 1 && (rowBytes > buffer.size() || (buffer.size() - rowLength) / rowBytes < height - 1)) return false;
  if (buffer.size() < rowLength) return false;

  const Bitmap* bitmap = image.bitmap().get();
  for (std::size_t row = 0; row < height; ++row) {
    uint8_t* out = buffer.data() + row * rowBytes;
    const double y = bounds.y + static_cast<double>(row);
    for (std::size_t column = 0; column < width; ++column) {
      const double x = bounds.x + static_cast<double>(column);
      Pixel p{};
      if (bitmap && x >= 0 && y >= 0 && x < bitmap->pixelsWide() && y < bitmap->pixelsHigh()) {
        p = bitmap->pixel(static_cast<int>(x), static_cast<int>(y));
      }
      out[column * 4 + 0] = p.r;
      out[column * 4 + 1] = p.g;
      out[column * 4 + 2] = p.b;
      out[column * 4 + 3] = p.a;
    }
  }
  return true;
}

}  // namespace img
