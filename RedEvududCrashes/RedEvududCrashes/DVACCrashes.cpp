#include "RedEvududCrashes/RedEvududCrashes/DVACCrashes.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>

#include "LQCrashReporter/Source/DVLQCrashReport.h"
#include "LQCrashReporter/Source/DVLQCrashReportTextFormatter.h"
#include "LQCrashReporter/Source/DVLQCrashReporter.h"
#include "RedEvudud/RedEvudud/DVACRedEvudud.h"
#include "RedEvudud/RedEvudud/Internals/Channel/DVACChannelGroupProtocol.h"
#include "RedEvudud/RedEvudud/Internals/Channel/DVACChannelUnitConfiguration.h"
#include "RedEvudud/RedEvudud/Internals/Util/DVACEncrypter.h"
#include "RedEvudud/RedEvudud/Internals/Util/DVACLogger.h"
#include "RedEvudud/RedEvudud/Internals/Util/DVACRedEvududUserDefaults.h"
#include "RedEvudud/RedEvudud/Internals/Util/DVACSharedSlot.h"
#include "RedEvududCrashes/RedEvududCrashes/DVACWrapperCrashesHelper.h"
#include "RedEvududCrashes/RedEvududCrashes/Internals/DVACApplicationForwarder.h"
#include "RedEvududCrashes/RedEvududCrashes/Internals/DVACCrashesBufferedLog.h"
#include "RedEvududCrashes/RedEvududCrashes/Internals/DVACCrashesCXXExceptionWrapperException.h"
#include "RedEvududCrashes/RedEvududCrashes/Internals/DVACCrashesUncaughtCXXExceptionHandlerManager.h"
#include "RedEvududCrashes/RedEvududCrashes/Internals/DVACWrapperExceptionManager.h"
#include "RedEvududCrashes/RedEvududCrashes/Internals/Util/DVACCrashesUtil.h"
#include "RedEvududCrashes/RedEvududCrashes/Internals/Util/DVACErrorLogFormatter.h"

namespace {

// Delayed crash processing runs once per process (per shared instance).
std::atomic<bool> g_delayedProcessingDone{false};

std::mutex& debuggerProviderMutex() {
  static std::mutex mutex;
  return mutex;
}

std::function<bool()>& debuggerProvider() {
  static auto* provider = new std::function<bool()>();
  return *provider;
}

const std::map<std::string, std::string>& crashesMigrationClasses() {
  static const std::map<std::string, std::string> classes = {
      {"DVAppleErrorLog", "DVACAppleErrorLog"},
      {"DVThread", "DVACThread"},
      {"DVWrapperException", "DVACWrapperException"},
      {"DVAbstractErrorLog", "DVACAbstractErrorLog"},
      {"DVHandledErrorLog", "DVACHandledErrorLog"},
      {"DVException", "DVACWrapperExceptionModel"},
      {"DVACException", "DVACWrapperExceptionModel"},
      {"DVStackFrame", "DVACStackFrame"},
      {"DVBinary", "DVACBinary"},
      {"DVErrorAttachmentLog", "DVACErrorAttachmentLog"},
      {"DVErrorReport", "DVACErrorReport"},
  };
  return classes;
}

// Names that older versions kept beside the reports.
bool isReportFileName(const std::string& name) {
  static const char* const kIgnoredSuffixes[] = {".DS_Store", ".analyzer", ".plist", ".data", ".meta", ".desc"};
  for (const char* suffix : kIgnoredSuffixes) {
    const size_t length = std::strlen(suffix);
    if (name.size() >= length && name.compare(name.size() - length, length, suffix) == 0) return false;
  }
  return true;
}

}  // namespace

// ---------------------------------------------------------------- Class level

std::shared_ptr<DVACCrashes> DVACCrashes::sharedInstance() {
  std::lock_guard lock(DVACSharedSlot<DVACCrashes>::mutex());
  auto& slot = DVACSharedSlot<DVACCrashes>::instance();
  if (!slot) slot = std::shared_ptr<DVACCrashes>(new DVACCrashes());
  return slot;
}

void DVACCrashes::resetSharedInstance() {
  std::shared_ptr<DVACCrashes> old;
  {
    std::lock_guard lock(DVACSharedSlot<DVACCrashes>::mutex());
    old = std::move(DVACSharedSlot<DVACCrashes>::instance());
    DVACSharedSlot<DVACCrashes>::instance().reset();
    g_delayedProcessingDone.store(false);
  }
}

DVACServiceClass DVACCrashes::serviceClass() { return DVACServiceClassOf<DVACCrashes>::make(); }

bool DVACCrashes::hasCrashedInLastSession() { return sharedInstance()->didCrashInLastSession(); }

bool DVACCrashes::hasReceivedMemoryWarningInLastSession() {
  return sharedInstance()->didReceiveMemoryWarningInLastSession();
}

std::shared_ptr<DVACErrorReport> DVACCrashes::lastSessionCrashReport() {
  return sharedInstance()->getLastSessionCrashReport();
}

DVACUserConfirmationHandler DVACCrashes::userConfirmationHandler() {
  return sharedInstance()->instanceUserConfirmationHandler();
}

void DVACCrashes::setUserConfirmationHandler(DVACUserConfirmationHandler handler) {
  sharedInstance()->setInstanceUserConfirmationHandler(std::move(handler));
}

void DVACCrashes::notifyWithUserConfirmation(DVACUserConfirmation userConfirmation) {
  sharedInstance()->notifyInstanceWithUserConfirmation(userConfirmation);
}

void DVACCrashes::postponeUserConfirmation() {
  DVACLogDebug(kDVACCrashesLogTag, "No user confirmation was given; the crash reports stay for the next launch.");
  sharedInstance()->clearUnprocessedReports();
}

std::shared_ptr<DVACCrashesDelegate> DVACCrashes::delegate() { return sharedInstance()->instanceDelegate(); }

void DVACCrashes::setDelegate(const std::shared_ptr<DVACCrashesDelegate>& delegate) {
  sharedInstance()->setInstanceDelegate(delegate);
}

void DVACCrashes::disableMachExceptionHandler() { sharedInstance()->setEnableMachExceptionHandler(false); }

void DVACCrashes::generateTestCrash() {
  auto crashes = sharedInstance();
  std::lock_guard lock(crashes->synchronizationLock());
  if (!crashes->canBeUsed()) return;
  if (DVACUtility::currentAppEnvironment() == 0) {
    DVACLogWarning(kDVACCrashesLogTag,
                   "GenerateTestCrash was just called in an App Store environment. The call will be ignored.");
    return;
  }
  if (isDebuggerAttached()) {
    DVACLogWarning(kDVACCrashesLogTag, "The debugger is attached. The following crash cannot be detected by the SDK!");
  }
  __builtin_trap();
}

void DVACCrashes::applicationDidReportException(const ns::NSException& exception) {
  if (isDebuggerAttached()) return;
  if (auto handler = sharedInstance()->exceptionHandler()) handler(exception);
}

bool DVACCrashes::isDebuggerAttached() {
  std::function<bool()> provider;
  {
    std::lock_guard lock(debuggerProviderMutex());
    provider = debuggerProvider();
  }
  return provider ? provider() : DVACRedEvudud::isDebuggerAttached();
}

void DVACCrashes::setDebuggerAttachedProviderForTesting(std::function<bool()> provider) {
  std::lock_guard lock(debuggerProviderMutex());
  debuggerProvider() = std::move(provider);
}

// ---------------------------------------------------------------- Creation

DVACCrashes::DVACCrashes() {
  DVACRedEvududUserDefaults::shared()->migrateKeys(DVACRedEvududUserDefaults::crashesMigrationTable(),
                                                   kDVACCrashesServiceName);
  DVACUtility::addMigrationClasses(crashesMigrationClasses());
  appStartTime_ = ns::Date::now();
  crashesPathComponent_ = DVACCrashesUtil::crashesDir();
  logBufferPathComponent_ = DVACCrashesUtil::logBufferDir();
  analyzerInProgressFilePathComponent_ = crashesPathComponent_ + "/" + kDVACAnalyzerFileName;
  delayedProcessingSemaphore_ = std::make_shared<dispatch::Semaphore>(0);
  channelUnitConfiguration_ = DVACChannelUnitConfiguration::initWithGroupId(kDVACCrashesServiceName, 2, 1, 1, 3);
  targetTokenEncrypter_ = std::make_shared<DVACEncrypter>();
  bufferFileQueue_ = dispatch::Queue::global(dispatch::QoS::UserInitiated);
  bufferFileGroup_ = std::make_shared<dispatch::Group>();
  setupLogBuffer();
}

DVACCrashes::~DVACCrashes() {
  if (memoryPressureSource_) memoryPressureSource_->cancel();
}

std::shared_ptr<DVACCrashes> DVACCrashes::self() {
  return std::static_pointer_cast<DVACCrashes>(shared_from_this());
}

std::shared_ptr<const DVACChannelUnitConfiguration> DVACCrashes::channelUnitConfiguration() const {
  return channelUnitConfiguration_;
}

// ---------------------------------------------------------------- Start

void DVACCrashes::startWithChannelGroup(const std::shared_ptr<DVACChannelGroupProtocol>& channelGroup,
                                        const std::optional<std::string>& appSecret,
                                        const std::optional<std::string>& transmissionTargetToken,
                                        bool fromApplication) {
  DVACServiceAbstract::startWithChannelGroup(channelGroup, appSecret, transmissionTargetToken, fromApplication);
  if (channelGroup) channelGroup->addDelegate(self());
  processLogBufferAfterCrash();
  processMemoryWarningInLastSession();
  DVACLogVerbose(kDVACCrashesLogTag, "Started crash service.");
}

void DVACCrashes::updateConfigurationWithAppSecret(const std::optional<std::string>& appSecret,
                                                   const std::optional<std::string>& transmissionTargetToken) {
  processLogBufferAfterCrash();
  DVACServiceAbstract::updateConfigurationWithAppSecret(appSecret, transmissionTargetToken);
}

void DVACCrashes::applyEnabledState(bool isEnabled) {
  DVACServiceAbstract::applyEnabledState(isEnabled);
  if (isEnabled) {
    auto setupDelegate = DVACWrapperCrashesHelper::getCrashHandlerSetupDelegate();
    bool enableUncaughtExceptionHandler = true;
    if (setupDelegate && setupDelegate->respondsToSelector(kDVACShouldEnableUncaughtExceptionHandlerSelector)) {
      enableUncaughtExceptionHandler = setupDelegate->shouldEnableUncaughtExceptionHandler();
    }
    if (setupDelegate && setupDelegate->respondsToSelector(kDVACWillSetUpCrashHandlersSelector)) {
      setupDelegate->willSetUpCrashHandlers();
    }
    configureCrashReporterWithUncaughtExceptionHandlerEnabled(enableUncaughtExceptionHandler);
    if (setupDelegate && setupDelegate->respondsToSelector(kDVACDidSetUpCrashHandlersSelector)) {
      setupDelegate->didSetUpCrashHandlers();
    }

    auto source = dispatch::MemoryPressureSource::make(
        dispatch::DISPATCH_MEMORYPRESSURE_WARN | dispatch::DISPATCH_MEMORYPRESSURE_CRITICAL, dispatch::Queue::main());
    std::weak_ptr<DVACCrashes> weakSelf = self();
    source->setEventHandler([weakSelf] {
      if (auto strongSelf = weakSelf.lock()) strongSelf->didReceiveMemoryWarning();
    });
    source->resume();
    std::shared_ptr<dispatch::MemoryPressureSource> previous;
    {
      std::lock_guard lock(stateMutex_);
      previous = std::exchange(memoryPressureSource_, source);
    }
    if (previous) previous->cancel();

    auto reporter = lqCrashReporter();
    // Switched on after having been off: a crash recorded meanwhile is dropped.
    if (!this->isEnabled() && reporter) reporter->purgePendingCrashReport();
    if (reporter && reporter->hasPendingCrashReport()) {
      didCrashInLastSession_ = true;
      DVACLogDebug(kDVACCrashesLogTag, "The application crashed in the last session.");
      handleLatestCrashReport();
    }
    const auto files = persistedCrashReports();
    setCrashFiles(files);
    if (!files.empty()) {
      startDelayedCrashProcessing();
    } else {
      delayedProcessingSemaphore_->signal();
      clearContextHistoryAndKeepCurrentSession();
    }
    if (isDebuggerAttached()) {
      DVACLogInfo(kDVACCrashesLogTag,
                  "Crashes service has been enabled but the service cannot detect crashes due to running the "
                  "application with a debugger attached.");
    } else {
      DVACLogInfo(kDVACCrashesLogTag, "Crashes service has been enabled.");
    }
    return;
  }

  std::shared_ptr<dispatch::MemoryPressureSource> source;
  {
    std::lock_guard lock(stateMutex_);
    source = std::move(memoryPressureSource_);
    memoryPressureSource_.reset();
  }
  if (source) source->cancel();
  DVACLogDebug(kDVACCrashesLogTag, "Cleaning up all crash files.");
  DVACWrapperExceptionManager::deleteAllWrapperExceptions();
  deleteAllFromCrashesDirectory();
  emptyLogBufferFiles();
  removeAnalyzerFile();
  if (auto reporter = lqCrashReporter()) reporter->purgePendingCrashReport();
  clearUnprocessedReports();
  clearContextHistoryAndKeepCurrentSession();
  DVACRedEvududUserDefaults::shared()->removeObjectForKey(kDVACAppDidReceiveMemoryWarningKey);
  DVACLogInfo(kDVACCrashesLogTag, "Crashes service has been disabled.");
}

// ---------------------------------------------------------------- Engine

void DVACCrashes::configureCrashReporterWithUncaughtExceptionHandlerEnabled(bool enableUncaughtExceptionHandler) {
  if (lqCrashReporter()) {
    DVACLogDebug(kDVACCrashesLogTag, "Already configured LQCrashReporter.");
    return;
  }
  if (enableUncaughtExceptionHandler) {
    DVACLogDebug(kDVACCrashesLogTag, "EnableUncaughtExceptionHandler is set to YES");
  } else {
    DVACLogDebug(kDVACCrashesLogTag,
                 "EnableUncaughtExceptionHandler is set to NO, we're running in a wrapper runtime.");
  }
  DVLQCrashReporterSignalHandlerType signalHandlerType = DVLQCrashReporterSignalHandlerTypeBSD;
  if (isMachExceptionHandlerEnabled()) {
    DVACLogVerbose(kDVACCrashesLogTag, "Enabled Mach exception handler.");
    signalHandlerType = DVLQCrashReporterSignalHandlerTypeMach;
  }
  auto configuration = DVLQCrashReporterConfig::initWithSignalHandlerType(
      signalHandlerType, DVLQCrashReporterSymbolicationStrategyNone, enableUncaughtExceptionHandler);
  std::shared_ptr<DVLQCrashReporter> reporter;
  try {
    reporter = DVLQCrashReporter::initWithConfiguration(configuration);
  } catch (const ns::NSException& exception) {
    DVACLogError(kDVACCrashesLogTag,
                 "Could not enable crash reporter: " + exception.reason().value_or(exception.name()));
    return;
  }
  {
    std::lock_guard lock(stateMutex_);
    lqCrashReporter_ = reporter;
  }
  DVACWrapperExceptionManager::setCrashReporter(reporter);
  if (isDebuggerAttached()) {
    DVACLogWarning(kDVACCrashesLogTag,
                   "Detecting crashes is NOT enabled due to running the app with a debugger attached.");
    return;
  }

  const ns::NSUncaughtExceptionHandler initialHandler = ns::NSGetUncaughtExceptionHandler();
  static const LQCrashReporterCallbacks callbacks = {0, nullptr, DVACCrashesPostCrashCallback};
  try {
    reporter->setCrashCallbacks(&callbacks);
  } catch (const ns::NSException& exception) {
    DVACLogError(kDVACCrashesLogTag,
                 "Could not enable crash reporter: " + exception.reason().value_or(exception.name()));
  }
  ns::Error error;
  if (!reporter->enableCrashReporterAndReturnError(&error)) {
    DVACLogError(kDVACCrashesLogTag, "Could not enable crash reporter: " + error.localizedDescription());
  }
  const ns::NSUncaughtExceptionHandler currentHandler = ns::NSGetUncaughtExceptionHandler();
  if (currentHandler && currentHandler != initialHandler) {
    {
      std::lock_guard lock(stateMutex_);
      exceptionHandler_ = currentHandler;
    }
    DVACLogDebug(kDVACCrashesLogTag, "Exception handler successfully initialized.");
  } else if (currentHandler && !enableUncaughtExceptionHandler) {
    {
      std::lock_guard lock(stateMutex_);
      exceptionHandler_ = currentHandler;
    }
    DVACLogDebug(kDVACCrashesLogTag,
                 "Exception handler successfully initialized but it has not been registered due to the wrapper SDK.");
  } else {
    DVACLogError(kDVACCrashesLogTag,
                 "Exception handler could not be set. Make sure there is no other exception handler set up!");
  }
  DVACCrashesUncaughtCXXExceptionHandlerManager::addCXXExceptionHandler(DVACCrashesUncaughtCXXExceptionHandler);
  DVACApplicationForwarder::registerForwarding();
}

// ---------------------------------------------------------------- Memory warnings

void DVACCrashes::didReceiveMemoryWarning() {
  DVACRedEvududUserDefaults::shared()->setObject(ns::Value(true), kDVACAppDidReceiveMemoryWarningKey);
}

void DVACCrashes::processMemoryWarningInLastSession() {
  if (!isEnabled()) return;
  auto settings = DVACRedEvududUserDefaults::shared();
  bool received = false;
  if (auto value = settings->objectForKey(kDVACAppDidReceiveMemoryWarningKey)) received = value->asBool().value_or(false);
  didReceiveMemoryWarningInLastSession_ = received;
  if (received) DVACLogDebug(kDVACCrashesLogTag, "The application received a low memory warning in the last session.");
  settings->removeObjectForKey(kDVACAppDidReceiveMemoryWarningKey);
}

void DVACCrashes::applicationWillEnterForeground() {
  if (!crashFiles().empty()) startDelayedCrashProcessing();
}

// ---------------------------------------------------------------- Crash processing

void DVACCrashes::handleLatestCrashReport() {
  auto reporter = lqCrashReporter();
  if (!reporter) return;
  // The engine's report is purged unless it was readable but could not be
  // saved: then it stays the only copy, for the next launch to save.
  bool keepPendingReport = false;
  if (DVACUtility::fileExistsForPathComponent(analyzerInProgressFilePathComponent_)) {
    DVACLogError(kDVACCrashesLogTag, "Error on loading the crash report, it will be purged.");
  } else {
    createAnalyzerFile();
    ns::Error error;
    auto data = reporter->loadPendingCrashReportDataAndReturnError(&error);
    if (!data) {
      DVACLogError(kDVACCrashesLogTag, "Couldn't load crash report: " + error.localizedDescription());
    } else {
      auto report = DVLQCrashReport::initWithData(*data, &error);
      if (!report) {
        DVACLogWarning(kDVACCrashesLogTag, "Couldn't parse crash report: " + error.localizedDescription());
      } else {
        char name[64];
        std::snprintf(name, sizeof name, "%.0f", ns::Date::now().timeIntervalSinceReferenceDate());
        // Two crashes saved within one second keep both reports.
        std::string component = crashesPathComponent_ + "/" + name;
        for (int suffix = 1; DVACUtility::fileExistsForPathComponent(component) && suffix < 1000; ++suffix) {
          component = crashesPathComponent_ + "/" + name + "-" + std::to_string(suffix);
        }
        const auto saved = DVACUtility::createFileAtPathComponent(component, data, true, false);
        if (!saved) {
          DVACLogError(kDVACCrashesLogTag, "Couldn't save the crash report; it is kept for the next launch.");
          keepPendingReport = true;
        }
        auto errorReport = DVACErrorLogFormatter::errorReportFromCrashReport(report);
        {
          std::lock_guard lock(stateMutex_);
          lastSessionCrashReport_ = errorReport;
          lastSessionCrashFile_ = saved ? std::optional<std::string>(saved->path()) : std::nullopt;
        }
        DVACWrapperExceptionManager::correlateLastSavedWrapperExceptionToReport({errorReport});
      }
    }
  }
  removeAnalyzerFile();
  if (!keepPendingReport) reporter->purgePendingCrashReport();
}

std::vector<ns::URL> DVACCrashes::persistedCrashReports() {
  std::vector<ns::URL> reports;
  auto entries = DVACUtility::contentsOfDirectory(crashesPathComponent_, {"NSURLNameKey", "NSURLFileSizeKey",
                                                                         "NSURLIsRegularFileKey"});
  if (!entries) {
    DVACLogError(kDVACCrashesLogTag, "No persisted crashes found.");
    return reports;
  }
  for (const auto& url : *entries) {
    struct stat st;
    if (::lstat(url.path().c_str(), &st) != 0) continue;
    if (!S_ISREG(st.st_mode) || st.st_size < 1) continue;
    if (!isReportFileName(url.lastPathComponent())) continue;
    reports.push_back(url);
  }
  return reports;
}

void DVACCrashes::startDelayedCrashProcessing() {
  std::weak_ptr<DVACCrashes> weakSelf = self();
  dispatch::Queue::global(dispatch::QoS::Default)->asyncAfterDelay(kDVACCrashProcessingDelayInSeconds, [weakSelf] {
    auto crashes = weakSelf.lock();
    if (!crashes) return;
    if (crashes->isAutomaticProcessingEnabled() &&
        DVACUtility::applicationState() == DVACApplicationStateBackground) {
      DVACLogWarning(kDVACCrashesLogTag, "Crashes will not be processed because the application is in the background.");
      return;
    }
    bool expected = false;
    if (!g_delayedProcessingDone.compare_exchange_strong(expected, true)) return;
    crashes->startCrashProcessing();
    crashes->delayedProcessingSemaphore()->signal();
  });
}

void DVACCrashes::startCrashProcessing() {
  DVACLogDebug(kDVACCrashesLogTag, "Start delayed CrashManager processing");
  const auto handler = exceptionHandler();
  if (handler && handler != ns::NSGetUncaughtExceptionHandler()) {
    DVACLogWarning(kDVACCrashesLogTag,
                   "Another exception handler was added. If this invokes any kind of exit() after processing the "
                   "exception, which causes any subsequent error handler not to be invoked, these crashes will NOT "
                   "be reported to Red Evudud!");
  }
  processCrashReports();
}

void DVACCrashes::processCrashReports() {
  if (!isEnabled()) {
    DVACLogDebug(kDVACCrashesLogTag, "Crashes service is disabled; discard all crash reports");
    deleteAllFromCrashesDirectory();
    DVACWrapperExceptionManager::deleteAllWrapperExceptions();
    return;
  }
  {
    std::lock_guard lock(stateMutex_);
    unprocessedReports_ = DVACErrorReports{};
    unprocessedLogs_ = std::vector<std::shared_ptr<DVACAppleErrorLog>>{};
    unprocessedFilePaths_ = std::vector<ns::URL>{};
  }

  struct Decoded {
    ns::URL url;
    std::shared_ptr<DVLQCrashReport> report;
    std::shared_ptr<DVACAppleErrorLog> log;
    std::shared_ptr<DVACErrorReport> errorReport;
  };
  std::vector<Decoded> decoded;
  for (const auto& url : crashFiles()) {
    auto data = DVACCrashesUtil::readFile(url.path());
    if (!data || data->empty()) continue;
    ns::Error error;
    auto report = DVLQCrashReport::initWithData(*data, &error);
    if (!report) {
      DVACLogWarning(kDVACCrashesLogTag, "Crash report found but couldn't parse it, discard the crash report: " +
                                             error.localizedDescription());
      continue;
    }
    // The error report comes from the same log, so both carry one error id;
    // the previous launch's crash keeps the id its report already has (a
    // report without a UUID gets a new one at every formatting).
    auto log = DVACErrorLogFormatter::errorLogFromCrashReport(*report);
    if (auto id = lastSessionCrashIdForFile(url)) log->errorId = *id;
    decoded.push_back({url, report, log, DVACErrorLogFormatter::errorReportFromLog(*log)});
  }
  DVACErrorReports errorReports;
  for (const auto& entry : decoded) errorReports.push_back(entry.errorReport);
  DVACWrapperExceptionManager::correlateLastSavedWrapperExceptionToReport(errorReports);

  // A launch that ended between storing a crash log and deleting its report
  // left both: the log goes out from the store, the report only goes.
  const auto stored = decoded.empty() ? std::set<std::string>{} : storedCrashLogIds();
  for (auto& entry : decoded) {
    DVACLogVerbose(kDVACCrashesLogTag, "Crash reports found");
    if (entry.log->errorId && stored.count(*entry.log->errorId)) {
      DVACLogDebug(kDVACCrashesLogTag, "The crash log " + *entry.log->errorId +
                                           " is already stored; its report is deleted without sending it again.");
      forgetCrash(entry.url, entry.errorReport->incidentIdentifier());
      continue;
    }
    // A wrapper exception correlated just now belongs in the log too.
    if (!entry.log->exception) {
      if (auto wrapper = DVACWrapperExceptionManager::cachedWrapperExceptionWithUUIDString(entry.log->errorId)) {
        entry.log->exception = wrapper->modelException;
      }
    }
    const auto& report = *entry.report;
    const bool automatic = isAutomaticProcessingEnabled();
    if (!automatic || shouldProcessErrorReport(entry.errorReport)) {
      if (automatic) {
        DVACLogDebug(kDVACCrashesLogTag,
                     "shouldProcessErrorReport is not implemented or returned YES, processing the crash report: " +
                         DVLQCrashReportTextFormatter::stringValueForCrashReport(report, DVLQCrashReportTextFormatiOS));
      } else {
        DVACLogDebug(kDVACCrashesLogTag,
                     "Automatic crash processing is disabled, storing the crash report for later processing: " +
                         DVLQCrashReportTextFormatter::stringValueForCrashReport(report, DVLQCrashReportTextFormatiOS));
      }
      std::lock_guard lock(stateMutex_);
      unprocessedLogs_->push_back(entry.log);
      unprocessedReports_->push_back(entry.errorReport);
      unprocessedFilePaths_->push_back(entry.url);
    } else {
      DVACLogDebug(kDVACCrashesLogTag,
                   "shouldProcessErrorReport returned NO, discard the crash report: " +
                       DVLQCrashReportTextFormatter::stringValueForCrashReport(report, DVLQCrashReportTextFormatiOS));
      forgetCrash(entry.url, entry.errorReport->incidentIdentifier());
    }
  }
  if (isAutomaticProcessingEnabled()) sendCrashReportsOrAwaitUserConfirmation();
}

std::optional<std::string> DVACCrashes::lastSessionCrashIdForFile(const ns::URL& fileURL) const {
  std::lock_guard lock(stateMutex_);
  if (!lastSessionCrashReport_ || !lastSessionCrashFile_ || *lastSessionCrashFile_ != fileURL.path()) {
    return std::nullopt;
  }
  return lastSessionCrashReport_->incidentIdentifier();
}

std::set<std::string> DVACCrashes::storedCrashLogIds() const {
  std::set<std::string> ids;
  if (auto group = channelGroup()) {
    for (const auto& log : group->storedLogsWithGroupId(groupId())) {
      auto crashLog = std::dynamic_pointer_cast<DVACAppleErrorLog>(log);
      if (crashLog && crashLog->errorId) ids.insert(*crashLog->errorId);
    }
  }
  // Read after the store: a log deleted before that read was heard as sent
  // before its deletion.
  std::lock_guard lock(stateMutex_);
  ids.insert(sentCrashLogIds_.begin(), sentCrashLogIds_.end());
  return ids;
}

bool DVACCrashes::shouldProcessErrorReport(const std::shared_ptr<DVACErrorReport>& errorReport) {
  auto delegate = instanceDelegate();
  if (delegate && delegate->respondsToSelector(kDVACCrashesShouldProcessErrorReportSelector)) {
    return delegate->crashesShouldProcessErrorReport(*this, errorReport);
  }
  return true;
}

void DVACCrashes::createAnalyzerFile() {
  if (!DVACUtility::createFileAtPathComponent(analyzerInProgressFilePathComponent_, std::nullopt, false, false)) {
    DVACLogError(kDVACCrashesLogTag, "Couldn't create crash analyzer file.");
  }
}

void DVACCrashes::removeAnalyzerFile() { DVACUtility::deleteItemForPathComponent(analyzerInProgressFilePathComponent_); }

void DVACCrashes::deleteAllFromCrashesDirectory() {
  DVACUtility::deleteItemForPathComponent(crashesPathComponent_);
  std::lock_guard lock(stateMutex_);
  crashFiles_.clear();
}

void DVACCrashes::deleteCrashReportWithFileURL(const ns::URL& fileURL) { DVACUtility::deleteFileAtURL(fileURL); }

DVACErrorReports DVACCrashes::unprocessedCrashReports() {
  delayedProcessingSemaphore_->wait();
  delayedProcessingSemaphore_->signal();
  std::lock_guard lock(stateMutex_);
  return unprocessedReports_.value_or(DVACErrorReports{});
}

// ---------------------------------------------------------------- Accessors

std::shared_ptr<DVACErrorReport> DVACCrashes::getLastSessionCrashReport() const {
  std::lock_guard lock(stateMutex_);
  return lastSessionCrashReport_;
}

std::shared_ptr<DVACCrashesDelegate> DVACCrashes::instanceDelegate() const {
  std::lock_guard lock(stateMutex_);
  return delegate_.lock();
}

void DVACCrashes::setInstanceDelegate(const std::shared_ptr<DVACCrashesDelegate>& delegate) {
  std::lock_guard lock(stateMutex_);
  delegate_ = delegate;
}

DVACUserConfirmationHandler DVACCrashes::instanceUserConfirmationHandler() const {
  std::lock_guard lock(stateMutex_);
  return userConfirmationHandler_;
}

void DVACCrashes::setInstanceUserConfirmationHandler(DVACUserConfirmationHandler handler) {
  std::lock_guard lock(stateMutex_);
  userConfirmationHandler_ = std::move(handler);
}

std::shared_ptr<DVLQCrashReporter> DVACCrashes::lqCrashReporter() const {
  std::lock_guard lock(stateMutex_);
  return lqCrashReporter_;
}

ns::NSUncaughtExceptionHandler DVACCrashes::exceptionHandler() const {
  std::lock_guard lock(stateMutex_);
  return exceptionHandler_;
}

std::vector<ns::URL> DVACCrashes::crashFiles() const {
  std::lock_guard lock(stateMutex_);
  return crashFiles_;
}

void DVACCrashes::setCrashFiles(const std::vector<ns::URL>& crashFiles) {
  std::lock_guard lock(stateMutex_);
  crashFiles_ = crashFiles;
}

std::optional<std::vector<std::shared_ptr<DVACAppleErrorLog>>> DVACCrashes::unprocessedLogs() const {
  std::lock_guard lock(stateMutex_);
  return unprocessedLogs_;
}

std::optional<DVACErrorReports> DVACCrashes::unprocessedReports() const {
  std::lock_guard lock(stateMutex_);
  return unprocessedReports_;
}

std::optional<std::vector<ns::URL>> DVACCrashes::unprocessedFilePaths() const {
  std::lock_guard lock(stateMutex_);
  return unprocessedFilePaths_;
}

std::shared_ptr<dispatch::MemoryPressureSource> DVACCrashes::memoryPressureSource() const {
  std::lock_guard lock(stateMutex_);
  return memoryPressureSource_;
}

std::shared_ptr<DVACChannelUnitProtocol> DVACCrashes::bufferChannelUnit() const {
  std::lock_guard lock(stateMutex_);
  return bufferChannelUnit_;
}
