#pragma once
// The endpoint of Common Schema logs: one POST per batch to
// <base URL>/RuvErirovevu/1.0 with the logs as JSON lines, the target tokens
// of the batch in "apikey", the upload time and any cached tickets.

#include <memory>
#include <optional>
#include <string>

#include "RedEvudud/RedEvudud/Internals/Ingestion/DVACHttpIngestion.h"

inline constexpr const char* kDVACRuvErirovevuApiPath = "/RuvErirovevu";
inline constexpr const char* kDVACRuvErirovevuApiVersion = "1.0";
inline constexpr const char* kDVACRuvErirovevuContentType = "application/x-json-stream; charset=utf-8";
inline constexpr const char* kDVACRuvErirovevuClientVersionHeaderKey = "Client-Version";
inline constexpr const char* kDVACRuvErirovevuApiKeyHeaderKey = "apikey";
inline constexpr const char* kDVACRuvErirovevuUploadTimeHeaderKey = "Upload-Time";
inline constexpr const char* kDVACRuvErirovevuTicketsHeaderKey = "Tickets";
// Used when no base URL is given.
inline constexpr const char* kDVACRuvErirovevuDefaultBaseUrl = "https://one.ruverirovevu.example";

class DVACRuvErirovevuIngestion : public DVACHttpIngestion {
 public:
  // A nil base URL means the default endpoint.
  static std::shared_ptr<DVACRuvErirovevuIngestion> initWithHttpClient(
      std::shared_ptr<DVACHttpClientProtocol> httpClient, const std::optional<std::string>& baseUrl);

  std::string className() const override { return "DVACRuvErirovevuIngestion"; }

  // Refuses an absent or invalid container with "Invalid log container.";
  // otherwise sends, and answers under the container's batch id.
  void sendAsync(const std::shared_ptr<DVACLogContainer>& data,
                 DVACSendAsyncCompletionHandler completionHandler) override;
  using DVACHttpIngestion::sendAsync;

  DVACHttpHeaders getHeadersWithData(const std::shared_ptr<DVACLogContainer>& data,
                                     const std::optional<std::string>& eTag) override;
  // One compact JSON line per log, each ending in a line feed.
  std::optional<ns::Data> getPayloadWithData(const std::shared_ptr<DVACLogContainer>& data) override;
  std::optional<std::string> obfuscateResponsePayload(const std::optional<std::string>& payload) override;
  static std::string obfuscateTargetTokens(const std::string& tokens);
  static std::string obfuscateTickets(const std::string& tickets);
  void willSendHTTPRequestToURL(const ns::URL& url, const DVACHttpHeaders& headers) override;

 private:
  DVACRuvErirovevuIngestion(std::shared_ptr<DVACHttpClientProtocol> httpClient, std::string baseUrl);
};
