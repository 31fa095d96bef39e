#pragma once
// Fonts. Every font is drawn and measured as DejaVu Sans (bold for semibold
// and heavier weights) at the given size in points, whatever the design, so
// text metrics are the same on every machine.

namespace ui {

enum class FontWeight { ultraLight, thin, light, regular, medium, semibold, bold, heavy, black };
// SwiftUI's `.default` design is `standard` here (default is a C++ keyword).
enum class FontDesign { standard, serif, rounded, monospaced };

struct Font {
  double size = 13;
  FontWeight weight = FontWeight::regular;
  FontDesign design = FontDesign::standard;

  bool operator==(const Font&) const = default;
  bool isBold() const { return weight >= FontWeight::semibold; }
  Font bold() const { return {size, FontWeight::bold, design}; }
  Font weighted(FontWeight w) const { return {size, w, design}; }

  static constexpr Font system(double size, FontWeight weight = FontWeight::regular,
                               FontDesign design = FontDesign::standard) {
    return {size, weight, design};
  }
  // The macOS text styles.
  static constexpr Font largeTitle() { return {26}; }
  static constexpr Font title() { return {22}; }
  static constexpr Font title2() { return {17}; }
  static constexpr Font title3() { return {15}; }
  static constexpr Font headline() { return {13, FontWeight::bold}; }
  static constexpr Font body() { return {13}; }
  static constexpr Font callout() { return {12}; }
  static constexpr Font subheadline() { return {11}; }
  static constexpr Font footnote() { return {10}; }
  static constexpr Font caption() { return {10}; }
};

}  // namespace ui
