#pragma once
// The endpoint every Red Evudud log leaves through: one POST per batch to
// <base URL>/logs?api-version=1.0.0 with the app secret and the install id
// in headers and the batch as one JSON document.

#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "RedEvudud/RedEvudud/Internals/Ingestion/DVACHttpIngestion.h"

inline constexpr const char* kDVACAppSecretHeader = "App-Secret";
inline constexpr const char* kDVACInstallIdHeader = "Install-ID";
inline constexpr const char* kDVACRedEvududApiPath = "/logs";

class DVACRedEvududIngestion : public DVACHttpIngestion {
 public:
  // A nil base URL means the default endpoint (DVACIngestionDefaults).
  static std::shared_ptr<DVACRedEvududIngestion> initWithHttpClient(std::shared_ptr<DVACHttpClientProtocol> httpClient,
                                                                    const std::optional<std::string>& baseUrl,
                                                                    const std::string& installId);

  std::string className() const override { return "DVACRedEvududIngestion"; }

  std::optional<std::string> appSecret() const;
  void setAppSecret(std::optional<std::string> appSecret);

  // True once a non-empty app secret is set.
  bool isReadyToSend() const override;
  // Refuses an absent or invalid container with "Invalid log container." and,
  // with no app secret, fails at once with "The service is disabled.";
  // otherwise sends. The handler gets the container's batch id.
  void sendAsync(const std::shared_ptr<DVACLogContainer>& data,
                 DVACSendAsyncCompletionHandler completionHandler) override;
  using DVACHttpIngestion::sendAsync;

  DVACHttpHeaders getHeadersWithData(const std::shared_ptr<DVACLogContainer>& data,
                                     const std::optional<std::string>& eTag) override;
  // The batch as one JSON document; nil when it cannot be written (the
  // container logs why), and then the batch fails instead of going out empty.
  std::optional<ns::Data> getPayloadWithData(const std::shared_ptr<DVACLogContainer>& data) override;
  bool isPayloadRequired() const override { return true; }
  // The text with every occurrence of the app secret masked.
  std::optional<std::string> obfuscateResponsePayload(const std::optional<std::string>& payload) override;
  // At verbose level: "URL: ..." and "Headers: ..." with the secret masked.
  void willSendHTTPRequestToURL(const ns::URL& url, const DVACHttpHeaders& headers) override;

 private:
  DVACRedEvududIngestion(std::shared_ptr<DVACHttpClientProtocol> httpClient, std::string baseUrl,
                         const std::string& installId);

  // Its own lock: the HTTP client reads the secret while holding the
  // client's lock, so the ingestion's lock must not be taken there.
  mutable std::mutex appSecretMutex_;
  std::optional<std::string> appSecret_;
};
