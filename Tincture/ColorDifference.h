#pragma once

#include "platform/image/Color.h"

namespace tincture {

// Components of a colour as the library reads them: red, green, blue and
// alpha in 0...1. Every other conversion starts here.
double red(const img::Color& color);
double green(const img::Color& color);
double blue(const img::Color& color);
double alpha(const img::Color& color);

struct RGBComponents {
  double red = 0;
  double green = 0;
  double blue = 0;
  bool operator==(const RGBComponents&) const = default;
};
RGBComponents rgb(const img::Color& color);

// CMYK, 0...1. Black is (0, 0, 0, 1).
double key(const img::Color& color);
double cyan(const img::Color& color);
double magenta(const img::Color& color);
double yellow(const img::Color& color);

// CIE XYZ on the scale 0...100 (white Y = 100), sRGB primaries, D65; each
// component rounded to two decimal places.
struct XYZ {
  double X = 0;
  double Y = 0;
  double Z = 0;
  bool operator==(const XYZ&) const = default;
};
XYZ xyz(const RGBComponents& rgb);
XYZ xyz(const img::Color& color);

// CIE Lab from XYZ (reference white 95.047, 100.0, 108.883); each component
// rounded to two decimal places.
struct Lab {
  double L = 0;
  double a = 0;
  double b = 0;
  bool operator==(const Lab&) const = default;
};
Lab lab(const XYZ& xyz);
Lab lab(const img::Color& color);

enum class DeltaEFormula { euclidean, CIE76, CIE94, CIEDE2000 };

// A difference with its verbal class. Equal when the class and the value are
// equal; ordered by the value alone, whatever the class.
struct ColorDifferenceResult {
  enum class Kind { indentical, similar, close, near, different, far };

  Kind kind = Kind::indentical;
  double value = 0;

  bool operator==(const ColorDifferenceResult&) const = default;
  friend bool operator<(const ColorDifferenceResult& l, const ColorDifferenceResult& r) { return l.value < r.value; }
  friend bool operator>(const ColorDifferenceResult& l, const ColorDifferenceResult& r) { return r < l; }
  friend bool operator<=(const ColorDifferenceResult& l, const ColorDifferenceResult& r) { return !(r < l); }
  friend bool operator>=(const ColorDifferenceResult& l, const ColorDifferenceResult& r) { return !(l < r); }
};

// The difference between color (the first colour of the formula) and from,
// rounded to two decimal places (half to even), then classified.
ColorDifferenceResult difference(const img::Color& color, const img::Color& from, DeltaEFormula formula);

// CIE94 with graphic-arts weights, unrounded; weighted by the chroma of the
// first colour, so not symmetric.
double deltaE94(const img::Color& first, const img::Color& second);
double deltaE94(const Lab& first, const Lab& second);
// CIEDE2000 (kL = kC = kH = 1), unrounded.
double deltaE2000(const Lab& first, const Lab& second);

// 0 indentical; up to 1 similar; up to 2 close; up to 10 near; up to 50
// different; anything else (not-a-number included) far.
ColorDifferenceResult classification(double difference);

enum class FloatingPointRoundingRule {
  toNearestOrAwayFromZero,
  toNearestOrEven,
  up,
  down,
  towardZero,
  awayFromZero,
};

// The rule applied to value x scale, divided by scale.
double rounded(double value, FloatingPointRoundingRule rule, int scale);

}  // namespace tincture
