#include <gtest/gtest.h>

#include <random>

#include "RedEvudud/RedEvudud/Internals/HttpClient/DVACCompression.h"
#include "RedEvudud/RedEvudud/tests/DVACHttpTestSupport.h"

namespace {

using dvac_http_test::LogRecorder;

std::string text(const ns::Data& data) { return std::string(data.begin(), data.end()); }

ns::Data randomBytes(size_t size, unsigned seed) {
  std::mt19937 generator(seed);
  ns::Data data(size);
  for (auto& byte : data) byte = static_cast<uint8_t>(generator());
  return data;
}

void expectRoundTrip(const ns::Data& input) {
  auto compressed = DVACCompression::compressData(input);
  ASSERT_TRUE(compressed) << input.size();
  ASSERT_GE(compressed->size(), 18u);
  EXPECT_EQ((*compressed)[0], 0x1f);  // gzip magic
  EXPECT_EQ((*compressed)[1], 0x8b);
  std::string error;
  auto inflated = ingestion_sink::gunzip(text(*compressed), &error);
  ASSERT_TRUE(inflated) << error;
  EXPECT_EQ(*inflated, text(input));
}

TEST(DVACCompressionTest, GzipsWhatInflatesBackToTheInput) {
  expectRoundTrip(dvac_http_test::bodyOfSize(1400));
  expectRoundTrip(dvac_http_test::bodyOfSize(256 * 1024));
  // Small and incompressible inputs need more than length x 1.01 + 12 bytes.
  expectRoundTrip(dvac_http_test::bytes("x"));
  expectRoundTrip(randomBytes(10, 1));
  expectRoundTrip(randomBytes(1400, 2));
  expectRoundTrip(randomBytes(300 * 1024, 3));
}

TEST(DVACCompressionTest, CompressesRepetitiveBodies) {
  const ns::Data body = dvac_http_test::bodyOfSize(64 * 1024);
  auto compressed = DVACCompression::compressData(body);
  ASSERT_TRUE(compressed);
  EXPECT_LT(compressed->size(), body.size() / 10);
}

TEST(DVACCompressionTest, NothingForNoOrEmptyInput) {
  EXPECT_FALSE(DVACCompression::compressData(std::nullopt));
  EXPECT_FALSE(DVACCompression::compressData(ns::Data{}));
}

TEST(DVACCompressionTest, ASetUpFailureIsLoggedAndGivesNothing) {
  LogRecorder log(DVACLogLevelError);
  DVACCompression::setFailsForTesting(true);
  auto compressed = DVACCompression::compressData(dvac_http_test::bodyOfSize(2000));
  DVACCompression::setFailsForTesting(false);
  EXPECT_FALSE(compressed);
  EXPECT_EQ(log.messages(DVACLogLevelError),
            std::vector<std::string>{"Compression failed with error: Invalid parameter passed in to function."});
}

}  // namespace
