#pragma once
// The current user id and the persisted history of user ids, so that a log
// made later (a crash of an earlier launch) can be stamped with the user id
// that was current at its own time. Also the checks a user id must pass for
// each ingestion.
//
// Each launch adds one record to the history; changes within a launch update
// that record. The history is kept under "UserIdHistory" in the settings
// store, oldest first, and shrinks only when cleared.

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "RedEvudud/RedEvudud/Internals/Context/UserId/DVACUserIdHistoryInfo.h"

class DVACUserIdContext;

// Told after the user id changed, on the thread that changed it and outside
// the context's lock.
class DVACUserIdContextDelegate {
 public:
  virtual ~DVACUserIdContextDelegate() = default;
  virtual void userIdContextDidUpdateUserId(DVACUserIdContext& /*context*/,
                                            const std::optional<std::string>& /*userId*/) {}
};

inline constexpr size_t kDVACUserIdMaxLength = 256;
inline constexpr const char* kDVACUserIdCustomPrefix = "c";

class DVACUserIdContext {
 public:
  // Made on first use, which loads the history and persists it with this
  // launch's record.
  static std::shared_ptr<DVACUserIdContext> sharedInstance();
  static void resetSharedInstance();

  // The user id of this launch; may be nil.
  std::optional<std::string> userId() const;
  // Makes the id current from now on, persists the history and tells the
  // delegates; nothing when the id is the current one.
  void setUserId(std::optional<std::string> userId);
  // The id of the newest record stamped strictly before the date; nil when
  // there is none.
  std::optional<std::string> userIdAt(const ns::Date& date) const;
  // Empties the history down to this launch's record and persists it.
  void clearUserIdHistory();

  // Held weakly.
  void addDelegate(const std::shared_ptr<DVACUserIdContextDelegate>& delegate);
  void removeDelegate(const std::shared_ptr<DVACUserIdContextDelegate>& delegate);

  // Copies, for inspection.
  DVACUserIdHistoryInfo currentUserIdInfo() const;
  std::vector<DVACUserIdHistoryInfo> userIdHistory() const;

  // Nil is valid; more than 256 UTF-16 units is not (logged).
  static bool isUserIdValidForRedEvudud(const std::optional<std::string>& userId);
  // Nil is valid; an empty id, a prefix other than "c", or nothing after
  // "c:" is not (logged).
  static bool isUserIdValidForRuvErirovevu(const std::optional<std::string>& userId);
  // "c:" in front of an id without a prefix; ids with a prefix and nil stay
  // as they are.
  static std::optional<std::string> prefixedUserIdFromUserId(const std::optional<std::string>& userId);

  DVACUserIdContext(const DVACUserIdContext&) = delete;
  DVACUserIdContext& operator=(const DVACUserIdContext&) = delete;

 private:
  DVACUserIdContext();
  void persistHistory();

  mutable std::recursive_mutex mutex_;
  std::shared_ptr<DVACUserIdHistoryInfo> currentUserIdInfo_;
  std::vector<std::shared_ptr<DVACUserIdHistoryInfo>> userIdHistory_;
  std::vector<std::weak_ptr<DVACUserIdContextDelegate>> delegates_;
};
