#include "RedEvudud/RedEvudud/Internals/Channel/DVACChannelUnitConfiguration.h"

DVACChannelUnitConfiguration::DVACChannelUnitConfiguration(std::string groupId, int64_t priority,
                                                           uint64_t flushInterval, uint64_t batchSizeLimit,
                                                           uint64_t pendingBatchesLimit)
    : groupId_(std::move(groupId)),
      priority_(priority),
      flushInterval_(flushInterval),
      batchSizeLimit_(batchSizeLimit),
      pendingBatchesLimit_(pendingBatchesLimit) {}

std::shared_ptr<DVACChannelUnitConfiguration> DVACChannelUnitConfiguration::initWithGroupId(
    std::string groupId, int64_t priority, uint64_t flushInterval, uint64_t batchSizeLimit,
    uint64_t pendingBatchesLimit) {
  return std::make_shared<DVACChannelUnitConfiguration>(std::move(groupId), priority, flushInterval, batchSizeLimit,
                                                        pendingBatchesLimit);
}

std::shared_ptr<DVACChannelUnitConfiguration> DVACChannelUnitConfiguration::initDefaultConfigurationWithGroupId(
    std::string groupId, uint64_t flushInterval) {
  return initWithGroupId(std::move(groupId), kDVACPriorityDefault, flushInterval, kDVACBatchSizeLimitDefault,
                         kDVACPendingBatchesLimitDefault);
}

std::shared_ptr<DVACChannelUnitConfiguration> DVACChannelUnitConfiguration::initDefaultConfigurationWithGroupId(
    std::string groupId) {
  return initDefaultConfigurationWithGroupId(std::move(groupId), kDVACFlushIntervalDefault);
}
