#include "RedEvududAnalytics/RedEvududAnalytics/TransmissionTarget/DVACAnalyticsAuthenticationProvider.h"

#include <cmath>

#include "RedEvudud/RedEvudud/Internals/Ingestion/DVACTicketCache.h"
#include "RedEvudud/RedEvudud/Internals/Util/DVACLogger.h"
#include "RedEvudud/RedEvudud/Internals/Util/DVACUtility.h"
#include "RedEvududAnalytics/RedEvududAnalytics/DVACAnalytics.h"
#include "platform/dispatch/Dispatch.h"

namespace {

std::string ticketPrefix(DVACAnalyticsAuthenticationType type) {
  switch (type) {
    case DVACAnalyticsAuthenticationTypeCompact: return "p";
    case DVACAnalyticsAuthenticationTypeDelegate: return "d";
  }
  return "(null)";
}

}  // namespace

std::shared_ptr<DVACAnalyticsAuthenticationProvider> DVACAnalyticsAuthenticationProvider::initWithAuthenticationType(
    DVACAnalyticsAuthenticationType type, const std::optional<std::string>& ticketKey,
    const std::shared_ptr<DVACAnalyticsAuthenticationProviderDelegate>& delegate) {
  return std::shared_ptr<DVACAnalyticsAuthenticationProvider>(
      new DVACAnalyticsAuthenticationProvider(type, ticketKey, delegate));
}

DVACAnalyticsAuthenticationProvider::DVACAnalyticsAuthenticationProvider(
    DVACAnalyticsAuthenticationType type, std::optional<std::string> ticketKey,
    const std::shared_ptr<DVACAnalyticsAuthenticationProviderDelegate>& delegate)
    : type_(type),
      ticketKey_(std::move(ticketKey)),
      ticketKeyHash_(ticketKey_ ? std::optional<std::string>(DVACUtility::sha256(*ticketKey_)) : std::nullopt),
      delegate_(delegate) {}

void DVACAnalyticsAuthenticationProvider::acquireTokenAsync() {
  auto delegate = this->delegate();
  if (!delegate) {
    DVACLogError(kDVACAnalyticsLogTag, "No completionhandler to acquire token has been set.");
    return;
  }
  std::shared_ptr<DVACAcquireTokenCompletionBlock> request;
  {
    std::lock_guard lock(mutex_);
    if (completionHandler_) return;
    request = std::make_shared<DVACAcquireTokenCompletionBlock>(weak_from_this());
    completionHandler_ = request;
  }
  // The handler answers for its own request only; a late answer to an
  // earlier one finds another request pending and is dropped.
  delegate->authenticationProviderAcquireTokenWithCompletionHandler(
      *this, [request](const std::optional<std::string>& token, const std::optional<ns::Date>& expiryDate) {
        if (auto provider = request->provider().lock()) provider->handleTokenUpdateWithToken(token, expiryDate, request);
      });
}

void DVACAnalyticsAuthenticationProvider::handleTokenUpdateWithToken(
    const std::optional<std::string>& token, const std::optional<ns::Date>& expiryDate,
    const std::shared_ptr<DVACAcquireTokenCompletionBlock>& completionHandler) {
  std::lock_guard lock(mutex_);
  if (!completionHandler || completionHandler != completionHandler_) return;
  completionHandler_.reset();
  DVACLogDebug(kDVACAnalyticsLogTag, "Got result back from DVAcquireTokenCompletionBlock.");
  if (!token) {
    DVACLogError(kDVACAnalyticsLogTag, "Token must not be null");
    return;
  }
  if (!expiryDate) {
    DVACLogError(kDVACAnalyticsLogTag, "Date must not be null");
    return;
  }
  if (ticketKeyHash_) DVACTicketCache::sharedInstance()->setTicket(ticketPrefix(type_) + ":" + *token, *ticketKeyHash_);
  expiryDate_ = expiryDate;
}

void DVACAnalyticsAuthenticationProvider::checkTokenExpiry() {
  bool refresh = false;
  {
    std::lock_guard lock(mutex_);
    if (expiryDate_) {
      const auto now = static_cast<int64_t>(std::floor(dispatch::wallNow()));
      const auto expiry = static_cast<int64_t>(std::floor(expiryDate_->timeIntervalSince1970()));
      refresh = now + kDVACAuthenticationRefreshMargin >= expiry;
    }
  }
  if (refresh) acquireTokenAsync();
}

std::optional<ns::Date> DVACAnalyticsAuthenticationProvider::expiryDate() const {
  std::lock_guard lock(mutex_);
  return expiryDate_;
}

std::shared_ptr<DVACAcquireTokenCompletionBlock> DVACAnalyticsAuthenticationProvider::completionHandler() const {
  std::lock_guard lock(mutex_);
  return completionHandler_;
}
