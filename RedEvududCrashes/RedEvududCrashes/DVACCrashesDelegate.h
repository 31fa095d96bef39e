#pragma once
// The application's optional delegates of the Crashes service. Every method
// is optional: the service calls one only when respondsToSelector names it.

#include <memory>
#include <string>
#include <vector>

#include "RedEvududCrashes/RedEvududCrashes/Model/DVACErrorAttachmentLog.h"
#include "RedEvududCrashes/RedEvududCrashes/Model/DVACErrorReport.h"
#include "platform/foundation/Error.h"

class DVACCrashes;

inline constexpr const char* kDVACCrashesShouldProcessErrorReportSelector = "crashes:shouldProcessErrorReport:";
inline constexpr const char* kDVACAttachmentsWithCrashesSelector = "attachmentsWithCrashes:forErrorReport:";
inline constexpr const char* kDVACCrashesWillSendErrorReportSelector = "crashes:willSendErrorReport:";
inline constexpr const char* kDVACCrashesDidSucceedSendingErrorReportSelector = "crashes:didSucceedSendingErrorReport:";
inline constexpr const char* kDVACCrashesDidFailSendingErrorReportSelector =
    "crashes:didFailSendingErrorReport:withError:";

class DVACCrashesDelegate {
 public:
  virtual ~DVACCrashesDelegate() = default;
  // Which of the methods below the delegate implements.
  virtual bool respondsToSelector(const std::string& /*selector*/) const { return false; }

  // Whether a crash found at start-up is to be processed.
  virtual bool crashesShouldProcessErrorReport(DVACCrashes& /*crashes*/,
                                               const std::shared_ptr<DVACErrorReport>& /*errorReport*/) {
    return true;
  }
  // The attachments to send with a crash.
  virtual std::vector<std::shared_ptr<DVACErrorAttachmentLog>> attachmentsWithCrashes(
      DVACCrashes& /*crashes*/, const std::shared_ptr<DVACErrorReport>& /*errorReport*/) {
    return {};
  }
  // On the main thread, after the event.
  virtual void crashesWillSendErrorReport(DVACCrashes& /*crashes*/,
                                          const std::shared_ptr<DVACErrorReport>& /*errorReport*/) {}
  virtual void crashesDidSucceedSendingErrorReport(DVACCrashes& /*crashes*/,
                                                   const std::shared_ptr<DVACErrorReport>& /*errorReport*/) {}
  virtual void crashesDidFailSendingErrorReport(DVACCrashes& /*crashes*/,
                                                const std::shared_ptr<DVACErrorReport>& /*errorReport*/,
                                                const std::optional<ns::Error>& /*error*/) {}
};

inline constexpr const char* kDVACShouldEnableUncaughtExceptionHandlerSelector = "shouldEnableUncaughtExceptionHandler";
inline constexpr const char* kDVACWillSetUpCrashHandlersSelector = "willSetUpCrashHandlers";
inline constexpr const char* kDVACDidSetUpCrashHandlersSelector = "didSetUpCrashHandlers";

// A wrapper SDK's say in how crash detection is set up.
class DVACCrashHandlerSetupDelegate {
 public:
  virtual ~DVACCrashHandlerSetupDelegate() = default;
  virtual bool respondsToSelector(const std::string& /*selector*/) const { return false; }
  virtual bool shouldEnableUncaughtExceptionHandler() { return true; }
  virtual void willSetUpCrashHandlers() {}
  virtual void didSetUpCrashHandlers() {}
};
