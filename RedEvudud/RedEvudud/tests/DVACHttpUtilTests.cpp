#include <gtest/gtest.h>

#include "RedEvudud/RedEvudud/Internals/HttpClient/DVACHttpUtil.h"

namespace {

TEST(DVACHttpUtilTest, ClassifiesStatusCodes) {
  for (int64_t code : {0, 408, 429, 500, 502, 503, 599, 600}) {
    EXPECT_TRUE(DVACHttpUtil::isRecoverableError(code)) << code;
  }
  for (int64_t code : {100, 200, 204, 301, 400, 401, 403, 404, 407, 409, 428, 430, 499}) {
    EXPECT_FALSE(DVACHttpUtil::isRecoverableError(code)) << code;
  }
  for (int64_t code : {200, 201, 204, 299}) EXPECT_TRUE(DVACHttpUtil::isSuccessStatusCode(code)) << code;
  for (int64_t code : {0, 199, 300, 404, 500}) EXPECT_FALSE(DVACHttpUtil::isSuccessStatusCode(code)) << code;
}

TEST(DVACHttpUtilTest, ClassifiesTransportErrorsByDomainAndCode) {
  auto urlError = [](int64_t code) { return ns::Error(ns::NSURLErrorDomain, code); };
  EXPECT_TRUE(DVACHttpUtil::isNoInternetConnectionError(urlError(ns::NSURLErrorNotConnectedToInternet)));
  EXPECT_TRUE(DVACHttpUtil::isNoInternetConnectionError(urlError(ns::NSURLErrorNetworkConnectionLost)));
  EXPECT_FALSE(DVACHttpUtil::isNoInternetConnectionError(urlError(ns::NSURLErrorCannotConnectToHost)));
  EXPECT_FALSE(DVACHttpUtil::isNoInternetConnectionError(ns::Error("OtherDomain", -1009)));

  for (int64_t code : {-1200, -1201, -1206, -1999, -2000}) EXPECT_TRUE(DVACHttpUtil::isSSLConnectionError(urlError(code)));
  for (int64_t code : {-1199, -2001, -1009, -1004}) EXPECT_FALSE(DVACHttpUtil::isSSLConnectionError(urlError(code)));
  EXPECT_FALSE(DVACHttpUtil::isSSLConnectionError(ns::Error("OtherDomain", -1200)));

  for (int64_t code : {-1004, -1001}) EXPECT_TRUE(DVACHttpUtil::isNoAnswerError(urlError(code))) << code;
  for (int64_t code : {-1003, -1005, -1009, -1011, -1200}) EXPECT_FALSE(DVACHttpUtil::isNoAnswerError(urlError(code)));
  EXPECT_FALSE(DVACHttpUtil::isNoAnswerError(ns::Error("OtherDomain", -1004)));
}

TEST(DVACHttpUtilTest, HideSecretKeepsTheLastEightCharacters) {
  const std::string secret = "0123456789abcdef0123456789abcdef-XYZ";
  ASSERT_EQ(secret.size(), 36u);
  EXPECT_EQ(DVACHttpUtil::hideSecret(secret), "****************************cdef-XYZ");
  EXPECT_EQ(DVACHttpUtil::hideSecret("12345678"), "********");
  EXPECT_EQ(DVACHttpUtil::hideSecret("1234"), "****");
  EXPECT_EQ(DVACHttpUtil::hideSecret(""), "");
  EXPECT_EQ(DVACHttpUtil::hideSecret("123456789"), "*23456789");
  // Counted in characters: a two-byte character is masked whole.
  EXPECT_EQ(DVACHttpUtil::hideSecret("\xC3\xA9" "abcdefgh"), "*abcdefgh");
  EXPECT_EQ(DVACHttpUtil::hideSecret("ab\xC3\xA9" "cdefgh"), "*b\xC3\xA9" "cdefgh");
}

TEST(DVACHttpUtilTest, HideSecretInStringMasksEveryOccurrence) {
  const std::string secret = "secret-0123456789";
  const std::string masked = DVACHttpUtil::hideSecret(secret);
  EXPECT_EQ(DVACHttpUtil::hideSecretInString("a=" + secret + ", b=" + secret, secret), "a=" + masked + ", b=" + masked);
  EXPECT_EQ(DVACHttpUtil::hideSecretInString("nothing here", secret), "nothing here");
  EXPECT_EQ(DVACHttpUtil::hideSecretInString("keep", ""), "keep");
}

}  // namespace
