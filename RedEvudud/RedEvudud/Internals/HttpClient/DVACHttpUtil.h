#pragma once
// Classification of HTTP status codes and transport errors, and masking of
// secrets before they reach a log line.

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/foundation/Error.h"

class DVACHttpUtil {
 public:
  DVACHttpUtil() = delete;

  // 0 (no answer), 408, 429 and every code from 500 up: worth another try.
  static bool isRecoverableError(int64_t statusCode);
  static bool isSuccessStatusCode(int64_t statusCode);
  // Not connected, or the connection was lost on the way.
  static bool isNoInternetConnectionError(const ns::Error& error);
  // A secure connection could not be made (NSURLErrorDomain -2000 to -1200).
  static bool isSSLConnectionError(const ns::Error& error);
  // No server answered: the connection was refused or the request timed out.
  static bool isNoAnswerError(const ns::Error& error);

  // Same length, every character but the last 8 replaced by "*"; a secret of
  // 8 characters or fewer comes back as "*" only. Characters are counted as
  // code points, so a multi-byte character is never cut in half.
  static std::string hideSecret(std::string_view secret);
  // Every occurrence of the secret replaced by its masked form. An empty
  // secret leaves the string as it is.
  static std::string hideSecretInString(std::string_view string, std::string_view secret);
};
