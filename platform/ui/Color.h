#pragma once
// Colours of the view toolkit: sRGB red, green, blue and opacity in 0...1,
// with the system colours of the light appearance the views name.

#include <string>

#include "platform/image/Color.h"

namespace ui {

struct Color {
  double r = 0;
  double g = 0;
  double b = 0;
  double a = 0;

  constexpr Color() = default;
  constexpr Color(double red, double green, double blue, double alpha = 1.0) : r(red), g(green), b(blue), a(alpha) {}
  static constexpr Color fromNS(const img::Color& c) {
    return {c.redComponent(), c.greenComponent(), c.blueComponent(), c.alphaComponent()};
  }
  img::Color toNS() const { return img::Color(r, g, b, a); }

  bool operator==(const Color&) const = default;

  // The same colour with its opacity multiplied by `opacity`.
  constexpr Color opacity(double opacity) const { return {r, g, b, a * opacity}; }

  static constexpr Color clear() { return {0, 0, 0, 0}; }
  static constexpr Color black() { return {0, 0, 0, 1}; }
  static constexpr Color white() { return {1, 1, 1, 1}; }
  static constexpr Color gray() { return {0.557, 0.557, 0.576, 1}; }
  static constexpr Color red() { return {1.0, 0.231, 0.188, 1}; }
  static constexpr Color green() { return {0.204, 0.780, 0.349, 1}; }
  static constexpr Color blue() { return {0.0, 0.478, 1.0, 1}; }
  static constexpr Color orange() { return {1.0, 0.584, 0.0, 1}; }
  static constexpr Color yellow() { return {1.0, 0.8, 0.0, 1}; }

  // NSColor's system colours (light appearance).
  static constexpr Color labelColor() { return {0, 0, 0, 0.85}; }
  static constexpr Color secondaryLabelColor() { return {0, 0, 0, 0.5}; }
  static constexpr Color tertiaryLabelColor() { return {0, 0, 0, 0.26}; }
  static constexpr Color controlAccentColor() { return {0.0, 0.478, 1.0, 1}; }
  static constexpr Color controlTextColor() { return {0, 0, 0, 0.85}; }
  static constexpr Color disabledControlTextColor() { return {0, 0, 0, 0.25}; }
  static constexpr Color controlBackgroundColor() { return {1, 1, 1, 1}; }
  static constexpr Color controlColor() { return {1, 1, 1, 1}; }
  static constexpr Color windowBackgroundColor() { return {0.925, 0.925, 0.925, 1}; }
  static constexpr Color separatorColor() { return {0, 0, 0, 0.1}; }
  static constexpr Color shadowColor() { return {0, 0, 0, 1}; }

  // "rgba(1 0 0.5 1)".
  std::string description() const;
};

}  // namespace ui
