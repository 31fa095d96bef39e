#pragma once
// How one channel unit batches: its group, priority, batch size, how many
// batches may be in flight at once and how long the first unsent log waits
// before a flush. Immutable once made.

#include <cstdint>
#include <memory>
#include <string>

// The interval a unit flushes after by default; a unit configured with it
// also flushes at once when a full batch is waiting.
inline constexpr uint64_t kDVACFlushIntervalDefault = 6;
inline constexpr uint64_t kDVACBatchSizeLimitDefault = 50;
inline constexpr uint64_t kDVACPendingBatchesLimitDefault = 3;
inline constexpr int64_t kDVACPriorityDefault = 1;

class DVACChannelUnitConfiguration {
 public:
  DVACChannelUnitConfiguration(std::string groupId, int64_t priority, uint64_t flushInterval, uint64_t batchSizeLimit,
                               uint64_t pendingBatchesLimit);

  static std::shared_ptr<DVACChannelUnitConfiguration> initWithGroupId(std::string groupId, int64_t priority,
                                                                       uint64_t flushInterval,
                                                                       uint64_t batchSizeLimit,
                                                                       uint64_t pendingBatchesLimit);
  // Priority 1, batches of 50, 3 batches in flight.
  static std::shared_ptr<DVACChannelUnitConfiguration> initDefaultConfigurationWithGroupId(std::string groupId,
                                                                                           uint64_t flushInterval);
  // The same with a 6 second interval.
  static std::shared_ptr<DVACChannelUnitConfiguration> initDefaultConfigurationWithGroupId(std::string groupId);

  const std::string& groupId() const { return groupId_; }
  int64_t priority() const { return priority_; }
  uint64_t flushInterval() const { return flushInterval_; }
  uint64_t batchSizeLimit() const { return batchSizeLimit_; }
  uint64_t pendingBatchesLimit() const { return pendingBatchesLimit_; }

 private:
  const std::string groupId_;
  const int64_t priority_;
  const uint64_t flushInterval_;
  const uint64_t batchSizeLimit_;
  const uint64_t pendingBatchesLimit_;
};
