#pragma once

#include <optional>
#include <vector>

#include "platform/image/Color.h"

namespace tincture {

// WCAG 2 relative luminance, 0...1, rounded to three decimal places.
double relativeLuminance(const img::Color& color);

struct ContrastRatioResult {
  enum class Kind { acceptable, acceptableForLargeText, low };

  Kind kind = Kind::low;
  double ratio = 0;

  bool operator==(const ContrastRatioResult&) const = default;
};

// WCAG 2 contrast ratio, rounded to two decimal places: 4.5 and above
// acceptable, 3.0 and above acceptable for large text, below that low.
// Symmetric.
ContrastRatioResult contrastRatio(const img::Color& color, const img::Color& with);

// A background, a primary colour readable on it and an optional secondary.
struct ColorPalette {
  img::Color background;
  img::Color primary;
  std::optional<img::Color> secondary;

  bool operator==(const ColorPalette&) const = default;

  // From colours in order of preference: the first colour (or, on a dark
  // background, the first one of luminance below 0.5) as background, then the
  // first other colour as primary. Nothing from fewer than two colours or
  // without a primary.
  static std::optional<ColorPalette> withOrderedColors(const std::vector<img::Color>& orderedColors,
                                                       bool darkBackground, bool ignoreContrastRatio);
  // From the darkest and the lightest colour of the list, with a secondary
  // colour that stands apart from both.
  static std::optional<ColorPalette> withColors(const std::vector<img::Color>& colors, bool darkBackground,
                                                bool ignoreContrastRatio);
  // The first colour of the list readable on the background (unless the
  // contrast is ignored), clearly different from it (CIE94 above 10) and
  // distinct from the primary (CIE94 above 2).
  static std::optional<img::Color> secondaryColor(const std::vector<img::Color>& in, bool ignoreContrastRatio,
                                                  const img::Color& background, const img::Color& primary);
};

}  // namespace tincture
