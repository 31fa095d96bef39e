#pragma once
// Decides when a usage session begins, stamps the current session id on
// every log a channel prepares, and announces each new session with a
// start-session log through its delegate.
//
// A session begins at start while the application is active, and when the
// application becomes active again after at least sessionTimeout seconds in
// the background with no log prepared for as long. In manual mode sessions
// begin only on request. Times come from the scheduler's wall clock, so a
// virtual clock drives them in tests.

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "RedEvudud/RedEvudud/Internals/Channel/DVACChannelDelegate.h"
#include "RedEvududAnalytics/RedEvududAnalytics/Internals/Session/DVACSessionTrackerDelegate.h"
#include "platform/foundation/ObserverToken.h"
#include "platform/foundation/Value.h"

class DVACSessionContext;

inline constexpr double kDVACSessionTimeOut = 20.0;

class DVACSessionTracker : public DVACChannelDelegate, public std::enable_shared_from_this<DVACSessionTracker> {
 public:
  // Stopped, automatic mode; drops a past-session list of an older layout.
  static std::shared_ptr<DVACSessionTracker> make();
  ~DVACSessionTracker() override;
  DVACSessionTracker(const DVACSessionTracker&) = delete;
  DVACSessionTracker& operator=(const DVACSessionTracker&) = delete;

  // Automatic mode only: opens a session at once when the application is
  // active (or inactive), then follows activation and deactivation.
  void start();
  // Automatic mode only: stops following the application and clears the
  // current session id.
  void stop();
  // Only before start.
  void enableManualSessionTracker();
  // Manual mode only: a new session now.
  void startSession();
  // A new session when there is none or the last one timed out.
  void renewSessionId();
  void sendStartSession();
  bool hasSessionTimedOut();
  void applicationDidEnterBackground();
  void applicationWillEnterForeground();

  // Stamps the current session id (unless the log keeps its own) and notes
  // the activity; start-session and start-service logs are left alone.
  void channelPrepareLog(const std::shared_ptr<DVACChannelProtocol>& channel,
                         const std::shared_ptr<DVACLog>& log) override;

  bool isStarted() const;
  bool isManualSessionTrackerEnabled() const;
  // Held weakly.
  std::shared_ptr<DVACSessionTrackerDelegate> delegate() const;
  void setDelegate(const std::shared_ptr<DVACSessionTrackerDelegate>& delegate);
  double sessionTimeout() const;
  void setSessionTimeout(double sessionTimeout);
  std::optional<ns::Date> lastCreatedLogTime() const;
  void setLastCreatedLogTime(std::optional<ns::Date> date);
  std::optional<ns::Date> lastEnteredForegroundTime() const;
  void setLastEnteredForegroundTime(std::optional<ns::Date> date);
  std::optional<ns::Date> lastEnteredBackgroundTime() const;
  void setLastEnteredBackgroundTime(std::optional<ns::Date> date);
  std::shared_ptr<DVACSessionContext> context() const { return context_; }

 private:
  DVACSessionTracker();
  static ns::Date now();
  // The registrations, handed out so they can be dropped outside the lock
  // (dropping one waits for its handler, which takes the lock).
  std::vector<ns::ObserverToken> takeObservers();

  mutable std::recursive_mutex mutex_;
  bool started_ = false;
  bool isManualSessionTrackerEnabled_ = false;
  std::weak_ptr<DVACSessionTrackerDelegate> delegate_;
  double sessionTimeout_ = kDVACSessionTimeOut;
  std::optional<ns::Date> lastCreatedLogTime_;
  std::optional<ns::Date> lastEnteredForegroundTime_;
  std::optional<ns::Date> lastEnteredBackgroundTime_;
  const std::shared_ptr<DVACSessionContext> context_;
  std::vector<ns::ObserverToken> observers_;
};
