#include "RedEvudud/RedEvudud/Internals/Context/Session/DVACSessionContext.h"

#include "RedEvudud/RedEvudud/Internals/Context/DVACHistoryClock.h"
#include "RedEvudud/RedEvudud/Internals/Util/DVACLogger.h"
#include "RedEvudud/RedEvudud/Internals/Util/DVACRedEvududUserDefaults.h"
#include "RedEvudud/RedEvudud/Internals/Util/DVACSharedSlot.h"
#include "RedEvudud/RedEvudud/Internals/Util/DVACUtility.h"

std::shared_ptr<DVACSessionContext> DVACSessionContext::sharedInstance() {
  std::lock_guard<std::mutex> lock(DVACSharedSlot<DVACSessionContext>::mutex());
  auto& shared = DVACSharedSlot<DVACSessionContext>::instance();
  if (!shared) shared = std::shared_ptr<DVACSessionContext>(new DVACSessionContext());
  return shared;
}

void DVACSessionContext::resetSharedInstance() {
  std::lock_guard<std::mutex> lock(DVACSharedSlot<DVACSessionContext>::mutex());
  DVACSharedSlot<DVACSessionContext>::instance().reset();
}

DVACSessionContext::DVACSessionContext() {
  auto stored = DVACRedEvududUserDefaults::shared()->objectForKey(kDVACSessionIdHistoryKey);
  if (stored && stored->isData()) {
    auto history = DVACUtility::unarchiveKeyedData(*stored->data());
    if (history && history->isArray()) {
      for (const auto& element : *history->array()) {
        if (auto info = element.objectAs<DVACSessionHistoryInfo>()) sessionHistory_.push_back(std::move(info));
      }
    }
  }
  DVACLogDebug(kDVACLogTag, std::to_string(sessionHistory_.size()) + " session(s) in the history.");
  // The first write is the next change of the session id.
  currentSessionInfo_ = std::make_shared<DVACSessionHistoryInfo>(DVACHistoryClock::now(), std::nullopt);
  sessionHistory_.push_back(currentSessionInfo_);
}

std::optional<std::string> DVACSessionContext::sessionId() const {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  return currentSessionInfo_->sessionId;
}

void DVACSessionContext::setSessionId(std::optional<std::string> sessionId) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  if (!sessionHistory_.empty()) sessionHistory_.pop_back();
  currentSessionInfo_->sessionId = std::move(sessionId);
  currentSessionInfo_->timestamp = DVACHistoryClock::now();
  sessionHistory_.push_back(currentSessionInfo_);
  persistHistory();
  DVACLogVerbose(kDVACLogTag, "Stored new session with id:" + currentSessionInfo_->sessionId.value_or("(null)") +
                                  " and timestamp: " + currentSessionInfo_->timestamp->description() + ".");
}

std::optional<std::string> DVACSessionContext::sessionIdAt(const ns::Date& date) const {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  for (auto it = sessionHistory_.rbegin(); it != sessionHistory_.rend(); ++it) {
    if ((*it)->timestamp && *(*it)->timestamp < date) return (*it)->sessionId;
  }
  return std::nullopt;
}

void DVACSessionContext::clearSessionHistoryAndKeepCurrentSession(bool keepCurrentSession) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  sessionHistory_.clear();
  if (keepCurrentSession) sessionHistory_.push_back(currentSessionInfo_);
  persistHistory();
  DVACLogVerbose(kDVACLogTag, "Cleared old sessions.");
}

DVACSessionHistoryInfo DVACSessionContext::currentSessionInfo() const {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  return *currentSessionInfo_;
}

std::vector<DVACSessionHistoryInfo> DVACSessionContext::sessionHistory() const {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  std::vector<DVACSessionHistoryInfo> history;
  history.reserve(sessionHistory_.size());
  for (const auto& info : sessionHistory_) history.push_back(*info);
  return history;
}

void DVACSessionContext::persistHistory() {
  ns::Array history;
  history.reserve(sessionHistory_.size());
  for (const auto& info : sessionHistory_) history.emplace_back(info);
  if (auto data = DVACUtility::archiveKeyedData(ns::Value(std::move(history)))) {
    DVACRedEvududUserDefaults::shared()->setObject(ns::Value(std::move(*data)), kDVACSessionIdHistoryKey);
  }
}
