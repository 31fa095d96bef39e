#pragma once

#include <optional>
#include <string>
#include <vector>

#include "Tincture/ImageColorError.h"
#include "platform/image/Color.h"
#include "platform/image/Image.h"

namespace tincture {

// How much of the image the analyses look at: the pixel budget of the
// iterative algorithm (1,000 / 10,000 / 100,000 / the whole image) and the
// passes of the k-means filter (1 / 10 / 15 / 20).
enum class DominantColorQuality { low, fair, high, best };

enum class DominantColorAlgorithm { iterative, kMeansClustering };

// The pixel budget of a quality; nothing for best (the image's own size).
std::optional<double> pixelBudget(DominantColorQuality quality);
// The k-means passes of a quality.
int kMeansPasses(DominantColorQuality quality);

// A colour with its frequency: a pixel count while counting, a share of the
// total (0...1) in the result of the iterative algorithm.
class ColorFrequency {
 public:
  ColorFrequency(img::Color color, double frequency) : color_(color), frequency_(frequency) {}

  const img::Color& color() const { return color_; }
  double frequency() const { return frequency_; }
  void setFrequency(double frequency) { frequency_ = frequency; }

  // "Color: <colour's description> - Frequency: <shortest decimal>".
  std::string description() const;

 private:
  img::Color color_;
  double frequency_;
};

// The image's dominant colours by either algorithm: for iterative the colours
// of dominantColorFrequencies() in their order, for kMeansClustering the
// result of kMeansDominantColors(). Throws ImageColorError.
std::vector<img::Color> dominantColors(const img::Image& image, DominantColorQuality with,
                                       DominantColorAlgorithm algorithm);

// The iterative algorithm: counts the opaque pixels of a copy scaled down to
// the pixel budget, drops rare colours, merges colours that lie closer than 10
// in Lab (CIE76) and returns at most 8 colours with their shares, largest
// first. Throws ImageColorError::cgImageFailure when the image cannot be
// redrawn or has no bitmap. A fully transparent image gives no colours.
std::vector<ColorFrequency> dominantColorFrequencies(const img::Image& image, DominantColorQuality with);

// The k-means algorithm: 8 opaque cluster colours, heaviest first. Throws
// ImageColorError::ciImageFailure when the image has no usable bitmap.
std::vector<img::Color> kMeansDominantColors(const img::Image& image, DominantColorQuality with);

}  // namespace tincture
