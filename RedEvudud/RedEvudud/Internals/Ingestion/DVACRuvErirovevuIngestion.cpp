#include "RedEvudud/RedEvudud/Internals/Ingestion/DVACRuvErirovevuIngestion.h"

#include <cinttypes>
#include <set>

#include "RedEvudud/RedEvudud/Internals/HttpClient/DVACHttpUtil.h"
#include "RedEvudud/RedEvudud/Internals/Ingestion/DVACTicketCache.h"
#include "RedEvudud/RedEvudud/Internals/Model/CommonSchema/DVACCommonSchemaLog.h"
#include "RedEvudud/RedEvudud/Internals/Model/DVACLogContainer.h"
#include "RedEvudud/RedEvudud/Internals/Util/DVACUtility.h"
#include "platform/foundation/Json.h"
#include "platform/net/URLRequest.h"

std::shared_ptr<DVACRuvErirovevuIngestion> DVACRuvErirovevuIngestion::initWithHttpClient(
    std::shared_ptr<DVACHttpClientProtocol> httpClient, const std::optional<std::string>& baseUrl) {
  auto ingestion = std::shared_ptr<DVACRuvErirovevuIngestion>(
      new DVACRuvErirovevuIngestion(std::move(httpClient), baseUrl.value_or(kDVACRuvErirovevuDefaultBaseUrl)));
  ingestion->attachToHttpClient();
  return ingestion;
}

DVACRuvErirovevuIngestion::DVACRuvErirovevuIngestion(std::shared_ptr<DVACHttpClientProtocol> httpClient,
                                                     std::string baseUrl)
    : DVACHttpIngestion(std::move(httpClient), std::move(baseUrl),
                        std::string(kDVACRuvErirovevuApiPath) + "/" + kDVACRuvErirovevuApiVersion,
                        DVACHttpHeaders{{"Content-Type", kDVACRuvErirovevuContentType},
                                        {kDVACRuvErirovevuClientVersionHeaderKey,
                                         "ACS-iOS-ObjectiveC-no-" + DVACUtility::sdkVersion() + "-no"}},
                        DVACQueryStrings{}, std::vector<double>{10, 300, 1200}, 2) {}

void DVACRuvErirovevuIngestion::sendAsync(const std::shared_ptr<DVACLogContainer>& data,
                                          DVACSendAsyncCompletionHandler completionHandler) {
  if (refuseInvalidContainer(data, completionHandler)) return;
  sendUnderBatchId(data, std::move(completionHandler));
}

DVACHttpHeaders DVACRuvErirovevuIngestion::getHeadersWithData(const std::shared_ptr<DVACLogContainer>& data,
                                                              const std::optional<std::string>& /*eTag*/) {
  DVACHttpHeaders headers = httpHeaders();
  std::set<std::string> tokens;
  std::vector<std::string> orderedTokens;
  ns::Dictionary tickets;
  auto cache = DVACTicketCache::sharedInstance();
  if (data) {
    for (const auto& log : data->logs) {
      if (!log) continue;
      if (auto logTokens = log->transmissionTargetTokens()) {
        for (const auto& token : *logTokens) {
          if (tokens.insert(token).second) orderedTokens.push_back(token);
        }
      }
      auto csLog = std::dynamic_pointer_cast<DVACCommonSchemaLog>(log);
      if (!csLog || !csLog->ext() || !csLog->ext()->protocolExt || !csLog->ext()->protocolExt->ticketKeys) continue;
      for (const auto& key : *csLog->ext()->protocolExt->ticketKeys) {
        if (auto ticket = cache->ticketFor(key)) tickets[key] = ns::Value(*ticket);
      }
    }
  }
  headers[kDVACRuvErirovevuApiKeyHeaderKey] = DVACUtility::joinStrings(orderedTokens, ",");
  char uploadTime[32];
  std::snprintf(uploadTime, sizeof uploadTime, "%lld", static_cast<long long>(DVACUtility::nowInMilliseconds()));
  headers[kDVACRuvErirovevuUploadTimeHeaderKey] = uploadTime;
  if (!tickets.empty()) {
    if (auto json = ns::json::write(ns::Value(std::move(tickets)))) headers[kDVACRuvErirovevuTicketsHeaderKey] = *json;
  }
  return headers;
}

std::optional<ns::Data> DVACRuvErirovevuIngestion::getPayloadWithData(const std::shared_ptr<DVACLogContainer>& data) {
  if (!data) return std::nullopt;
  std::string payload;
  for (const auto& log : data->logs) {
    if (!log) continue;
    if (auto line = log->serializeLogWithPrettyPrinting(false)) payload += *line + "\n";
  }
  return ns::Data(payload.begin(), payload.end());
}

std::optional<std::string> DVACRuvErirovevuIngestion::obfuscateResponsePayload(
    const std::optional<std::string>& payload) {
  return DVACUtility::obfuscateString(payload, "\"token\"\\s*:\\s*\"[^\"]+\"", "\"token\" : \"***\"");
}

std::string DVACRuvErirovevuIngestion::obfuscateTargetTokens(const std::string& tokens) {
  std::vector<std::string> masked;
  for (const auto& token : DVACUtility::splitString(tokens, ',')) masked.push_back(DVACHttpUtil::hideSecret(token));
  return DVACUtility::joinStrings(masked, ",");
}

std::string DVACRuvErirovevuIngestion::obfuscateTickets(const std::string& tickets) {
  return DVACUtility::obfuscateString(tickets, ":[^\"]+", ":***").value_or(tickets);
}

void DVACRuvErirovevuIngestion::willSendHTTPRequestToURL(const ns::URL& url, const DVACHttpHeaders& headers) {
  logRequest(url, headers, [](const std::string& name, const std::string& value) {
    if (net::HTTPHeaderFields::namesEqual(name, kDVACRuvErirovevuApiKeyHeaderKey)) return obfuscateTargetTokens(value);
    if (net::HTTPHeaderFields::namesEqual(name, kDVACRuvErirovevuTicketsHeaderKey)) return obfuscateTickets(value);
    return value;
  });
}
