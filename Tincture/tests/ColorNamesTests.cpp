#include <gtest/gtest.h>

#include <cmath>
#include <deque>
#include <set>

#include "Tincture/ColorNames.h"

namespace {

using img::Color;

TEST(TinctureColorNames, NearestNamedColour) {
  EXPECT_EQ(tincture::name(Color(1, 0, 0)), "red");
  EXPECT_EQ(tincture::nearestColorName(Color(1, 0, 0)).key, "tincture.color.name.primary.red");
  EXPECT_EQ(tincture::name(Color(0.9, 0.1, 0.1)), "red");
  EXPECT_EQ(tincture::name(Color(0.05, 0.05, 0.05)), "black");
  EXPECT_EQ(tincture::name(Color(0.95, 0.55, 0.05)), "orange");
  EXPECT_EQ(tincture::name(Color(0.45, 0.5, 0.5)), "gray");
  // Every named colour is its own nearest name.
  for (const tincture::ColorName& entry : tincture::allColorNames()) {
    EXPECT_EQ(tincture::nearestColorName(entry.color).key, entry.key);
  }
}

TEST(TinctureColorNames, TablesAndMergeOrder) {
  EXPECT_EQ(tincture::primaryColorNames().size(), 3u);
  EXPECT_EQ(tincture::secondaryColorNames().size(), 3u);
  EXPECT_EQ(tincture::tertiaryColorNames().size(), 6u);
  EXPECT_EQ(tincture::grayShadeNames().size(), 3u);
  const auto& all = tincture::allColorNames();
  ASSERT_EQ(all.size(), 15u);
  EXPECT_EQ(all.front().key, "tincture.color.name.gray_shade.black");
  EXPECT_EQ(all.back().key, "tincture.color.name.primary.blue");
  EXPECT_EQ(&all, &tincture::allColorNames());  // built once
  std::set<std::string> names;
  for (const auto& entry : all) names.insert(entry.name);
  EXPECT_EQ(names.size(), 15u);
  EXPECT_EQ(tincture::tertiaryColorNames().back().name, "spring green");
}

TEST(TinctureColorNames, WithoutAStringTableTheNameIsTheKey) {
  const tincture::ColorNameTable bare = tincture::allColorNames(tincture::StringTable());
  EXPECT_EQ(tincture::nearestColorName(Color(0, 1, 0.5), bare).name, "tincture.color.name.tertiary.sprint_green");
  EXPECT_EQ(tincture::localizedString("missing.key", "", "comment"), "missing.key");
  EXPECT_EQ(tincture::localizedString("missing.key", "fallback", "comment"), "fallback");
  EXPECT_EQ(tincture::localizedString("tincture.color.name.gray_shade.gray", "", "gray"), "gray");
}

TEST(TinctureColorNames, AnEmptyTableFallsBackToTheLibrarysOwn) {
  EXPECT_EQ(tincture::nearestColorName(Color(1, 0, 0), tincture::ColorNameTable{}).key,
            "tincture.color.name.primary.red");
}

TEST(TinctureHex, StringsOfKnownColours) {
  EXPECT_EQ(tincture::hexString(Color(1, 0, 0)), "#ff0000");
  EXPECT_EQ(tincture::hexString(Color(0, 0, 0)), "#000000");
  EXPECT_EQ(tincture::hexString(Color(0.5, 0.5, 0.5)), "#7f7f7f");
  EXPECT_EQ(tincture::hexString(Color(0.2, 0.4, 0.6, 0.1)), "#336699");
  // Out-of-range components are clamped rather than spilling into their
  // neighbours' digits.
  EXPECT_EQ(tincture::hexString(Color(1.5, -0.2, std::nan(""))), "#ff0000");
  EXPECT_EQ(tincture::hexString(Color(0, 2, 0)), "#00ff00");
}

TEST(TinctureHex, ParsesTheThreeForms) {
  EXPECT_EQ(tincture::colorWithHex("#FFF"), Color(1, 1, 1, 1));
  EXPECT_EQ(tincture::colorWithHex("ff8000"), Color(1, 128 / 255.0, 0, 1));
  EXPECT_EQ(tincture::colorWithHex("80FF0000"), Color(1, 0, 0, 128 / 255.0));
  EXPECT_EQ(tincture::colorWithHex("  #0a0B0c\n"), Color(10 / 255.0, 11 / 255.0, 12 / 255.0, 1));
  EXPECT_EQ(tincture::colorWithHex("(#abc)"), Color(0xaa / 255.0, 0xbb / 255.0, 0xcc / 255.0, 1));
  // Whitespace and line breaks of any kind: no-break, ideographic and thin
  // spaces, next line, line and paragraph separators.
  EXPECT_EQ(tincture::colorWithHex("\u00a0#FFF\u3000"), Color(1, 1, 1, 1));
  EXPECT_EQ(tincture::colorWithHex("\u2028\u0085 ff8000\u2029\u202f\r\n"), Color(1, 128 / 255.0, 0, 1));
}

TEST(TinctureHex, RefusesEverythingElse) {
  for (const char* text : {"zz", "12345g", "0xFFFFFF", "0xFF", "#ff 800", "", "#", "\u00a0", "f\xc3\xa9" "f",
                           "\xc3\xa9" "fff", "#ff80\xc3\xa9", "fff\xa0", "\xe2\x80" "fff"}) {
    EXPECT_EQ(tincture::colorWithHex(text), std::nullopt) << text;
  }
  // Punctuation around the digits is trimmed away, as "#" is.
  EXPECT_EQ(tincture::colorWithHex("-fff"), Color(1, 1, 1, 1));
  EXPECT_EQ(tincture::colorWithHex("+ff8000;"), Color(1, 128 / 255.0, 0, 1));
}

TEST(TinctureHex, OtherLengthsOfPureHexAreOpaqueBlack) {
  for (const char* text : {"12345", "f", "ff80001", "fff0000ff", "ffffffffffffffff", "12345678901234567",
                           " #00000000000000000000000000000000000000ff\n"}) {
    EXPECT_EQ(tincture::colorWithHex(text), Color(0, 0, 0, 1)) << text;
  }
}

TEST(TinctureHex, RoundTrips) {
  for (int v = 0; v < 256; v += 5) {
    const Color c(v / 255.0, (255 - v) / 255.0, (v * 7 % 256) / 255.0, 1);
    const auto parsed = tincture::colorWithHex(tincture::hexString(c));
    ASSERT_TRUE(parsed);
    EXPECT_EQ(*parsed, c);
  }
  EXPECT_EQ(tincture::hexString(*tincture::colorWithHex("#c0ffee")), "#c0ffee");
}

TEST(TinctureComplementary, MirrorsTheComponents) {
  EXPECT_EQ(tincture::complementaryColor(Color(1, 0, 0, 0.4)), Color(0, 1, 1, 0.4));
  EXPECT_EQ(tincture::complementaryColor(Color(0.2, 0.5, 1)), Color(0.8, 0.5, 0));
}

class ScriptedGenerator : public tincture::RandomNumberGenerator {
 public:
  explicit ScriptedGenerator(std::deque<uint64_t> values) : values_(std::move(values)) {}
  uint64_t next() override {
    ++draws;
    const uint64_t v = values_.front();
    values_.pop_front();
    return v;
  }
  int draws = 0;

 private:
  std::deque<uint64_t> values_;
};

constexpr uint64_t kHalf = uint64_t{1} << 63;
constexpr uint64_t kAll = ~uint64_t{0};

TEST(TinctureRandomColor, DrawsThreeOrFourUniformValues) {
  ScriptedGenerator opaque({kHalf, kAll, 0x4000000000000000});
  EXPECT_EQ(tincture::randomColor(true, opaque), Color(0.5, 1.0, 0.25, 1.0));
  EXPECT_EQ(opaque.draws, 3);

  ScriptedGenerator translucent({kHalf, kHalf, kHalf, kAll});
  EXPECT_EQ(tincture::randomColor(false, translucent), Color(0.5, 0.5, 0.5, 1.0));
  EXPECT_EQ(translucent.draws, 4);
}

TEST(TinctureRandomColor, BiasedLowRangeIsDrawnAgain) {
  // 0 falls in the rejected low range of 2^53 + 1 values.
  ScriptedGenerator generator({0, kAll, kHalf, kHalf});
  EXPECT_EQ(tincture::randomColor(true, generator), Color(1.0, 0.5, 0.5, 1.0));
  EXPECT_EQ(generator.draws, 4);
}

TEST(TinctureRandomColor, SystemSourceStaysInRange) {
  std::set<double> reds;
  for (int i = 0; i < 50; ++i) {
    const Color c = tincture::randomColor(i % 2 == 0);
    for (double v : {c.redComponent(), c.greenComponent(), c.blueComponent(), c.alphaComponent()}) {
      EXPECT_GE(v, 0.0);
      EXPECT_LE(v, 1.0);
    }
    if (i % 2 == 0) {
      EXPECT_EQ(c.alphaComponent(), 1.0);
    }
    reds.insert(c.redComponent());
  }
  EXPECT_GT(reds.size(), 40u);
}

}  // namespace
