#pragma once
// Asked by an authentication provider for a fresh token. The delegate may
// answer later and on any thread, by calling the completion handler once
// with the token and its expiry date.

#include <functional>
#include <optional>
#include <string>

#include "platform/foundation/Value.h"

class DVACAnalyticsAuthenticationProvider;

using DVACAuthenticationCompletionHandler =
    std::function<void(const std::optional<std::string>& token, const std::optional<ns::Date>& expiryDate)>;

class DVACAnalyticsAuthenticationProviderDelegate {
 public:
  virtual ~DVACAnalyticsAuthenticationProviderDelegate() = default;
  virtual void authenticationProviderAcquireTokenWithCompletionHandler(
      DVACAnalyticsAuthenticationProvider& authenticationProvider,
      DVACAuthenticationCompletionHandler completionHandler) = 0;
};
