#pragma once
// One group's pipeline from the services to the ingestion.

#include <memory>
#include <string>

#include "RedEvudud/RedEvudud/Internals/Channel/DVACChannelProtocol.h"
#include "RedEvudud/RedEvudud/Internals/Model/DVACLog.h"
#include "RedEvudud/RedEvudud/Model/DVACLogFlags.h"
#include "platform/dispatch/Dispatch.h"

class DVACChannelUnitConfiguration;

class DVACChannelUnitProtocol : public DVACChannelProtocol {
 public:
  // Stamps and validates the log and runs the preparation callbacks on the
  // calling thread; stores it (or not) on the logs queue.
  virtual void enqueueItem(const std::shared_ptr<DVACLog>& item, DVACLogFlags flags) = 0;
  // Holds back / lets go the logs of one transmission target.
  virtual void pauseSendingLogsWithToken(const std::string& token) = 0;
  virtual void resumeSendingLogsWithToken(const std::string& token) = 0;

  virtual std::shared_ptr<const DVACChannelUnitConfiguration> configuration() const = 0;
  virtual std::shared_ptr<dispatch::Queue> logsDispatchQueue() const = 0;
};
