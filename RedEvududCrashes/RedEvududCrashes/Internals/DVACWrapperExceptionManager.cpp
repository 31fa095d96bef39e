#include "RedEvududCrashes/RedEvududCrashes/Internals/DVACWrapperExceptionManager.h"

#include <map>
#include <mutex>

#include "LQCrashReporter/Source/DVLQCrashReporter.h"
#include "RedEvudud/RedEvudud/Internals/Util/DVACLogger.h"
#include "RedEvudud/RedEvudud/Internals/Util/DVACUtility.h"
#include "RedEvududCrashes/RedEvududCrashes/DVACCrashes.h"
#include "RedEvududCrashes/RedEvududCrashes/Internals/Util/DVACCrashesUtil.h"
#include "platform/foundation/Paths.h"

namespace {

struct ManagerState {
  std::mutex mutex;
  std::map<std::string, std::shared_ptr<DVACWrapperException>> exceptions;
  std::shared_ptr<DVLQCrashReporter> crashReporter;
};

ManagerState& managerState() {
  static auto* shared = new ManagerState();
  return *shared;
}

bool isPlainFileName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
         name.find('\0') == std::string::npos;
}

std::optional<std::string> pathComponentFor(const std::string& baseFilename) {
  if (!isPlainFileName(baseFilename)) {
    DVACLogError(kDVACCrashesLogTag, "Refusing the wrapper exception file name \"" + baseFilename + "\".");
    return std::nullopt;
  }
  return DVACCrashesUtil::wrapperExceptionsDir() + "/" + baseFilename;
}

}  // namespace

void DVACWrapperExceptionManager::setCrashReporter(std::shared_ptr<DVLQCrashReporter> crashReporter) {
  std::lock_guard lock(managerState().mutex);
  managerState().crashReporter = std::move(crashReporter);
}

std::shared_ptr<DVLQCrashReporter> DVACWrapperExceptionManager::crashReporter() {
  std::lock_guard lock(managerState().mutex);
  return managerState().crashReporter;
}

void DVACWrapperExceptionManager::saveWrapperException(const std::shared_ptr<DVACWrapperException>& wrapperException) {
  saveWrapperException(wrapperException, kDVACLastWrapperExceptionFileName);
}

void DVACWrapperExceptionManager::saveWrapperException(const std::shared_ptr<DVACWrapperException>& wrapperException,
                                                       const std::string& baseFilename) {
  auto component = pathComponentFor(baseFilename);
  if (!component || !wrapperException) return;
  auto data = DVACUtility::archiveKeyedData(ns::Value(wrapperException));
  if (!data) return;
  DVACUtility::createFileAtPathComponent(component, data, true, true);
}

void DVACWrapperExceptionManager::saveWrapperExceptionAndCrashReport(
    const std::shared_ptr<DVACWrapperException>& wrapperException) {
  auto reporter = crashReporter();
  if (!reporter) {
    DVACLogError(kDVACLogTag, "Failed to save the crash report. CrashReporter wasn't initialized.");
    return;
  }
  saveWrapperException(wrapperException);
  const std::string reportPath = reporter->crashReportPath();
  const auto directory = ns::URL::fileURLWithPath(ns::paths::deletingLastPathComponent(reportPath), true);
  if (!DVACUtility::createDirectoryAtURL(directory)) {
    DVACLogError(kDVACLogTag, "Couldn't create a directory at path " + directory.absoluteString());
    return;
  }
  auto report = reporter->generateLiveReport();
  if (report && DVACUtility::createFileAtPath(reportPath, *report)) {
    DVACLogError(kDVACLogTag, "Crash report was saved successfully at path " + reportPath);
  } else {
    DVACLogError(kDVACLogTag, "Couldn't save crash report at path " + reportPath);
  }
}

std::shared_ptr<DVACWrapperException> DVACWrapperExceptionManager::loadWrapperExceptionWithBaseFilename(
    const std::string& baseFilename) {
  auto component = pathComponentFor(baseFilename);
  if (!component) return nullptr;
  if (!DVACUtility::fileExistsForPathComponent(component)) {
    DVACLogError(kDVACCrashesLogTag, "Exception data report doesn't exist on disk. File name: " + baseFilename);
    return nullptr;
  }
  auto data = DVACUtility::loadDataForPathComponent(component);
  std::shared_ptr<DVACWrapperException> exception;
  if (auto value = DVACUtility::unarchiveKeyedData(data)) exception = value->objectAs<DVACWrapperException>();
  if (!exception) {
    DVACLogError(kDVACCrashesLogTag, "Could not read exception data stored on disk with file name " + baseFilename);
    deleteWrapperExceptionWithBaseFilename(baseFilename);
  }
  return exception;
}

std::shared_ptr<DVACWrapperException> DVACWrapperExceptionManager::loadWrapperExceptionWithUUIDString(
    const std::optional<std::string>& uuidString) {
  if (!uuidString) return nullptr;
  {
    std::lock_guard lock(managerState().mutex);
    auto found = managerState().exceptions.find(*uuidString);
    if (found != managerState().exceptions.end()) return found->second;
  }
  return loadWrapperExceptionWithBaseFilename(*uuidString);
}

std::shared_ptr<DVACWrapperException> DVACWrapperExceptionManager::cachedWrapperExceptionWithUUIDString(
    const std::optional<std::string>& uuidString) {
  if (!uuidString) return nullptr;
  std::lock_guard lock(managerState().mutex);
  auto found = managerState().exceptions.find(*uuidString);
  return found == managerState().exceptions.end() ? nullptr : found->second;
}

void DVACWrapperExceptionManager::deleteWrapperExceptionWithBaseFilename(const std::string& baseFilename) {
  if (auto component = pathComponentFor(baseFilename)) DVACUtility::deleteItemForPathComponent(component);
}

void DVACWrapperExceptionManager::deleteWrapperExceptionWithUUIDString(const std::optional<std::string>& uuidString) {
  if (uuidString) deleteWrapperExceptionWithBaseFilename(*uuidString);
}

void DVACWrapperExceptionManager::deleteAllWrapperExceptions() {
  DVACUtility::deleteItemForPathComponent(std::string(kDVACWrapperExceptionsDirectory));
}

void DVACWrapperExceptionManager::correlateLastSavedWrapperExceptionToReport(const DVACErrorReports& reports) {
  auto exception = loadWrapperExceptionWithBaseFilename(kDVACLastWrapperExceptionFileName);
  if (!exception) return;
  deleteWrapperExceptionWithBaseFilename(kDVACLastWrapperExceptionFileName);
  for (const auto& report : reports) {
    if (!report || !report->incidentIdentifier()) continue;
    if (exception->processId && report->appProcessIdentifier() == *exception->processId) {
      {
        std::lock_guard lock(managerState().mutex);
        managerState().exceptions[*report->incidentIdentifier()] = exception;
      }
      saveWrapperException(exception, *report->incidentIdentifier());
      return;
    }
  }
}

void DVACWrapperExceptionManager::resetForTesting() {
  std::lock_guard lock(managerState().mutex);
  managerState().exceptions.clear();
  managerState().crashReporter.reset();
}
