#include <curl/curl.h>
#include <gtest/gtest.h>
#include <openssl/x509_vfy.h>

#include <cerrno>

#include "platform/net/URLError.h"

namespace {

using net::URLErrorCodeForCurlCode;

TEST(URLErrorMapping, ConnectionFailures) {
  EXPECT_EQ(URLErrorCodeForCurlCode(CURLE_OK), 0);
  EXPECT_EQ(URLErrorCodeForCurlCode(CURLE_COULDNT_CONNECT, ECONNREFUSED), ns::NSURLErrorCannotConnectToHost);
  EXPECT_EQ(URLErrorCodeForCurlCode(CURLE_COULDNT_CONNECT, EHOSTUNREACH), ns::NSURLErrorCannotConnectToHost);
  // No route to any network at all is "not connected", which the telemetry
  // client holds calls for instead of failing them.
  EXPECT_EQ(URLErrorCodeForCurlCode(CURLE_COULDNT_CONNECT, ENETUNREACH), ns::NSURLErrorNotConnectedToInternet);
  EXPECT_EQ(URLErrorCodeForCurlCode(CURLE_COULDNT_CONNECT, ENETDOWN), ns::NSURLErrorNotConnectedToInternet);
  EXPECT_EQ(URLErrorCodeForCurlCode(CURLE_COULDNT_RESOLVE_HOST), ns::NSURLErrorCannotFindHost);
  EXPECT_EQ(URLErrorCodeForCurlCode(CURLE_OPERATION_TIMEDOUT), ns::NSURLErrorTimedOut);
  EXPECT_EQ(URLErrorCodeForCurlCode(CURLE_SEND_ERROR), ns::NSURLErrorNetworkConnectionLost);
  EXPECT_EQ(URLErrorCodeForCurlCode(CURLE_RECV_ERROR), ns::NSURLErrorNetworkConnectionLost);
  EXPECT_EQ(URLErrorCodeForCurlCode(CURLE_GOT_NOTHING), ns::NSURLErrorNetworkConnectionLost);
  EXPECT_EQ(URLErrorCodeForCurlCode(CURLE_ABORTED_BY_CALLBACK), ns::NSURLErrorCancelled);
}

TEST(URLErrorMapping, TLSFailuresStayInTheSecureConnectionRange) {
  for (CURLcode code : {CURLE_SSL_CONNECT_ERROR, CURLE_PEER_FAILED_VERIFICATION, CURLE_SSL_CIPHER,
                        CURLE_SSL_CACERT_BADFILE, CURLE_SSL_ISSUER_ERROR, CURLE_SSL_PINNEDPUBKEYNOTMATCH,
                        CURLE_SSL_CERTPROBLEM, CURLE_SSL_CLIENTCERT, CURLE_USE_SSL_FAILED}) {
    const int64_t mapped = URLErrorCodeForCurlCode(code);
    EXPECT_LE(mapped, -1200) << code;
    EXPECT_GE(mapped, -2000) << code;
  }
  EXPECT_EQ(URLErrorCodeForCurlCode(CURLE_SSL_CONNECT_ERROR), ns::NSURLErrorSecureConnectionFailed);
  EXPECT_EQ(URLErrorCodeForCurlCode(CURLE_PEER_FAILED_VERIFICATION, 0, X509_V_ERR_CERT_HAS_EXPIRED),
            ns::NSURLErrorServerCertificateHasBadDate);
  EXPECT_EQ(URLErrorCodeForCurlCode(CURLE_PEER_FAILED_VERIFICATION, 0, X509_V_ERR_CERT_NOT_YET_VALID),
            ns::NSURLErrorServerCertificateNotYetValid);
  EXPECT_EQ(URLErrorCodeForCurlCode(CURLE_PEER_FAILED_VERIFICATION, 0, X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT),
            ns::NSURLErrorServerCertificateHasUnknownRoot);
  EXPECT_EQ(URLErrorCodeForCurlCode(CURLE_PEER_FAILED_VERIFICATION, 0, X509_V_ERR_HOSTNAME_MISMATCH),
            ns::NSURLErrorServerCertificateUntrusted);
}

TEST(URLErrorMapping, ErrorsCarryDomainDescriptionAndFailingURL) {
  ns::Error error = net::makeURLError(ns::NSURLErrorTimedOut, "http://127.0.0.1:1/x", "curl error 28: boom");
  EXPECT_EQ(error.domain, ns::NSURLErrorDomain);
  EXPECT_EQ(error.code, ns::NSURLErrorTimedOut);
  EXPECT_EQ(error.localizedDescription(), "The request timed out.");
  EXPECT_EQ(error.userInfo.at(ns::NSURLErrorFailingURLStringErrorKey).asString(), "http://127.0.0.1:1/x");
  EXPECT_EQ(error.userInfo.at(ns::NSDebugDescriptionErrorKey).asString(), "curl error 28: boom");
  EXPECT_EQ(URLErrorCodeForCurlCode(CURLE_OUT_OF_MEMORY), ns::NSURLErrorUnknown);
}

}  // namespace
