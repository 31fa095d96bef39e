#include "RedEvudud/RedEvudud/Internals/HttpClient/DVACHttpUtil.h"

#include <vector>

namespace {

constexpr size_t kVisibleSecretCharacters = 8;

// Byte offsets where each UTF-8 code point starts. Stray continuation bytes
// count as characters of their own.
std::vector<size_t> codePointStarts(std::string_view text) {
  std::vector<size_t> starts;
  for (size_t i = 0; i < text.size(); ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    const bool continuation = (byte & 0xC0) == 0x80;
    if (!continuation || starts.empty() || i == 0) {
      starts.push_back(i);
      continue;
    }
    // A continuation byte belongs to the previous character only when that
    // one started with a lead byte announcing it.
    const size_t start = starts.back();
    const auto lead = static_cast<unsigned char>(text[start]);
    size_t length = 1;
    if ((lead & 0xE0) == 0xC0) {
      length = 2;
    } else if ((lead & 0xF0) == 0xE0) {
      length = 3;
    } else if ((lead & 0xF8) == 0xF0) {
      length = 4;
    }
    if (i - start >= length) starts.push_back(i);
  }
  return starts;
}

}  // namespace

bool DVACHttpUtil::isRecoverableError(int64_t statusCode) {
  return statusCode >= 500 || statusCode == 408 || statusCode == 0 || statusCode == 429;
}

bool DVACHttpUtil::isSuccessStatusCode(int64_t statusCode) { return statusCode >= 200 && statusCode < 300; }

bool DVACHttpUtil::isNoInternetConnectionError(const ns::Error& error) {
  return error.domain == ns::NSURLErrorDomain &&
         (error.code == ns::NSURLErrorNotConnectedToInternet || error.code == ns::NSURLErrorNetworkConnectionLost);
}

bool DVACHttpUtil::isSSLConnectionError(const ns::Error& error) {
  return error.domain == ns::NSURLErrorDomain && error.code >= ns::NSURLErrorCannotLoadFromNetwork &&
         error.code <= ns::NSURLErrorSecureConnectionFailed;
}

bool DVACHttpUtil::isNoAnswerError(const ns::Error& error) {
  return error.domain == ns::NSURLErrorDomain &&
         (error.code == ns::NSURLErrorCannotConnectToHost || error.code == ns::NSURLErrorTimedOut);
}

std::string DVACHttpUtil::hideSecret(std::string_view secret) {
  const std::vector<size_t> starts = codePointStarts(secret);
  const size_t characters = starts.size();
  if (characters <= kVisibleSecretCharacters) return std::string(characters, '*');
  const size_t hidden = characters - kVisibleSecretCharacters;
  return std::string(hidden, '*') + std::string(secret.substr(starts[hidden]));
}

std::string DVACHttpUtil::hideSecretInString(std::string_view string, std::string_view secret) {
  if (secret.empty()) return std::string(string);
  const std::string masked = hideSecret(secret);
  std::string result;
  result.reserve(string.size());
  size_t position = 0;
  for (;;) {
    const size_t found = string.find(secret, position);
    if (found == std::string_view::npos) break;
    result.append(string.substr(position, found - position));
    result.append(masked);
    position = found + secret.size();
  }
  result.append(string.substr(position));
  return result;
}
