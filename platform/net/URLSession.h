#pragma once
// NSURLSession stand-in over libcurl.
//
// Each session runs libcurl's multi interface on a thread of its own and
// delivers every completion on its delegate queue, a serial dispatch queue.
// A data task's completion handler runs exactly once: with the body and the
// response on success (any HTTP status), or with an NSURLErrorDomain error
// (see URLError.h) and neither body nor response on failure or cancel.
//
// What goes on the wire: the request's method, header fields and body (copied
// when the task is made), libcurl's "Accept: */*" and "Accept-Encoding" for the
// encodings it decodes. Never a cookie the caller did not set, never
// "Expect: 100-continue", never a made-up "Content-Type". TLS peers and host
// names are always verified. Redirects are followed (at most 16) as
// redirectedRequest() says: never from https to http, and the caller's header
// fields reach no origin but the request's own.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/dispatch/Dispatch.h"
#include "platform/foundation/Error.h"
#include "platform/foundation/Value.h"
#include "platform/net/URLRequest.h"

namespace net {

struct URLSessionConfiguration {
  static URLSessionConfiguration defaultSessionConfiguration() { return {}; }
  // Nothing is ever persisted, so the ephemeral configuration is the default one.
  static URLSessionConfiguration ephemeralSessionConfiguration() { return {}; }

  // Used for requests whose own timeout is zero or less. A value of zero or
  // less here means the platform default, 60 s.
  double timeoutIntervalForRequest = 60.0;
  // The longest a task may take in all; zero or less means the default, 7 days.
  double timeoutIntervalForResource = 7.0 * 24 * 3600;
  // Zero or less: no limit.
  int64_t HTTPMaximumConnectionsPerHost = 6;
  // Kept for callers that read it back; there is no cookie store.
  bool HTTPShouldSetCookies = true;
  // Added to every request that does not set the same field itself.
  HTTPHeaderFields HTTPAdditionalHeaders;
};

// The request a redirect leads to, or the NSURLErrorDomain code that ends the
// task instead. `original` is the task's request, `current` the hop that was
// answered with `statusCode` and a Location resolved to `location`.
// - GET and HEAD follow every redirect (a 303 turns a GET's body away);
//   any other method follows only 307 and 308, with its method and body: a
//   301, 302 or 303, which may turn it into a GET without its body, ends
//   the task (NSURLErrorBadServerResponse, and `description` says why).
//   Other statuses are not redirects (nullopt and code 0: the answer stands).
// - Only http and https are followed (NSURLErrorUnsupportedURL otherwise),
//   and never from https to http
//   (NSURLErrorAppTransportSecurityRequiresSecureConnection).
// - Header fields the caller set go only to the origin (scheme, host, port)
//   of the original request: a hop to any other origin carries just the
//   fields that describe the body and what the client accepts, so a
//   credential in a custom field never leaves for another host.
struct RedirectOutcome {
  std::optional<URLRequest> request;
  int64_t errorCode = 0;
  // The refusal's own description, when its code's says too little.
  std::string description;
};
RedirectOutcome redirectedRequest(const URLRequest& original, const URLRequest& current, int64_t statusCode,
                                  const ns::URL& location);

enum class URLSessionTaskState { Running = 0, Suspended = 1, Canceling = 2, Completed = 3 };

// (body, response, error): body and response on success, error alone on failure.
using DataTaskCompletionHandler = std::function<void(
    std::optional<ns::Data> data, std::shared_ptr<const HTTPURLResponse> response, std::optional<ns::Error> error)>;

class URLSession;

class URLSessionDataTask : public std::enable_shared_from_this<URLSessionDataTask> {
 public:
  ~URLSessionDataTask();
  URLSessionDataTask(const URLSessionDataTask&) = delete;
  URLSessionDataTask& operator=(const URLSessionDataTask&) = delete;

  uint64_t taskIdentifier() const { return identifier_; }
  const URLRequest& originalRequest() const { return request_; }
  URLSessionTaskState state() const;
  // Set once the task has finished.
  std::shared_ptr<const HTTPURLResponse> response() const;
  std::optional<ns::Error> error() const;

  // Starts a new task; does nothing afterwards. On an invalidated session
  // the task completes with NSURLErrorCancelled.
  void resume();
  // Completes the task with NSURLErrorCancelled unless it has already
  // completed; the transfer, if any, is abandoned. Safe from any thread.
  void cancel();

  // The most body bytes the task takes: once more have arrived it fails with
  // NSURLErrorDataLengthExceedsMaximum, without waiting for the rest. Zero
  // (the default) leaves only the session's own limit. Set before resume().
  void setMaximumResponseBytes(std::size_t bytes) { maximumResponseBytes_.store(bytes); }
  std::size_t maximumResponseBytes() const { return maximumResponseBytes_.load(); }
  // Body bytes received so far (after content decoding), over every hop.
  int64_t countOfBytesReceived() const { return countOfBytesReceived_.load(); }

  struct Engine;

 private:
  friend class URLSession;
  friend struct Engine;
  URLSessionDataTask(uint64_t identifier, URLRequest request, DataTaskCompletionHandler handler,
                     std::weak_ptr<Engine> engine, std::shared_ptr<dispatch::Queue> delegateQueue);

  // Moves the task to Completed and posts the handler, unless it already is
  // complete. Returns whether this call completed it.
  bool complete(std::optional<ns::Data> data, std::shared_ptr<const HTTPURLResponse> response,
                std::optional<ns::Error> error);

  const uint64_t identifier_;
  const URLRequest request_;
  const std::weak_ptr<Engine> engine_;
  const std::shared_ptr<dispatch::Queue> delegateQueue_;
  mutable std::mutex mutex_;
  DataTaskCompletionHandler handler_;
  URLSessionTaskState state_ = URLSessionTaskState::Suspended;
  std::shared_ptr<const HTTPURLResponse> response_;
  std::optional<ns::Error> error_;
  std::atomic<std::size_t> maximumResponseBytes_{0};
  std::atomic<int64_t> countOfBytesReceived_{0};
};

class URLSession {
 public:
  // A nil delegate queue gives the session a serial queue of its own.
  static std::shared_ptr<URLSession> sessionWithConfiguration(URLSessionConfiguration configuration,
                                                              std::shared_ptr<dispatch::Queue> delegateQueue = nullptr);

  // Dropping the last reference finishes the tasks in flight and invalidates.
  ~URLSession();
  URLSession(const URLSession&) = delete;
  URLSession& operator=(const URLSession&) = delete;

  // A suspended task; resume() starts it.
  std::shared_ptr<URLSessionDataTask> dataTaskWithRequest(const URLRequest& request,
                                                          DataTaskCompletionHandler completionHandler);

  // No new work: tasks in flight run to completion, tasks never resumed
  // complete with NSURLErrorCancelled, later resumes are cancelled too.
  void finishTasksAndInvalidate();
  // The same, and every task in flight is cancelled.
  void invalidateAndCancel();
  bool isInvalidated() const;

  const URLSessionConfiguration& configuration() const { return configuration_; }
  const std::shared_ptr<dispatch::Queue>& delegateQueue() const { return delegateQueue_; }
  // Tasks made and not yet completed; for tests.
  std::size_t outstandingTaskCount() const;

 private:
  URLSession(URLSessionConfiguration configuration, std::shared_ptr<dispatch::Queue> delegateQueue);
  void invalidate(bool cancelRunning);

  const URLSessionConfiguration configuration_;
  const std::shared_ptr<dispatch::Queue> delegateQueue_;
  std::shared_ptr<URLSessionDataTask::Engine> engine_;
};

}  // namespace net
