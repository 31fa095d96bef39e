#include "RedEvududAnalytics/RedEvududAnalytics/Internals/Session/DVACSessionTracker.h"

#include "RedEvudud/RedEvudud/Internals/Context/Session/DVACSessionContext.h"
#include "RedEvudud/RedEvudud/Internals/Model/DVACNoAutoAssignSessionIdLog.h"
#include "RedEvudud/RedEvudud/Internals/Model/DVACStartServiceLog.h"
#include "RedEvudud/RedEvudud/Internals/Util/DVACLogger.h"
#include "RedEvudud/RedEvudud/Internals/Util/DVACRedEvududUserDefaults.h"
#include "RedEvudud/RedEvudud/Internals/Util/DVACUtility.h"
#include "RedEvududAnalytics/RedEvududAnalytics/DVACAnalytics.h"
#include "RedEvududAnalytics/RedEvududAnalytics/Model/DVACStartSessionLog.h"
#include "platform/appkit/NSApplicationActivation.h"
#include "platform/dispatch/Dispatch.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/NotificationCenter.h"

namespace {

bool isAppExtension() { return ns::Bundle::main()->executablePath().find(".appex/") != std::string::npos; }

}  // namespace

std::shared_ptr<DVACSessionTracker> DVACSessionTracker::make() {
  return std::shared_ptr<DVACSessionTracker>(new DVACSessionTracker());
}

DVACSessionTracker::DVACSessionTracker() : context_(DVACSessionContext::sharedInstance()) {
  DVACRedEvududUserDefaults::shared()->removeObjectForKey(kDVACPastSessionsKey);
}

DVACSessionTracker::~DVACSessionTracker() { takeObservers(); }

ns::Date DVACSessionTracker::now() { return ns::Date(dispatch::wallNow()); }

std::vector<ns::ObserverToken> DVACSessionTracker::takeObservers() {
  std::lock_guard lock(mutex_);
  return std::exchange(observers_, {});
}

// ------------------------------------------------------------ Start and stop

void DVACSessionTracker::start() {
  std::lock_guard lock(mutex_);
  if (started_ || isManualSessionTrackerEnabled_) return;
  started_ = true;
  if (DVACUtility::applicationState() < DVACApplicationStateBackground) renewSessionId();

  std::weak_ptr<DVACSessionTracker> weakSelf = weak_from_this();
  auto center = ns::NotificationCenter::defaultCenter();
  observers_.push_back(center->addObserver(appkit::NSApplicationDidResignActiveNotification, nullptr,
                                           [weakSelf](const ns::Notification&) {
                                             if (auto self = weakSelf.lock()) self->applicationDidEnterBackground();
                                           }));
  observers_.push_back(center->addObserver(appkit::NSApplicationWillBecomeActiveNotification, nullptr,
                                           [weakSelf](const ns::Notification&) {
                                             if (auto self = weakSelf.lock()) self->applicationWillEnterForeground();
                                           }));
}

void DVACSessionTracker::stop() {
  std::vector<ns::ObserverToken> observers;
  {
    std::lock_guard lock(mutex_);
    if (!started_ || isManualSessionTrackerEnabled_) return;
    observers = std::exchange(observers_, {});
    started_ = false;
    context_->setSessionId(std::nullopt);
  }
  // Dropped here, outside the lock their handlers take.
  observers.clear();
}

// -------------------------------------------------------------- Manual mode

void DVACSessionTracker::enableManualSessionTracker() {
  std::lock_guard lock(mutex_);
  if (started_) {
    DVACLogInfo(kDVACAnalyticsLogTag,
                "Manual session tracker should be set before the DVACAnalytics service is started.");
    return;
  }
  isManualSessionTrackerEnabled_ = true;
  DVACLogInfo(kDVACAnalyticsLogTag, "Manual session tracker is enabled.");
}

void DVACSessionTracker::startSession() {
  if (!isManualSessionTrackerEnabled()) {
    DVACLogInfo(kDVACAnalyticsLogTag, "Can't start new session because manual session tracker is disabled.");
    return;
  }
  sendStartSession();
  DVACLogInfo(kDVACAnalyticsLogTag, "Started a new session: " + context_->sessionId().value_or("(null)"));
}

// ------------------------------------------------------------------ Sessions

void DVACSessionTracker::renewSessionId() {
  std::lock_guard lock(mutex_);
  if (started_ && (!context_->sessionId() || hasSessionTimedOut())) sendStartSession();
}

void DVACSessionTracker::sendStartSession() {
  const std::string sessionId = ns::UUID::random().UUIDString();
  context_->setSessionId(sessionId);
  DVACLogInfo(kDVACAnalyticsLogTag, "New session ID: " + sessionId);
  auto log = std::make_shared<DVACStartSessionLog>();
  log->setSid(sessionId);
  if (auto delegate = this->delegate()) delegate->sessionTrackerProcessLog(*this, log);
}

bool DVACSessionTracker::hasSessionTimedOut() {
  std::lock_guard lock(mutex_);
  const ns::Date current = now();
  const bool idle = !lastCreatedLogTime_ || current.timeIntervalSinceDate(*lastCreatedLogTime_) >= sessionTimeout_;
  if (isAppExtension()) return idle;
  const bool inBackgroundLong = lastEnteredBackgroundTime_ && lastEnteredForegroundTime_ &&
                                *lastEnteredBackgroundTime_ > *lastEnteredForegroundTime_ &&
                                current.timeIntervalSinceDate(*lastEnteredBackgroundTime_) >= sessionTimeout_;
  const bool wasInBackgroundLong =
      lastEnteredBackgroundTime_ && lastEnteredForegroundTime_ &&
      lastEnteredForegroundTime_->timeIntervalSinceDate(*lastEnteredBackgroundTime_) >= sessionTimeout_;
  return idle && (inBackgroundLong || wasInBackgroundLong);
}

// ------------------------------------------------------ Foreground, background

void DVACSessionTracker::applicationDidEnterBackground() {
  std::lock_guard lock(mutex_);
  if (isManualSessionTrackerEnabled_) {
    DVACLogInfo(kDVACAnalyticsLogTag,
                "Manual session tracker is enabled. Skip tracking a session status request after enter background.");
    return;
  }
  lastEnteredBackgroundTime_ = now();
}

void DVACSessionTracker::applicationWillEnterForeground() {
  std::lock_guard lock(mutex_);
  if (isManualSessionTrackerEnabled_) {
    DVACLogInfo(kDVACAnalyticsLogTag,
                "Manual session tracker is enabled. Skip tracking a session status request after enter foreground.");
    return;
  }
  lastEnteredForegroundTime_ = now();
  renewSessionId();
}

// ------------------------------------------------------------------ Stamping

void DVACSessionTracker::channelPrepareLog(const std::shared_ptr<DVACChannelProtocol>& /*channel*/,
                                           const std::shared_ptr<DVACLog>& log) {
  if (!log) return;
  if (std::dynamic_pointer_cast<DVACStartSessionLog>(log) || std::dynamic_pointer_cast<DVACStartServiceLog>(log)) {
    return;
  }
  std::lock_guard lock(mutex_);
  if (!std::dynamic_pointer_cast<DVACNoAutoAssignSessionIdLog>(log)) log->setSid(context_->sessionId());
  lastCreatedLogTime_ = now();
}

// ----------------------------------------------------------------- Accessors

bool DVACSessionTracker::isStarted() const {
  std::lock_guard lock(mutex_);
  return started_;
}
bool DVACSessionTracker::isManualSessionTrackerEnabled() const {
  std::lock_guard lock(mutex_);
  return isManualSessionTrackerEnabled_;
}
std::shared_ptr<DVACSessionTrackerDelegate> DVACSessionTracker::delegate() const {
  std::lock_guard lock(mutex_);
  return delegate_.lock();
}
void DVACSessionTracker::setDelegate(const std::shared_ptr<DVACSessionTrackerDelegate>& delegate) {
  std::lock_guard lock(mutex_);
  delegate_ = delegate;
}
double DVACSessionTracker::sessionTimeout() const {
  std::lock_guard lock(mutex_);
  return sessionTimeout_;
}
void DVACSessionTracker::setSessionTimeout(double sessionTimeout) {
  std::lock_guard lock(mutex_);
  sessionTimeout_ = sessionTimeout;
}
std::optional<ns::Date> DVACSessionTracker::lastCreatedLogTime() const {
  std::lock_guard lock(mutex_);
  return lastCreatedLogTime_;
}
void DVACSessionTracker::setLastCreatedLogTime(std::optional<ns::Date> date) {
  std::lock_guard lock(mutex_);
  lastCreatedLogTime_ = date;
}
std::optional<ns::Date> DVACSessionTracker::lastEnteredForegroundTime() const {
  std::lock_guard lock(mutex_);
  return lastEnteredForegroundTime_;
}
void DVACSessionTracker::setLastEnteredForegroundTime(std::optional<ns::Date> date) {
  std::lock_guard lock(mutex_);
  lastEnteredForegroundTime_ = date;
}
std::optional<ns::Date> DVACSessionTracker::lastEnteredBackgroundTime() const {
  std::lock_guard lock(mutex_);
  return lastEnteredBackgroundTime_;
}
void DVACSessionTracker::setLastEnteredBackgroundTime(std::optional<ns::Date> date) {
  std::lock_guard lock(mutex_);
  lastEnteredBackgroundTime_ = date;
}
