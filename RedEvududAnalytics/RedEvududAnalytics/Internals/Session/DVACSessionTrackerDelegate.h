#pragma once
// Receives the start-session log of every new session.

#include <memory>

class DVACLog;
class DVACSessionTracker;

class DVACSessionTrackerDelegate {
 public:
  virtual ~DVACSessionTrackerDelegate() = default;
  virtual void sessionTrackerProcessLog(DVACSessionTracker& sessionTracker, const std::shared_ptr<DVACLog>& log) = 0;
};
