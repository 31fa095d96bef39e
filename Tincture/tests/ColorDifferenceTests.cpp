#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "Tincture/ColorDifference.h"
#include "Tincture/tests/TestImages.h"

namespace {

using namespace tincture::testing;

using img::Color;
using tincture::ColorDifferenceResult;
using tincture::DeltaEFormula;
using tincture::Lab;
using DifferenceKind = ColorDifferenceResult::Kind;


// The inverse conversions, to bring colours back from Lab and CMYK.
tincture::XYZ xyzFromLab(const Lab& lab) {
  const double fy = (lab.L + 16) / 116;
  const double fx = fy + lab.a / 500;
  const double fz = fy - lab.b / 200;
  auto finv = [](double f) { return f * f * f > 0.008856 ? f * f * f : (f - 16.0 / 116.0) / 7.787; };
  return {finv(fx) * 95.047, finv(fy) * 100.0, finv(fz) * 108.883};
}

tincture::RGBComponents rgbFromXYZ(const tincture::XYZ& xyz) {
  // Inverse of the matrix the library uses (sRGB primaries, D65).
  const double x = xyz.X / 100, y = xyz.Y / 100, z = xyz.Z / 100;
  const double r = 3.2406 * x - 1.5372 * y - 0.4986 * z;
  const double g = -0.9689 * x + 1.8758 * y + 0.0415 * z;
  const double b = 0.0557 * x - 0.2040 * y + 1.0570 * z;
  auto encode = [](double c) { return c > 0.0031308 ? 1.055 * std::pow(c, 1 / 2.4) - 0.055 : 12.92 * c; };
  return {encode(r), encode(g), encode(b)};
}

TEST(TinctureColorSpaces, KnownColoursInXYZAndLab) {
  EXPECT_EQ(tincture::xyz(kWhiteColor), (tincture::XYZ{95.05, 100.0, 108.9}));
  EXPECT_EQ(tincture::lab(kWhiteColor), (Lab{100.0, 0.01, -0.01}));
  EXPECT_EQ(tincture::xyz(kRedColor), (tincture::XYZ{41.24, 21.26, 1.93}));
  EXPECT_EQ(tincture::lab(kRedColor), (Lab{53.23, 80.11, 67.22}));
  EXPECT_EQ(tincture::xyz(kBlackColor), (tincture::XYZ{0, 0, 0}));
  EXPECT_EQ(tincture::lab(kBlackColor), (Lab{0, 0, 0}));
  // Published sRGB references, to the library's two decimals.
  const Lab green = tincture::lab(kGreenColor);
  EXPECT_NEAR(green.L, 87.73, 0.02);
  EXPECT_NEAR(green.a, -86.18, 0.02);
  EXPECT_NEAR(green.b, 83.18, 0.02);
  const Lab blue = tincture::lab(kBlueColor);
  EXPECT_NEAR(blue.L, 32.30, 0.02);
  EXPECT_NEAR(blue.a, 79.19, 0.02);
  EXPECT_NEAR(blue.b, -107.86, 0.02);
}

TEST(TinctureColorSpaces, ColoursGoThroughEverySpaceAndBack) {
  const Color colours[] = {kRedColor,  kGreenColor, kBlueColor, kWhiteColor, kBlackColor, Color(0.5, 0.5, 0.5), Color(0.2, 0.4, 0.6),
                           Color(0.9, 0.1, 0.75), Color(0.03, 0.02, 0.01), Color(1, 0.5, 0)};
  for (const Color& c : colours) {
    SCOPED_TRACE(c.description());
    const auto back = rgbFromXYZ(xyzFromLab(tincture::lab(c)));
    EXPECT_NEAR(back.red, c.redComponent(), 0.004);
    EXPECT_NEAR(back.green, c.greenComponent(), 0.004);
    EXPECT_NEAR(back.blue, c.blueComponent(), 0.004);

    const double k = tincture::key(c);
    EXPECT_NEAR((1 - tincture::cyan(c)) * (1 - k), c.redComponent(), 1e-12);
    EXPECT_NEAR((1 - tincture::magenta(c)) * (1 - k), c.greenComponent(), 1e-12);
    EXPECT_NEAR((1 - tincture::yellow(c)) * (1 - k), c.blueComponent(), 1e-12);
  }
}

TEST(TinctureColorSpaces, CMYKOfBlackIsKeyOnly) {
  EXPECT_EQ(tincture::key(kBlackColor), 1.0);
  EXPECT_EQ(tincture::cyan(kBlackColor), 0.0);
  EXPECT_EQ(tincture::magenta(kBlackColor), 0.0);
  EXPECT_EQ(tincture::yellow(kBlackColor), 0.0);
  EXPECT_EQ(tincture::key(kRedColor), 0.0);
  EXPECT_EQ(tincture::cyan(kRedColor), 0.0);
  EXPECT_EQ(tincture::magenta(kRedColor), 1.0);
  EXPECT_EQ(tincture::yellow(kRedColor), 1.0);
  EXPECT_DOUBLE_EQ(tincture::key(Color(0.5, 0.25, 0)), 0.5);
  EXPECT_DOUBLE_EQ(tincture::magenta(Color(0.5, 0.25, 0)), 0.5);
}

TEST(TinctureColorDifference, ClassesAndBoundaries) {
  EXPECT_EQ(tincture::classification(0).kind, DifferenceKind::indentical);
  EXPECT_EQ(tincture::classification(1.0), (ColorDifferenceResult{DifferenceKind::similar, 1.0}));
  EXPECT_EQ(tincture::classification(2.0).kind, DifferenceKind::close);
  EXPECT_EQ(tincture::classification(10.0).kind, DifferenceKind::near);
  EXPECT_EQ(tincture::classification(50.0).kind, DifferenceKind::different);
  EXPECT_EQ(tincture::classification(50.01).kind, DifferenceKind::far);
  EXPECT_EQ(tincture::classification(std::numeric_limits<double>::quiet_NaN()).kind, DifferenceKind::far);
}

TEST(TinctureColorDifference, ResultsOrderByValueAlone) {
  const ColorDifferenceResult similar3{DifferenceKind::similar, 3.0};
  const ColorDifferenceResult near5{DifferenceKind::near, 5.0};
  EXPECT_LT(similar3, near5);
  EXPECT_LT((ColorDifferenceResult{DifferenceKind::far, 0.5}), (ColorDifferenceResult{DifferenceKind::similar, 0.9}));
  const ColorDifferenceResult similar1{DifferenceKind::similar, 1.0};
  const ColorDifferenceResult close1{DifferenceKind::close, 1.0};
  EXPECT_NE(similar1, close1);
  EXPECT_LE(similar1, close1);
  EXPECT_GE(similar1, close1);
  EXPECT_FALSE(similar1 < close1);
}

TEST(TinctureColorDifference, EachFormulaOnKnownPairs) {
  for (DeltaEFormula f : {DeltaEFormula::euclidean, DeltaEFormula::CIE76, DeltaEFormula::CIE94,
                          DeltaEFormula::CIEDE2000}) {
    EXPECT_EQ(tincture::difference(Color(0.3, 0.6, 0.2), Color(0.3, 0.6, 0.2), f),
              (ColorDifferenceResult{DifferenceKind::indentical, 0}));
  }
  EXPECT_EQ(tincture::difference(kRedColor, kGreenColor, DeltaEFormula::euclidean), (ColorDifferenceResult{DifferenceKind::far, 360.62}));
  // Black and white are 100 apart in L alone for CIE76 and CIE94.
  EXPECT_EQ(tincture::difference(kBlackColor, kWhiteColor, DeltaEFormula::CIE76).value, 100.0);
  EXPECT_EQ(tincture::difference(kBlackColor, kWhiteColor, DeltaEFormula::CIE94).value, 100.0);
  // CIE94 weighs by the first colour's chroma.
  EXPECT_NE(tincture::difference(kRedColor, Color(0.8, 0.3, 0.3), DeltaEFormula::CIE94).value,
            tincture::difference(Color(0.8, 0.3, 0.3), kRedColor, DeltaEFormula::CIE94).value);
}

TEST(TinctureColorDifference, CIEDE2000IsComputedAndClassified) {
  EXPECT_EQ(tincture::difference(kBlackColor, kWhiteColor, DeltaEFormula::CIEDE2000), (ColorDifferenceResult{DifferenceKind::far, 100.0}));
  const auto slight = tincture::difference(Color(0.5, 0.5, 0.5), Color(0.5, 0.5, 0.503), DeltaEFormula::CIEDE2000);
  EXPECT_EQ(slight.kind, DifferenceKind::similar);
  EXPECT_GT(slight.value, 0);
  const auto close = tincture::difference(Color(0.5, 0.5, 0.5), Color(0.5, 0.5, 0.51), DeltaEFormula::CIEDE2000);
  EXPECT_EQ(close.kind, DifferenceKind::close);
  const auto apart = tincture::difference(kRedColor, kBlueColor, DeltaEFormula::CIEDE2000);
  EXPECT_EQ(apart.kind, DifferenceKind::far);
  EXPECT_NEAR(apart.value, 52.88, 0.05);
  EXPECT_EQ(tincture::difference(kRedColor, Color(0.6, 0.1, 0.1), DeltaEFormula::CIEDE2000).kind, DifferenceKind::different);
  const auto clearlyNot = tincture::difference(kRedColor, Color(0.9, 0.2, 0.2), DeltaEFormula::CIEDE2000);
  EXPECT_EQ(clearlyNot.kind, DifferenceKind::near);
}

// Pairs from Sharma, Wu and Dalal's CIEDE2000 test data.
struct SharmaPair {
  Lab first;
  Lab second;
  double deltaE;
};

TEST(TinctureColorDifference, CIEDE2000MatchesPublishedPairs) {
  const SharmaPair pairs[] = {
      {{50.0000, 2.6772, -79.7751}, {50.0000, 0.0000, -82.7485}, 2.0425},
      {{50.0000, 3.1571, -77.2803}, {50.0000, 0.0000, -82.7485}, 2.8615},
      {{50.0000, -1.3802, -84.2814}, {50.0000, 0.0000, -82.7485}, 1.0000},
      {{50.0000, 0.0000, 0.0000}, {50.0000, -1.0000, 2.0000}, 2.3669},
      {{50.0000, 2.4900, -0.0010}, {50.0000, -2.4900, 0.0009}, 7.1792},
      {{50.0000, 2.4900, -0.0010}, {50.0000, -2.4900, 0.0011}, 7.2195},
      {{50.0000, -0.0010, 2.4900}, {50.0000, 0.0009, -2.4900}, 4.8045},
      {{50.0000, -0.0010, 2.4900}, {50.0000, 0.0011, -2.4900}, 4.7461},
      {{50.0000, 2.5000, 0.0000}, {50.0000, 0.0000, -2.5000}, 4.3065},
      {{50.0000, 2.5000, 0.0000}, {73.0000, 25.0000, -18.0000}, 27.1492},
      {{50.0000, 2.5000, 0.0000}, {61.0000, -5.0000, 29.0000}, 22.8977},
      {{50.0000, 2.5000, 0.0000}, {56.0000, -27.0000, -3.0000}, 31.9030},
      {{50.0000, 2.5000, 0.0000}, {58.0000, 24.0000, 15.0000}, 19.4535},
      {{60.2574, -34.0099, 36.2677}, {60.4626, -34.1751, 39.4387}, 1.2644},
      {{63.0109, -31.0961, -5.8663}, {62.8187, -29.7946, -4.0864}, 1.2630},
      {{35.0831, -44.1164, 3.7933}, {35.0232, -40.0716, 1.5901}, 1.8645},
      {{22.7233, 20.0904, -46.6940}, {23.0331, 14.9730, -42.5619}, 2.0373},
      {{90.8027, -2.0831, 1.4410}, {91.1528, -1.6435, 0.0447}, 1.4441},
      {{6.7747, -0.2908, -2.4247}, {5.8714, -0.0985, -2.2286}, 0.6377},
      {{2.0776, 0.0795, -1.1350}, {0.9033, -0.0636, -0.5514}, 0.9082},
  };
  for (const SharmaPair& p : pairs) {
    SCOPED_TRACE(p.deltaE);
    EXPECT_NEAR(tincture::deltaE2000(p.first, p.second), p.deltaE, 5e-5);
    EXPECT_NEAR(tincture::deltaE2000(p.second, p.first), p.deltaE, 5e-5);
  }
}

TEST(TinctureColorDifference, CIE94OfOneHueIsNeverNaN) {
  // Same hue, different chroma: rounding makes ΔH² a hair negative here.
  const double d = tincture::deltaE94(Lab{50, -2.72, -2.04}, Lab{50, -0.68, -0.51});
  ASSERT_FALSE(std::isnan(d));
  EXPECT_NEAR(d, 2.55 / (1 + 0.045 * 3.4), 1e-9);
}

TEST(TinctureRounding, EveryRule) {
  using Rule = tincture::FloatingPointRoundingRule;
  EXPECT_EQ(tincture::rounded(2.125, Rule::toNearestOrEven, 100), 2.12);
  EXPECT_EQ(tincture::rounded(0.135, Rule::toNearestOrEven, 100), 0.14);
  EXPECT_EQ(tincture::rounded(-2.5, Rule::toNearestOrEven, 1), -2.0);
  EXPECT_EQ(tincture::rounded(0.2145, Rule::toNearestOrEven, 1000), 0.214);
  EXPECT_EQ(tincture::rounded(2.5, Rule::toNearestOrAwayFromZero, 1), 3.0);
  EXPECT_EQ(tincture::rounded(-2.5, Rule::toNearestOrAwayFromZero, 1), -3.0);
  EXPECT_EQ(tincture::rounded(1.231, Rule::up, 100), 1.24);
  EXPECT_EQ(tincture::rounded(-1.239, Rule::down, 100), -1.24);
  EXPECT_EQ(tincture::rounded(-1.239, Rule::towardZero, 100), -1.23);
  EXPECT_EQ(tincture::rounded(-1.231, Rule::awayFromZero, 100), -1.24);
  EXPECT_TRUE(std::isnan(tincture::rounded(std::nan(""), Rule::toNearestOrEven, 100)));
}

}  // namespace
