#include "Tincture/ColorPalette.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "Tincture/ColorDifference.h"

namespace tincture {
namespace {

double luminanceChannel(double c) { return c <= 0.03928 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4); }

double ratioValue(const img::Color& first, const img::Color& second) { return contrastRatio(first, second).ratio; }

}  // namespace

double relativeLuminance(const img::Color& color) {
  const RGBComponents c = rgb(color);
  const double l = 0.2126 * luminanceChannel(c.red) + 0.7152 * luminanceChannel(c.green) + 0.0722 * luminanceChannel(c.blue);
  return rounded(l, FloatingPointRoundingRule::toNearestOrEven, 1000);
}

ContrastRatioResult contrastRatio(const img::Color& color, const img::Color& with) {
  const double l1 = relativeLuminance(color);
  const double l2 = relativeLuminance(with);
  const double ratio =
      rounded((std::max(l1, l2) + 0.05) / (std::min(l1, l2) + 0.05), FloatingPointRoundingRule::toNearestOrEven, 100);
  using Kind = ContrastRatioResult::Kind;
  if (ratio >= 4.5) return {Kind::acceptable, ratio};
  if (ratio >= 3.0) return {Kind::acceptableForLargeText, ratio};
  return {Kind::low, ratio};
}

std::optional<ColorPalette> ColorPalette::withOrderedColors(const std::vector<img::Color>& orderedColors,
                                                            bool darkBackground, bool ignoreContrastRatio) {
  if (orderedColors.size() < 2) return std::nullopt;
  std::optional<img::Color> background;
  if (!darkBackground) {
    background = orderedColors.front();
  } else {
    const auto dark = std::find_if(orderedColors.begin(), orderedColors.end(),
                                   [](const img::Color& c) { return relativeLuminance(c) < 0.5; });
    if (dark == orderedColors.end()) return std::nullopt;
    background = *dark;
  }

  std::optional<img::Color> primary;
  std::optional<img::Color> secondary;
  for (const img::Color& color : orderedColors) {
    if (color == *background) continue;
    if (ignoreContrastRatio) {
      if (!primary) primary = color;
      else secondary = color;
    } else if (!primary && ratioValue(color, *background) >= 3.0) {
      primary = color;
    }
  }
  if (!primary) return std::nullopt;
  return ColorPalette{*background, *primary, secondary};
}

std::optional<ColorPalette> ColorPalette::withColors(const std::vector<img::Color>& colors, bool darkBackground,
                                                     bool ignoreContrastRatio) {
  if (colors.size() < 2) return std::nullopt;
  std::optional<img::Color> darkest;
  std::optional<img::Color> lightest;
  double darkestLuminance = std::numeric_limits<double>::max();
  double lightestLuminance = std::numeric_limits<double>::min();
  for (const img::Color& color : colors) {
    const double l = relativeLuminance(color);
    if (l < darkestLuminance) {
      darkest = color;
      darkestLuminance = l;
    }
    if (l > lightestLuminance) {
      lightest = color;
      lightestLuminance = l;
    }
  }
  if (!darkest || !lightest) return std::nullopt;
  if (!ignoreContrastRatio && contrastRatio(*darkest, *lightest).kind == ContrastRatioResult::Kind::low) {
    return std::nullopt;
  }
  const img::Color background = darkBackground ? *darkest : *lightest;
  const img::Color primary = darkBackground ? *lightest : *darkest;
  return ColorPalette{background, primary, secondaryColor(colors, ignoreContrastRatio, background, primary)};
}

std::optional<img::Color> ColorPalette::secondaryColor(const std::vector<img::Color>& in, bool ignoreContrastRatio,
                                                       const img::Color& background, const img::Color& primary) {
  using Kind = ColorDifferenceResult::Kind;
  for (const img::Color& color : in) {
    if (!ignoreContrastRatio && ratioValue(background, color) < 3.0) continue;
    const Kind fromBackground = difference(color, background, DeltaEFormula::CIE94).kind;
    if (fromBackground != Kind::different && fromBackground != Kind::far) continue;
    const Kind fromPrimary = difference(color, primary, DeltaEFormula::CIE94).kind;
    if (fromPrimary != Kind::near && fromPrimary != Kind::different && fromPrimary != Kind::far) continue;
    return color;
  }
  return std::nullopt;
}

}  // namespace tincture
