#include "RedEvududCrashes/RedEvududCrashes/DVACWrapperCrashesHelper.h"

#include "RedEvududCrashes/RedEvududCrashes/DVACCrashes.h"

std::shared_ptr<DVACWrapperCrashesHelper> DVACWrapperCrashesHelper::sharedInstance() {
  static auto* shared = new std::shared_ptr<DVACWrapperCrashesHelper>(new DVACWrapperCrashesHelper());
  return *shared;
}

void DVACWrapperCrashesHelper::setCrashHandlerSetupDelegate(
    const std::shared_ptr<DVACCrashHandlerSetupDelegate>& delegate) {
  auto helper = sharedInstance();
  std::lock_guard lock(helper->mutex_);
  helper->crashHandlerSetupDelegate_ = delegate;
}

std::shared_ptr<DVACCrashHandlerSetupDelegate> DVACWrapperCrashesHelper::crashHandlerSetupDelegate() {
  auto helper = sharedInstance();
  std::lock_guard lock(helper->mutex_);
  return helper->crashHandlerSetupDelegate_.lock();
}

std::shared_ptr<DVACCrashHandlerSetupDelegate> DVACWrapperCrashesHelper::getCrashHandlerSetupDelegate() {
  return crashHandlerSetupDelegate();
}

void DVACWrapperCrashesHelper::setAutomaticProcessing(bool automaticProcessing) {
  DVACCrashes::sharedInstance()->setAutomaticProcessingEnabled(automaticProcessing);
}

bool DVACWrapperCrashesHelper::automaticProcessing() {
  return DVACCrashes::sharedInstance()->isAutomaticProcessingEnabled();
}

DVACErrorReports DVACWrapperCrashesHelper::unprocessedCrashReports() {
  return DVACCrashes::sharedInstance()->unprocessedCrashReports();
}

bool DVACWrapperCrashesHelper::sendCrashReportsOrAwaitUserConfirmationForFilteredIds(
    const std::vector<std::string>& filteredIds) {
  return DVACCrashes::sharedInstance()->sendCrashReportsOrAwaitUserConfirmationForFilteredIds(filteredIds);
}

void DVACWrapperCrashesHelper::sendErrorAttachments(
    const std::vector<std::shared_ptr<DVACErrorAttachmentLog>>& errorAttachments,
    const std::optional<std::string>& incidentIdentifier) {
  DVACCrashes::sharedInstance()->sendInstanceErrorAttachments(errorAttachments, incidentIdentifier);
}

std::shared_ptr<DVACErrorReport> DVACWrapperCrashesHelper::buildHandledErrorReportWithErrorID(
    const std::string& errorId) {
  return DVACCrashes::sharedInstance()->buildHandledErrorReportWithErrorID(errorId);
}
