#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Tincture/Localization.h"
#include "platform/image/Color.h"

namespace tincture {

// A named colour: the colour, its localization key and its localized name.
struct ColorName {
  img::Color color;
  std::string key;
  std::string name;
};
using ColorNameTable = std::vector<ColorName>;

// The name tables, localized with the library's string table, built once on
// first use (safe from any thread) and kept for the life of the process.
const ColorNameTable& primaryColorNames();
const ColorNameTable& secondaryColorNames();
const ColorNameTable& tertiaryColorNames();
const ColorNameTable& grayShadeNames();
// Grey shades, then tertiary, secondary and primary colours merged in; a
// later entry replaces an earlier one of an equal colour in its place.
const ColorNameTable& allColorNames();
// The same merged table localized with another string table.
ColorNameTable allColorNames(const StringTable& table);

// The entry nearest to the colour by CIE94 (this colour first, rounded to two
// decimal places); on equal differences the entry met first.
const ColorName& nearestColorName(const img::Color& color, const ColorNameTable& names = allColorNames());
// The localized name of the nearest named colour.
std::string name(const img::Color& color);

// "#rrggbb" of red, green and blue clamped to 0...1, times 255, truncated.
std::string hexString(const img::Color& color);

// A colour from "#RGB", "#RRGGBB" or "#AARRGGBB" (any case; ASCII characters
// other than letters and digits, and whitespace and line breaks of any kind,
// around the digits are ignored). Hexadecimal digits of any other count give
// opaque black; a text that is not all hexadecimal digits yields nothing.
std::optional<img::Color> colorWithHex(std::string_view hex);

// Red, green and blue mirrored (255 − c × 255) ÷ 255; alpha kept.
img::Color complementaryColor(const img::Color& color);

// A source of uniformly distributed 64-bit values.
class RandomNumberGenerator {
 public:
  virtual ~RandomNumberGenerator() = default;
  virtual uint64_t next() = 0;
};

// The system's random source.
class SystemRandomNumberGenerator final : public RandomNumberGenerator {
 public:
  uint64_t next() override;
};

// A uniform whole number below bound (bound > 0): 64 bits at a time, mapped by
// multiplication, with the biased low range rejected.
uint64_t randomBelow(RandomNumberGenerator& generator, uint64_t bound);
// A uniform value in the closed range 0...1: u × 2^−53 for u in 0...2^53.
double randomUnitClosed(RandomNumberGenerator& generator);

// Red, green and blue drawn uniformly (in that order) in 0...255 and divided
// by 255; alpha 1, or a fourth uniform draw in 0...1 when not opaque.
img::Color randomColor(bool opaque);
img::Color randomColor(bool opaque, RandomNumberGenerator& generator);

}  // namespace tincture
