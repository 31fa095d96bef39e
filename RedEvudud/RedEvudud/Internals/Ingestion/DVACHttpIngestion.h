#pragma once
// The layer between a channel and the HTTP client: one endpoint (base URL,
// API path, query), its fixed headers, method and retry intervals. For each
// batch it asks the subclass for the request's headers and body, hands the
// request to the HTTP client, logs the answer and reports the outcome under
// the call's id. It is the HTTP client's delegate.
//
// Subclasses are made by factories that call attachToHttpClient() once the
// object is owned by a shared_ptr.

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "RedEvudud/RedEvudud/Internals/HttpClient/DVACHttpClientProtocol.h"
#include "RedEvudud/RedEvudud/Internals/Ingestion/DVACIngestionProtocol.h"
#include "platform/foundation/URL.h"

// Query string items, name to value.
using DVACQueryStrings = std::map<std::string, std::string>;

inline constexpr int64_t kDVACDefaultMaxNumberOfConnections = 4;

class DVACHttpIngestion : public DVACIngestionProtocol,
                          public DVACHttpClientDelegate,
                          public std::enable_shared_from_this<DVACHttpIngestion> {
 public:
  ~DVACHttpIngestion() override = default;
  DVACHttpIngestion(const DVACHttpIngestion&) = delete;
  DVACHttpIngestion& operator=(const DVACHttpIngestion&) = delete;

  // Tells whether the SDK allows network requests at all; read on every
  // send. The default reads the settings key "NetworkRequestsAllowed"
  // (absent: allowed); the SDK entry may install its own. An empty function
  // puts the default back.
  static void setNetworkRequestsAllowedProvider(std::function<bool()> provider);
  static bool isNetworkRequestsAllowed();

  virtual std::string className() const { return "DVACHttpIngestion"; }

  // DVACIngestionProtocol
  bool isReadyToSend() const override { return true; }
  void sendAsync(const std::shared_ptr<DVACLogContainer>& data,
                 DVACSendAsyncCompletionHandler completionHandler) override;
  void setEnabled(bool isEnabled, bool deleteDataOnDisabled) override;
  // The ingestion's own switch and the SDK's permission for network requests.
  bool isEnabled() const override;

  void sendAsync(const std::shared_ptr<DVACLogContainer>& data, const std::optional<std::string>& eTag,
                 DVACSendAsyncCompletionHandler completionHandler);
  void sendAsync(const std::shared_ptr<DVACLogContainer>& data, const std::optional<std::string>& eTag,
                 const std::string& callId, DVACSendAsyncCompletionHandler completionHandler);

  // Base URL + API path, then "?" and the percent-encoded query when there
  // is one; nil when the text is not a URL.
  static std::optional<ns::URL> buildURLWithBaseURL(const std::string& baseURL, const std::string& apiPath,
                                                    const DVACQueryStrings& queryStrings);

  // Hooks for the subclasses.
  virtual DVACHttpHeaders getHeadersWithData(const std::shared_ptr<DVACLogContainer>& data,
                                             const std::optional<std::string>& eTag);
  virtual std::optional<ns::Data> getPayloadWithData(const std::shared_ptr<DVACLogContainer>& data);
  // An endpoint whose requests need a body: a batch without one (it could
  // not be written) is not sent, but failed with "Invalid log container.",
  // so the channel keeps its logs.
  virtual bool isPayloadRequired() const { return false; }
  virtual std::optional<std::string> obfuscateResponsePayload(const std::optional<std::string>& payload);
  virtual std::string getHttpMethod() const { return "POST"; }

  // Logs the answer: errors at debug level; the body, only at verbose level.
  void printResponse(const std::shared_ptr<const net::HTTPURLResponse>& response, const std::optional<ns::Data>& body,
                     const std::optional<ns::Error>& error);
  // The first header named "etag" in any letter case.
  static std::optional<std::string> eTagFromResponse(const std::shared_ptr<const net::HTTPURLResponse>& response);

  std::string baseURL() const;
  // Re-targets the endpoint: scheme, user, password, host, port and path come
  // from the new base URL and the API path, the query stays. Text that is not
  // a URL leaves the send URL as it was.
  void setBaseURL(const std::string& baseURL);
  int64_t maxNumberOfConnections() const { return maxNumberOfConnections_; }
  std::string apiPath() const;
  void setApiPath(std::string apiPath);
  std::optional<ns::URL> sendURL() const;
  void setSendURL(std::optional<ns::URL> sendURL);
  DVACHttpHeaders httpHeaders() const;
  void setHttpHeaders(DVACHttpHeaders httpHeaders);
  std::shared_ptr<DVACHttpClientProtocol> httpClient() const;
  void setHttpClient(std::shared_ptr<DVACHttpClientProtocol> httpClient);
  std::vector<double> callsRetryIntervals() const;
  void setCallsRetryIntervals(std::vector<double> callsRetryIntervals);
  // Plain setter of the switch.
  void setEnabled(bool enabled);

 protected:
  // The designated initializer; the shorter forms take 10, 300 and 1200
  // seconds and 4 connections.
  DVACHttpIngestion(std::shared_ptr<DVACHttpClientProtocol> httpClient, std::string baseUrl, std::string apiPath,
                    DVACHttpHeaders headers, DVACQueryStrings queryStrings,
                    std::vector<double> retryIntervals = DVACHttpClientDefaultRetryIntervals(),
                    int64_t maxNumberOfConnections = kDVACDefaultMaxNumberOfConnections);

  // Second phase of construction: becomes the HTTP client's delegate.
  void attachToHttpClient();

  // For the endpoints that answer under the container's batch id. An absent
  // or invalid container is answered at once with "Invalid log container."
  // (and true returned); sendUnderBatchId sends and answers under the batch
  // id instead of the call's.
  static bool refuseInvalidContainer(const std::shared_ptr<DVACLogContainer>& data,
                                     const DVACSendAsyncCompletionHandler& completionHandler);
  void sendUnderBatchId(const std::shared_ptr<DVACLogContainer>& data,
                        DVACSendAsyncCompletionHandler completionHandler);

  // At verbose level only: "URL: <url>" and "Headers: <name> = <value>, ..."
  // with each value as `shown` writes it (secrets masked).
  static void logRequest(const ns::URL& url, const DVACHttpHeaders& headers,
                         const std::function<std::string(const std::string& name, const std::string& value)>& shown);

  mutable std::recursive_mutex mutex_;

 private:
  // Also written without the lock by the plain setter.
  std::atomic<bool> enabled_{true};
  std::string baseURL_;
  std::string apiPath_;
  DVACQueryStrings queryStrings_;
  std::optional<ns::URL> sendURL_;
  DVACHttpHeaders httpHeaders_;
  std::shared_ptr<DVACHttpClientProtocol> httpClient_;
  const int64_t maxNumberOfConnections_;
  std::vector<double> callsRetryIntervals_;
};
