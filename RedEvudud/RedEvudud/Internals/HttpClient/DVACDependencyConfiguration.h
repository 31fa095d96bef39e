#pragma once
// A process-wide slot through which an HTTP client can be injected in place of
// the one the SDK would make.

#include <memory>

#include "RedEvudud/RedEvudud/Internals/HttpClient/DVACHttpClientProtocol.h"

class DVACDependencyConfiguration {
 public:
  DVACDependencyConfiguration() = delete;

  // nil unless one was injected.
  static std::shared_ptr<DVACHttpClientProtocol> httpClient();
  static void setHttpClient(std::shared_ptr<DVACHttpClientProtocol> httpClient);
};
