#include "Tincture/DominantColors.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <unordered_map>

#include "Tincture/AverageColor.h"
#include "Tincture/ColorDifference.h"
#include "platform/image/CoreImage.h"

namespace tincture {
namespace {

constexpr std::size_t kMaxCandidates = 500;
constexpr std::size_t kMaxColors = 8;
constexpr uint8_t kMinimumAlpha = 151;
constexpr double kMergeDifference = 10.0;

// The counting key: red, green and blue packed as 0xRRGGBB.
using RGB = uint32_t;

img::Color colorOf(RGB key) {
  return img::Color::colorWithRed(static_cast<double>((key >> 16) & 0xff) / 255.0,
                                  static_cast<double>((key >> 8) & 0xff) / 255.0,
                                  static_cast<double>(key & 0xff) / 255.0, 1.0);
}

struct Candidate {
  img::Color color;
  Lab lab;  // kept with the colour: the merge compares every pair
  double frequency;
};

double cie76(const Lab& l1, const Lab& l2) {
  const double dL = l1.L - l2.L;
  const double da = l1.a - l2.a;
  const double db = l1.b - l2.b;
  return rounded(std::sqrt(dL * dL + da * da + db * db), FloatingPointRoundingRule::toNearestOrEven, 100);
}

void sortByFrequency(std::vector<Candidate>& entries) {
  std::stable_sort(entries.begin(), entries.end(),
                   [](const Candidate& a, const Candidate& b) { return a.frequency > b.frequency; });
}

}  // namespace

std::optional<double> pixelBudget(DominantColorQuality quality) {
  switch (quality) {
    case DominantColorQuality::low: return 1'000.0;
    case DominantColorQuality::fair: return 10'000.0;
    case DominantColorQuality::high: return 100'000.0;
    case DominantColorQuality::best: return std::nullopt;
  }
  return std::nullopt;
}

int kMeansPasses(DominantColorQuality quality) {
  switch (quality) {
    case DominantColorQuality::low: return 1;
    case DominantColorQuality::fair: return 10;
    case DominantColorQuality::high: return 15;
    case DominantColorQuality::best: return 20;
  }
  return 1;
}

std::string ColorFrequency::description() const {
  return "Color: " + color_.description() + " - Frequency: " + img::shortestDecimal(frequency_);
}

std::vector<img::Color> dominantColors(const img::Image& image, DominantColorQuality with,
                                       DominantColorAlgorithm algorithm) {
  if (algorithm == DominantColorAlgorithm::kMeansClustering) return kMeansDominantColors(image, with);
  std::vector<img::Color> colors;
  for (const ColorFrequency& entry : dominantColorFrequencies(image, with)) colors.push_back(entry.color());
  return colors;
}

std::vector<ColorFrequency> dominantColorFrequencies(const img::Image& image, DominantColorQuality with) {
  const img::Size size = image.size();
  double w = size.width;
  double h = size.height;
  // A size that cannot be redrawn at all is reported like any other redraw
  // failure rather than trusted.
  if (!size.isFinite() || w < 0 || h < 0) throw ImageColorError(ImageColorError::cgImageFailure);
  if (const auto budget = pixelBudget(with); budget && w * h > *budget) {
    const double r = std::sqrt(w * h / *budget);
    w /= r;
    h /= r;
  }

  const auto redrawn = resized(image, img::Size{w, h});
  if (!redrawn) throw ImageColorError(ImageColorError::cgImageFailure);
  const auto bitmap = redrawn->cgImage();
  if (!bitmap) throw ImageColorError(ImageColorError::cgImageFailure);
  if (bitmap->bytes().empty()) throw ImageColorError(ImageColorError::cgImageDataFailure);

  // Count opaque enough pixels, read row by row through the bitmap's own
  // layout; keys keep the order in which they were first seen.
  std::unordered_map<RGB, std::size_t> slots;
  std::vector<std::pair<RGB, std::size_t>> counts;
  for (int y = 0; y < bitmap->pixelsHigh(); ++y) {
    const auto row = bitmap->row(y);
    for (std::size_t offset = 0; offset < row.size(); offset += img::Bitmap::kBytesPerPixel) {
      if (row[offset + 3] < kMinimumAlpha) continue;
      const RGB key = (RGB{row[offset]} << 16) | (RGB{row[offset + 1]} << 8) | RGB{row[offset + 2]};
      const auto [slot, inserted] = slots.try_emplace(key, counts.size());
      if (inserted) counts.emplace_back(key, 0);
      ++counts[slot->second].second;
    }
  }

  const double minimumCount = std::trunc(w * h * 0.0001);
  std::vector<Candidate> candidates;
  for (const auto& [key, count] : counts) {
    if (static_cast<double>(count) > minimumCount) {
      const img::Color color = colorOf(key);
      candidates.push_back({color, lab(color), static_cast<double>(count)});
    }
  }
  sortByFrequency(candidates);
  if (candidates.size() > kMaxCandidates) candidates.resize(kMaxCandidates);

  std::vector<Candidate> kept;
  for (const Candidate& candidate : candidates) {
    if (kept.empty()) {
      kept.push_back(candidate);
      continue;
    }
    std::size_t nearest = 0;
    double nearestDifference = cie76(candidate.lab, kept[0].lab);
    for (std::size_t i = 1; i < kept.size(); ++i) {
      const double d = cie76(candidate.lab, kept[i].lab);
      if (d < nearestDifference) {
        nearestDifference = d;
        nearest = i;
      }
    }
    if (nearestDifference < kMergeDifference) {
      kept[nearest].frequency += 1;
    } else {
      kept.push_back(candidate);
    }
  }

  if (kept.size() > kMaxColors) kept.resize(kMaxColors);
  sortByFrequency(kept);
  double total = 0;
  for (const Candidate& entry : kept) total += entry.frequency;
  std::vector<ColorFrequency> result;
  for (const Candidate& entry : kept) {
    const double share = (100.0 / (total / entry.frequency)) / 100.0;
    result.emplace_back(entry.color, rounded(share, FloatingPointRoundingRule::up, 100));
  }
  return result;
}

std::vector<img::Color> kMeansDominantColors(const img::Image& image, DominantColorQuality with) {
  const auto input = ciImage(image);
  if (!input) throw ImageColorError(ImageColorError::ciImageFailure);
  img::CIKMeans filter;
  filter.inputImage = *input;
  filter.inputExtent = input->extent();
  filter.inputCount = static_cast<int>(kMaxColors);
  filter.inputPasses = kMeansPasses(with);
  filter.inputPerceptual = true;
  const auto output = filter.outputImage();
  if (!output) throw ImageColorError(ImageColorError::outputImageFailure);
  const img::CIImage opaque = output->imageBySettingAlphaOneInExtent(output->extent());

  // Rendered into a buffer of the output's own size, whatever that is.
  const img::Rect extent = opaque.extent();
  const auto width = static_cast<std::size_t>(extent.width);
  const auto height = static_cast<std::size_t>(extent.height);
  std::vector<uint8_t> buffer(width * height * img::Bitmap::kBytesPerPixel);
  if (!img::CIContext().render(opaque, buffer, width * img::Bitmap::kBytesPerPixel, extent)) {
    throw ImageColorError(ImageColorError::outputImageFailure);
  }
  std::vector<img::Color> colors;
  for (std::size_t i = 0; i + 3 < buffer.size(); i += img::Bitmap::kBytesPerPixel) {
    colors.push_back(img::Color::colorWithRed(buffer[i] / 255.0, buffer[i + 1] / 255.0, buffer[i + 2] / 255.0,
                                              buffer[i + 3] / 255.0));
  }
  return colors;
}

}  // namespace tincture
