#include "Tincture/AverageColor.h"

#include <array>
#include <cmath>
#include <cstdint>

#include "platform/image/Resample.h"

namespace tincture {
namespace {

std::optional<int> pixelCount(double points) {
  if (!std::isfinite(points)) return std::nullopt;
  const double whole = std::trunc(points);
  if (whole < 1 || whole > img::Bitmap::kMaxDimension) return std::nullopt;
  return static_cast<int>(whole);
}

}  // namespace

std::optional<img::CIImage> ciImage(const img::Image& image) {
  auto bitmap = image.cgImage();
  if (!bitmap) return std::nullopt;
  return img::CIImage(std::move(bitmap));
}

std::optional<img::Image> resized(const img::Image& image, img::Size to) {
  if (image.size() == to) return image;
  const auto width = pixelCount(to.width);
  const auto height = pixelCount(to.height);
  if (!width || !height) return std::nullopt;
  auto bitmap = img::drawImage(image, *width, *height);
  if (!bitmap) return std::nullopt;
  img::Image result(to);
  result.addRepresentation(std::move(*bitmap));
  return result;
}

img::Color averageColor(const img::Image& image) {
  const auto input = ciImage(image);
  if (!input) throw ImageColorError(ImageColorError::ciImageFailure);
  img::CIAreaAverage filter;
  filter.inputImage = *input;
  filter.inputExtent = input->extent();
  const auto output = filter.outputImage();
  if (!output) throw ImageColorError(ImageColorError::outputImageFailure);
  std::array<uint8_t, 4> pixel{};
  img::CIContext().render(*output, pixel, pixel.size(), img::Rect{0, 0, 1, 1});
  return img::Color::colorWithRed(pixel[0] / 255.0, pixel[1] / 255.0, pixel[2] / 255.0, pixel[3] / 255.0);
}

}  // namespace tincture
