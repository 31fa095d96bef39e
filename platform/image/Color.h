#pragma once

#include <string>

namespace img {

// A colour as the application's colour objects hold it: red, green, blue and
// alpha in sRGB, nominally 0...1 (values outside are kept as given). Equal when
// all four components are equal, as the platform compares colours of one
// colour space.
class Color {
 public:
  constexpr Color() = default;
  constexpr Color(double red, double green, double blue, double alpha = 1.0)
      : red_(red), green_(green), blue_(blue), alpha_(alpha) {}

  // colorWithRed:green:blue:alpha:
  static constexpr Color colorWithRed(double red, double green, double blue, double alpha) {
    return Color(red, green, blue, alpha);
  }
  // colorWithWhite:alpha:, a grey.
  static constexpr Color colorWithWhite(double white, double alpha) { return Color(white, white, white, alpha); }

  static constexpr Color blackColor() { return Color(0, 0, 0, 1); }
  static constexpr Color whiteColor() { return Color(1, 1, 1, 1); }
  static constexpr Color grayColor() { return Color(0.5, 0.5, 0.5, 1); }
  static constexpr Color clearColor() { return Color(0, 0, 0, 0); }

  constexpr double redComponent() const { return red_; }
  constexpr double greenComponent() const { return green_; }
  constexpr double blueComponent() const { return blue_; }
  constexpr double alphaComponent() const { return alpha_; }

  // "sRGB 1 0 0.5 1": the colour space then the four components.
  std::string description() const;

  constexpr bool operator==(const Color&) const = default;

 private:
  double red_ = 0;
  double green_ = 0;
  double blue_ = 0;
  double alpha_ = 0;
};

// The shortest decimal text that reads back as the same double ("0.37",
// "1.0", "nan").
std::string shortestDecimal(double value);

}  // namespace img
