#pragma once
// The Crashes service of the telemetry client.
//
// Switching it on installs the crash engine (signal handlers or the Mach
// exception server, the uncaught-exception handler, the CXX exception
// capture and the application forwarder) unless a debugger is attached; it
// then takes over the engine's pending report of the previous launch, and
// one second later, on a background queue, turns every saved report into a
// crash log and an error report that wait for the user's confirmation
// (asked on the main thread through the confirmation handler). Sent crash
// logs go to the "Crashes" unit one by one with their attachments.
//
// The service also keeps, in static memory, a copy of every log other
// services have prepared but not yet stored; the engine's crash callback
// dumps those copies to files, and the next start enqueues them again on the
// "CrashesBuffer" unit.
//
// The application uses the class-level calls. Instance operations that would
// share a name with one carry "Instance" in theirs.

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "RedEvudud/RedEvudud/DVACServiceAbstract.h"
#include "RedEvudud/RedEvudud/Internals/Channel/DVACChannelDelegate.h"
#include "RedEvudud/RedEvudud/Internals/Util/DVACUtility.h"
#include "RedEvududCrashes/RedEvududCrashes/DVACCrashesDelegate.h"
#include "RedEvududCrashes/RedEvududCrashes/Internals/Model/DVACAppleErrorLog.h"
#include "RedEvududCrashes/RedEvududCrashes/Model/DVACErrorAttachmentLog.h"
#include "RedEvududCrashes/RedEvududCrashes/Model/DVACErrorReport.h"
#include "RedEvududCrashes/RedEvududCrashes/Model/DVACExceptionModel.h"
#include "platform/dispatch/Dispatch.h"
#include "platform/dispatch/MemoryPressure.h"
#include "platform/foundation/URL.h"
#include "platform/machcompat/NSException.h"

class DVACEncrypter;
class DVLQCrashReporter;

// The user's answer.
enum DVACUserConfirmation : unsigned long {
  DVACUserConfirmationDontSend = 0,
  DVACUserConfirmationSend = 1,
  DVACUserConfirmationAlways = 2,
};

// Gets the pending crashes; YES when it asks the user (the answer comes later
// through notifyWithUserConfirmation), NO to send them at once.
using DVACUserConfirmationHandler = std::function<bool(const DVACErrorReports& errorReports)>;

inline constexpr const char* kDVACCrashesServiceName = "Crashes";
inline constexpr const char* kDVACCrashesLogTag = "RedEvududCrashes";
inline constexpr const char* kDVACCrashesBufferGroupId = "CrashesBuffer";
inline constexpr const char* kDVACAnalyzerFileName = "DVCrashes.analyzer";
inline constexpr int64_t kDVACCrashesInitializationPriority = 999;
// The largest attachment sent: 7 MiB.
inline constexpr size_t kDVACMaxAttachmentSize = 7 * 1024 * 1024;
inline constexpr double kDVACCrashProcessingDelayInSeconds = 1.0;

class DVACCrashes : public DVACServiceAbstract, public DVACChannelDelegate {
 public:
  static constexpr const char* kClassName = "DVACCrashes";

  // ---- Class level ---------------------------------------------------------
  // Made once, on first use.
  static std::shared_ptr<DVACCrashes> sharedInstance();
  // The next sharedInstance() makes a new one; crash processing may run again.
  static void resetSharedInstance();
  static std::string serviceName() { return kDVACCrashesServiceName; }
  static std::string logTag() { return kDVACCrashesLogTag; }
  // The class object to hand to DVACRedEvudud::start; its setEnabled and
  // isEnabled are the class-level switch.
  static DVACServiceClass serviceClass();

  static bool hasCrashedInLastSession();
  static bool hasReceivedMemoryWarningInLastSession();
  static std::shared_ptr<DVACErrorReport> lastSessionCrashReport();
  static DVACUserConfirmationHandler userConfirmationHandler();
  static void setUserConfirmationHandler(DVACUserConfirmationHandler handler);
  static void notifyWithUserConfirmation(DVACUserConfirmation userConfirmation);
  // The user gave no answer (the question was dismissed): the service stops
  // waiting for one and lets this run's reports go, without sending or
  // deleting them; they, and the histories they need, stay for the next
  // launch, which asks again.
  static void postponeUserConfirmation();
  static std::shared_ptr<DVACCrashesDelegate> delegate();
  static void setDelegate(const std::shared_ptr<DVACCrashesDelegate>& delegate);
  // Only matters before the engine is configured.
  static void disableMachExceptionHandler();
  // Crashes the process with a trap when the service can be used.
  static void generateTestCrash();
  // The application object's report of an exception it caught.
  static void applicationDidReportException(const ns::NSException& exception);
  static std::optional<std::string> trackError(const ns::Error& error,
                                               const std::optional<DVACPropertiesDictionary>& properties,
                                               const std::vector<std::shared_ptr<DVACErrorAttachmentLog>>& attachments);
  static std::optional<std::string> trackException(
      const std::shared_ptr<DVACExceptionModel>& exception, const std::optional<DVACPropertiesDictionary>& properties,
      const std::vector<std::shared_ptr<DVACErrorAttachmentLog>>& attachments);
  static void sendErrorAttachments(const std::vector<std::shared_ptr<DVACErrorAttachmentLog>>& errorAttachments,
                                   const std::optional<std::string>& incidentIdentifier);
  // errorId, attachmentId, data and contentType all present and not empty.
  static bool validatePropertiesForAttachment(const DVACErrorAttachmentLog& attachment);

  // Whether a debugger is attached (the SDK's check unless tests replace it).
  static bool isDebuggerAttached();
  static void setDebuggerAttachedProviderForTesting(std::function<bool()> provider);

  // ---- Service -------------------------------------------------------------
  std::string groupId() const override { return kDVACCrashesServiceName; }
  std::string className() const override { return kClassName; }
  std::shared_ptr<const DVACChannelUnitConfiguration> channelUnitConfiguration() const override;
  int64_t initializationPriority() const override { return kDVACCrashesInitializationPriority; }
  void startWithChannelGroup(const std::shared_ptr<DVACChannelGroupProtocol>& channelGroup,
                             const std::optional<std::string>& appSecret,
                             const std::optional<std::string>& transmissionTargetToken, bool fromApplication) override;
  void updateConfigurationWithAppSecret(const std::optional<std::string>& appSecret,
                                        const std::optional<std::string>& transmissionTargetToken) override;
  void applyEnabledState(bool isEnabled) override;

  void configureCrashReporterWithUncaughtExceptionHandlerEnabled(bool enableUncaughtExceptionHandler);
  void didReceiveMemoryWarning();
  void processMemoryWarningInLastSession();
  void applicationWillEnterForeground();

  // ---- Crash processing at start-up ----------------------------------------
  void handleLatestCrashReport();
  // Report files of the crashes directory, in listing order; never fails.
  std::vector<ns::URL> persistedCrashReports();
  void startDelayedCrashProcessing();
  void startCrashProcessing();
  void processCrashReports();
  bool shouldProcessErrorReport(const std::shared_ptr<DVACErrorReport>& errorReport);
  void createAnalyzerFile();
  void removeAnalyzerFile();
  void deleteAllFromCrashesDirectory();
  void deleteCrashReportWithFileURL(const ns::URL& fileURL);
  // Waits until crash processing has finished, then the pending reports.
  DVACErrorReports unprocessedCrashReports();

  // ---- Confirmation and sending --------------------------------------------
  // The always-send flag as read at its start.
  bool sendCrashReportsOrAwaitUserConfirmation();
  bool sendCrashReportsOrAwaitUserConfirmationForFilteredIds(const std::vector<std::string>& filteredIds);
  bool userPromptedForConfirmation();
  bool shouldAlwaysSend();
  void notifyInstanceWithUserConfirmation(DVACUserConfirmation userConfirmation);
  void handleUserConfirmation(DVACUserConfirmation userConfirmation);
  void sendInstanceErrorAttachments(const std::vector<std::shared_ptr<DVACErrorAttachmentLog>>& errorAttachments,
                                    const std::optional<std::string>& incidentIdentifier);
  void clearUnprocessedReports();

  // ---- Handled errors and send callbacks -----------------------------------
  std::optional<std::string> trackError(const std::shared_ptr<DVACExceptionModel>& exception,
                                        const std::optional<DVACPropertiesDictionary>& properties,
                                        const std::vector<std::shared_ptr<DVACErrorAttachmentLog>>& attachments);
  std::shared_ptr<DVACErrorReport> buildHandledErrorReportWithErrorID(const std::string& errorId);
  void clearContextHistoryAndKeepCurrentSession();

  // ---- Crash-time log buffer -----------------------------------------------
  void setupLogBuffer();
  void processLogBufferAfterCrash();
  void emptyLogBufferFiles();

  // ---- DVACChannelDelegate -------------------------------------------------
  void channelDidPrepareLog(const std::shared_ptr<DVACChannelProtocol>& channel, const std::shared_ptr<DVACLog>& log,
                            const std::string& internalId, DVACLogFlags flags) override;
  // A sent crash's report goes once the store has its log; a buffered log's
  // slot and replayed file once it is stored or dropped on purpose. Otherwise
  // they stay for a later launch.
  void channelDidCompleteEnqueueingLogWithStoreResult(const std::shared_ptr<DVACChannelProtocol>& channel,
                                                      const std::shared_ptr<DVACLog>& log,
                                                      const std::string& internalId,
                                                      DVACLogStoreResult result) override;
  void channelWillSendLog(const std::shared_ptr<DVACChannelProtocol>& channel,
                          const std::shared_ptr<DVACLog>& log) override;
  void channelDidSucceedSendingLog(const std::shared_ptr<DVACChannelProtocol>& channel,
                                   const std::shared_ptr<DVACLog>& log) override;
  void channelDidFailSendingLog(const std::shared_ptr<DVACChannelProtocol>& channel,
                                const std::shared_ptr<DVACLog>& log, const std::optional<ns::Error>& error) override;

  // ---- Accessors -----------------------------------------------------------
  bool didCrashInLastSession() const { return didCrashInLastSession_.load(); }
  bool didReceiveMemoryWarningInLastSession() const { return didReceiveMemoryWarningInLastSession_.load(); }
  bool isMachExceptionHandlerEnabled() const { return enableMachExceptionHandler_.load(); }
  void setEnableMachExceptionHandler(bool enabled) { enableMachExceptionHandler_ = enabled; }
  bool isAutomaticProcessingEnabled() const { return automaticProcessingEnabled_.load(); }
  void setAutomaticProcessingEnabled(bool enabled) { automaticProcessingEnabled_ = enabled; }
  std::shared_ptr<DVACErrorReport> getLastSessionCrashReport() const;
  std::shared_ptr<DVACCrashesDelegate> instanceDelegate() const;
  void setInstanceDelegate(const std::shared_ptr<DVACCrashesDelegate>& delegate);
  DVACUserConfirmationHandler instanceUserConfirmationHandler() const;
  void setInstanceUserConfirmationHandler(DVACUserConfirmationHandler handler);
  std::shared_ptr<DVLQCrashReporter> lqCrashReporter() const;
  ns::NSUncaughtExceptionHandler exceptionHandler() const;
  std::vector<ns::URL> crashFiles() const;
  void setCrashFiles(const std::vector<ns::URL>& crashFiles);
  std::optional<std::vector<std::shared_ptr<DVACAppleErrorLog>>> unprocessedLogs() const;
  std::optional<DVACErrorReports> unprocessedReports() const;
  std::optional<std::vector<ns::URL>> unprocessedFilePaths() const;
  std::shared_ptr<dispatch::MemoryPressureSource> memoryPressureSource() const;
  std::shared_ptr<DVACChannelUnitProtocol> bufferChannelUnit() const;
  const std::shared_ptr<DVACEncrypter>& targetTokenEncrypter() const { return targetTokenEncrypter_; }
  const std::shared_ptr<dispatch::Group>& bufferFileGroup() const { return bufferFileGroup_; }
  const std::shared_ptr<dispatch::Semaphore>& delayedProcessingSemaphore() const { return delayedProcessingSemaphore_; }
  const std::string& crashesPathComponent() const { return crashesPathComponent_; }
  const std::string& logBufferPathComponent() const { return logBufferPathComponent_; }
  const std::string& analyzerInProgressFilePathComponent() const { return analyzerInProgressFilePathComponent_; }
  const ns::Date& appStartTime() const { return appStartTime_; }

  ~DVACCrashes() override;

 private:
  DVACCrashes();
  std::shared_ptr<DVACCrashes> self();
  // The id of lastSessionCrashReport when that crash was saved to this file.
  std::optional<std::string> lastSessionCrashIdForFile(const ns::URL& fileURL) const;
  // Deletes a crash's report file and wrapper exception, and forgets the file.
  void forgetCrash(const ns::URL& file, const std::optional<std::string>& incidentIdentifier);
  // The ids of the crash logs an earlier launch stored: those the store holds
  // and those this launch has sent from it since.
  std::set<std::string> storedCrashLogIds() const;
  // The unit is done with a log that is no crash log: its buffer slot, and
  // the file it was replayed from, go unless it was wanted and not stored.
  void bufferedLogDidComplete(const std::shared_ptr<DVACLog>& log, const std::string& internalId,
                              DVACLogStoreResult result);

  std::atomic<bool> didCrashInLastSession_{false};
  std::atomic<bool> didReceiveMemoryWarningInLastSession_{false};
  std::atomic<bool> enableMachExceptionHandler_{true};
  std::atomic<bool> automaticProcessingEnabled_{true};
  std::shared_ptr<const DVACChannelUnitConfiguration> channelUnitConfiguration_;
  std::shared_ptr<dispatch::Queue> bufferFileQueue_;
  std::shared_ptr<dispatch::Group> bufferFileGroup_;
  std::shared_ptr<dispatch::Semaphore> delayedProcessingSemaphore_;
  std::shared_ptr<DVACEncrypter> targetTokenEncrypter_;
  std::string crashesPathComponent_;
  std::string logBufferPathComponent_;
  std::string analyzerInProgressFilePathComponent_;
  ns::Date appStartTime_;

  // Guards the fields below. Never held while the confirmation handler or a
  // delegate runs, or while waiting for another thread.
  mutable std::recursive_mutex stateMutex_;
  std::shared_ptr<DVACErrorReport> lastSessionCrashReport_;
  // The path of the file that report was saved to.
  std::optional<std::string> lastSessionCrashFile_;
  std::shared_ptr<dispatch::MemoryPressureSource> memoryPressureSource_;
  std::vector<ns::URL> crashFiles_;
  std::weak_ptr<DVACCrashesDelegate> delegate_;
  std::shared_ptr<DVLQCrashReporter> lqCrashReporter_;
  ns::NSUncaughtExceptionHandler exceptionHandler_ = nullptr;
  std::optional<std::vector<std::shared_ptr<DVACAppleErrorLog>>> unprocessedLogs_;
  std::optional<DVACErrorReports> unprocessedReports_;
  std::optional<std::vector<ns::URL>> unprocessedFilePaths_;
  DVACUserConfirmationHandler userConfirmationHandler_;
  std::shared_ptr<DVACChannelUnitProtocol> bufferChannelUnit_;
  // Crash logs handed to the "Crashes" unit whose report files wait until
  // the unit is done with them.
  struct CrashAwaitingStore {
    std::shared_ptr<DVACAppleErrorLog> log;
    ns::URL file;
    std::optional<std::string> incidentIdentifier;
  };
  std::vector<CrashAwaitingStore> crashesAwaitingStore_;
  // The buffer files replayed in this launch (never twice), each with its
  // log until the unit is done with it: a file stays until the store has it.
  std::map<std::string, std::shared_ptr<DVACLog>> replayedBufferFiles_;
  // Crash logs the channel sent in this launch, by id.
  std::set<std::string> sentCrashLogIds_;
};
