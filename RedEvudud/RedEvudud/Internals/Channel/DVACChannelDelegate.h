#pragma once
// The callbacks around a log's way through a channel. Every one is optional:
// the defaults do nothing (and filter nothing).
//
// The two preparation callbacks run on the thread that enqueues the log;
// the others come from the channel group's logs queue, except the ones about
// enabling and pausing the group, which run on the thread that asked.

#include <cstdint>
#include <memory>
#include <string>

#include "RedEvudud/RedEvudud/Internals/Channel/DVACChannelProtocol.h"
#include "RedEvudud/RedEvudud/Internals/Model/DVACLog.h"
#include "RedEvudud/RedEvudud/Model/DVACLogFlags.h"
#include "platform/foundation/Error.h"

class DVACChannelUnitProtocol;
class DVACChannelGroupProtocol;

// What became of an enqueued log.
enum class DVACLogStoreResult {
  stored,     // the store has it
  dropped,    // on purpose: a delegate filtered it, or its unit discards logs
  notStored,  // wanted, but the ingestion was not ready or the store refused it
};

class DVACChannelDelegate {
 public:
  virtual ~DVACChannelDelegate() = default;

  virtual void channelGroupDidAddChannelUnit(const std::shared_ptr<DVACChannelGroupProtocol>& /*channelGroup*/,
                                             const std::shared_ptr<DVACChannelUnitProtocol>& /*channel*/) {}

  // May change the log before it is stored.
  virtual void channelPrepareLog(const std::shared_ptr<DVACChannelProtocol>& /*channel*/,
                                 const std::shared_ptr<DVACLog>& /*log*/) {}
  virtual void channelDidPrepareLog(const std::shared_ptr<DVACChannelProtocol>& /*channel*/,
                                    const std::shared_ptr<DVACLog>& /*log*/, const std::string& /*internalId*/,
                                    DVACLogFlags /*flags*/) {}
  // Once per accepted enqueue, whatever became of the log.
  virtual void channelDidCompleteEnqueueingLog(const std::shared_ptr<DVACChannelProtocol>& /*channel*/,
                                               const std::shared_ptr<DVACLog>& /*log*/,
                                               const std::string& /*internalId*/) {}
  // Right after the above, with the same log and id: what became of it.
  virtual void channelDidCompleteEnqueueingLogWithStoreResult(const std::shared_ptr<DVACChannelProtocol>& /*channel*/,
                                                              const std::shared_ptr<DVACLog>& /*log*/,
                                                              const std::string& /*internalId*/,
                                                              DVACLogStoreResult /*result*/) {}
  virtual void channelWillSendLog(const std::shared_ptr<DVACChannelProtocol>& /*channel*/,
                                  const std::shared_ptr<DVACLog>& /*log*/) {}
  virtual void channelDidSucceedSendingLog(const std::shared_ptr<DVACChannelProtocol>& /*channel*/,
                                           const std::shared_ptr<DVACLog>& /*log*/) {}
  virtual void channelDidFailSendingLog(const std::shared_ptr<DVACChannelProtocol>& /*channel*/,
                                        const std::shared_ptr<DVACLog>& /*log*/,
                                        const std::optional<ns::Error>& /*error*/) {}
  virtual void channelDidSetEnabled(const std::shared_ptr<DVACChannelProtocol>& /*channel*/, bool /*isEnabled*/,
                                    bool /*deletedData*/) {}
  virtual void channelDidPauseWithIdentifyingObject(const std::shared_ptr<DVACChannelProtocol>& /*channel*/,
                                                    const DVACIdentifyingObject& /*identifyingObject*/) {}
  virtual void channelDidResumeWithIdentifyingObject(const std::shared_ptr<DVACChannelProtocol>& /*channel*/,
                                                     const DVACIdentifyingObject& /*identifyingObject*/) {}
  // True keeps the log out of that unit.
  virtual bool channelUnitShouldFilterLog(const std::shared_ptr<DVACChannelUnitProtocol>& /*channelUnit*/,
                                          const std::shared_ptr<DVACLog>& /*log*/) {
    return false;
  }
};
