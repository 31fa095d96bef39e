#pragma once
// The facade through which a wrapper SDK reaches the Crashes service: its
// say in crash handler set-up, and driving the confirmation itself when it
// turns automatic processing off.

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "RedEvududCrashes/RedEvududCrashes/DVACCrashesDelegate.h"
#include "RedEvududCrashes/RedEvududCrashes/Model/DVACErrorAttachmentLog.h"
#include "RedEvududCrashes/RedEvududCrashes/Model/DVACErrorReport.h"

class DVACWrapperCrashesHelper {
 public:
  static std::shared_ptr<DVACWrapperCrashesHelper> sharedInstance();

  // Held weakly.
  static void setCrashHandlerSetupDelegate(const std::shared_ptr<DVACCrashHandlerSetupDelegate>& delegate);
  static std::shared_ptr<DVACCrashHandlerSetupDelegate> crashHandlerSetupDelegate();
  static std::shared_ptr<DVACCrashHandlerSetupDelegate> getCrashHandlerSetupDelegate();
  static void setAutomaticProcessing(bool automaticProcessing);
  static bool automaticProcessing();
  static DVACErrorReports unprocessedCrashReports();
  static bool sendCrashReportsOrAwaitUserConfirmationForFilteredIds(const std::vector<std::string>& filteredIds);
  static void sendErrorAttachments(const std::vector<std::shared_ptr<DVACErrorAttachmentLog>>& errorAttachments,
                                   const std::optional<std::string>& incidentIdentifier);
  static std::shared_ptr<DVACErrorReport> buildHandledErrorReportWithErrorID(const std::string& errorId);

 private:
  DVACWrapperCrashesHelper() = default;
  std::mutex mutex_;
  std::weak_ptr<DVACCrashHandlerSetupDelegate> crashHandlerSetupDelegate_;
};
