#include "RedEvudud/RedEvudud/Internals/HttpClient/DVACHttpCall.h"

#include <stdlib.h>

#include <cmath>
#include <limits>

#include "RedEvudud/RedEvudud/Internals/HttpClient/DVACCompression.h"
#include "RedEvudud/RedEvudud/Internals/Util/DVACLogger.h"
#include "platform/net/URLRequest.h"

namespace {

bool hasHeader(const DVACHttpHeaders& headers, std::string_view name) {
  for (const auto& [key, value] : headers) {
    if (net::HTTPHeaderFields::namesEqual(key, name)) return true;
  }
  return false;
}

}  // namespace

std::shared_ptr<DVACHttpCall> DVACHttpCall::initWithUrl(const ns::URL& url, const std::string& method,
                                                        const DVACHttpHeaders& headers,
                                                        const std::optional<ns::Data>& data,
                                                        const std::vector<double>& retryIntervals,
                                                        bool compressionEnabled,
                                                        DVACHttpRequestCompletionHandler completionHandler) {
  auto call = std::shared_ptr<DVACHttpCall>(new DVACHttpCall(url));
  call->method_ = method;
  call->retryIntervals_ = retryIntervals;
  call->completionHandler_ = std::move(completionHandler);

  DVACHttpHeaders newHeaders = headers;
  std::optional<ns::Data> body = data;
  if (compressionEnabled && body && body->size() >= kDVACHttpCallCompressionThreshold) {
    // A body whose compression failed goes out as it is, without the
    // encoding header, rather than empty under a "gzip" label.
    if (std::optional<ns::Data> compressed = DVACCompression::compressData(body)) {
      body = std::move(compressed);
      newHeaders["Content-Encoding"] = "gzip";
    }
  }
  if (body && !hasHeader(newHeaders, "Content-Type")) newHeaders["Content-Type"] = "application/json";
  call->data_ = std::move(body);
  call->headers_ = std::move(newHeaders);
  return call;
}

DVACHttpCall::~DVACHttpCall() {
  if (timerSource_) timerSource_->cancel();
}

int32_t DVACHttpCall::retryCount() const {
  std::lock_guard lock(mutex_);
  return retryCount_;
}

std::shared_ptr<dispatch::TimerSource> DVACHttpCall::timerSource() const {
  std::lock_guard lock(mutex_);
  return timerSource_;
}

DVACHttpRequestCompletionHandler DVACHttpCall::takeCompletionHandler() {
  std::lock_guard lock(mutex_);
  return std::exchange(completionHandler_, nullptr);
}

bool DVACHttpCall::hasReachedMaxRetries() const {
  std::lock_guard lock(mutex_);
  return retryCount_ < 0 || static_cast<size_t>(retryCount_) >= retryIntervals_.size();
}

void DVACHttpCall::resetRetry() {
  std::lock_guard lock(mutex_);
  cancelRetryTimer();
  retryCount_ = 0;
}

void DVACHttpCall::cancelRetryTimer() {
  std::lock_guard lock(mutex_);
  if (timerSource_) timerSource_->cancel();
  ++timerGeneration_;
  timerPending_ = false;
}

bool DVACHttpCall::hasPendingRetryTimer() const {
  std::lock_guard lock(mutex_);
  return timerPending_;
}

void DVACHttpCall::startRetryTimerWithStatusCode(int64_t statusCode, std::optional<double> retryAfter,
                                                 std::function<void()> event) {
  std::lock_guard lock(mutex_);
  // Only one timer is ever live: the one it replaces must not fire too.
  if (timerSource_) timerSource_->cancel();
  timerSource_ = dispatch::TimerSource::make(dispatch::Queue::global(dispatch::QoS::Default));
  const uint64_t generation = ++timerGeneration_;
  timerPending_ = true;

  uint32_t delay = 0;
  if (retryAfter && std::isfinite(*retryAfter) && *retryAfter >= 0 && *retryAfter <= kDVACMaxRetryAfterMilliseconds) {
    delay = static_cast<uint32_t>(*retryAfter);
  } else {
    delay = delayForRetryCount(retryCount_);
  }
  DVACLogWarning(kDVACLogTag, "Call attempt #" + std::to_string(retryCount_) + " failed with status code: " +
                                  std::to_string(statusCode) + ", it will be retried in " + std::to_string(delay) +
                                  " ms.");
  ++retryCount_;

  std::weak_ptr<DVACHttpCall> weakSelf = weak_from_this();
  timerSource_->setTimer(dispatch::after(static_cast<double>(delay) / 1000.0), 0, dispatch::kNanosPerSecond);
  timerSource_->setEventHandler([weakSelf, generation, event = std::move(event)] {
    auto self = weakSelf.lock();
    if (!self) return;
    {
      std::lock_guard lock(self->mutex_);
      if (self->timerGeneration_ != generation) return;
      self->timerPending_ = false;
    }
    if (event) event();
  });
  timerSource_->resume();
}

uint32_t DVACHttpCall::delayForRetryCount(int64_t retryCount) const {
  std::lock_guard lock(mutex_);
  if (retryCount < 0 || static_cast<size_t>(retryCount) >= retryIntervals_.size()) return 0;
  const double interval = retryIntervals_[static_cast<size_t>(retryCount)];
  if (!std::isfinite(interval) || interval <= 0) return 0;
  // Half the interval in milliseconds; the jitter adds up to as much again.
  const double halfMilliseconds = interval * 1000000000.0 * 0.5 / 1000000.0;
  const double limit = static_cast<double>(std::numeric_limits<uint32_t>::max() / 2);
  const auto half = static_cast<uint32_t>(std::min(halfMilliseconds, limit));
  if (half == 0) return 0;
  return half + ::arc4random_uniform(half);
}
