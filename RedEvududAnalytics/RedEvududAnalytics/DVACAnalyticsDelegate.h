#pragma once
// The application's listener for the send outcome of its event and page
// logs. Every callback is optional and comes on the SDK's logs queue, not on
// the main thread.

#include <memory>
#include <optional>

#include "platform/foundation/Error.h"

class DVACAnalytics;
class DVACEventLog;
class DVACPageLog;

class DVACAnalyticsDelegate {
 public:
  virtual ~DVACAnalyticsDelegate() = default;

  virtual void analyticsWillSendEventLog(DVACAnalytics& /*analytics*/, const std::shared_ptr<DVACEventLog>& /*log*/) {}
  virtual void analyticsDidSucceedSendingEventLog(DVACAnalytics& /*analytics*/,
                                                  const std::shared_ptr<DVACEventLog>& /*log*/) {}
  virtual void analyticsDidFailSendingEventLog(DVACAnalytics& /*analytics*/,
                                               const std::shared_ptr<DVACEventLog>& /*log*/,
                                               const std::optional<ns::Error>& /*error*/) {}
  virtual void analyticsWillSendPageLog(DVACAnalytics& /*analytics*/, const std::shared_ptr<DVACPageLog>& /*log*/) {}
  virtual void analyticsDidSucceedSendingPageLog(DVACAnalytics& /*analytics*/,
                                                 const std::shared_ptr<DVACPageLog>& /*log*/) {}
  virtual void analyticsDidFailSendingPageLog(DVACAnalytics& /*analytics*/, const std::shared_ptr<DVACPageLog>& /*log*/,
                                              const std::optional<ns::Error>& /*error*/) {}
};
