#pragma once
// Shared by the channel, service and SDK tests: an in-memory log store, an
// ingestion whose answers the test gives by hand, a delegate that records
// every callback, and logs to enqueue.

#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "RedEvudud/RedEvudud/Internals/Channel/DVACChannelDelegate.h"
#include "RedEvudud/RedEvudud/Internals/Channel/DVACChannelUnitProtocol.h"
#include "RedEvudud/RedEvudud/Internals/Ingestion/DVACIngestionProtocol.h"
#include "RedEvudud/RedEvudud/Internals/Model/DVACLogContainer.h"
#include "RedEvudud/RedEvudud/Internals/Model/DVACLogWithProperties.h"
#include "RedEvudud/RedEvudud/Internals/Storage/DVACStorage.h"
#include "RedEvudud/RedEvudud/Internals/Util/DVACUtility.h"
#include "RedEvudud/RedEvudud/Model/DVACDevice.h"
#include "RedEvudud/RedEvudud/tests/DVACTestSupport.h"
#include "platform/foundation/URL.h"
#include "platform/net/URLRequest.h"

namespace dvac_channel_test {

using dvac_test::testDevice;

// A valid event-like log carrying its number in the property "n".
inline std::shared_ptr<DVACLogWithProperties> numberedLog(int n, const std::string& type = "testEvent") {
  auto log = std::make_shared<DVACLogWithProperties>();
  log->setType(type);
  log->setTimestamp(ns::Date::fromTimeIntervalSince1970(1'700'000'000 + n));
  log->setDevice(testDevice());
  log->setProperties(DVACPropertiesDictionary{{"n", std::to_string(n)}});
  return log;
}

inline std::optional<int> numberOf(const std::shared_ptr<DVACLog>& log) {
  auto withProperties = std::dynamic_pointer_cast<DVACLogWithProperties>(log);
  if (!withProperties || !withProperties->properties()) return std::nullopt;
  auto found = withProperties->properties()->find("n");
  if (found == withProperties->properties()->end()) return std::nullopt;
  return std::stoi(found->second);
}

// The store's contract in memory: rows by group, batches handed out stay
// pending until deleted.
class FakeStorage : public DVACStorage {
 public:
  struct Row {
    int64_t id;
    std::shared_ptr<DVACLog> log;
    std::string groupId;
    DVACLogFlags flags;
  };

  bool saveLog(const std::shared_ptr<DVACLog>& log, const std::string& groupId, DVACLogFlags flags) override {
    std::lock_guard lock(mutex_);
    if (refuseSaves) return false;
    rows_.push_back({nextId_++, log, groupId, flags});
    return true;
  }
  DVACStorageLogArray deleteLogsWithGroupId(const std::string& groupId) override {
    std::lock_guard lock(mutex_);
    DVACStorageLogArray deleted;
    for (const auto& row : rows_) {
      if (row.groupId == groupId) deleted.push_back(row.log);
    }
    std::erase_if(rows_, [&](const Row& row) { return row.groupId == groupId; });
    std::erase_if(batches_, [&](const auto& entry) { return entry.first.first == groupId; });
    return deleted;
  }
  void deleteLogsWithBatchId(const std::string& batchId, const std::string& groupId) override {
    std::lock_guard lock(mutex_);
    auto found = batches_.find({groupId, batchId});
    if (found == batches_.end()) return;
    const auto ids = found->second;
    std::erase_if(rows_, [&](const Row& row) { return std::count(ids.begin(), ids.end(), row.id) > 0; });
    batches_.erase(found);
  }
  bool loadLogsWithGroupId(const std::string& groupId, size_t limit,
                           const std::optional<std::vector<std::string>>& excludedTargetKeys,
                           const DVACLoadDataCompletionHandler& completionHandler) override {
    std::vector<Row> candidates;
    std::optional<std::string> batchId;
    {
      std::lock_guard lock(mutex_);
      ++loads_;
      for (const auto& row : rows_) {
        if (row.groupId != groupId || isPending(row.id) || isExcluded(row, excludedTargetKeys)) continue;
        candidates.push_back(row);
      }
      std::stable_sort(candidates.begin(), candidates.end(), [](const Row& a, const Row& b) {
        return (a.flags & DVACLogFlagsPriorityMask) > (b.flags & DVACLogFlagsPriorityMask);
      });
      if (!candidates.empty()) {
        batchId = ns::UUID::random().UUIDString();
        auto& ids = batches_[{groupId, *batchId}];
        for (size_t i = 0; i < std::min(limit, candidates.size()); ++i) ids.push_back(candidates[i].id);
      }
    }
    DVACStorageLogArray logs;
    for (size_t i = 0; i < std::min(limit, candidates.size()); ++i) logs.push_back(candidates[i].log);
    completionHandler(logs, batchId);
    return candidates.size() > limit;
  }
  DVACStorageLogArray logsWithGroupId(const std::string& groupId) override {
    std::lock_guard lock(mutex_);
    DVACStorageLogArray logs;
    for (const auto& row : rows_) {
      if (row.groupId == groupId) logs.push_back(row.log);
    }
    return logs;
  }
  uint64_t countLogs() override {
    std::lock_guard lock(mutex_);
    return rows_.size();
  }
  void setMaxStorageSize(int64_t sizeInBytes, const std::function<void(bool)>& completionHandler) override {
    {
      std::lock_guard lock(mutex_);
      maxStorageSizes_.push_back(sizeInBytes);
    }
    if (completionHandler) completionHandler(true);
  }

  size_t count(const std::string& groupId) const {
    std::lock_guard lock(mutex_);
    return static_cast<size_t>(
        std::count_if(rows_.begin(), rows_.end(), [&](const Row& row) { return row.groupId == groupId; }));
  }
  size_t loads() const {
    std::lock_guard lock(mutex_);
    return loads_;
  }
  std::vector<int64_t> maxStorageSizes() const {
    std::lock_guard lock(mutex_);
    return maxStorageSizes_;
  }
  bool refuseSaves = false;

 private:
  bool isPending(int64_t id) const {
    for (const auto& [key, ids] : batches_) {
      if (std::count(ids.begin(), ids.end(), id)) return true;
    }
    return false;
  }
  static bool isExcluded(const Row& row, const std::optional<std::vector<std::string>>& excluded) {
    if (!excluded || excluded->empty()) return false;
    auto tokens = row.log->transmissionTargetTokens();
    if (!tokens || tokens->empty()) return false;
    auto key = DVACUtility::targetKeyFromTargetToken(*tokens->begin());
    return key && std::count(excluded->begin(), excluded->end(), *key) > 0;
  }

  mutable std::mutex mutex_;
  std::vector<Row> rows_;
  std::map<std::pair<std::string, std::string>, std::vector<int64_t>> batches_;
  int64_t nextId_ = 1;
  size_t loads_ = 0;
  std::vector<int64_t> maxStorageSizes_;
};

// Keeps every batch it is given; the test answers them.
class FakeIngestion : public DVACIngestionProtocol {
 public:
  struct Sent {
    std::shared_ptr<DVACLogContainer> container;
    DVACSendAsyncCompletionHandler handler;
  };

  void setEnabled(bool isEnabled, bool deleteDataOnDisabled) override {
    std::lock_guard lock(mutex_);
    enabled_ = isEnabled;
    enableCalls_.emplace_back(isEnabled, deleteDataOnDisabled);
  }
  bool isEnabled() const override {
    std::lock_guard lock(mutex_);
    return enabled_;
  }
  bool isReadyToSend() const override {
    std::lock_guard lock(mutex_);
    return ready_;
  }
  void setReadyToSend(bool ready) {
    std::lock_guard lock(mutex_);
    ready_ = ready;
  }
  void sendAsync(const std::shared_ptr<DVACLogContainer>& data,
                 DVACSendAsyncCompletionHandler completionHandler) override {
    std::lock_guard lock(mutex_);
    sent_.push_back({data, std::move(completionHandler)});
  }

  size_t sentCount() const {
    std::lock_guard lock(mutex_);
    return sent_.size();
  }
  std::shared_ptr<DVACLogContainer> container(size_t index) const {
    std::lock_guard lock(mutex_);
    return sent_.at(index).container;
  }
  // Answers batch `index` with an HTTP status (0: a transport error).
  void answer(size_t index, int64_t statusCode) {
    Sent sent;
    {
      std::lock_guard lock(mutex_);
      sent = sent_.at(index);
    }
    std::shared_ptr<const net::HTTPURLResponse> response;
    std::optional<ns::Error> error;
    if (statusCode > 0) {
      response = std::make_shared<net::HTTPURLResponse>(*ns::URL::URLWithString("http://127.0.0.1/logs"), statusCode,
                                                        "HTTP/1.1", net::HTTPHeaderFields{});
    } else {
      error = ns::Error("NSURLErrorDomain", -1004);
    }
    sent.handler(sent.container->batchId, response, std::nullopt, error);
  }
  std::vector<std::pair<bool, bool>> enableCalls() const {
    std::lock_guard lock(mutex_);
    return enableCalls_;
  }

 private:
  mutable std::mutex mutex_;
  bool enabled_ = true;
  bool ready_ = true;
  std::vector<Sent> sent_;
  std::vector<std::pair<bool, bool>> enableCalls_;
};

// Every callback as a line "<event> <log number or detail>", from any thread.
class RecordingDelegate : public DVACChannelDelegate {
 public:
  struct Event {
    std::string name;
    std::shared_ptr<DVACChannelProtocol> channel;
    std::shared_ptr<DVACLog> log;
    std::optional<ns::Error> error;
  };

  void channelGroupDidAddChannelUnit(const std::shared_ptr<DVACChannelGroupProtocol>&,
                                     const std::shared_ptr<DVACChannelUnitProtocol>& unit) override {
    record({"didAddChannelUnit", unit, nullptr, std::nullopt});
  }
  void channelPrepareLog(const std::shared_ptr<DVACChannelProtocol>& channel,
                         const std::shared_ptr<DVACLog>& log) override {
    record({"prepare", channel, log, std::nullopt});
  }
  void channelDidPrepareLog(const std::shared_ptr<DVACChannelProtocol>& channel, const std::shared_ptr<DVACLog>& log,
                            const std::string&, DVACLogFlags) override {
    record({"didPrepare", channel, log, std::nullopt});
  }
  void channelDidCompleteEnqueueingLog(const std::shared_ptr<DVACChannelProtocol>& channel,
                                       const std::shared_ptr<DVACLog>& log, const std::string&) override {
    record({"didCompleteEnqueueing", channel, log, std::nullopt});
  }
  void channelWillSendLog(const std::shared_ptr<DVACChannelProtocol>& channel,
                          const std::shared_ptr<DVACLog>& log) override {
    record({"willSend", channel, log, std::nullopt});
  }
  void channelDidSucceedSendingLog(const std::shared_ptr<DVACChannelProtocol>& channel,
                                   const std::shared_ptr<DVACLog>& log) override {
    record({"didSucceed", channel, log, std::nullopt});
  }
  void channelDidFailSendingLog(const std::shared_ptr<DVACChannelProtocol>& channel,
                                const std::shared_ptr<DVACLog>& log, const std::optional<ns::Error>& error) override {
    record({"didFail", channel, log, error});
  }
  void channelDidSetEnabled(const std::shared_ptr<DVACChannelProtocol>& channel, bool isEnabled,
                            bool deletedData) override {
    record({std::string("didSetEnabled ") + (isEnabled ? "1" : "0") + (deletedData ? "1" : "0"), channel, nullptr,
            std::nullopt});
  }
  void channelDidPauseWithIdentifyingObject(const std::shared_ptr<DVACChannelProtocol>& channel,
                                            const DVACIdentifyingObject&) override {
    record({"didPause", channel, nullptr, std::nullopt});
  }
  void channelDidResumeWithIdentifyingObject(const std::shared_ptr<DVACChannelProtocol>& channel,
                                             const DVACIdentifyingObject&) override {
    record({"didResume", channel, nullptr, std::nullopt});
  }
  bool channelUnitShouldFilterLog(const std::shared_ptr<DVACChannelUnitProtocol>& unit,
                                  const std::shared_ptr<DVACLog>& log) override {
    record({"shouldFilter", unit, log, std::nullopt});
    return filter;
  }

  std::vector<Event> events() const {
    std::lock_guard lock(mutex_);
    return events_;
  }
  size_t count(const std::string& name) const {
    std::lock_guard lock(mutex_);
    return static_cast<size_t>(
        std::count_if(events_.begin(), events_.end(), [&](const Event& e) { return e.name == name; }));
  }
  // The numbers of the logs of one kind of event, in order.
  std::vector<int> numbers(const std::string& name) const {
    std::vector<int> out;
    for (const auto& event : events()) {
      if (event.name != name) continue;
      if (auto n = numberOf(event.log)) out.push_back(*n);
    }
    return out;
  }
  bool waitFor(const std::string& name, size_t n, double timeoutSeconds = 30) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::duration<double>(timeoutSeconds), [&] {
      return static_cast<size_t>(std::count_if(events_.begin(), events_.end(),
                                               [&](const Event& e) { return e.name == name; })) >= n;
    });
  }
  void clear() {
    std::lock_guard lock(mutex_);
    events_.clear();
  }

  bool filter = false;

 private:
  void record(Event event) {
    std::lock_guard lock(mutex_);
    events_.push_back(std::move(event));
    changed_.notify_all();
  }
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::vector<Event> events_;
};

}  // namespace dvac_channel_test
