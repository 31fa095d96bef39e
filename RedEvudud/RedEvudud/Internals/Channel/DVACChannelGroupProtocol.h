#pragma once
// The one channel group of the SDK: it owns the logs queue, the store and
// the default ingestion, makes the units and fans their callbacks out.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "RedEvudud/RedEvudud/Internals/Channel/DVACChannelProtocol.h"

class DVACChannelUnitConfiguration;
class DVACChannelUnitProtocol;
class DVACIngestionProtocol;
class DVACLog;

class DVACChannelGroupProtocol : public DVACChannelProtocol {
 public:
  // A new unit on every call, sending through the group's ingestion; nil for
  // no configuration.
  virtual std::shared_ptr<DVACChannelUnitProtocol> addChannelUnitWithConfiguration(
      const std::shared_ptr<const DVACChannelUnitConfiguration>& configuration) = 0;
  // The same with an ingestion of its own (nil: the group's).
  virtual std::shared_ptr<DVACChannelUnitProtocol> addChannelUnitWithConfiguration(
      const std::shared_ptr<const DVACChannelUnitConfiguration>& configuration,
      const std::shared_ptr<DVACIngestionProtocol>& ingestion) = 0;
  // The first unit of that group id; nil when none.
  virtual std::shared_ptr<DVACChannelUnitProtocol> channelUnitForGroupId(const std::string& groupId) const = 0;
  // The logs of that group the store holds now, read without handing any
  // out; from any thread.
  virtual std::vector<std::shared_ptr<DVACLog>> storedLogsWithGroupId(const std::string& groupId) const = 0;
  // Runs on the logs queue after the work queued before it.
  virtual void setMaxStorageSize(int64_t sizeInBytes, std::function<void(bool success)> completionHandler) = 0;

  virtual std::optional<std::string> logUrl() const = 0;
  virtual void setLogUrl(const std::string& logUrl) = 0;
  virtual std::optional<std::string> appSecret() const = 0;
  virtual void setAppSecret(const std::optional<std::string>& appSecret) = 0;
};
