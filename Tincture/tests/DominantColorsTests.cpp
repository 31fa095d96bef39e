#include <gtest/gtest.h>

#include <limits>
#include <optional>

#include "Tincture/ColorDifference.h"
#include "Tincture/DominantColors.h"
#include "Tincture/tests/TestImages.h"

namespace {

using namespace tincture::testing;
using img::Color;
using img::Pixel;
using tincture::DominantColorAlgorithm;
using tincture::DominantColorQuality;
using tincture::ImageColorError;

Color colorOf(Pixel p) { return Color(p.r / 255.0, p.g / 255.0, p.b / 255.0, 1); }

struct Share {
  Color color;
  double share;
  bool operator==(const Share&) const = default;
};

void PrintTo(const Share& s, std::ostream* os) { *os << s.color.description() << " x " << s.share; }

std::vector<Share> shares(const img::Image& image, DominantColorQuality quality = DominantColorQuality::fair) {
  std::vector<Share> out;
  for (const auto& entry : tincture::dominantColorFrequencies(image, quality)) {
    out.push_back({entry.color(), entry.frequency()});
  }
  return out;
}

template <typename Call>
std::optional<ImageColorError::Code> errorOf(Call&& call) {
  try {
    call();
  } catch (const ImageColorError& error) {
    return error.code();
  }
  return std::nullopt;
}

// Colours whose rounded CIE76 difference to the first is exactly `target`.
std::optional<std::pair<Pixel, Pixel>> pairAtDifference(double target) {
  for (int base = 40; base < 220; base += 3) {
    const Pixel first{uint8_t(base), uint8_t(base), uint8_t(base), 255};
    for (int other = 0; other < 256; ++other) {
      for (int channel = 0; channel < 3; ++channel) {
        Pixel second = first;
        (channel == 0 ? second.r : channel == 1 ? second.g : second.b) = uint8_t(other);
        if (tincture::difference(colorOf(first), colorOf(second), tincture::DeltaEFormula::CIE76).value == target) {
          return std::make_pair(first, second);
        }
      }
    }
  }
  return std::nullopt;
}

TEST(TinctureDominantColorQuality, BudgetsAndPasses) {
  EXPECT_EQ(tincture::pixelBudget(DominantColorQuality::low), 1000.0);
  EXPECT_EQ(tincture::pixelBudget(DominantColorQuality::fair), 10000.0);
  EXPECT_EQ(tincture::pixelBudget(DominantColorQuality::high), 100000.0);
  EXPECT_EQ(tincture::pixelBudget(DominantColorQuality::best), std::nullopt);
  EXPECT_EQ(tincture::kMeansPasses(DominantColorQuality::low), 1);
  EXPECT_EQ(tincture::kMeansPasses(DominantColorQuality::fair), 10);
  EXPECT_EQ(tincture::kMeansPasses(DominantColorQuality::high), 15);
  EXPECT_EQ(tincture::kMeansPasses(DominantColorQuality::best), 20);
}

TEST(TinctureIterative, KnownProportions) {
  // 600 x 600 at fair is counted at 100 x 100; the bands fall on whole pixels.
  const img::Image image = imageOf(bands(600, {{kRed, 300}, {kGreen, 180}, {kBlue, 120}}));
  EXPECT_EQ(shares(image), (std::vector<Share>{{colorOf(kRed), 0.5}, {colorOf(kGreen), 0.3}, {colorOf(kBlue), 0.2}}));
  EXPECT_EQ(tincture::dominantColors(image, DominantColorQuality::fair, DominantColorAlgorithm::iterative),
            (std::vector<Color>{colorOf(kRed), colorOf(kGreen), colorOf(kBlue)}));
  // The same proportions at every quality; where the bands do not fall on
  // whole pixels the blended edge rows add a sliver of other colours.
  for (auto quality : {DominantColorQuality::low, DominantColorQuality::high, DominantColorQuality::best}) {
    const auto found = shares(image, quality);
    ASSERT_GE(found.size(), 3u);
    EXPECT_EQ(found[0].color, colorOf(kRed));
    EXPECT_EQ(found[1].color, colorOf(kGreen));
    EXPECT_EQ(found[2].color, colorOf(kBlue));
    EXPECT_NEAR(found[0].share, 0.5, 0.04);
    EXPECT_NEAR(found[1].share, 0.3, 0.04);
    EXPECT_NEAR(found[2].share, 0.2, 0.04);
    for (std::size_t i = 3; i < found.size(); ++i) EXPECT_LE(found[i].share, 0.04);
  }
}

TEST(TinctureIterative, SharesAreRoundedUp) {
  EXPECT_EQ(shares(imageOf(*img::Bitmap::filled(7, 3, kGreen))), (std::vector<Share>{{colorOf(kGreen), 1.0}}));
  EXPECT_EQ(shares(imageOf(counted(4, 1, {{kRed, 3}, {kBlue, 1}}))),
            (std::vector<Share>{{colorOf(kRed), 0.75}, {colorOf(kBlue), 0.25}}));
  EXPECT_EQ(shares(imageOf(counted(3, 1, {{kRed, 1}, {kGreen, 1}, {kBlue, 1}}))),
            (std::vector<Share>{{colorOf(kRed), 0.34}, {colorOf(kGreen), 0.34}, {colorOf(kBlue), 0.34}}));
}

TEST(TinctureIterative, SmallImagesAreCountedAsTheyAre) {
  // 20 x 20 at fair: not redrawn, minimum count 0, so one pixel counts.
  auto bitmap = img::Bitmap::filled(20, 20, kRed);
  bitmap->setPixel(7, 7, kBlue);
  EXPECT_EQ(shares(imageOf(*bitmap)), (std::vector<Share>{{colorOf(kRed), 1.0}, {colorOf(kBlue), 0.01}}));
}

TEST(TinctureIterative, PaddedRowsAreReadThroughTheirLayout) {
  auto padded = img::Bitmap::create(5, 4, 5 * 4 + 12);
  padded->fill(kRed);
  padded->fillRect(0, 3, 5, 4, kBlue);
  const img::Image image = imageOf(*padded);
  EXPECT_EQ(shares(image), (std::vector<Share>{{colorOf(kRed), 0.75}, {colorOf(kBlue), 0.25}}));
}

TEST(TinctureIterative, LargeImagesDropColoursBelowTheMinimumCount) {
  // 1000 x 1000 at fair: counted at 100 x 100 with a minimum count of 1.
  auto bitmap = img::Bitmap::filled(1000, 1000, kRed);
  bitmap->fillRect(0, 0, 10, 10, kBlue);      // one counted pixel: dropped
  bitmap->fillRect(500, 500, 520, 520, kGreen);  // four counted pixels: kept
  const auto found = shares(imageOf(*bitmap));
  ASSERT_EQ(found.size(), 2u);
  EXPECT_EQ(found[0].color, colorOf(kRed));
  EXPECT_EQ(found[1].color, colorOf(kGreen));
  EXPECT_EQ(found[1].share, 0.01);  // 4 of 9999, rounded up
}

TEST(TinctureIterative, AlphaThreshold) {
  const img::Image image = imageOf(counted(4, 4, {{{0, 255, 0, 150}, 8}, {{0, 0, 255, 151}, 2}}));
  EXPECT_EQ(shares(image), (std::vector<Share>{{colorOf(kBlue), 1.0}}));
}

TEST(TinctureIterative, CloseColoursMergeByOneCount) {
  // Candidates by count: red 100, blue 60, two near reds 50 and 30. Each near
  // red adds one to red, not its own count.
  const img::Image image =
      imageOf(counted(20, 20, {{kRed, 100}, {kBlue, 60}, {{250, 5, 5, 255}, 50}, {{245, 0, 10, 255}, 30}}));
  EXPECT_EQ(shares(image), (std::vector<Share>{{colorOf(kRed), 0.63}, {colorOf(kBlue), 0.38}}));
}

TEST(TinctureIterative, MergeThresholdIsStrictlyBelowTen) {
  const auto below = pairAtDifference(9.99);
  const auto at = pairAtDifference(10.0);
  ASSERT_TRUE(below);
  ASSERT_TRUE(at);
  EXPECT_EQ(shares(imageOf(counted(4, 1, {{below->first, 3}, {below->second, 1}}))),
            (std::vector<Share>{{colorOf(below->first), 1.0}}));
  EXPECT_EQ(shares(imageOf(counted(4, 1, {{at->first, 3}, {at->second, 1}}))),
            (std::vector<Share>{{colorOf(at->first), 0.75}, {colorOf(at->second), 0.25}}));
}

TEST(TinctureIterative, AtMostEightColoursMostFrequentFirst) {
  const Pixel palette[] = {{255, 0, 0, 255},   {0, 255, 0, 255},   {0, 0, 255, 255},   {255, 255, 0, 255},
                           {255, 0, 255, 255}, {0, 255, 255, 255}, {0, 0, 0, 255},     {255, 255, 255, 255},
                           {128, 128, 128, 255}, {255, 128, 0, 255}, {128, 0, 128, 255}, {0, 128, 128, 255}};
  // Colour i covers 12 - i pixels, so the last four are the least frequent.
  auto bitmap = img::Bitmap::create(10, 10);
  int p = 0;
  for (int i = 0; i < 12; ++i) {
    for (int n = 0; n < 12 - i; ++n, ++p) bitmap->setPixel(p % 10, p / 10, palette[i]);
  }
  const auto colors =
      tincture::dominantColors(imageOf(*bitmap), DominantColorQuality::fair, DominantColorAlgorithm::iterative);
  ASSERT_EQ(colors.size(), 8u);
  for (int i = 0; i < 8; ++i) EXPECT_EQ(colors[static_cast<std::size_t>(i)], colorOf(palette[i])) << i;
}

TEST(TinctureIterative, TransparentImagesHaveNoColours) {
  const img::Image clear = imageOf(*img::Bitmap::create(30, 30));
  EXPECT_TRUE(tincture::dominantColorFrequencies(clear, DominantColorQuality::fair).empty());
  EXPECT_TRUE(tincture::dominantColors(clear, DominantColorQuality::fair, DominantColorAlgorithm::iterative).empty());
}

TEST(TinctureKMeans, KnownProportions) {
  const img::Image image = imageOf(bands(600, {{kRed, 300}, {kGreen, 180}, {kBlue, 120}}));
  const auto colors = tincture::dominantColors(image, DominantColorQuality::fair, DominantColorAlgorithm::kMeansClustering);
  ASSERT_EQ(colors.size(), 8u);
  EXPECT_EQ(colors[0], colorOf(kRed));
  EXPECT_EQ(colors[1], colorOf(kGreen));
  EXPECT_EQ(colors[2], colorOf(kBlue));
  for (const Color& c : colors) EXPECT_EQ(c.alphaComponent(), 1.0);
}

TEST(TinctureKMeans, AlwaysEightOpaqueColours) {
  for (auto quality : {DominantColorQuality::low, DominantColorQuality::fair, DominantColorQuality::high,
                       DominantColorQuality::best}) {
    const auto one = tincture::kMeansDominantColors(imageOf(*img::Bitmap::filled(3, 3, kGreen)), quality);
    EXPECT_EQ(one, std::vector<Color>(8, colorOf(kGreen)));
    const auto clear = tincture::kMeansDominantColors(imageOf(*img::Bitmap::create(3, 3)), quality);
    EXPECT_EQ(clear, std::vector<Color>(8, Color(0, 0, 0, 1)));
  }
}

TEST(TinctureBadImages, FailWithTheirErrors) {
  const auto iterative = [](const img::Image& image) {
    return errorOf([&] { tincture::dominantColors(image, DominantColorQuality::fair, DominantColorAlgorithm::iterative); });
  };
  const auto kMeans = [](const img::Image& image) {
    return errorOf(
        [&] { tincture::dominantColors(image, DominantColorQuality::fair, DominantColorAlgorithm::kMeansClustering); });
  };
  img::Image zeroSize = imageOf(*img::Bitmap::filled(4, 4, kRed));
  zeroSize.setSize({0, 0});
  const img::Image smallWithoutBitmap(img::Size{20, 20});
  const img::Image largeWithoutBitmap(img::Size{1000, 1000});
  img::Image notFinite = imageOf(*img::Bitmap::filled(4, 4, kRed));
  notFinite.setSize({std::numeric_limits<double>::infinity(), 4});

  EXPECT_EQ(iterative(zeroSize), ImageColorError::cgImageFailure);
  EXPECT_EQ(iterative(img::Image()), ImageColorError::cgImageFailure);
  EXPECT_EQ(iterative(smallWithoutBitmap), ImageColorError::cgImageFailure);
  EXPECT_EQ(iterative(largeWithoutBitmap), ImageColorError::cgImageFailure);
  EXPECT_EQ(iterative(notFinite), ImageColorError::cgImageFailure);
  EXPECT_EQ(kMeans(zeroSize), ImageColorError::ciImageFailure);
  EXPECT_EQ(kMeans(smallWithoutBitmap), ImageColorError::ciImageFailure);
  EXPECT_EQ(kMeans(notFinite), ImageColorError::ciImageFailure);
}

TEST(TinctureColorFrequencyDescription, ShowsColourAndShare) {
  tincture::ColorFrequency entry(Color(1, 0, 0, 1), 12);
  entry.setFrequency(0.37);
  EXPECT_EQ(entry.description(), "Color: sRGB 1 0 0 1 - Frequency: 0.37");
  EXPECT_EQ(tincture::ColorFrequency(Color(0, 0, 1, 1), 1).description(), "Color: sRGB 0 0 1 1 - Frequency: 1.0");
}

}  // namespace
