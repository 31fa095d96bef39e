// User confirmation and sending of crash logs, handled errors, and the
// callbacks that tell the Crashes delegate about sends.

#include <algorithm>

#include "RedEvudud/RedEvudud/Internals/Channel/DVACChannelUnitProtocol.h"
#include "RedEvudud/RedEvudud/Internals/Context/Device/DVACDeviceTracker.h"
#include "RedEvudud/RedEvudud/Internals/Context/Session/DVACSessionContext.h"
#include "RedEvudud/RedEvudud/Internals/Context/UserId/DVACUserIdContext.h"
#include "RedEvudud/RedEvudud/Internals/Util/DVACDispatcherUtil.h"
#include "RedEvudud/RedEvudud/Internals/Util/DVACLogger.h"
#include "RedEvudud/RedEvudud/Internals/Util/DVACRedEvududUserDefaults.h"
#include "RedEvududCrashes/RedEvududCrashes/DVACCrashes.h"
#include "RedEvududCrashes/RedEvududCrashes/Internals/DVACWrapperExceptionManager.h"
#include "RedEvududCrashes/RedEvududCrashes/Internals/Model/DVACHandledErrorLog.h"
#include "RedEvududCrashes/RedEvududCrashes/Internals/Util/DVACErrorLogFormatter.h"

// ---------------------------------------------------------------- Confirmation

bool DVACCrashes::shouldAlwaysSend() {
  auto value = DVACRedEvududUserDefaults::shared()->objectForKey(kDVACCrashesUserConfirmationKey);
  return value && value->asBool().value_or(false);
}

bool DVACCrashes::sendCrashReportsOrAwaitUserConfirmation() {
  const bool alwaysSend = shouldAlwaysSend();
  const auto reports = unprocessedReports();
  if (!reports || reports->empty()) return alwaysSend;
  if (alwaysSend) {
    DVACLogDebug(kDVACCrashesLogTag,
                 "The flag for user confirmation is set to DVACUserConfirmationAlways, continue sending logs");
    handleUserConfirmation(DVACUserConfirmationSend);
    return alwaysSend;
  }
  if (isAutomaticProcessingEnabled()) {
    if (!instanceUserConfirmationHandler() || !userPromptedForConfirmation()) {
      DVACLogDebug(kDVACCrashesLogTag,
                   "The user confirmation handler is not implemented or returned NO, continue sending logs");
      handleUserConfirmation(DVACUserConfirmationSend);
    }
    return alwaysSend;
  }
  DVACLogDebug(kDVACCrashesLogTag,
               "Automatic crash processing is disabled and \"AlwaysSend\" is false. Awaiting user confirmation.");
  return alwaysSend;
}

bool DVACCrashes::sendCrashReportsOrAwaitUserConfirmationForFilteredIds(const std::vector<std::string>& filteredIds) {
  {
    std::lock_guard lock(stateMutex_);
    if (unprocessedReports_) {
      std::vector<std::shared_ptr<DVACErrorReport>> keptReports;
      std::vector<std::shared_ptr<DVACAppleErrorLog>> keptLogs;
      std::vector<ns::URL> keptFiles;
      for (size_t i = 0; i < unprocessedReports_->size(); ++i) {
        const auto& report = (*unprocessedReports_)[i];
        const auto& id = report->incidentIdentifier();
        const bool kept = id && std::find(filteredIds.begin(), filteredIds.end(), *id) != filteredIds.end();
        const bool hasLog = unprocessedLogs_ && i < unprocessedLogs_->size();
        const bool hasFile = unprocessedFilePaths_ && i < unprocessedFilePaths_->size();
        if (kept) {
          keptReports.push_back(report);
          if (hasLog) keptLogs.push_back((*unprocessedLogs_)[i]);
          if (hasFile) keptFiles.push_back((*unprocessedFilePaths_)[i]);
        } else if (hasFile) {
          forgetCrash((*unprocessedFilePaths_)[i], id);
        } else {
          DVACWrapperExceptionManager::deleteWrapperExceptionWithUUIDString(id);
        }
      }
      unprocessedReports_ = std::move(keptReports);
      unprocessedLogs_ = std::move(keptLogs);
      unprocessedFilePaths_ = std::move(keptFiles);
    }
  }
  return sendCrashReportsOrAwaitUserConfirmation();
}

bool DVACCrashes::userPromptedForConfirmation() {
  auto handler = instanceUserConfirmationHandler();
  if (!handler) return false;
  const DVACErrorReports reports = unprocessedReports().value_or(DVACErrorReports{});
  if (dispatch::isMainThread()) return handler(reports);
  bool answer = false;
  dispatch::Queue::main()->sync([&] { answer = handler(reports); });
  return answer;
}

void DVACCrashes::notifyInstanceWithUserConfirmation(DVACUserConfirmation userConfirmation) {
  if (!instanceUserConfirmationHandler() && !unprocessedReports()) {
    DVACLogError(kDVACCrashesLogTag,
                 "Incorrect usage of notifyWithUserConfirmation: it should only be called from "
                 "userConfirmationHandler. For more information refer to the documentation.");
    return;
  }
  handleUserConfirmation(userConfirmation);
}

void DVACCrashes::handleUserConfirmation(DVACUserConfirmation userConfirmation) {
  // The pending crashes are taken out at once, so an answer given twice (or
  // from two threads) handles each crash only once.
  std::vector<std::shared_ptr<DVACAppleErrorLog>> logs;
  DVACErrorReports reports;
  std::vector<ns::URL> files;
  {
    std::lock_guard lock(stateMutex_);
    if (unprocessedLogs_) logs = std::exchange(*unprocessedLogs_, {});
    if (unprocessedReports_) reports = std::exchange(*unprocessedReports_, {});
    if (unprocessedFilePaths_) files = std::exchange(*unprocessedFilePaths_, {});
  }
  if (userConfirmation == DVACUserConfirmationDontSend) {
    for (size_t i = 0; i < files.size(); ++i) {
      forgetCrash(files[i], i < reports.size() ? reports[i]->incidentIdentifier() : std::nullopt);
    }
    clearContextHistoryAndKeepCurrentSession();
    return;
  }
  if (userConfirmation == DVACUserConfirmationAlways) {
    DVACRedEvududUserDefaults::shared()->setObject(ns::Value(true), kDVACCrashesUserConfirmationKey);
  }

  const size_t count = std::min({reports.size(), logs.size(), files.size()});
  for (size_t i = 0; i < count; ++i) {
    const auto& log = logs[i];
    const auto& report = reports[i];
    std::vector<std::shared_ptr<DVACErrorAttachmentLog>> attachments;
    auto delegate = instanceDelegate();
    if (delegate && delegate->respondsToSelector(kDVACAttachmentsWithCrashesSelector)) {
      attachments = delegate->attachmentsWithCrashes(*this, report);
      for (const auto& attachment : attachments) {
        if (attachment && !attachment->device()) attachment->setDevice(log->device());
      }
    } else {
      DVACLogDebug(kDVACCrashesLogTag, "attachmentsWithCrashes is not implemented");
    }
    if (const auto& timestamp = log->timestamp()) {
      log->setSid(DVACSessionContext::sharedInstance()->sessionIdAt(*timestamp));
      log->setUserId(DVACUserIdContext::sharedInstance()->userIdAt(*timestamp));
    }
    // The report file (and the wrapper exception) stay until the store has
    // the log: a process that ends before that sends the crash at its next
    // launch. Noted before the enqueue, which may complete at once.
    {
      std::lock_guard lock(stateMutex_);
      crashesAwaitingStore_.push_back({log, files[i], report->incidentIdentifier()});
    }
    if (auto unit = channelUnit()) unit->enqueueItem(log, DVACLogFlagsCritical);
    sendInstanceErrorAttachments(attachments, report->incidentIdentifier());
  }
  clearContextHistoryAndKeepCurrentSession();
}

void DVACCrashes::forgetCrash(const ns::URL& file, const std::optional<std::string>& incidentIdentifier) {
  deleteCrashReportWithFileURL(file);
  DVACWrapperExceptionManager::deleteWrapperExceptionWithUUIDString(incidentIdentifier);
  std::lock_guard lock(stateMutex_);
  std::erase(crashFiles_, file);
}

void DVACCrashes::channelDidCompleteEnqueueingLogWithStoreResult(const std::shared_ptr<DVACChannelProtocol>&,
                                                                 const std::shared_ptr<DVACLog>& log,
                                                                 const std::string& internalId,
                                                                 DVACLogStoreResult result) {
  if (!std::dynamic_pointer_cast<DVACAppleErrorLog>(log)) {
    bufferedLogDidComplete(log, internalId, result);
    return;
  }
  std::optional<CrashAwaitingStore> crash;
  {
    std::lock_guard lock(stateMutex_);
    auto it = std::find_if(crashesAwaitingStore_.begin(), crashesAwaitingStore_.end(),
                           [&](const CrashAwaitingStore& awaiting) { return awaiting.log == log; });
    if (it == crashesAwaitingStore_.end()) return;
    crash = std::move(*it);
    crashesAwaitingStore_.erase(it);
  }
  if (result == DVACLogStoreResult::stored) {
    forgetCrash(crash->file, crash->incidentIdentifier);
  } else {
    DVACLogWarning(kDVACCrashesLogTag, "The crash log " + crash->incidentIdentifier.value_or("(null)") +
                                           " was not stored; its report is kept for the next launch.");
  }
}

void DVACCrashes::sendInstanceErrorAttachments(
    const std::vector<std::shared_ptr<DVACErrorAttachmentLog>>& errorAttachments,
    const std::optional<std::string>& incidentIdentifier) {
  for (const auto& attachment : errorAttachments) {
    if (!attachment) continue;
    attachment->errorId = incidentIdentifier;
    if (!validatePropertiesForAttachment(*attachment)) {
      DVACLogError(kDVACCrashesLogTag, "Not all required fields are present in DVACErrorAttachmentLog.");
      continue;
    }
    if (attachment->data->size() > kDVACMaxAttachmentSize) {
      DVACLogError(kDVACCrashesLogTag, "Discarding attachment with size above " +
                                           std::to_string(kDVACMaxAttachmentSize) +
                                           " bytes: size=" + std::to_string(attachment->data->size()) +
                                           ", fileName=" + attachment->filename.value_or("(null)") + ".");
      continue;
    }
    if (auto unit = channelUnit()) unit->enqueueItem(attachment, DVACLogFlagsNormal);
  }
}

void DVACCrashes::sendErrorAttachments(const std::vector<std::shared_ptr<DVACErrorAttachmentLog>>& errorAttachments,
                                       const std::optional<std::string>& incidentIdentifier) {
  sharedInstance()->sendInstanceErrorAttachments(errorAttachments, incidentIdentifier);
}

bool DVACCrashes::validatePropertiesForAttachment(const DVACErrorAttachmentLog& attachment) {
  return attachment.errorId && !attachment.errorId->empty() && attachment.attachmentId &&
         !attachment.attachmentId->empty() && attachment.data && !attachment.data->empty() &&
         attachment.contentType && !attachment.contentType->empty();
}

void DVACCrashes::clearUnprocessedReports() {
  std::lock_guard lock(stateMutex_);
  if (unprocessedLogs_) unprocessedLogs_->clear();
  if (unprocessedReports_) unprocessedReports_->clear();
  if (unprocessedFilePaths_) unprocessedFilePaths_->clear();
}

// ---------------------------------------------------------------- Handled errors

std::optional<std::string> DVACCrashes::trackError(
    const ns::Error& error, const std::optional<DVACPropertiesDictionary>& properties,
    const std::vector<std::shared_ptr<DVACErrorAttachmentLog>>& attachments) {
  return sharedInstance()->trackError(DVACExceptionModel::initWithError(error), properties, attachments);
}

std::optional<std::string> DVACCrashes::trackException(
    const std::shared_ptr<DVACExceptionModel>& exception, const std::optional<DVACPropertiesDictionary>& properties,
    const std::vector<std::shared_ptr<DVACErrorAttachmentLog>>& attachments) {
  return sharedInstance()->trackError(exception, properties, attachments);
}

std::optional<std::string> DVACCrashes::trackError(
    const std::shared_ptr<DVACExceptionModel>& exception, const std::optional<DVACPropertiesDictionary>& properties,
    const std::vector<std::shared_ptr<DVACErrorAttachmentLog>>& attachments) {
  std::lock_guard lock(synchronizationLock());
  if (!canBeUsed() || !isEnabled()) return std::nullopt;
  auto log = std::make_shared<DVACHandledErrorLog>();
  log->setUserId(DVACUserIdContext::sharedInstance()->userId());
  log->errorId = ns::UUID::random().UUIDString();
  log->exception = exception;
  if (properties && !properties->empty()) {
    log->setProperties(DVACUtility::validateProperties(*properties, "ErrorLog: " + *log->errorId,
                                                       log->type().value_or(kDVACHandledErrorLogType)));
  }
  if (auto unit = channelUnit()) unit->enqueueItem(log, DVACLogFlagsNormal);
  if (!attachments.empty()) sendInstanceErrorAttachments(attachments, log->errorId);
  return log->errorId;
}

std::shared_ptr<DVACErrorReport> DVACCrashes::buildHandledErrorReportWithErrorID(const std::string& errorId) {
  return std::make_shared<DVACErrorReport>(errorId, std::nullopt, std::nullopt, std::nullopt, std::nullopt,
                                           appStartTime(), ns::Date::now(), std::nullopt, std::nullopt, std::nullopt,
                                           std::nullopt, std::nullopt,
                                           DVACDeviceTracker::sharedInstance()->device(), 0);
}

void DVACCrashes::clearContextHistoryAndKeepCurrentSession() {
  DVACDeviceTracker::sharedInstance()->clearDevices();
  DVACSessionContext::sharedInstance()->clearSessionHistoryAndKeepCurrentSession(true);
  DVACUserIdContext::sharedInstance()->clearUserIdHistory();
}

// ---------------------------------------------------------------- Send callbacks

void DVACCrashes::channelWillSendLog(const std::shared_ptr<DVACChannelProtocol>&,
                                     const std::shared_ptr<DVACLog>& log) {
  auto delegate = instanceDelegate();
  if (!delegate || !delegate->respondsToSelector(kDVACCrashesWillSendErrorReportSelector)) return;
  auto crashLog = std::dynamic_pointer_cast<DVACAppleErrorLog>(log);
  if (!crashLog) return;
  auto report = DVACErrorLogFormatter::errorReportFromLog(*crashLog);
  auto crashes = self();
  DVACDispatcherUtil::performBlockOnMainThread(
      [delegate, crashes, report] { delegate->crashesWillSendErrorReport(*crashes, report); });
}

void DVACCrashes::channelDidSucceedSendingLog(const std::shared_ptr<DVACChannelProtocol>&,
                                              const std::shared_ptr<DVACLog>& log) {
  auto crashLog = std::dynamic_pointer_cast<DVACAppleErrorLog>(log);
  if (!crashLog) return;
  if (crashLog->errorId) {
    // Heard before the unit deletes the log from the store.
    std::lock_guard lock(stateMutex_);
    sentCrashLogIds_.insert(*crashLog->errorId);
  }
  auto delegate = instanceDelegate();
  if (!delegate || !delegate->respondsToSelector(kDVACCrashesDidSucceedSendingErrorReportSelector)) return;
  auto report = DVACErrorLogFormatter::errorReportFromLog(*crashLog);
  auto crashes = self();
  DVACDispatcherUtil::performBlockOnMainThread(
      [delegate, crashes, report] { delegate->crashesDidSucceedSendingErrorReport(*crashes, report); });
}

void DVACCrashes::channelDidFailSendingLog(const std::shared_ptr<DVACChannelProtocol>&,
                                           const std::shared_ptr<DVACLog>& log,
                                           const std::optional<ns::Error>& error) {
  auto delegate = instanceDelegate();
  if (!delegate || !delegate->respondsToSelector(kDVACCrashesDidFailSendingErrorReportSelector)) return;
  auto crashLog = std::dynamic_pointer_cast<DVACAppleErrorLog>(log);
  if (!crashLog) return;
  auto report = DVACErrorLogFormatter::errorReportFromLog(*crashLog);
  auto crashes = self();
  DVACDispatcherUtil::performBlockOnMainThread(
      [delegate, crashes, report, error] { delegate->crashesDidFailSendingErrorReport(*crashes, report, error); });
}
