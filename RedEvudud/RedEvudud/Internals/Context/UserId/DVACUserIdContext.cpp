#include "RedEvudud/RedEvudud/Internals/Context/UserId/DVACUserIdContext.h"

#include <algorithm>

#include "RedEvudud/RedEvudud/Internals/Context/DVACHistoryClock.h"
#include "RedEvudud/RedEvudud/Internals/Util/DVACLogger.h"
#include "RedEvudud/RedEvudud/Internals/Util/DVACRedEvududUserDefaults.h"
#include "RedEvudud/RedEvudud/Internals/Util/DVACSharedSlot.h"
#include "RedEvudud/RedEvudud/Internals/Util/DVACUtility.h"
#include "platform/foundation/Utf16.h"

std::shared_ptr<DVACUserIdContext> DVACUserIdContext::sharedInstance() {
  std::lock_guard<std::mutex> lock(DVACSharedSlot<DVACUserIdContext>::mutex());
  auto& shared = DVACSharedSlot<DVACUserIdContext>::instance();
  if (!shared) shared = std::shared_ptr<DVACUserIdContext>(new DVACUserIdContext());
  return shared;
}

void DVACUserIdContext::resetSharedInstance() {
  std::lock_guard<std::mutex> lock(DVACSharedSlot<DVACUserIdContext>::mutex());
  DVACSharedSlot<DVACUserIdContext>::instance().reset();
}

DVACUserIdContext::DVACUserIdContext() {
  auto stored = DVACRedEvududUserDefaults::shared()->objectForKey(kDVACUserIdHistoryKey);
  if (stored && stored->isData()) {
    auto history = DVACUtility::unarchiveKeyedData(*stored->data());
    if (history && history->isArray()) {
      for (const auto& element : *history->array()) {
        if (auto info = element.objectAs<DVACUserIdHistoryInfo>()) userIdHistory_.push_back(std::move(info));
      }
    }
  }
  DVACLogDebug(kDVACLogTag, std::to_string(userIdHistory_.size()) + " userId(s) in the history.");
  currentUserIdInfo_ = std::make_shared<DVACUserIdHistoryInfo>(DVACHistoryClock::now(), std::nullopt);
  userIdHistory_.push_back(currentUserIdInfo_);
  persistHistory();
}

std::optional<std::string> DVACUserIdContext::userId() const {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  return currentUserIdInfo_->userId;
}

void DVACUserIdContext::setUserId(std::optional<std::string> userId) {
  std::vector<std::shared_ptr<DVACUserIdContextDelegate>> delegates;
  {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    if (userId == currentUserIdInfo_->userId) return;
    currentUserIdInfo_->timestamp = DVACHistoryClock::now();
    currentUserIdInfo_->userId = userId;
    if (!userIdHistory_.empty()) userIdHistory_.pop_back();
    userIdHistory_.push_back(currentUserIdInfo_);
    persistHistory();
    DVACLogVerbose(kDVACLogTag, "Stored new userId:" + userId.value_or("(null)") +
                                    " and timestamp: " + currentUserIdInfo_->timestamp->description() + ".");
    for (const auto& weak : delegates_) {
      if (auto delegate = weak.lock()) delegates.push_back(std::move(delegate));
    }
  }
  for (const auto& delegate : delegates) delegate->userIdContextDidUpdateUserId(*this, userId);
}

std::optional<std::string> DVACUserIdContext::userIdAt(const ns::Date& date) const {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  for (auto it = userIdHistory_.rbegin(); it != userIdHistory_.rend(); ++it) {
    if ((*it)->timestamp && *(*it)->timestamp < date) return (*it)->userId;
  }
  return std::nullopt;
}

void DVACUserIdContext::clearUserIdHistory() {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  userIdHistory_.clear();
  userIdHistory_.push_back(currentUserIdInfo_);
  persistHistory();
  DVACLogVerbose(kDVACLogTag, "Cleared old userIds while keeping current userId.");
}

void DVACUserIdContext::addDelegate(const std::shared_ptr<DVACUserIdContextDelegate>& delegate) {
  if (!delegate) return;
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  std::erase_if(delegates_, [](const auto& weak) { return weak.expired(); });
  for (const auto& weak : delegates_) {
    if (weak.lock() == delegate) return;
  }
  delegates_.push_back(delegate);
}

void DVACUserIdContext::removeDelegate(const std::shared_ptr<DVACUserIdContextDelegate>& delegate) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  std::erase_if(delegates_, [&](const auto& weak) {
    auto current = weak.lock();
    return !current || current == delegate;
  });
}

DVACUserIdHistoryInfo DVACUserIdContext::currentUserIdInfo() const {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  return *currentUserIdInfo_;
}

std::vector<DVACUserIdHistoryInfo> DVACUserIdContext::userIdHistory() const {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  std::vector<DVACUserIdHistoryInfo> history;
  history.reserve(userIdHistory_.size());
  for (const auto& info : userIdHistory_) history.push_back(*info);
  return history;
}

void DVACUserIdContext::persistHistory() {
  ns::Array history;
  history.reserve(userIdHistory_.size());
  for (const auto& info : userIdHistory_) history.emplace_back(info);
  if (auto data = DVACUtility::archiveKeyedData(ns::Value(std::move(history)))) {
    DVACRedEvududUserDefaults::shared()->setObject(ns::Value(std::move(*data)), kDVACUserIdHistoryKey);
  }
}

bool DVACUserIdContext::isUserIdValidForRedEvudud(const std::optional<std::string>& userId) {
  if (userId && ns::utf16Length(*userId) > kDVACUserIdMaxLength) {
    DVACLogError(kDVACLogTag, "userId is limited to " + std::to_string(kDVACUserIdMaxLength) + " characters.");
    return false;
  }
  return true;
}

bool DVACUserIdContext::isUserIdValidForRuvErirovevu(const std::optional<std::string>& userId) {
  if (!userId) return true;
  if (userId->empty()) {
    DVACLogError(kDVACLogTag, "userId must not be empty.");
    return false;
  }
  const size_t colon = userId->find(':');
  if (colon == std::string::npos) return true;
  const std::string prefix = userId->substr(0, colon);
  if (prefix != kDVACUserIdCustomPrefix) {
    DVACLogError(kDVACLogTag, std::string("userId prefix must be '") + kDVACUserIdCustomPrefix + "', '" + prefix +
                                  "' is not supported.");
    return false;
  }
  if (colon == userId->size() - 1) {
    DVACLogError(kDVACLogTag, "userId must not be empty.");
    return false;
  }
  return true;
}

std::optional<std::string> DVACUserIdContext::prefixedUserIdFromUserId(const std::optional<std::string>& userId) {
  if (!userId || userId->find(':') != std::string::npos) return userId;
  return std::string(kDVACUserIdCustomPrefix) + ":" + *userId;
}
