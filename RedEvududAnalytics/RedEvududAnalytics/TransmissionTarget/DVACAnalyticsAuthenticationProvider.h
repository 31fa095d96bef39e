#pragma once
// Keeps the authentication ticket of the transmission targets' Common Schema
// logs fresh: it asks its delegate for a token, stores the ticket made from
// the answer in the ticket cache under the hash of its ticket key, and asks
// again 10 minutes before the token expires. At most one request is out at a
// time, and only the answer to that request is taken.

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "RedEvududAnalytics/RedEvududAnalytics/TransmissionTarget/DVACAnalyticsAuthenticationProviderDelegate.h"
#include "platform/foundation/Value.h"

enum DVACAnalyticsAuthenticationType : uint64_t {
  // Tickets "p:<token>".
  DVACAnalyticsAuthenticationTypeCompact = 0,
  // Tickets "d:<token>".
  DVACAnalyticsAuthenticationTypeDelegate = 1,
};

// Seconds before the expiry at which a token is refreshed.
inline constexpr int64_t kDVACAuthenticationRefreshMargin = 600;

// One request for a token: the answer slot the delegate is handed. Its
// identity tells an answer to the current request from a late one.
class DVACAcquireTokenCompletionBlock {
 public:
  explicit DVACAcquireTokenCompletionBlock(std::weak_ptr<DVACAnalyticsAuthenticationProvider> provider)
      : provider_(std::move(provider)) {}
  std::weak_ptr<DVACAnalyticsAuthenticationProvider> provider() const { return provider_; }

 private:
  std::weak_ptr<DVACAnalyticsAuthenticationProvider> provider_;
};

class DVACAnalyticsAuthenticationProvider : public std::enable_shared_from_this<DVACAnalyticsAuthenticationProvider> {
 public:
  static std::shared_ptr<DVACAnalyticsAuthenticationProvider> initWithAuthenticationType(
      DVACAnalyticsAuthenticationType type, const std::optional<std::string>& ticketKey,
      const std::shared_ptr<DVACAnalyticsAuthenticationProviderDelegate>& delegate);

  // Asks the delegate, unless a request is already out (logged without one).
  void acquireTokenAsync();
  // Takes the answer only when the completion handler is the pending one.
  void handleTokenUpdateWithToken(const std::optional<std::string>& token, const std::optional<ns::Date>& expiryDate,
                                  const std::shared_ptr<DVACAcquireTokenCompletionBlock>& completionHandler);
  // A new request when the token expires within 10 minutes.
  void checkTokenExpiry();

  DVACAnalyticsAuthenticationType type() const { return type_; }
  const std::optional<std::string>& ticketKey() const { return ticketKey_; }
  // Lower-case hex SHA-256 of the ticket key.
  const std::optional<std::string>& ticketKeyHash() const { return ticketKeyHash_; }
  std::shared_ptr<DVACAnalyticsAuthenticationProviderDelegate> delegate() const { return delegate_.lock(); }
  std::optional<ns::Date> expiryDate() const;
  std::shared_ptr<DVACAcquireTokenCompletionBlock> completionHandler() const;

  DVACAnalyticsAuthenticationProvider(const DVACAnalyticsAuthenticationProvider&) = delete;
  DVACAnalyticsAuthenticationProvider& operator=(const DVACAnalyticsAuthenticationProvider&) = delete;

 private:
  DVACAnalyticsAuthenticationProvider(DVACAnalyticsAuthenticationType type, std::optional<std::string> ticketKey,
                                      const std::shared_ptr<DVACAnalyticsAuthenticationProviderDelegate>& delegate);

  mutable std::recursive_mutex mutex_;
  const DVACAnalyticsAuthenticationType type_;
  const std::optional<std::string> ticketKey_;
  const std::optional<std::string> ticketKeyHash_;
  const std::weak_ptr<DVACAnalyticsAuthenticationProviderDelegate> delegate_;
  std::optional<ns::Date> expiryDate_;
  std::shared_ptr<DVACAcquireTokenCompletionBlock> completionHandler_;
};
