#include "platform/image/Resample.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

namespace img {
namespace {

// The source taps of one destination pixel along one axis.
struct Taps {
  int first = 0;
  std::vector<double> weights;
};

std::vector<Taps> axisTaps(int source, int destination) {
  std::vector<Taps> taps(static_cast<std::size_t>(destination));
  if (destination < source) {
    // Area average: destination pixel i covers [i·s, (i+1)·s) of the source.
    const double scale = static_cast<double>(source) / destination;
    for (int i = 0; i < destination; ++i) {
      const double start = i * scale;
      const double end = std::min(static_cast<double>(source), (i + 1) * scale);
      const int first = static_cast<int>(std::floor(start));
      const int last = std::min(source - 1, static_cast<int>(std::ceil(end)) - 1);
      Taps& t = taps[static_cast<std::size_t>(i)];
      t.first = first;
      double total = 0;
      for (int j = first; j <= last; ++j) {
        const double cover = std::min(end, j + 1.0) - std::max(start, static_cast<double>(j));
        t.weights.push_back(std::max(0.0, cover));
        total += t.weights.back();
      }
      for (double& w : t.weights) w /= total;
    }
  } else {
    // Bilinear between pixel centres, edges clamped.
    const double scale = static_cast<double>(source) / destination;
    for (int i = 0; i < destination; ++i) {
      double pos = (i + 0.5) * scale - 0.5;
      pos = std::clamp(pos, 0.0, static_cast<double>(source - 1));
      const int first = static_cast<int>(std::floor(pos));
      const double frac = pos - first;
      Taps& t = taps[static_cast<std::size_t>(i)];
      t.first = first;
      t.weights.push_back(1.0 - frac);
      if (frac > 0 && first + 1 < source) t.weights.push_back(frac);
    }
  }
  return taps;
}

using Premultiplied = std::array<double, 4>;

}  // namespace

std::optional<Bitmap> redraw(const Bitmap& source, int pixelsWide, int pixelsHigh) {
  auto result = Bitmap::create(pixelsWide, pixelsHigh);
  if (!result) return std::nullopt;
  const int sw = source.pixelsWide();
  const int sh = source.pixelsHigh();
  const auto xTaps = axisTaps(sw, pixelsWide);
  const auto yTaps = axisTaps(sh, pixelsHigh);

  // Horizontal pass: sh rows of pixelsWide, each source row premultiplied
  // once on the way in.
  std::vector<Premultiplied> srcRow(static_cast<std::size_t>(sw));
  std::vector<Premultiplied> horizontal(static_cast<std::size_t>(pixelsWide) * sh);
  for (int y = 0; y < sh; ++y) {
    for (int x = 0; x < sw; ++x) {
      const Pixel p = source.pixel(x, y);
      const double a = p.a / 255.0;
      srcRow[static_cast<std::size_t>(x)] = {p.r * a, p.g * a, p.b * a, static_cast<double>(p.a)};
    }
    for (int x = 0; x < pixelsWide; ++x) {
      const Taps& t = xTaps[static_cast<std::size_t>(x)];
      Premultiplied sum{};
      for (std::size_t k = 0; k < t.weights.size(); ++k) {
        const Premultiplied& p = srcRow[static_cast<std::size_t>(t.first) + k];
        for (int c = 0; c < 4; ++c) sum[c] += p[c] * t.weights[k];
      }
      horizontal[static_cast<std::size_t>(y) * pixelsWide + x] = sum;
    }
  }

  // Vertical pass, then back to straight alpha.
  for (int y = 0; y < pixelsHigh; ++y) {
    const Taps& t = yTaps[static_cast<std::size_t>(y)];
    for (int x = 0; x < pixelsWide; ++x) {
      Premultiplied sum{};
      for (std::size_t k = 0; k < t.weights.size(); ++k) {
        const Premultiplied& p = horizontal[static_cast<std::size_t>(t.first + static_cast<int>(k)) * pixelsWide + x];
        for (int c = 0; c < 4; ++c) sum[c] += p[c] * t.weights[k];
      }
      const uint8_t alpha = channelByte(sum[3]);
      if (alpha == 0) {
        result->setPixel(x, y, Pixel{0, 0, 0, 0});
        continue;
      }
      const double a = sum[3] / 255.0;
      result->setPixel(x, y, Pixel{channelByte(sum[0] / a), channelByte(sum[1] / a), channelByte(sum[2] / a), alpha});
    }
  }
  return result;
}

std::optional<Bitmap> drawImage(const Image& image, int pixelsWide, int pixelsHigh) {
  const auto source = image.bestRepresentation();
  if (!source) return std::nullopt;
  return redraw(*source, pixelsWide, pixelsHigh);
}

}  // namespace img
