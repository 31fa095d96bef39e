#pragma once
// What a channel unit needs of the endpoint its batches leave through.

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "RedEvudud/RedEvudud/Internals/Util/DVACEnable.h"
#include "platform/foundation/Error.h"
#include "platform/foundation/Value.h"
#include "platform/net/URLRequest.h"

class DVACLogContainer;

// (call id or batch id, HTTP response, response body, error); each of the
// last three may be absent. Called exactly once per send, on any thread.
using DVACSendAsyncCompletionHandler =
    std::function<void(const std::optional<std::string>& callId, std::shared_ptr<const net::HTTPURLResponse> response,
                       std::optional<ns::Data> data, std::optional<ns::Error> error)>;

class DVACIngestionProtocol : public DVACEnable {
 public:
  // Whether batches may be taken out of storage for this endpoint.
  virtual bool isReadyToSend() const = 0;
  virtual void sendAsync(const std::shared_ptr<DVACLogContainer>& data,
                         DVACSendAsyncCompletionHandler completionHandler) = 0;
};
