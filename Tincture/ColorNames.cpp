#include "Tincture/ColorNames.h"

#include <sys/random.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <limits>
#include <random>

#include "Tincture/ColorDifference.h"

namespace tincture {
namespace {

struct NamedColor {
  const char* key;
  img::Color color;
  const char* comment;
};

const NamedColor kPrimary[] = {
    {"tincture.color.name.primary.red", img::Color::colorWithRed(1, 0, 0, 1), "red"},
    {"tincture.color.name.primary.green", img::Color::colorWithRed(0, 1, 0, 1), "green"},
    {"tincture.color.name.primary.blue", img::Color::colorWithRed(0, 0, 1, 1), "blue"},
};
const NamedColor kSecondary[] = {
    {"tincture.color.name.secondary.yellow", img::Color::colorWithRed(1, 1, 0, 1), "yellow"},
    {"tincture.color.name.secondary.magenta", img::Color::colorWithRed(1, 0, 1, 1), "magenta"},
    {"tincture.color.name.secondary.cyan", img::Color::colorWithRed(0, 1, 1, 1), "cyan"},
};
const NamedColor kTertiary[] = {
    {"tincture.color.name.tertiary.azure", img::Color::colorWithRed(0, 0.5, 1, 1), "azure"},
    {"tincture.color.name.tertiary.violet", img::Color::colorWithRed(0.5, 0, 1, 1), "violet"},
    {"tincture.color.name.tertiary.rose", img::Color::colorWithRed(1, 0, 0.5, 1), "rose"},
    {"tincture.color.name.tertiary.orange", img::Color::colorWithRed(1, 0.5, 0, 1), "orange"},
    {"tincture.color.name.tertiary.chartreuse", img::Color::colorWithRed(0.5, 1, 0, 1), "chartreuse"},
    {"tincture.color.name.tertiary.sprint_green", img::Color::colorWithRed(0, 1, 0.5, 1), "spring green"},
};
const NamedColor kGrayShades[] = {
    {"tincture.color.name.gray_shade.black", img::Color::blackColor(), "black"},
    {"tincture.color.name.gray_shade.white", img::Color::whiteColor(), "white"},
    {"tincture.color.name.gray_shade.gray", img::Color::grayColor(), "gray"},
};

template <std::size_t N>
ColorNameTable localized(const NamedColor (&colors)[N], const StringTable& table) {
  ColorNameTable names;
  for (const NamedColor& c : colors) names.push_back({c.color, c.key, localizedString(c.key, "", c.comment, table)});
  return names;
}

void merge(ColorNameTable& into, const ColorNameTable& from) {
  for (const ColorName& entry : from) {
    const auto same = std::find_if(into.begin(), into.end(), [&](const ColorName& e) { return e.color == entry.color; });
    if (same != into.end()) *same = entry;
    else into.push_back(entry);
  }
}

bool isAsciiAlphanumeric(unsigned char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// Whitespace and line breaks beyond ASCII (the Unicode White_Space set).
bool isUnicodeSpace(char32_t c) {
  return c == 0x85 || c == 0xA0 || c == 0x1680 || (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 ||
         c == 0x202F || c == 0x205F || c == 0x3000;
}

// The code point at the front or the back of a UTF-8 text and its length in
// bytes; {0, 0} when the bytes there are not well-formed UTF-8.
std::pair<char32_t, size_t> decodeAt(std::string_view text, bool back) {
  size_t start = 0;
  if (back) {
    start = text.size() - 1;
    while (start > 0 && text.size() - start < 4 && (static_cast<unsigned char>(text[start]) & 0xC0) == 0x80) --start;
  }
  const auto lead = static_cast<unsigned char>(text[start]);
  const size_t length = lead < 0x80 ? 1 : (lead >> 5) == 0x6 ? 2 : (lead >> 4) == 0xE ? 3 : (lead >> 3) == 0x1E ? 4 : 0;
  if (length == 0 || start + length > text.size() || (back && start + length != text.size())) return {0, 0};
  char32_t c = length == 1 ? lead : lead & (0x7F >> length);
  for (size_t i = 1; i < length; ++i) {
    const auto next = static_cast<unsigned char>(text[start + i]);
    if ((next & 0xC0) != 0x80) return {0, 0};
    c = (c << 6) | (next & 0x3F);
  }
  return {c, length};
}

// ASCII characters other than letters and digits ("#", spaces, line breaks)
// and whitespace of any kind are trimmed. Other non-ASCII characters are
// kept: they are not hexadecimal digits, so a text with them at either end is
// refused rather than guessed at.
size_t trimmedLength(std::string_view text, bool back) {
  const auto [c, length] = decodeAt(text, back);
  if (length == 0) return 0;
  if (c < 0x80) return isAsciiAlphanumeric(static_cast<unsigned char>(c)) ? 0 : 1;
  return isUnicodeSpace(c) ? length : 0;
}

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

uint8_t clampedByte(double component) {
  if (!(component > 0)) return 0;  // NaN too
  if (component >= 1) return 255;
  return static_cast<uint8_t>(component * 255.0);
}

}  // namespace

const ColorNameTable& primaryColorNames() {
  static const ColorNameTable names = localized(kPrimary, bundleStringTable());
  return names;
}

const ColorNameTable& secondaryColorNames() {
  static const ColorNameTable names = localized(kSecondary, bundleStringTable());
  return names;
}

const ColorNameTable& tertiaryColorNames() {
  static const ColorNameTable names = localized(kTertiary, bundleStringTable());
  return names;
}

const ColorNameTable& grayShadeNames() {
  static const ColorNameTable names = localized(kGrayShades, bundleStringTable());
  return names;
}

ColorNameTable allColorNames(const StringTable& table) {
  ColorNameTable names = localized(kGrayShades, table);
  merge(names, localized(kTertiary, table));
  merge(names, localized(kSecondary, table));
  merge(names, localized(kPrimary, table));
  return names;
}

const ColorNameTable& allColorNames() {
  static const ColorNameTable names = [] {
    ColorNameTable all = grayShadeNames();
    merge(all, tertiaryColorNames());
    merge(all, secondaryColorNames());
    merge(all, primaryColorNames());
    return all;
  }();
  return names;
}

const ColorName& nearestColorName(const img::Color& color, const ColorNameTable& names) {
  // An empty table from a caller has no nearest entry; the library's own always has one.
  if (names.empty()) return nearestColorName(color, allColorNames());
  const ColorName* best = &names.front();
  double bestDifference = std::numeric_limits<double>::infinity();
  for (const ColorName& entry : names) {
    const double d = difference(color, entry.color, DeltaEFormula::CIE94).value;
    if (d < bestDifference) {
      bestDifference = d;
      best = &entry;
    }
  }
  return *best;
}

std::string name(const img::Color& color) { return nearestColorName(color).name; }

std::string hexString(const img::Color& color) {
  const RGBComponents c = rgb(color);
  const unsigned value = (unsigned{clampedByte(c.red)} << 16) | (unsigned{clampedByte(c.green)} << 8) |
                         unsigned{clampedByte(c.blue)};
  char text[8];
  std::snprintf(text, sizeof text, "#%06x", value);
  return text;
}

std::optional<img::Color> colorWithHex(std::string_view hex) {
  while (!hex.empty()) {
    const size_t n = trimmedLength(hex, false);
    if (n == 0) break;
    hex.remove_prefix(n);
  }
  while (!hex.empty()) {
    const size_t n = trimmedLength(hex, true);
    if (n == 0) break;
    hex.remove_suffix(n);
  }
  // The whole text must be hexadecimal digits; a text that only starts with
  // them ("12345g", "0x12") is no colour at all. Digits beyond 64 bits only
  // make a length that gives opaque black.
  if (hex.empty()) return std::nullopt;
  uint64_t v = 0;
  for (char c : hex) {
    const int digit = hexDigit(c);
    if (digit < 0) return std::nullopt;
    v = (v << 4) | static_cast<uint64_t>(digit);
  }
  uint64_t r = 0, g = 0, b = 0, a = 255;
  if (hex.size() != 3 && hex.size() != 6 && hex.size() != 8) {
    // Other lengths are opaque black.
  } else if (hex.size() == 3) {
    r = (v >> 8) * 17;
    g = ((v >> 4) & 15) * 17;
    b = (v & 15) * 17;
  } else if (hex.size() == 6) {
    r = v >> 16;
    g = (v >> 8) & 255;
    b = v & 255;
  } else {
    a = v >> 24;
    r = (v >> 16) & 255;
    g = (v >> 8) & 255;
    b = v & 255;
  }
  return img::Color::colorWithRed(r / 255.0, g / 255.0, b / 255.0, a / 255.0);
}

img::Color complementaryColor(const img::Color& color) {
  const RGBComponents c = rgb(color);
  auto mirror = [](double v) { return (255.0 - v * 255.0) / 255.0; };
  return img::Color::colorWithRed(mirror(c.red), mirror(c.green), mirror(c.blue), alpha(color));
}

uint64_t SystemRandomNumberGenerator::next() {
  uint64_t value = 0;
  auto* bytes = reinterpret_cast<unsigned char*>(&value);
  std::size_t filled = 0;
  while (filled < sizeof value) {
    const ssize_t n = ::getrandom(bytes + filled, sizeof value - filled, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      // No kernel source: fall back to the library's nondeterministic one.
      static thread_local std::random_device device;
      return (uint64_t{device()} << 32) ^ device();
    }
    filled += static_cast<std::size_t>(n);
  }
  return value;
}

uint64_t randomBelow(RandomNumberGenerator& generator, uint64_t bound) {
  unsigned __int128 product = static_cast<unsigned __int128>(generator.next()) * bound;
  auto low = static_cast<uint64_t>(product);
  if (low < bound) {
    const uint64_t threshold = (0 - bound) % bound;
    while (low < threshold) {
      product = static_cast<unsigned __int128>(generator.next()) * bound;
      low = static_cast<uint64_t>(product);
    }
  }
  return static_cast<uint64_t>(product >> 64);
}

double randomUnitClosed(RandomNumberGenerator& generator) {
  constexpr uint64_t kSteps = uint64_t{1} << 53;
  return static_cast<double>(randomBelow(generator, kSteps + 1)) * 0x1p-53;
}

img::Color randomColor(bool opaque, RandomNumberGenerator& generator) {
  const double r = randomUnitClosed(generator) * 255.0 / 255.0;
  const double g = randomUnitClosed(generator) * 255.0 / 255.0;
  const double b = randomUnitClosed(generator) * 255.0 / 255.0;
  const double a = opaque ? 1.0 : randomUnitClosed(generator);
  return img::Color::colorWithRed(r, g, b, a);
}

img::Color randomColor(bool opaque) {
  SystemRandomNumberGenerator generator;
  return randomColor(opaque, generator);
}

}  // namespace tincture
