#include "RedEvudud/RedEvudud/Internals/Ingestion/DVACHttpIngestion.h"

#include <algorithm>
#include <cctype>

#include "RedEvudud/RedEvudud/Internals/Model/DVACLogContainer.h"
#include "RedEvudud/RedEvudud/Internals/Util/DVACErrors.h"
#include "RedEvudud/RedEvudud/Internals/Util/DVACLogger.h"
#include "RedEvudud/RedEvudud/Internals/Util/DVACRedEvududUserDefaults.h"
#include "RedEvudud/RedEvudud/Internals/Util/DVACUtility.h"
#include "platform/net/URLError.h"

namespace {

// What may stay unescaped in a URL query, besides the unreserved characters.
constexpr const char* kURLQueryAllowedCharacters = "!$&'()*+,;=:@/?";

std::mutex& providerMutex() {
  static std::mutex mutex;
  return mutex;
}

std::function<bool()>& networkRequestsAllowedProvider() {
  static auto* provider = new std::function<bool()>();
  return *provider;
}

bool networkRequestsAllowedFromSettings() {
  auto value = DVACRedEvududUserDefaults::shared()->objectForKey(kDVACNetworkRequestsAllowedKey);
  if (!value) return true;
  return value->asBool().value_or(true);
}

std::string lowercased(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

// The URL's text up to its query or fragment.
std::string withoutQueryAndFragment(const std::string& text) {
  const size_t end = text.find_first_of("?#");
  return end == std::string::npos ? text : text.substr(0, end);
}

bool isValidUTF8(const ns::Data& data) {
  size_t i = 0;
  while (i < data.size()) {
    const uint8_t c = data[i];
    size_t length = 0;
    if (c < 0x80) {
      length = 1;
    } else if ((c & 0xE0) == 0xC0 && c >= 0xC2) {
      length = 2;
    } else if ((c & 0xF0) == 0xE0) {
      length = 3;
    } else if ((c & 0xF8) == 0xF0 && c <= 0xF4) {
      length = 4;
    } else {
      return false;
    }
    if (i + length > data.size()) return false;
    for (size_t k = 1; k < length; ++k) {
      if ((data[i + k] & 0xC0) != 0x80) return false;
    }
    i += length;
  }
  return true;
}

}  // namespace

// ------------------------------------------------------------ Construction

DVACHttpIngestion::DVACHttpIngestion(std::shared_ptr<DVACHttpClientProtocol> httpClient, std::string baseUrl,
                                     std::string apiPath, DVACHttpHeaders headers, DVACQueryStrings queryStrings,
                                     std::vector<double> retryIntervals, int64_t maxNumberOfConnections)
    : baseURL_(std::move(baseUrl)),
      apiPath_(std::move(apiPath)),
      queryStrings_(std::move(queryStrings)),
      httpHeaders_(std::move(headers)),
      httpClient_(std::move(httpClient)),
      maxNumberOfConnections_(maxNumberOfConnections),
      callsRetryIntervals_(std::move(retryIntervals)) {
  sendURL_ = buildURLWithBaseURL(baseURL_, apiPath_, queryStrings_);
}

void DVACHttpIngestion::attachToHttpClient() {
  if (auto client = httpClient()) client->setDelegate(shared_from_this());
}

// ------------------------------------------------------ Network permission

void DVACHttpIngestion::setNetworkRequestsAllowedProvider(std::function<bool()> provider) {
  std::lock_guard lock(providerMutex());
  networkRequestsAllowedProvider() = std::move(provider);
}

bool DVACHttpIngestion::isNetworkRequestsAllowed() {
  std::function<bool()> provider;
  {
    std::lock_guard lock(providerMutex());
    provider = networkRequestsAllowedProvider();
  }
  return provider ? provider() : networkRequestsAllowedFromSettings();
}

// ---------------------------------------------------------------- Enabling

void DVACHttpIngestion::setEnabled(bool isEnabled, bool /*deleteDataOnDisabled*/) {
  std::lock_guard lock(mutex_);
  enabled_ = isEnabled;
}

void DVACHttpIngestion::setEnabled(bool enabled) { enabled_.store(enabled); }

bool DVACHttpIngestion::isEnabled() const {
  bool enabled = false;
  {
    std::lock_guard lock(mutex_);
    enabled = enabled_.load();
  }
  // Asked outside the lock: the SDK answers under a lock of its own, and it
  // calls into the ingestion while holding that one.
  return enabled && isNetworkRequestsAllowed();
}

// ------------------------------------------------------------------ Sending

void DVACHttpIngestion::sendAsync(const std::shared_ptr<DVACLogContainer>& data,
                                  DVACSendAsyncCompletionHandler completionHandler) {
  sendAsync(data, std::nullopt, ns::UUID::random().UUIDString(), std::move(completionHandler));
}

void DVACHttpIngestion::sendAsync(const std::shared_ptr<DVACLogContainer>& data,
                                  const std::optional<std::string>& eTag,
                                  DVACSendAsyncCompletionHandler completionHandler) {
  sendAsync(data, eTag, ns::UUID::random().UUIDString(), std::move(completionHandler));
}

void DVACHttpIngestion::sendAsync(const std::shared_ptr<DVACLogContainer>& data,
                                  const std::optional<std::string>& eTag, const std::string& callId,
                                  DVACSendAsyncCompletionHandler completionHandler) {
  std::optional<ns::Error> refusal;
  const bool networkRequestsAllowed = isNetworkRequestsAllowed();
  {
    std::lock_guard lock(mutex_);
    if (!enabled_.load() || !networkRequestsAllowed) {
      DVACLogWarning(kDVACLogTag, className() + " is disabled.");
      refusal = dvac::makeRedEvududError(DVACDisabledErrorCode);
    } else if (!sendURL_ || !httpClient_) {
      // Nothing could ever be sent: say so rather than leave the batch waiting.
      const std::string text = baseURL_ + apiPath_;
      DVACLogError(kDVACLogTag, className() + " has no valid URL to send to: '" + text + "'.");
      refusal = net::makeURLError(ns::NSURLErrorBadURL, text);
    } else if (std::optional<ns::Data> payload = getPayloadWithData(data); !payload && isPayloadRequired()) {
      DVACLogError(kDVACLogTag, className() + " did not send batch " +
                                    (data && data->batchId ? *data->batchId : std::string("(null)")) +
                                    ": its logs could not be written as JSON; they stay stored.");
      refusal = dvac::makeRedEvududError(DVACLogInvalidContainerErrorCode);
    } else {
      DVACHttpHeaders headers = getHeadersWithData(data, eTag);
      std::weak_ptr<DVACHttpIngestion> weakSelf = weak_from_this();
      httpClient_->sendAsync(
          *sendURL_, getHttpMethod(), headers, payload, callsRetryIntervals_, true,
          [weakSelf, callId, completionHandler](std::optional<ns::Data> body,
                                                std::shared_ptr<const net::HTTPURLResponse> response,
                                                std::optional<ns::Error> error) {
            if (auto self = weakSelf.lock()) self->printResponse(response, body, error);
            if (completionHandler) completionHandler(callId, std::move(response), std::move(body), std::move(error));
          });
      return;
    }
  }
  // Outside the lock, like every other outcome.
  if (completionHandler) completionHandler(callId, nullptr, std::nullopt, std::move(refusal));
}

bool DVACHttpIngestion::refuseInvalidContainer(const std::shared_ptr<DVACLogContainer>& data,
                                               const DVACSendAsyncCompletionHandler& completionHandler) {
  if (data && data->isValid()) return false;
  const ns::Error error = dvac::makeRedEvududError(DVACLogInvalidContainerErrorCode);
  DVACLogError(kDVACLogTag, error.localizedDescription());
  if (completionHandler) completionHandler(data ? data->batchId : std::nullopt, nullptr, std::nullopt, error);
  return true;
}

void DVACHttpIngestion::sendUnderBatchId(const std::shared_ptr<DVACLogContainer>& data,
                                         DVACSendAsyncCompletionHandler completionHandler) {
  const std::optional<std::string> batchId = data ? data->batchId : std::nullopt;
  DVACHttpIngestion::sendAsync(data, [batchId, completionHandler](const std::optional<std::string>& /*callId*/,
                                                                  std::shared_ptr<const net::HTTPURLResponse> response,
                                                                  std::optional<ns::Data> body,
                                                                  std::optional<ns::Error> error) {
    if (completionHandler) completionHandler(batchId, std::move(response), std::move(body), std::move(error));
  });
}

void DVACHttpIngestion::logRequest(
    const ns::URL& url, const DVACHttpHeaders& headers,
    const std::function<std::string(const std::string& name, const std::string& value)>& shown) {
  if (DVACLogger::currentLogLevel() > DVACLogLevelVerbose) return;
  std::string formatted;
  for (const auto& [name, value] : headers) {
    if (!formatted.empty()) formatted += ", ";
    formatted += name + " = " + shown(name, value);
  }
  DVACLogVerbose(kDVACLogTag, "URL: " + url.absoluteString());
  DVACLogVerbose(kDVACLogTag, "Headers: " + formatted);
}

// ------------------------------------------------------------------- Hooks

DVACHttpHeaders DVACHttpIngestion::getHeadersWithData(const std::shared_ptr<DVACLogContainer>& /*data*/,
                                                      const std::optional<std::string>& /*eTag*/) {
  return {};
}

std::optional<ns::Data> DVACHttpIngestion::getPayloadWithData(const std::shared_ptr<DVACLogContainer>& /*data*/) {
  return std::nullopt;
}

std::optional<std::string> DVACHttpIngestion::obfuscateResponsePayload(
    const std::optional<std::string>& /*payload*/) {
  return std::nullopt;
}

// ------------------------------------------------------------------- URLs

std::optional<ns::URL> DVACHttpIngestion::buildURLWithBaseURL(const std::string& baseURL, const std::string& apiPath,
                                                              const DVACQueryStrings& queryStrings) {
  std::string text = baseURL + apiPath;
  std::string query;
  for (const auto& [key, value] : queryStrings) {
    query += (query.empty() ? "" : "&") + key + "=" + value;
  }
  if (!query.empty()) text += "?" + ns::URL::percentEncode(query, kURLQueryAllowedCharacters);
  return ns::URL::URLWithString(text);
}

std::string DVACHttpIngestion::baseURL() const {
  std::lock_guard lock(mutex_);
  return baseURL_;
}

void DVACHttpIngestion::setBaseURL(const std::string& baseURL) {
  std::lock_guard lock(mutex_);
  baseURL_ = baseURL;
  const std::string current = sendURL_ ? sendURL_->absoluteString() : "(null)";
  std::optional<ns::URL> target = ns::URL::URLWithString(baseURL + apiPath_);
  std::optional<ns::URL> updated;
  if (target) {
    if (sendURL_) {
      // The new location with the query (and fragment) the endpoint had.
      std::string text = withoutQueryAndFragment(target->absoluteString());
      if (sendURL_->query()) text += "?" + *sendURL_->query();
      if (sendURL_->fragment()) text += "#" + *sendURL_->fragment();
      updated = ns::URL::URLWithString(text);
    } else {
      // The first base URL did not form a URL; build the endpoint afresh.
      updated = buildURLWithBaseURL(baseURL, apiPath_, queryStrings_);
    }
  }
  if (!updated) {
    DVACLogInfo(kDVACLogTag, "Failed to update HTTP URL " + current + " with " + baseURL);
    return;
  }
  sendURL_ = std::move(updated);
}

std::string DVACHttpIngestion::apiPath() const {
  std::lock_guard lock(mutex_);
  return apiPath_;
}

void DVACHttpIngestion::setApiPath(std::string apiPath) {
  std::lock_guard lock(mutex_);
  apiPath_ = std::move(apiPath);
}

std::optional<ns::URL> DVACHttpIngestion::sendURL() const {
  std::lock_guard lock(mutex_);
  return sendURL_;
}

void DVACHttpIngestion::setSendURL(std::optional<ns::URL> sendURL) {
  std::lock_guard lock(mutex_);
  sendURL_ = std::move(sendURL);
}

DVACHttpHeaders DVACHttpIngestion::httpHeaders() const {
  std::lock_guard lock(mutex_);
  return httpHeaders_;
}

void DVACHttpIngestion::setHttpHeaders(DVACHttpHeaders httpHeaders) {
  std::lock_guard lock(mutex_);
  httpHeaders_ = std::move(httpHeaders);
}

std::shared_ptr<DVACHttpClientProtocol> DVACHttpIngestion::httpClient() const {
  std::lock_guard lock(mutex_);
  return httpClient_;
}

void DVACHttpIngestion::setHttpClient(std::shared_ptr<DVACHttpClientProtocol> httpClient) {
  std::lock_guard lock(mutex_);
  httpClient_ = std::move(httpClient);
}

std::vector<double> DVACHttpIngestion::callsRetryIntervals() const {
  std::lock_guard lock(mutex_);
  return callsRetryIntervals_;
}

void DVACHttpIngestion::setCallsRetryIntervals(std::vector<double> callsRetryIntervals) {
  std::lock_guard lock(mutex_);
  callsRetryIntervals_ = std::move(callsRetryIntervals);
}

// --------------------------------------------------------------- Responses

void DVACHttpIngestion::printResponse(const std::shared_ptr<const net::HTTPURLResponse>& response,
                                      const std::optional<ns::Data>& body, const std::optional<ns::Error>& error) {
  if (error) {
    DVACLogDebug(kDVACLogTag, "HTTP request error with code: " + std::to_string(error->code) +
                                  ", domain: " + error->domain + ", description: " + error->localizedDescription());
    return;
  }
  if (DVACLogger::currentLogLevel() > DVACLogLevelVerbose) return;

  const std::string contentType =
      response ? response->valueForHTTPHeaderField("Content-Type").value_or("") : std::string();
  std::optional<std::string> payload;
  if (body && !body->empty()) {
    const std::string type = lowercased(contentType);
    if (type.starts_with("application/json")) {
      payload = obfuscateResponsePayload(DVACUtility::prettyPrintJson(body));
    } else if (!type.empty() && !type.starts_with("text/") && !type.starts_with("application/")) {
      payload = "<binary>";
    } else if (isValidUTF8(*body)) {
      payload = obfuscateResponsePayload(std::string(body->begin(), body->end()));
    }
  }
  const int64_t statusCode = response ? response->statusCode() : 0;
  DVACLogVerbose(kDVACLogTag, "HTTP response received with status code: " + std::to_string(statusCode) +
                                  ", payload:\n" + payload.value_or("(null)"));
}

std::optional<std::string> DVACHttpIngestion::eTagFromResponse(
    const std::shared_ptr<const net::HTTPURLResponse>& response) {
  if (!response) return std::nullopt;
  for (const auto& [name, value] : response->allHeaderFields()) {
    if (lowercased(name) == "etag") return value;
  }
  return std::nullopt;
}
