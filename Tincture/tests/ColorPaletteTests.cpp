#include <gtest/gtest.h>

#include "Tincture/ColorPalette.h"
#include "Tincture/tests/TestImages.h"

namespace {

using namespace tincture::testing;

using img::Color;
using tincture::ColorPalette;
using tincture::ContrastRatioResult;
using ContrastKind = ContrastRatioResult::Kind;

constexpr Color kGrey(0.5, 0.5, 0.5);

TEST(TinctureContrast, RelativeLuminanceOfKnownColours) {
  EXPECT_EQ(tincture::relativeLuminance(kWhiteColor), 1.0);
  EXPECT_EQ(tincture::relativeLuminance(kBlackColor), 0.0);
  EXPECT_EQ(tincture::relativeLuminance(kGrey), 0.214);
  EXPECT_EQ(tincture::relativeLuminance(kRedColor), 0.213);
  EXPECT_EQ(tincture::relativeLuminance(kBlueColor), 0.072);
}

TEST(TinctureContrast, RatiosOfKnownPairs) {
  EXPECT_EQ(tincture::contrastRatio(kBlackColor, kWhiteColor), (ContrastRatioResult{ContrastKind::acceptable, 21.0}));
  EXPECT_EQ(tincture::contrastRatio(kWhiteColor, kBlackColor), (ContrastRatioResult{ContrastKind::acceptable, 21.0}));
  EXPECT_EQ(tincture::contrastRatio(kRedColor, kRedColor), (ContrastRatioResult{ContrastKind::low, 1.0}));
  EXPECT_EQ(tincture::contrastRatio(Color(0.3, 0.6, 0.9), Color(0.3, 0.6, 0.9)), (ContrastRatioResult{ContrastKind::low, 1.0}));
  EXPECT_EQ(tincture::contrastRatio(kWhiteColor, kGrey), (ContrastRatioResult{ContrastKind::acceptableForLargeText, 3.98}));
  EXPECT_EQ(tincture::contrastRatio(kBlackColor, kGrey), (ContrastRatioResult{ContrastKind::acceptable, 5.28}));
  EXPECT_EQ(tincture::contrastRatio(kWhiteColor, kRedColor), (ContrastRatioResult{ContrastKind::acceptableForLargeText, 3.99}));
  // Greys of luminance 0.175 and 0.1 on black, 0.3 under white: the thresholds
  // count as reached, one step below them does not.
  auto grey = [](double v) { return Color(v, v, v); };
  EXPECT_EQ(tincture::contrastRatio(grey(0.455), kBlackColor), (ContrastRatioResult{ContrastKind::acceptable, 4.5}));
  EXPECT_EQ(tincture::contrastRatio(kBlackColor, grey(0.454)), (ContrastRatioResult{ContrastKind::acceptableForLargeText, 4.48}));
  EXPECT_EQ(tincture::contrastRatio(grey(0.349), kBlackColor), (ContrastRatioResult{ContrastKind::acceptableForLargeText, 3.0}));
  EXPECT_EQ(tincture::contrastRatio(kBlackColor, grey(0.348)), (ContrastRatioResult{ContrastKind::low, 2.98}));
  EXPECT_EQ(tincture::contrastRatio(kWhiteColor, grey(0.584)), (ContrastRatioResult{ContrastKind::acceptableForLargeText, 3.0}));
}

TEST(TincturePalette, FromDarkestAndLightest) {
  const auto palette = ColorPalette::withColors({kBlackColor, kWhiteColor}, true, false);
  ASSERT_TRUE(palette);
  EXPECT_EQ(palette->background, kBlackColor);
  EXPECT_EQ(palette->primary, kWhiteColor);
  EXPECT_FALSE(palette->secondary);

  const auto light = ColorPalette::withColors({kBlackColor, kWhiteColor}, false, false);
  EXPECT_EQ(light->background, kWhiteColor);
  EXPECT_EQ(light->primary, kBlackColor);

  EXPECT_FALSE(ColorPalette::withColors({kBlackColor, kBlackColor}, true, false));
  EXPECT_FALSE(ColorPalette::withColors({kBlackColor}, true, true));
  // Too little contrast, unless it is ignored.
  EXPECT_FALSE(ColorPalette::withColors({kGrey, Color(0.6, 0.6, 0.6)}, true, false));
  EXPECT_TRUE(ColorPalette::withColors({kGrey, Color(0.6, 0.6, 0.6)}, true, true));
}

TEST(TincturePalette, SecondaryStandsApartFromBoth) {
  // Dark background black, primary white; yellow is readable on black, far
  // from black and clearly not white.
  const auto palette = ColorPalette::withColors({kBlackColor, Color(0.1, 0.1, 0.1), Color(1, 1, 0), kWhiteColor}, true, false);
  ASSERT_TRUE(palette);
  EXPECT_EQ(palette->background, kBlackColor);
  EXPECT_EQ(palette->primary, kWhiteColor);
  EXPECT_EQ(palette->secondary, Color(1, 1, 0));

  // Near white is not distinct enough from the primary; blue is not readable
  // on black but passes when contrast is ignored.
  EXPECT_EQ(ColorPalette::secondaryColor({Color(0.99, 0.99, 0.99), kBlueColor}, false, kBlackColor, kWhiteColor), std::nullopt);
  EXPECT_EQ(ColorPalette::secondaryColor({Color(0.99, 0.99, 0.99), kBlueColor}, true, kBlackColor, kWhiteColor), kBlueColor);
}

TEST(TincturePalette, FromOrderedColours) {
  const auto palette = ColorPalette::withOrderedColors({kRedColor, kGreenColor, kBlueColor}, false, true);
  ASSERT_TRUE(palette);
  EXPECT_EQ(*palette, (ColorPalette{kRedColor, kGreenColor, kBlueColor}));

  const Color more[] = {Color(0.1, 0.2, 0.3), Color(0.4, 0.5, 0.6), Color(0.7, 0.8, 0.9), Color(0.2, 0.2, 0.9),
                        Color(0.9, 0.1, 0.1)};
  const auto five = ColorPalette::withOrderedColors({kRedColor, more[0], kRedColor, more[1], more[2], more[3], more[4]}, false, true);
  EXPECT_EQ(five->primary, more[0]);
  EXPECT_EQ(five->secondary, more[4]);

  // Light colours only: no dark background.
  EXPECT_FALSE(ColorPalette::withOrderedColors({kWhiteColor, Color(0.9, 0.9, 0.8), Color(1, 1, 0)}, true, true));
  EXPECT_FALSE(ColorPalette::withOrderedColors({kRedColor}, false, true));
  // Only copies of the background: no primary.
  EXPECT_FALSE(ColorPalette::withOrderedColors({kRedColor, kRedColor}, false, true));
}

TEST(TincturePalette, OrderedColoursWithContrastTakeTheFirstReadable) {
  // Dark blue fails 3:1 on black, grey passes and is taken, white comes too
  // late.
  const auto palette = ColorPalette::withOrderedColors({kBlackColor, Color(0, 0, 0.3), kGrey, kWhiteColor}, true, false);
  ASSERT_TRUE(palette);
  EXPECT_EQ(palette->background, kBlackColor);
  EXPECT_EQ(palette->primary, kGrey);
  EXPECT_FALSE(palette->secondary);

  EXPECT_FALSE(ColorPalette::withOrderedColors({kBlackColor, Color(0.1, 0.1, 0.1)}, true, false));
  // 2.98:1 is passed over, exactly 3:1 is taken.
  const Color three(0.349, 0.349, 0.349);
  EXPECT_EQ(ColorPalette::withOrderedColors({kBlackColor, Color(0.348, 0.348, 0.348), three}, true, false),
            (ColorPalette{kBlackColor, three, std::nullopt}));
}

TEST(TincturePalette, DarkBackgroundIsTheFirstDarkColour) {
  const Color lightGrey(0.8, 0.8, 0.8);
  const auto palette = ColorPalette::withOrderedColors({lightGrey, kBlackColor, kRedColor}, true, true);
  ASSERT_TRUE(palette);
  EXPECT_EQ(*palette, (ColorPalette{kBlackColor, lightGrey, kRedColor}));
}

}  // namespace
