#include "RedEvudud/RedEvudud/Internals/HttpClient/DVACHttpClient.h"

#include <stdlib.h>

#include <algorithm>
#include <charconv>
#include <cmath>

#include "RedEvudud/RedEvudud/Internals/HttpClient/DVACHttpUtil.h"
#include "RedEvudud/RedEvudud/Internals/Util/DVACErrors.h"
#include "RedEvudud/RedEvudud/Internals/Util/DVACLogger.h"

namespace {

// The number a server put in "x-dv-retry-after-ms"; nil when it is not one.
std::optional<double> parseRetryAfter(const std::optional<std::string>& text) {
  if (!text) return std::nullopt;
  std::string_view value(*text);
  while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) value.remove_prefix(1);
  while (!value.empty() && (value.back() == ' ' || value.back() == '\t')) value.remove_suffix(1);
  if (value.empty()) return std::nullopt;
  double number = 0;
  const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), number);
  if (ec != std::errc() || end != value.data() + value.size()) return std::nullopt;
  return number;
}

// The session follows every redirect it can, so a 3xx that reaches the client
// was not followed: it had no usable Location, or is of a kind never followed.
// The server neither took the upload nor refused the app: a transport failure.
std::optional<ns::Error> unfollowedRedirectError(const std::string& method, int64_t statusCode) {
  if (statusCode < 300 || statusCode > 399) return std::nullopt;
  const bool followable =
      statusCode == 301 || statusCode == 302 || statusCode == 303 || statusCode == 307 || statusCode == 308;
  return ns::Error(ns::NSURLErrorDomain, ns::NSURLErrorBadServerResponse,
                   {{ns::NSLocalizedDescriptionKey,
                     ns::Value("Redirect not followed: the server answered " + std::to_string(statusCode) + " to a " +
                               method +
                               (followable ? " without a usable Location header." : ", a status never followed."))}});
}

}  // namespace

const std::vector<double>& DVACHttpClientDefaultRetryIntervals() {
  static const std::vector<double> intervals = {10, 300, 1200};
  return intervals;
}

// ------------------------------------------------------------------ Locker

DVACHttpClient::Locker::Locker(const DVACHttpClient& client) : client_(client) {
  client_.mutex_.lock();
  ++client_.lockDepth_;
}

DVACHttpClient::Locker::~Locker() {
  std::vector<std::function<void()>> completions;
  if (--client_.lockDepth_ == 0) completions.swap(client_.deferredCompletions_);
  client_.mutex_.unlock();
  for (auto& completion : completions) completion();
}

// ------------------------------------------------------------ Construction

DVACHttpClient::DVACHttpClient(net::URLSessionConfiguration sessionConfiguration,
                               std::shared_ptr<DVAC_Reachability> reachability)
    : reachability_(std::move(reachability)),
      sessionConfiguration_(std::move(sessionConfiguration)),
      delegateQueue_(dispatch::Queue::makeSerial("com.diruriduv.redevudud.HttpClient")) {
  session_ = net::URLSession::sessionWithConfiguration(sessionConfiguration_, delegateQueue_);
}

std::shared_ptr<DVACHttpClient> DVACHttpClient::make() {
  return initWithMaxHttpConnectionsPerHost(std::nullopt, DVAC_Reachability::reachabilityForInternetConnection());
}

std::shared_ptr<DVACHttpClient> DVACHttpClient::initWithMaxHttpConnectionsPerHost(int64_t maxHttpConnectionsPerHost) {
  return initWithMaxHttpConnectionsPerHost(std::optional<int64_t>(maxHttpConnectionsPerHost),
                                           DVAC_Reachability::reachabilityForInternetConnection());
}

std::shared_ptr<DVACHttpClient> DVACHttpClient::initWithMaxHttpConnectionsPerHost(
    std::optional<int64_t> maxHttpConnectionsPerHost, std::shared_ptr<DVAC_Reachability> reachability) {
  return initWithMaxHttpConnectionsPerHost(maxHttpConnectionsPerHost, std::move(reachability),
                                           net::URLSessionConfiguration::defaultSessionConfiguration());
}

std::shared_ptr<DVACHttpClient> DVACHttpClient::initWithMaxHttpConnectionsPerHost(
    std::optional<int64_t> maxHttpConnectionsPerHost, std::shared_ptr<DVAC_Reachability> reachability,
    net::URLSessionConfiguration sessionConfiguration) {
  if (maxHttpConnectionsPerHost) sessionConfiguration.HTTPMaximumConnectionsPerHost = *maxHttpConnectionsPerHost;
  auto client = std::shared_ptr<DVACHttpClient>(new DVACHttpClient(std::move(sessionConfiguration), std::move(reachability)));
  client->start();
  return client;
}

void DVACHttpClient::start() {
  std::weak_ptr<DVACHttpClient> weakSelf = weak_from_this();
  // Any sender: the notifier of every reachability instance counts.
  reachabilityObserver_ = ns::NotificationCenter::defaultCenter()->addObserver(
      std::string(kDVNetworkReachabilityChangedNotification), nullptr, [weakSelf](const ns::Notification& notification) {
        if (auto self = weakSelf.lock()) self->networkStateChanged(notification);
      });
  if (reachability_) reachability_->startNotifier();
}

DVACHttpClient::~DVACHttpClient() {
  reachabilityObserver_.reset();
  if (reachability_) reachability_->stopNotifier();
  std::vector<std::function<void()>> completions;
  {
    std::lock_guard lock(mutex_);
    cancelBackOffLocked();
    if (session_) session_->finishTasksAndInvalidate();
    // Every call ends with its handler, even when its client goes first.
    for (const auto& call : pendingCalls_) {
      call->cancelRetryTimer();
      deferCompletion(call, std::nullopt, nullptr, dvac::makeRedEvududError(DVACCanceledErrorCode));
    }
    pendingCalls_.clear();
    completions.swap(deferredCompletions_);
  }
  for (auto& completion : completions) completion();
}

// ------------------------------------------------------------------ Sending

void DVACHttpClient::sendAsync(const ns::URL& url, const std::string& method, const DVACHttpHeaders& headers,
                               const std::optional<ns::Data>& data,
                               DVACHttpRequestCompletionHandler completionHandler) {
  sendAsync(url, method, headers, data, DVACHttpClientDefaultRetryIntervals(), true, std::move(completionHandler));
}

void DVACHttpClient::sendAsync(const ns::URL& url, const std::string& method, const DVACHttpHeaders& headers,
                               const std::optional<ns::Data>& data, const std::vector<double>& retryIntervals,
                               bool compressionEnabled, DVACHttpRequestCompletionHandler completionHandler) {
  // Compressing is the costly part; it needs none of the client's state.
  auto call = DVACHttpCall::initWithUrl(url, method, headers, data, retryIntervals, compressionEnabled,
                                        std::move(completionHandler));
  Locker lock(*this);
  if (!enabled_) {
    deferCompletion(call, std::nullopt, nullptr, dvac::makeRedEvududError(DVACDisabledErrorCode));
    return;
  }
  sendCallAsync(call);
}

void DVACHttpClient::sendCallAsync(const std::shared_ptr<DVACHttpCall>& call) {
  if (!call) return;
  Locker lock(*this);
  if (!isPendingLocked(call)) pendingCalls_.push_back(call);
  if (paused_) return;
  // Already on the wire: a second copy would answer twice.
  if (call->isInProgress()) return;
  if (!session_) return;
  call->cancelRetryTimer();
  call->setHeldForNetwork(false);

  if (auto delegate = delegate_.lock()) delegate->willSendHTTPRequestToURL(call->url(), call->headers());

  // A zero timeout means the session's own, never "no limit".
  net::URLRequest request(call->url(), net::URLRequestCachePolicy::ReloadIgnoringLocalCacheData, 0);
  request.setHTTPBody(call->data());
  request.setHTTPMethod(call->method());
  for (const auto& [name, value] : call->headers()) request.setValue(value, name);
  request.setHTTPShouldHandleCookies(false);

  call->setInProgress(true);
  std::weak_ptr<DVACHttpClient> weakSelf = weak_from_this();
  auto task = session_->dataTaskWithRequest(
      request, [weakSelf, call](std::optional<ns::Data> data, std::shared_ptr<const net::HTTPURLResponse> response,
                                std::optional<ns::Error> error) {
        // A client that is gone has already completed the call.
        if (auto self = weakSelf.lock()) {
          self->requestCompletedWithHttpCall(call, std::move(data), std::move(response), std::move(error));
        }
      });
  task->resume();
}

void DVACHttpClient::retryCall(const std::shared_ptr<DVACHttpCall>& call) {
  Locker lock(*this);
  // Completed, dropped or sent again by resume() while the timer fired.
  if (!isPendingLocked(call) || call->isInProgress()) return;
  sendCallAsync(call);
}

void DVACHttpClient::requestCompletedWithHttpCall(const std::shared_ptr<DVACHttpCall>& call,
                                                  std::optional<ns::Data> data,
                                                  std::shared_ptr<const net::HTTPURLResponse> response,
                                                  std::optional<ns::Error> error) {
  if (!call) return;
  Locker lock(*this);
  call->setInProgress(false);

  if (!isPendingLocked(call)) {
    DVACLogDebug(kDVACLogTag, "HTTP call was canceled; do not process further.");
    return;
  }

  if (!error && response) {
    if (auto unfollowed = unfollowedRedirectError(call->method(), response->statusCode())) {
      error = std::move(unfollowed);
      response = nullptr;
    }
  }
  if (error) {
    const bool noInternet = DVACHttpUtil::isNoInternetConnectionError(*error);
    if (noInternet || DVACHttpUtil::isSSLConnectionError(*error)) {
      DVACLogInfo(kDVACLogTag, std::string("HTTP call failed with error: ") +
                                   (noInternet ? "Internet connection is down." : "Could not establish secure connection."));
      holdCall(call);
      return;
    }
    DVACLogError(kDVACLogTag, "HTTP request error with code: " + std::to_string(error->code) +
                                  ", domain: " + error->domain + ", description: " + error->localizedDescription());
    // A server that is not up yet, or too slow, is tried again as status 0
    // would be; failed at once, the batch would wait for the next launch.
    if (DVACHttpUtil::isNoAnswerError(*error) && retryOrPause(call, 0, std::nullopt)) return;
    finishCallLocked(call, std::move(data), nullptr, std::move(error));
    return;
  }

  const int64_t statusCode = response ? response->statusCode() : 0;
  if (DVACHttpUtil::isRecoverableError(statusCode)) {
    const auto retryAfter =
        parseRetryAfter(response ? response->valueForHTTPHeaderField(kDVACRetryHeaderKey) : std::nullopt);
    if (retryOrPause(call, statusCode, retryAfter)) return;
    finishCallLocked(call, std::move(data), std::move(response), std::nullopt);
    return;
  }

  if (!DVACHttpUtil::isSuccessStatusCode(statusCode)) {
    // This call's handler runs before the other calls learn they were dropped.
    finishCallLocked(call, std::move(data), std::move(response), std::nullopt);
    setEnabled(false, true);
    return;
  }

  backOffStep_ = 0;
  finishCallLocked(call, std::move(data), std::move(response), std::nullopt);
}

void DVACHttpClient::scheduleRetry(const std::shared_ptr<DVACHttpCall>& call, int64_t statusCode,
                                   std::optional<double> retryAfter) {
  std::weak_ptr<DVACHttpClient> weakSelf = weak_from_this();
  std::weak_ptr<DVACHttpCall> weakCall = call;
  call->startRetryTimerWithStatusCode(statusCode, retryAfter, [weakSelf, weakCall] {
    auto self = weakSelf.lock();
    auto retried = weakCall.lock();
    if (self && retried) self->retryCall(retried);
  });
}

void DVACHttpClient::holdCall(const std::shared_ptr<DVACHttpCall>& call) {
  // It waits for the network to come back or for its next retry, whichever
  // is first; a paused client sends it when it resumes.
  call->setHeldForNetwork(true);
  if (paused_) return;
  retryOrPause(call, 0, std::nullopt);
}

bool DVACHttpClient::retryOrPause(const std::shared_ptr<DVACHttpCall>& call, int64_t statusCode,
                                  std::optional<double> retryAfter) {
  if (!call->hasReachedMaxRetries()) {
    scheduleRetry(call, statusCode, retryAfter);
    return true;
  }
  pauseAfterFailures();
  return false;
}

void DVACHttpClient::pauseAfterFailures() {
  pause();
  cancelBackOffLocked();
  const double longest =
      std::min(kDVACFirstPauseBackOffSeconds * std::ldexp(1.0, backOffStep_), kDVACLongestPauseBackOffSeconds);
  if (longest < kDVACLongestPauseBackOffSeconds) ++backOffStep_;
  const double delay = longest / 2 + longest / 2 * (::arc4random_uniform(1000) / 1000.0);
  DVACLogInfo(kDVACLogTag, "HTTP client resumes in " + std::to_string(static_cast<int>(delay)) +
                               " s unless the network changes first.");
  const uint64_t generation = backOffGeneration_;
  std::weak_ptr<DVACHttpClient> weakSelf = weak_from_this();
  backOffTimer_ = dispatch::TimerSource::make(dispatch::Queue::global(dispatch::QoS::Default));
  backOffTimer_->setTimer(dispatch::after(delay), 0, dispatch::kNanosPerSecond);
  backOffTimer_->setEventHandler([weakSelf, generation] {
    if (auto self = weakSelf.lock()) self->backOffElapsed(generation);
  });
  backOffTimer_->resume();
}

void DVACHttpClient::cancelBackOffLocked() {
  ++backOffGeneration_;
  if (backOffTimer_) backOffTimer_->cancel();
  backOffTimer_.reset();
}

void DVACHttpClient::backOffElapsed(uint64_t generation) {
  Locker lock(*this);
  if (generation != backOffGeneration_ || !paused_ || !enabled_) return;
  // Without a network the notification of its return resumes the client.
  if (reachability_ && reachability_->currentReachabilityStatus() == NotReachable) return;
  resume();
}

// ------------------------------------------------------- State and lifecycle

void DVACHttpClient::networkStateChanged(const ns::Notification& /*notification*/) {
  const DVACNetworkStatus status = reachability() ? reachability()->currentReachabilityStatus() : ReachableViaWiFi;
  if (status == NotReachable) {
    DVACLogInfo(kDVACLogTag, "Internet connection is down.");
    pause();
  } else {
    DVACLogInfo(kDVACLogTag, "Internet connection is up.");
    resume();
  }
}

void DVACHttpClient::pause() {
  Locker lock(*this);
  if (paused_) return;
  DVACLogInfo(kDVACLogTag, "Pause HTTP client.");
  paused_ = true;
  for (const auto& call : pendingCalls_) call->resetRetry();
}

void DVACHttpClient::resume() {
  Locker lock(*this);
  if (!enabled_) return;
  cancelBackOffLocked();
  const bool wasPaused = paused_;
  if (wasPaused) {
    DVACLogInfo(kDVACLogTag, "Resume HTTP client.");
    paused_ = false;
  }
  // A snapshot: sending may complete calls and change the set.
  const std::vector<std::shared_ptr<DVACHttpCall>> calls = pendingCalls_;
  for (const auto& call : calls) {
    if (call->isInProgress()) continue;
    // Without a pause, a call waiting for its retry timer after an answer
    // keeps waiting; only calls held for the network go out again.
    if (!wasPaused && call->hasPendingRetryTimer() && !call->isHeldForNetwork()) continue;
    if (!isPendingLocked(call)) continue;
    sendCallAsync(call);
  }
}

void DVACHttpClient::setEnabled(bool isEnabled) {
  Locker lock(*this);
  enabled_ = isEnabled;
}

void DVACHttpClient::setEnabled(bool isEnabled, bool deleteDataOnDisabled) {
  Locker lock(*this);
  if (enabled_ == isEnabled) return;
  enabled_ = isEnabled;
  if (isEnabled) {
    // The old session, if any, finishes what it has on the wire by itself.
    session_ = net::URLSession::sessionWithConfiguration(sessionConfiguration_, delegateQueue_);
    if (reachability_) reachability_->startNotifier();
    resume();
    return;
  }
  if (reachability_) reachability_->stopNotifier();
  pause();
  if (deleteDataOnDisabled) {
    if (session_) session_->invalidateAndCancel();
    session_.reset();
    const std::vector<std::shared_ptr<DVACHttpCall>> calls = std::move(pendingCalls_);
    pendingCalls_.clear();
    for (const auto& call : calls) {
      call->cancelRetryTimer();
      deferCompletion(call, std::nullopt, nullptr, dvac::makeRedEvududError(DVACCanceledErrorCode));
    }
  }
}

bool DVACHttpClient::isEnabled() const {
  Locker lock(*this);
  return enabled_;
}

bool DVACHttpClient::isPaused() const {
  Locker lock(*this);
  return paused_;
}

void DVACHttpClient::setPaused(bool paused) {
  Locker lock(*this);
  paused_ = paused;
}

std::shared_ptr<DVACHttpClientDelegate> DVACHttpClient::delegate() const {
  Locker lock(*this);
  return delegate_.lock();
}

void DVACHttpClient::setDelegate(const std::shared_ptr<DVACHttpClientDelegate>& delegate) {
  Locker lock(*this);
  delegate_ = delegate;
}

std::shared_ptr<net::URLSession> DVACHttpClient::session() const {
  Locker lock(*this);
  return session_;
}

std::shared_ptr<DVAC_Reachability> DVACHttpClient::reachability() const {
  Locker lock(*this);
  return reachability_;
}

std::vector<std::shared_ptr<DVACHttpCall>> DVACHttpClient::pendingCalls() const {
  Locker lock(*this);
  return pendingCalls_;
}

// ------------------------------------------------------------------ Helpers

bool DVACHttpClient::isPendingLocked(const std::shared_ptr<DVACHttpCall>& call) const {
  return std::find(pendingCalls_.begin(), pendingCalls_.end(), call) != pendingCalls_.end();
}

void DVACHttpClient::removePendingLocked(const std::shared_ptr<DVACHttpCall>& call) {
  std::erase(pendingCalls_, call);
}

void DVACHttpClient::finishCallLocked(const std::shared_ptr<DVACHttpCall>& call, std::optional<ns::Data> data,
                                      std::shared_ptr<const net::HTTPURLResponse> response,
                                      std::optional<ns::Error> error) {
  removePendingLocked(call);
  call->cancelRetryTimer();
  deferCompletion(call, std::move(data), std::move(response), std::move(error));
}

void DVACHttpClient::deferCompletion(const std::shared_ptr<DVACHttpCall>& call, std::optional<ns::Data> data,
                                     std::shared_ptr<const net::HTTPURLResponse> response,
                                     std::optional<ns::Error> error) const {
  deferCompletion(call->takeCompletionHandler(), std::move(data), std::move(response), std::move(error));
}

void DVACHttpClient::deferCompletion(DVACHttpRequestCompletionHandler handler, std::optional<ns::Data> data,
                                     std::shared_ptr<const net::HTTPURLResponse> response,
                                     std::optional<ns::Error> error) const {
  if (!handler) return;
  deferredCompletions_.push_back([handler = std::move(handler), data = std::move(data), response = std::move(response),
                                  error = std::move(error)]() mutable {
    handler(std::move(data), std::move(response), std::move(error));
  });
}
