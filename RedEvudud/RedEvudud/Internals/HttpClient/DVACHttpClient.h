#pragma once
// The HTTP client behind both ingestions.
//
// Every request becomes a call that stays pending until its handler has run:
// on the wire, waiting for its retry timer, or held while the network is
// down. Recoverable statuses (0, 408, 429, 500 and up) are retried after the
// call's jittered intervals (or the server's "x-dv-retry-after-ms"), and so
// are a refused connection and a timeout (completed with their error once the
// retries are spent), and a call that found no network, lost its connection or
// got no secure one (it also goes out again as soon as the network comes
// back). Once a call's retries are used up the client pauses; while the
// network is up it resumes by itself after a back-off that doubles from 5 to
// at most 60 minutes (reset by a success), so no server hiccup stops it for
// the rest of the process. A status that is neither recoverable nor a
// success disables the client and fails every other pending call.
//
// All state changes happen under the client's recursive lock. Completion
// handlers never run under it: they are collected and called once the
// outermost holder has let go, so a handler may call back into the client
// from any thread.

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "RedEvudud/RedEvudud/Internals/HttpClient/DVACHttpCall.h"
#include "RedEvudud/RedEvudud/Internals/HttpClient/DVACHttpClientProtocol.h"
#include "RedEvudud/RedEvudud/Internals/Util/DVACEnable.h"
#include "RedEvudud/RedEvudud/Internals/Util/DVAC_Reachability.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/net/URLSession.h"

inline constexpr const char* kDVACRetryHeaderKey = "x-dv-retry-after-ms";
// The back-off of a client paused by spent retries: the first, and the most
// it doubles to; each wait is jittered between half of it and all of it.
inline constexpr double kDVACFirstPauseBackOffSeconds = 300;
inline constexpr double kDVACLongestPauseBackOffSeconds = 3600;

class DVACHttpClient : public DVACHttpClientProtocol,
                       public DVACEnable,
                       public std::enable_shared_from_this<DVACHttpClient> {
 public:
  // No connection limit, reachability of the Internet in general.
  static std::shared_ptr<DVACHttpClient> make();
  static std::shared_ptr<DVACHttpClient> initWithMaxHttpConnectionsPerHost(int64_t maxHttpConnectionsPerHost);
  // A null reachability counts as always reachable.
  static std::shared_ptr<DVACHttpClient> initWithMaxHttpConnectionsPerHost(
      std::optional<int64_t> maxHttpConnectionsPerHost, std::shared_ptr<DVAC_Reachability> reachability);
  // The same from a given session configuration (tests shorten its timeouts).
  static std::shared_ptr<DVACHttpClient> initWithMaxHttpConnectionsPerHost(
      std::optional<int64_t> maxHttpConnectionsPerHost, std::shared_ptr<DVAC_Reachability> reachability,
      net::URLSessionConfiguration sessionConfiguration);

  // Stops the notifier, lets the session finish what is on the wire, and
  // completes every call still pending with "The operation was canceled."
  ~DVACHttpClient() override;
  DVACHttpClient(const DVACHttpClient&) = delete;
  DVACHttpClient& operator=(const DVACHttpClient&) = delete;

  // DVACHttpClientProtocol
  void sendAsync(const ns::URL& url, const std::string& method, const DVACHttpHeaders& headers,
                 const std::optional<ns::Data>& data, DVACHttpRequestCompletionHandler completionHandler) override;
  void sendAsync(const ns::URL& url, const std::string& method, const DVACHttpHeaders& headers,
                 const std::optional<ns::Data>& data, const std::vector<double>& retryIntervals,
                 bool compressionEnabled, DVACHttpRequestCompletionHandler completionHandler) override;
  void pause() override;
  // Sends again every pending call that waits for nothing else: all of them
  // after a pause, and those held for a missing network or a failed secure
  // connection at any time. Nothing while disabled.
  void resume() override;
  void setEnabled(bool isEnabled) override;
  std::shared_ptr<DVACHttpClientDelegate> delegate() const override;
  void setDelegate(const std::shared_ptr<DVACHttpClientDelegate>& delegate) override;

  // DVACEnable
  void setEnabled(bool isEnabled, bool deleteDataOnDisabled) override;
  bool isEnabled() const override;

  void sendCallAsync(const std::shared_ptr<DVACHttpCall>& call);
  void requestCompletedWithHttpCall(const std::shared_ptr<DVACHttpCall>& call, std::optional<ns::Data> data,
                                    std::shared_ptr<const net::HTTPURLResponse> response,
                                    std::optional<ns::Error> error);
  void networkStateChanged(const ns::Notification& notification);

  bool isPaused() const;
  void setPaused(bool paused);
  std::shared_ptr<net::URLSession> session() const;
  std::shared_ptr<DVAC_Reachability> reachability() const;
  std::vector<std::shared_ptr<DVACHttpCall>> pendingCalls() const;
  const net::URLSessionConfiguration& sessionConfiguration() const { return sessionConfiguration_; }

 private:
  DVACHttpClient(net::URLSessionConfiguration sessionConfiguration, std::shared_ptr<DVAC_Reachability> reachability);
  void start();

  // Holds the client's lock; the outermost one runs the collected handlers
  // after letting go.
  class Locker {
   public:
    explicit Locker(const DVACHttpClient& client);
    ~Locker();
    Locker(const Locker&) = delete;
    Locker& operator=(const Locker&) = delete;

   private:
    const DVACHttpClient& client_;
  };

  // Under the lock: the handler runs with these values once the lock is free.
  void deferCompletion(const std::shared_ptr<DVACHttpCall>& call, std::optional<ns::Data> data,
                       std::shared_ptr<const net::HTTPURLResponse> response, std::optional<ns::Error> error) const;
  void deferCompletion(DVACHttpRequestCompletionHandler handler, std::optional<ns::Data> data,
                       std::shared_ptr<const net::HTTPURLResponse> response, std::optional<ns::Error> error) const;
  bool isPendingLocked(const std::shared_ptr<DVACHttpCall>& call) const;
  void removePendingLocked(const std::shared_ptr<DVACHttpCall>& call);
  // Removes the call and completes it.
  void finishCallLocked(const std::shared_ptr<DVACHttpCall>& call, std::optional<ns::Data> data,
                        std::shared_ptr<const net::HTTPURLResponse> response, std::optional<ns::Error> error);
  void retryCall(const std::shared_ptr<DVACHttpCall>& call);
  // Under the lock: the next attempt of the call after its retry delay.
  void scheduleRetry(const std::shared_ptr<DVACHttpCall>& call, int64_t statusCode, std::optional<double> retryAfter);
  // Under the lock: schedules the next attempt, or, once the call's retries
  // are spent, pauses the client; whether an attempt was scheduled.
  bool retryOrPause(const std::shared_ptr<DVACHttpCall>& call, int64_t statusCode, std::optional<double> retryAfter);
  // Under the lock: keeps a call that could not reach the server.
  void holdCall(const std::shared_ptr<DVACHttpCall>& call);
  // Under the lock: pauses, and resumes after the back-off while the network is up.
  void pauseAfterFailures();
  void cancelBackOffLocked();
  void backOffElapsed(uint64_t generation);

  mutable std::recursive_mutex mutex_;
  mutable int lockDepth_ = 0;
  mutable std::vector<std::function<void()>> deferredCompletions_;

  bool paused_ = false;
  bool enabled_ = true;
  std::weak_ptr<DVACHttpClientDelegate> delegate_;
  std::shared_ptr<net::URLSession> session_;
  std::shared_ptr<DVAC_Reachability> reachability_;
  // In submission order, so calls are sent again in the order they came.
  std::vector<std::shared_ptr<DVACHttpCall>> pendingCalls_;
  const net::URLSessionConfiguration sessionConfiguration_;
  // Shared by every session the client makes, so the answers of a session
  // that was dropped (cancelled tasks included) are still delivered.
  const std::shared_ptr<dispatch::Queue> delegateQueue_;
  ns::ObserverToken reachabilityObserver_;
  std::shared_ptr<dispatch::TimerSource> backOffTimer_;
  uint64_t backOffGeneration_ = 0;
  // Back-offs since the last success; each one doubles the next.
  int backOffStep_ = 0;
};
