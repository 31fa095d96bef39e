#include <gtest/gtest.h>

#include "Tincture/ColorPalette.h"

namespace {

using img::Color;
using tincture::ColorPalette;
using tincture::ContrastRatioResult;
using Kind = ContrastRatioResult::Kind;

constexpr Color kBlack(0, 0, 0);
constexpr Color kWhite(1, 1, 1);
constexpr Color kGrey(0.5, 0.5, 0.5);
constexpr Color kRed(1, 0, 0);
constexpr Color kGreen(0, 1, 0);
constexpr Color kBlue(0, 0, 1);

TEST(TinctureContrast, RelativeLuminanceOfKnownColours) {
  EXPECT_EQ(tincture::relativeLuminance(kWhite), 1.0);
  EXPECT_EQ(tincture::relativeLuminance(kBlack), 0.0);
  EXPECT_EQ(tincture::relativeLuminance(kGrey), 0.214);
  EXPECT_EQ(tincture::relativeLuminance(kRed), 0.213);
  EXPECT_EQ(tincture::relativeLuminance(kBlue), 0.072);
}

TEST(TinctureContrast, RatiosOfKnownPairs) {
  EXPECT_EQ(tincture::contrastRatio(kBlack, kWhite), (ContrastRatioResult{Kind::acceptable, 21.0}));
  EXPECT_EQ(tincture::contrastRatio(kWhite, kBlack), (ContrastRatioResult{Kind::acceptable, 21.0}));
  EXPECT_EQ(tincture::contrastRatio(kRed, kRed), (ContrastRatioResult{Kind::low, 1.0}));
  EXPECT_EQ(tincture::contrastRatio(Color(0.3, 0.6, 0.9), Color(0.3, 0.6, 0.9)), (ContrastRatioResult{Kind::low, 1.0}));
  EXPECT_EQ(tincture::contrastRatio(kWhite, kGrey), (ContrastRatioResult{Kind::acceptableForLargeText, 3.98}));
  EXPECT_EQ(tincture::contrastRatio(kBlack, kGrey), (ContrastRatioResult{Kind::acceptable, 5.28}));
  EXPECT_EQ(tincture::contrastRatio(kWhite, kRed), (ContrastRatioResult{Kind::acceptableForLargeText, 3.99}));
}

TEST(TincturePalette, FromDarkestAndLightest) {
  const auto palette = ColorPalette::withColors({kBlack, kWhite}, true, false);
  ASSERT_TRUE(palette);
  EXPECT_EQ(palette->background, kBlack);
  EXPECT_EQ(palette->primary, kWhite);
  EXPECT_FALSE(palette->secondary);

  const auto light = ColorPalette::withColors({kBlack, kWhite}, false, false);
  EXPECT_EQ(light->background, kWhite);
  EXPECT_EQ(light->primary, kBlack);

  EXPECT_FALSE(ColorPalette::withColors({kBlack, kBlack}, true, false));
  EXPECT_FALSE(ColorPalette::withColors({kBlack}, true, true));
  // Too little contrast, unless it is ignored.
  EXPECT_FALSE(ColorPalette::withColors({kGrey, Color(0.6, 0.6, 0.6)}, true, false));
  EXPECT_TRUE(ColorPalette::withColors({kGrey, Color(0.6, 0.6, 0.6)}, true, true));
}

TEST(TincturePalette, SecondaryStandsApartFromBoth) {
  // Dark background black, primary white; yellow is readable on black, far
  // from black and clearly not white.
  const auto palette = ColorPalette::withColors({kBlack, Color(0.1, 0.1, 0.1), Color(1, 1, 0), kWhite}, true, false);
  ASSERT_TRUE(palette);
  EXPECT_EQ(palette->background, kBlack);
  EXPECT_EQ(palette->primary, kWhite);
  EXPECT_EQ(palette->secondary, Color(1, 1, 0));

  // Near white is not distinct enough from the primary; blue is not readable
  // on black but passes when contrast is ignored.
  EXPECT_EQ(ColorPalette::secondaryColor({Color(0.99, 0.99, 0.99), kBlue}, false, kBlack, kWhite), std::nullopt);
  EXPECT_EQ(ColorPalette::secondaryColor({Color(0.99, 0.99, 0.99), kBlue}, true, kBlack, kWhite), kBlue);
}

TEST(TincturePalette, FromOrderedColours) {
  const auto palette = ColorPalette::withOrderedColors({kRed, kGreen, kBlue}, false, true);
  ASSERT_TRUE(palette);
  EXPECT_EQ(*palette, (ColorPalette{kRed, kGreen, kBlue}));

  const Color more[] = {Color(0.1, 0.2, 0.3), Color(0.4, 0.5, 0.6), Color(0.7, 0.8, 0.9), Color(0.2, 0.2, 0.9),
                        Color(0.9, 0.1, 0.1)};
  const auto five = ColorPalette::withOrderedColors({kRed, more[0], kRed, more[1], more[2], more[3], more[4]}, false, true);
  EXPECT_EQ(five->primary, more[0]);
  EXPECT_EQ(five->secondary, more[4]);

  // Light colours only: no dark background.
  EXPECT_FALSE(ColorPalette::withOrderedColors({kWhite, Color(0.9, 0.9, 0.8), Color(1, 1, 0)}, true, true));
  EXPECT_FALSE(ColorPalette::withOrderedColors({kRed}, false, true));
  // Only copies of the background: no primary.
  EXPECT_FALSE(ColorPalette::withOrderedColors({kRed, kRed}, false, true));
}

TEST(TincturePalette, OrderedColoursWithContrastTakeTheFirstReadable) {
  // Dark blue fails 3:1 on black, grey passes and is taken, white comes too
  // late.
  const auto palette = ColorPalette::withOrderedColors({kBlack, Color(0, 0, 0.3), kGrey, kWhite}, true, false);
  ASSERT_TRUE(palette);
  EXPECT_EQ(palette->background, kBlack);
  EXPECT_EQ(palette->primary, kGrey);
  EXPECT_FALSE(palette->secondary);

  EXPECT_FALSE(ColorPalette::withOrderedColors({kBlack, Color(0.1, 0.1, 0.1)}, true, false));
}

TEST(TincturePalette, DarkBackgroundIsTheFirstDarkColour) {
  const Color lightGrey(0.8, 0.8, 0.8);
  const auto palette = ColorPalette::withOrderedColors({lightGrey, kBlack, kRed}, true, true);
  ASSERT_TRUE(palette);
  EXPECT_EQ(*palette, (ColorPalette{kBlack, lightGrey, kRed}));
}

}  // namespace
