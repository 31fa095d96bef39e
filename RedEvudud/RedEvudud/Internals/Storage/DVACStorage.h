#pragma once
// The interface of the log store the channels use: logs kept between the
// moment a channel unit accepts them and the moment ingestion confirms them,
// handed out in batches by group.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "RedEvudud/RedEvudud/Internals/Model/DVACLog.h"
#include "RedEvudud/RedEvudud/Model/DVACLogFlags.h"

using DVACStorageLogArray = std::vector<std::shared_ptr<DVACLog>>;

// The logs of a load and the id of the batch they form (nil when empty).
using DVACLoadDataCompletionHandler =
    std::function<void(const DVACStorageLogArray& logArray, const std::optional<std::string>& batchId)>;

class DVACStorage {
 public:
  virtual ~DVACStorage() = default;

  // Stores the log under the group; the low eight bits of the flags are its
  // persistence priority. True when the log was stored.
  virtual bool saveLog(const std::shared_ptr<DVACLog>& log, const std::string& groupId, DVACLogFlags flags) = 0;

  // Every stored log of the group, read before all of them are deleted.
  virtual DVACStorageLogArray deleteLogsWithGroupId(const std::string& groupId) = 0;

  // Deletes the logs handed out as that batch of the group; nothing for an
  // unknown batch.
  virtual void deleteLogsWithBatchId(const std::string& batchId, const std::string& groupId) = 0;

  // Hands out up to limit logs of the group that are in no pending batch and
  // whose target key is not excluded, highest priority first, oldest first,
  // as a new batch. The handler runs before the call returns. True when more
  // logs are available.
  virtual bool loadLogsWithGroupId(const std::string& groupId, size_t limit,
                                   const std::optional<std::vector<std::string>>& excludedTargetKeys,
                                   const DVACLoadDataCompletionHandler& completionHandler) = 0;

  // Every stored log of the group, in a pending batch or not; hands nothing
  // out.
  virtual DVACStorageLogArray logsWithGroupId(const std::string& groupId) = 0;

  // Stored logs of every group.
  virtual uint64_t countLogs() = 0;

  // Changes the maximum size of the store; the handler gets the outcome.
  virtual void setMaxStorageSize(int64_t sizeInBytes, const std::function<void(bool success)>& completionHandler) = 0;
};
