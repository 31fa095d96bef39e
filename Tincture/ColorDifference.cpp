#include "Tincture/ColorDifference.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace tincture {
namespace {

constexpr double kDegrees = 180.0 / std::numbers::pi;

double round2(double value) { return rounded(value, FloatingPointRoundingRule::toNearestOrEven, 100); }

double linearPercent(double c) { return (c > 0.04045 ? std::pow((c + 0.055) / 1.055, 2.4) : c / 12.92) * 100.0; }

double labF(double t) { return t > 0.008856 ? std::cbrt(t) : 7.787 * t + 16.0 / 116.0; }

double deltaE76(const Lab& l1, const Lab& l2) {
  const double dL = l1.L - l2.L;
  const double da = l1.a - l2.a;
  const double db = l1.b - l2.b;
  return std::sqrt(dL * dL + da * da + db * db);
}

double euclidean(const img::Color& c1, const img::Color& c2) {
  const RGBComponents a = rgb(c1);
  const RGBComponents b = rgb(c2);
  const double dr = a.red * 255 - b.red * 255;
  const double dg = a.green * 255 - b.green * 255;
  const double db = a.blue * 255 - b.blue * 255;
  return std::sqrt(dr * dr + dg * dg + db * db);
}

double hueAngle(double b, double a) {
  if (a == 0 && b == 0) return 0;
  const double h = std::atan2(b, a) * kDegrees;
  return h < 0 ? h + 360.0 : h;
}

}  // namespace

double red(const img::Color& color) { return color.redComponent(); }
double green(const img::Color& color) { return color.greenComponent(); }
double blue(const img::Color& color) { return color.blueComponent(); }
double alpha(const img::Color& color) { return color.alphaComponent(); }

RGBComponents rgb(const img::Color& color) { return {red(color), green(color), blue(color)}; }

double key(const img::Color& color) { return 1.0 - std::max({red(color), green(color), blue(color)}); }

namespace {
// Black (K = 1) has no chromatic part: 0 rather than 0 ÷ 0.
double cmykComponent(double component, double k) {
  const double rest = 1.0 - k;
  if (!(rest > 0)) return 0;
  return (1.0 - component - k) / rest;
}
}  // namespace

double cyan(const img::Color& color) { return cmykComponent(red(color), key(color)); }
double magenta(const img::Color& color) { return cmykComponent(green(color), key(color)); }
double yellow(const img::Color& color) { return cmykComponent(blue(color), key(color)); }

XYZ xyz(const RGBComponents& c) {
  const double r = linearPercent(c.red);
  const double g = linearPercent(c.green);
  const double b = linearPercent(c.blue);
  return {round2(0.4124 * r + 0.3576 * g + 0.1805 * b), round2(0.2126 * r + 0.7152 * g + 0.0722 * b),
          round2(0.0193 * r + 0.1192 * g + 0.9505 * b)};
}

XYZ xyz(const img::Color& color) { return xyz(rgb(color)); }

Lab lab(const XYZ& c) {
  const double fx = labF(c.X / 95.047);
  const double fy = labF(c.Y / 100.0);
  const double fz = labF(c.Z / 108.883);
  return {round2(116.0 * fy - 16.0), round2(500.0 * (fx - fy)), round2(200.0 * (fy - fz))};
}

Lab lab(const img::Color& color) { return lab(xyz(color)); }

double deltaE94(const Lab& l1, const Lab& l2) {
  const double dL = l1.L - l2.L;
  const double da = l1.a - l2.a;
  const double db = l1.b - l2.b;
  const double c1 = std::sqrt(l1.a * l1.a + l1.b * l1.b);
  const double c2 = std::sqrt(l2.a * l2.a + l2.b * l2.b);
  const double dC = c1 - c2;
  // Never below zero in exact arithmetic; rounding can push colours of one
  // hue a hair under it, which would make the root not-a-number.
  const double dH = std::sqrt(std::max(0.0, da * da + db * db - dC * dC));
  const double sC = 1.0 + 0.045 * c1;
  const double sH = 1.0 + 0.015 * c1;
  const double c = dC / sC;
  const double h = dH / sH;
  return std::sqrt(dL * dL + c * c + h * h);
}

double deltaE94(const img::Color& first, const img::Color& second) { return deltaE94(lab(first), lab(second)); }

double deltaE2000(const Lab& l1, const Lab& l2) {
  const double c1 = std::hypot(l1.a, l1.b);
  const double c2 = std::hypot(l2.a, l2.b);
  const double cMean7 = std::pow((c1 + c2) / 2.0, 7.0);
  const double twentyFive7 = 6103515625.0;  // 25^7
  const double g = 0.5 * (1.0 - std::sqrt(cMean7 / (cMean7 + twentyFive7)));
  const double a1 = (1.0 + g) * l1.a;
  const double a2 = (1.0 + g) * l2.a;
  const double c1p = std::hypot(a1, l1.b);
  const double c2p = std::hypot(a2, l2.b);
  const double h1p = hueAngle(l1.b, a1);
  const double h2p = hueAngle(l2.b, a2);

  const double dLp = l2.L - l1.L;
  const double dCp = c2p - c1p;
  double dhp = 0;
  if (c1p * c2p != 0) {
    dhp = h2p - h1p;
    if (dhp > 180) dhp -= 360;
    else if (dhp < -180) dhp += 360;
  }
  const double dHp = 2.0 * std::sqrt(c1p * c2p) * std::sin(dhp / 2.0 / kDegrees);

  const double lMean = (l1.L + l2.L) / 2.0;
  const double cMeanP = (c1p + c2p) / 2.0;
  double hMean = h1p + h2p;
  if (c1p * c2p != 0) {
    if (std::fabs(h1p - h2p) <= 180) hMean /= 2.0;
    else if (h1p + h2p < 360) hMean = (hMean + 360.0) / 2.0;
    else hMean = (hMean - 360.0) / 2.0;
  }
  const double t = 1.0 - 0.17 * std::cos((hMean - 30.0) / kDegrees) + 0.24 * std::cos(2.0 * hMean / kDegrees) +
                   0.32 * std::cos((3.0 * hMean + 6.0) / kDegrees) - 0.20 * std::cos((4.0 * hMean - 63.0) / kDegrees);
  const double dTheta = 30.0 * std::exp(-std::pow((hMean - 275.0) / 25.0, 2.0));
  const double cMeanP7 = std::pow(cMeanP, 7.0);
  const double rC = 2.0 * std::sqrt(cMeanP7 / (cMeanP7 + twentyFive7));
  const double lOffset = (lMean - 50.0) * (lMean - 50.0);
  const double sL = 1.0 + 0.015 * lOffset / std::sqrt(20.0 + lOffset);
  const double sC = 1.0 + 0.045 * cMeanP;
  const double sH = 1.0 + 0.015 * cMeanP * t;
  const double rT = -std::sin(2.0 * dTheta / kDegrees) * rC;

  const double l = dLp / sL;
  const double c = dCp / sC;
  const double h = dHp / sH;
  return std::sqrt(l * l + c * c + h * h + rT * c * h);
}

ColorDifferenceResult classification(double d) {
  using Kind = ColorDifferenceResult::Kind;
  Kind kind = Kind::far;
  if (d == 0) kind = Kind::indentical;
  else if (d <= 1) kind = Kind::similar;
  else if (d <= 2) kind = Kind::close;
  else if (d <= 10) kind = Kind::near;
  else if (d <= 50) kind = Kind::different;
  return {kind, d};
}

ColorDifferenceResult difference(const img::Color& color, const img::Color& from, DeltaEFormula formula) {
  double d = 0;
  switch (formula) {
    case DeltaEFormula::euclidean: d = euclidean(color, from); break;
    case DeltaEFormula::CIE76: d = deltaE76(lab(color), lab(from)); break;
    case DeltaEFormula::CIE94: d = deltaE94(color, from); break;
    case DeltaEFormula::CIEDE2000: d = deltaE2000(lab(color), lab(from)); break;
  }
  return classification(round2(d));
}

double rounded(double value, FloatingPointRoundingRule rule, int scale) {
  const double x = value * scale;
  double r = x;
  switch (rule) {
    case FloatingPointRoundingRule::toNearestOrAwayFromZero: r = std::round(x); break;
    case FloatingPointRoundingRule::toNearestOrEven:
      r = std::round(x);
      if (std::fabs(x - std::trunc(x)) == 0.5) r = 2.0 * std::round(x / 2.0);
      break;
    case FloatingPointRoundingRule::up: r = std::ceil(x); break;
    case FloatingPointRoundingRule::down: r = std::floor(x); break;
    case FloatingPointRoundingRule::towardZero: r = std::trunc(x); break;
    case FloatingPointRoundingRule::awayFromZero: r = x < 0 ? std::floor(x) : std::ceil(x); break;
  }
  return r / scale;
}

}  // namespace tincture
