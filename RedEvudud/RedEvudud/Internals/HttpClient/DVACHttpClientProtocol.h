#pragma once
// The HTTP client as the rest of the client core sees it, and its delegate.

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/Error.h"
#include "platform/foundation/URL.h"
#include "platform/foundation/Value.h"
#include "platform/net/URLRequest.h"

// Request headers, name to value.
using DVACHttpHeaders = std::map<std::string, std::string>;

// Receives the response body, the HTTP response and an error; each may be
// absent. Called exactly once per request.
using DVACHttpRequestCompletionHandler = std::function<void(
    std::optional<ns::Data> data, std::shared_ptr<const net::HTTPURLResponse> response, std::optional<ns::Error> error)>;

// Retries of a call: 10 s, 300 s and 1200 s.
const std::vector<double>& DVACHttpClientDefaultRetryIntervals();

class DVACHttpClientDelegate {
 public:
  virtual ~DVACHttpClientDelegate() = default;
  // Called just before each request is handed to the URL session, with the
  // client's lock held: it must not wait for anything that may be waiting
  // for the client.
  virtual void willSendHTTPRequestToURL(const ns::URL& url, const DVACHttpHeaders& headers) {
    (void)url;
    (void)headers;
  }
};

class DVACHttpClientProtocol {
 public:
  virtual ~DVACHttpClientProtocol() = default;

  // The default retry intervals, compression on.
  virtual void sendAsync(const ns::URL& url, const std::string& method, const DVACHttpHeaders& headers,
                         const std::optional<ns::Data>& data, DVACHttpRequestCompletionHandler completionHandler) = 0;
  virtual void sendAsync(const ns::URL& url, const std::string& method, const DVACHttpHeaders& headers,
                         const std::optional<ns::Data>& data, const std::vector<double>& retryIntervals,
                         bool compressionEnabled, DVACHttpRequestCompletionHandler completionHandler) = 0;
  virtual void pause() = 0;
  virtual void resume() = 0;
  // Sets the flag and nothing else.
  virtual void setEnabled(bool isEnabled) = 0;

  virtual std::shared_ptr<DVACHttpClientDelegate> delegate() const = 0;
  // Held weakly.
  virtual void setDelegate(const std::shared_ptr<DVACHttpClientDelegate>& delegate) = 0;
};
