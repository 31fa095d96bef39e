#pragma once
// The update framework's standard controller. The framework lies outside the
// program; this stand-in keeps what the program can see of it: whether the
// updater was started, the checks asked for, and the user default
// "SUEnableAutomaticChecks" that the framework reads itself. No network.

#include <memory>
#include <string>
#include <vector>

namespace appkit {

inline constexpr const char* SUEnableAutomaticChecksKey = "SUEnableAutomaticChecks";

class SPUUpdaterDelegate {
 public:
  virtual ~SPUUpdaterDelegate() = default;
};
class SPUStandardUserDriverDelegate {
 public:
  virtual ~SPUStandardUserDriverDelegate() = default;
};

class SPUStandardUpdaterController {
 public:
  // initWithStartingUpdater:updaterDelegate:userDriverDelegate:
  static std::shared_ptr<SPUStandardUpdaterController> initWithStartingUpdater(
      bool startingUpdater, std::weak_ptr<SPUUpdaterDelegate> updaterDelegate = {},
      std::weak_ptr<SPUStandardUserDriverDelegate> userDriverDelegate = {});

  // Starts the updater; later calls change nothing. When automatic checks
  // are on, the first start schedules the periodic check.
  void startUpdater();
  // checkForUpdates: — a user-initiated check; it runs only once the updater
  // has been started.
  void checkForUpdates(const void* sender = nullptr);

  bool updaterStarted() const { return started_; }
  // "SUEnableAutomaticChecks" in the standard user defaults (absent: false).
  bool automaticallyChecksForUpdates() const;
  bool automaticCheckScheduled() const { return automaticCheckScheduled_; }
  // Checks that ran.
  int userInitiatedCheckCount() const { return checks_; }
  // Every call made on the controller, in order ("startUpdater", "checkForUpdates:").
  const std::vector<std::string>& calls() const { return calls_; }

 private:
  SPUStandardUpdaterController() = default;
  bool started_ = false;
  bool automaticCheckScheduled_ = false;
  int checks_ = 0;
  std::vector<std::string> calls_;
};

}  // namespace appkit
