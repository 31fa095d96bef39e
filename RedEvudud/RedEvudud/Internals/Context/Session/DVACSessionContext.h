#pragma once
// The current session id and the persisted history of session ids, so that a
// log made later (a crash of an earlier launch) can be stamped with the
// session that was current at its own time.
//
// Each launch adds one record to the history; changes within a launch update
// that record. The history is kept under "SessionIdHistory" in the settings
// store, oldest first, and shrinks only when cleared.

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "RedEvudud/RedEvudud/Internals/Context/Session/DVACSessionHistoryInfo.h"

class DVACSessionContext {
 public:
  // Made on first use, which loads the history.
  static std::shared_ptr<DVACSessionContext> sharedInstance();
  static void resetSharedInstance();

  // The session id of this launch; may be nil.
  std::optional<std::string> sessionId() const;
  // Makes the id current from now on and persists the history.
  void setSessionId(std::optional<std::string> sessionId);
  // The id of the newest record stamped strictly before the date; nil when
  // there is none.
  std::optional<std::string> sessionIdAt(const ns::Date& date) const;
  // Empties the history, keeping this launch's record when asked, and
  // persists it.
  void clearSessionHistoryAndKeepCurrentSession(bool keepCurrentSession);

  // Copies, for inspection.
  DVACSessionHistoryInfo currentSessionInfo() const;
  std::vector<DVACSessionHistoryInfo> sessionHistory() const;

  DVACSessionContext(const DVACSessionContext&) = delete;
  DVACSessionContext& operator=(const DVACSessionContext&) = delete;

 private:
  DVACSessionContext();
  void persistHistory();

  mutable std::recursive_mutex mutex_;
  std::shared_ptr<DVACSessionHistoryInfo> currentSessionInfo_;
  std::vector<std::shared_ptr<DVACSessionHistoryInfo>> sessionHistory_;
};
