#include "RedEvudud/RedEvudud/Internals/Ingestion/DVACRedEvududIngestion.h"

#include "RedEvudud/RedEvudud/Internals/HttpClient/DVACHttpUtil.h"
#include "RedEvudud/RedEvudud/Internals/Ingestion/DVACIngestionDefaults.h"
#include "RedEvudud/RedEvudud/Internals/Model/DVACLogContainer.h"
#include "RedEvudud/RedEvudud/Internals/Util/DVACErrors.h"
#include "RedEvudud/RedEvudud/Internals/Util/DVACLogger.h"
#include "platform/net/URLRequest.h"

std::shared_ptr<DVACRedEvududIngestion> DVACRedEvududIngestion::initWithHttpClient(
    std::shared_ptr<DVACHttpClientProtocol> httpClient, const std::optional<std::string>& baseUrl,
    const std::string& installId) {
  auto ingestion = std::shared_ptr<DVACRedEvududIngestion>(new DVACRedEvududIngestion(
      std::move(httpClient), baseUrl.value_or(DVACIngestionDefaults::defaultLogUrl()), installId));
  ingestion->attachToHttpClient();
  return ingestion;
}

DVACRedEvududIngestion::DVACRedEvududIngestion(std::shared_ptr<DVACHttpClientProtocol> httpClient,
                                               std::string baseUrl, const std::string& installId)
    : DVACHttpIngestion(std::move(httpClient), std::move(baseUrl), kDVACRedEvududApiPath,
                        DVACHttpHeaders{{"Content-Type", "application/json"}, {kDVACInstallIdHeader, installId}},
                        DVACQueryStrings{{"api-version", "1.0.0"}}) {}

std::optional<std::string> DVACRedEvududIngestion::appSecret() const {
  std::lock_guard lock(appSecretMutex_);
  return appSecret_;
}

void DVACRedEvududIngestion::setAppSecret(std::optional<std::string> appSecret) {
  std::lock_guard lock(appSecretMutex_);
  appSecret_ = std::move(appSecret);
}

bool DVACRedEvududIngestion::isReadyToSend() const {
  auto secret = appSecret();
  return secret && !secret->empty();
}

void DVACRedEvududIngestion::sendAsync(const std::shared_ptr<DVACLogContainer>& data,
                                       DVACSendAsyncCompletionHandler completionHandler) {
  if (refuseInvalidContainer(data, completionHandler)) return;
  if (!isReadyToSend()) {
    DVACLogError(kDVACLogTag, "RedEvudud ingestion is used without app secret.");
    // Answered at once, so the batch is not left pending for ever; with no
    // response the channel keeps its logs for a later attempt.
    if (completionHandler) {
      completionHandler(data->batchId, nullptr, std::nullopt, dvac::makeRedEvududError(DVACDisabledErrorCode));
    }
    return;
  }
  sendUnderBatchId(data, std::move(completionHandler));
}

DVACHttpHeaders DVACRedEvududIngestion::getHeadersWithData(const std::shared_ptr<DVACLogContainer>& /*data*/,
                                                           const std::optional<std::string>& /*eTag*/) {
  DVACHttpHeaders headers = httpHeaders();
  if (auto secret = appSecret()) headers[kDVACAppSecretHeader] = *secret;
  return headers;
}

std::optional<ns::Data> DVACRedEvududIngestion::getPayloadWithData(const std::shared_ptr<DVACLogContainer>& data) {
  if (!data) return std::nullopt;
  std::optional<std::string> json = data->serializeLog();
  if (!json) return std::nullopt;
  return ns::Data(json->begin(), json->end());
}

std::optional<std::string> DVACRedEvududIngestion::obfuscateResponsePayload(
    const std::optional<std::string>& payload) {
  if (!payload) return std::nullopt;
  auto secret = appSecret();
  if (!secret || secret->empty()) return payload;
  return DVACHttpUtil::hideSecretInString(*payload, *secret);
}

void DVACRedEvududIngestion::willSendHTTPRequestToURL(const ns::URL& url, const DVACHttpHeaders& headers) {
  logRequest(url, headers, [](const std::string& name, const std::string& value) {
    return net::HTTPHeaderFields::namesEqual(name, kDVACAppSecretHeader) ? DVACHttpUtil::hideSecret(value) : value;
  });
}
