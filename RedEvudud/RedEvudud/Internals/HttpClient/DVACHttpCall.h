#pragma once
// One request of the HTTP client with its retry state.

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "RedEvudud/RedEvudud/Internals/HttpClient/DVACHttpClientProtocol.h"
#include "platform/dispatch/Dispatch.h"

// Bodies from this size on are compressed when compression is asked for.
inline constexpr size_t kDVACHttpCallCompressionThreshold = 1400;
// The longest wait a server's "x-dv-retry-after-ms" may ask for: one hour.
inline constexpr double kDVACMaxRetryAfterMilliseconds = 3600.0 * 1000.0;

class DVACHttpCall : public std::enable_shared_from_this<DVACHttpCall> {
 public:
  // Copies the headers; a body of 1400 bytes or more is gzipped (with
  // "Content-Encoding: gzip") when compression is on and succeeds, and sent as
  // it is otherwise; a body without "Content-Type" gets "application/json".
  static std::shared_ptr<DVACHttpCall> initWithUrl(const ns::URL& url, const std::string& method,
                                                   const DVACHttpHeaders& headers, const std::optional<ns::Data>& data,
                                                   const std::vector<double>& retryIntervals, bool compressionEnabled,
                                                   DVACHttpRequestCompletionHandler completionHandler);

  ~DVACHttpCall();
  DVACHttpCall(const DVACHttpCall&) = delete;
  DVACHttpCall& operator=(const DVACHttpCall&) = delete;

  bool isInProgress() const { return inProgress_.load(); }
  void setInProgress(bool inProgress) { inProgress_.store(inProgress); }

  int32_t retryCount() const;
  const std::optional<ns::Data>& data() const { return data_; }
  const DVACHttpHeaders& headers() const { return headers_; }
  const ns::URL& url() const { return url_; }
  const std::string& method() const { return method_; }
  const std::vector<double>& retryIntervals() const { return retryIntervals_; }
  std::shared_ptr<dispatch::TimerSource> timerSource() const;

  // Hands the handler out once; later calls get an empty one, so a call can
  // never complete twice.
  DVACHttpRequestCompletionHandler takeCompletionHandler();

  bool hasReachedMaxRetries() const;
  // Stops the retry timer and starts counting retries from zero again.
  void resetRetry();
  // Stops the retry timer and keeps the count (the call is being sent now).
  void cancelRetryTimer();
  // A retry timer is armed and has not fired.
  bool hasPendingRetryTimer() const;
  // Held for the network (no connection, a lost one, no secure one): the
  // network coming back sends it at once, whatever its retry timer says.
  bool isHeldForNetwork() const { return heldForNetwork_.load(); }
  void setHeldForNetwork(bool held) { heldForNetwork_.store(held); }

  // Arms a one-shot timer on the default global queue that runs `event`. The
  // delay is `retryAfter` (milliseconds) when it is a number from 0 to one
  // hour, else the jittered delay of the current retry; counts one retry.
  void startRetryTimerWithStatusCode(int64_t statusCode, std::optional<double> retryAfter,
                                     std::function<void()> event);
  // Half the interval of that retry plus a random part of up to half, in
  // milliseconds; 0 for a retry beyond the intervals or an interval that is
  // not a positive number.
  uint32_t delayForRetryCount(int64_t retryCount) const;

 private:
  explicit DVACHttpCall(ns::URL url) : url_(std::move(url)) {}

  std::atomic<bool> inProgress_{false};
  std::atomic<bool> heldForNetwork_{false};
  int32_t retryCount_ = 0;
  std::optional<ns::Data> data_;
  DVACHttpHeaders headers_;
  ns::URL url_;
  std::string method_;
  DVACHttpRequestCompletionHandler completionHandler_;
  std::shared_ptr<dispatch::TimerSource> timerSource_;
  std::vector<double> retryIntervals_;
  // Bumped whenever the timer is replaced or stopped, so an event already on
  // its way from an older timer does nothing.
  uint64_t timerGeneration_ = 0;
  bool timerPending_ = false;
  mutable std::recursive_mutex mutex_;
};
