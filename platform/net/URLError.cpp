#include "platform/net/URLError.h"

#include <curl/curl.h>
#include <openssl/x509_vfy.h>

#include <cerrno>

namespace net {

namespace {

int64_t codeForCertificateFailure(long verifyResult) {
  switch (verifyResult) {
    case X509_V_ERR_CERT_HAS_EXPIRED:
      return ns::NSURLErrorServerCertificateHasBadDate;
    case X509_V_ERR_CERT_NOT_YET_VALID:
      return ns::NSURLErrorServerCertificateNotYetValid;
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
      return ns::NSURLErrorServerCertificateHasUnknownRoot;
    default:
      // Wrong host name, revoked, bad signature, pinning mismatch...
      return ns::NSURLErrorServerCertificateUntrusted;
  }
}

}  // namespace

int64_t URLErrorCodeForCurlCode(int curlCode, long osErrno, long sslVerifyResult) {
  switch (static_cast<CURLcode>(curlCode)) {
    case CURLE_OK:
      return 0;

    case CURLE_ABORTED_BY_CALLBACK:
      // Only a cancel aborts a transfer.
      return ns::NSURLErrorCancelled;

    case CURLE_URL_MALFORMAT:
      return ns::NSURLErrorBadURL;
    case CURLE_UNSUPPORTED_PROTOCOL:
      return ns::NSURLErrorUnsupportedURL;

    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
      return ns::NSURLErrorCannotFindHost;

    case CURLE_COULDNT_CONNECT:
      if (osErrno == ENETUNREACH || osErrno == ENETDOWN) return ns::NSURLErrorNotConnectedToInternet;
      return ns::NSURLErrorCannotConnectToHost;
    case CURLE_NO_CONNECTION_AVAILABLE:
    case CURLE_PROXY:
    case CURLE_QUIC_CONNECT_ERROR:
      return ns::NSURLErrorCannotConnectToHost;

    case CURLE_OPERATION_TIMEDOUT:
      return ns::NSURLErrorTimedOut;

    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    case CURLE_GOT_NOTHING:
    case CURLE_PARTIAL_FILE:
    case CURLE_HTTP2:
    case CURLE_HTTP2_STREAM:
    case CURLE_HTTP3:
      return ns::NSURLErrorNetworkConnectionLost;

    case CURLE_WEIRD_SERVER_REPLY:
      return ns::NSURLErrorBadServerResponse;
    case CURLE_TOO_MANY_REDIRECTS:
      return ns::NSURLErrorHTTPTooManyRedirects;
    case CURLE_BAD_CONTENT_ENCODING:
      return ns::NSURLErrorCannotDecodeContentData;
    case CURLE_FILESIZE_EXCEEDED:
      return ns::NSURLErrorDataLengthExceedsMaximum;
    case CURLE_READ_ERROR:
      return ns::NSURLErrorRequestBodyStreamExhausted;

    case CURLE_PEER_FAILED_VERIFICATION:
      return codeForCertificateFailure(sslVerifyResult);
    case CURLE_SSL_ISSUER_ERROR:
      return ns::NSURLErrorServerCertificateHasUnknownRoot;
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_INVALIDCERTSTATUS:
      return ns::NSURLErrorServerCertificateUntrusted;
    case CURLE_SSL_CLIENTCERT:
      return ns::NSURLErrorClientCertificateRequired;
    case CURLE_SSL_CERTPROBLEM:
      return ns::NSURLErrorClientCertificateRejected;
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_SSL_ENGINE_NOTFOUND:
    case CURLE_SSL_ENGINE_SETFAILED:
    case CURLE_SSL_ENGINE_INITFAILED:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_SHUTDOWN_FAILED:
    case CURLE_SSL_CRL_BADFILE:
    case CURLE_USE_SSL_FAILED:
      return ns::NSURLErrorSecureConnectionFailed;

    default:
      return ns::NSURLErrorUnknown;
  }
}

std::string URLErrorDescription(int64_t code) {
  switch (code) {
    case ns::NSURLErrorCancelled:
      return "cancelled";
    case ns::NSURLErrorBadURL:
      return "The URL is not valid.";
    case ns::NSURLErrorUnsupportedURL:
      return "The URL's scheme is not supported.";
    case ns::NSURLErrorTimedOut:
      return "The request timed out.";
    case ns::NSURLErrorCannotFindHost:
      return "No server with the requested host name could be found.";
    case ns::NSURLErrorCannotConnectToHost:
      return "Could not connect to the server.";
    case ns::NSURLErrorNetworkConnectionLost:
      return "The network connection was lost.";
    case ns::NSURLErrorNotConnectedToInternet:
      return "The computer is not connected to a network.";
    case ns::NSURLErrorBadServerResponse:
      return "The server's answer could not be understood.";
    case ns::NSURLErrorHTTPTooManyRedirects:
      return "Too many redirects.";
    case ns::NSURLErrorAppTransportSecurityRequiresSecureConnection:
      return "A secure connection is required: a redirect may not lead from https to http.";
    case ns::NSURLErrorCannotDecodeContentData:
      return "The response body could not be decoded.";
    case ns::NSURLErrorDataLengthExceedsMaximum:
      return "The response is too large.";
    case ns::NSURLErrorRequestBodyStreamExhausted:
      return "The request body could not be sent.";
    case ns::NSURLErrorSecureConnectionFailed:
      return "A TLS error occurred and a secure connection to the server could not be made.";
    case ns::NSURLErrorServerCertificateHasBadDate:
      return "The server's certificate has expired.";
    case ns::NSURLErrorServerCertificateUntrusted:
      return "The server's certificate is not trusted.";
    case ns::NSURLErrorServerCertificateHasUnknownRoot:
      return "The server's certificate was signed by an unknown authority.";
    case ns::NSURLErrorServerCertificateNotYetValid:
      return "The server's certificate is not yet valid.";
    case ns::NSURLErrorClientCertificateRejected:
      return "The client certificate was rejected.";
    case ns::NSURLErrorClientCertificateRequired:
      return "The server requires a client certificate.";
    default:
      return "An unknown network error occurred.";
  }
}

ns::Error makeURLError(int64_t code, std::string_view failingURL, std::string_view debugDescription) {
  ns::Error error = ns::Error::withDescription(ns::NSURLErrorDomain, code, URLErrorDescription(code));
  if (!failingURL.empty()) {
    error.userInfo[ns::NSURLErrorFailingURLStringErrorKey] = std::string(failingURL);
    error.userInfo[ns::NSURLErrorFailingURLErrorKey] = std::string(failingURL);
  }
  if (!debugDescription.empty()) error.userInfo[ns::NSDebugDescriptionErrorKey] = std::string(debugDescription);
  return error;
}

}  // namespace net
