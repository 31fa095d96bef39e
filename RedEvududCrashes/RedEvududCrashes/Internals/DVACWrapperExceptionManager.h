#pragma once
// Keeps exceptions that a wrapper SDK reports before it crashes the process,
// and ties each to the crash report of the same process at the next launch,
// so that the crash log carries the wrapper's own exception.
//
// Files live in "crasheswrapperexceptions": "last_saved_wrapper_exception"
// for the running process, and one file per correlated crash named by its
// incident identifier. Each holds the keyed archive of one
// DVACWrapperException.

#include <memory>
#include <optional>
#include <string>

#include "RedEvududCrashes/RedEvududCrashes/Internals/Model/DVACWrapperException.h"
#include "RedEvududCrashes/RedEvududCrashes/Model/DVACErrorReport.h"

class DVLQCrashReporter;

inline constexpr const char* kDVACLastWrapperExceptionFileName = "last_saved_wrapper_exception";

class DVACWrapperExceptionManager {
 public:
  DVACWrapperExceptionManager() = delete;

  // Kept strongly; set by the Crashes service when it configures the engine.
  static void setCrashReporter(std::shared_ptr<DVLQCrashReporter> crashReporter);
  static std::shared_ptr<DVLQCrashReporter> crashReporter();

  // Saves it as "last_saved_wrapper_exception".
  static void saveWrapperException(const std::shared_ptr<DVACWrapperException>& wrapperException);
  // Saves it, then writes a live crash report where the engine keeps its
  // pending report, so the next launch handles it as a crash.
  static void saveWrapperExceptionAndCrashReport(const std::shared_ptr<DVACWrapperException>& wrapperException);
  // The cached exception of the incident, else the one saved under its name.
  static std::shared_ptr<DVACWrapperException> loadWrapperExceptionWithUUIDString(
      const std::optional<std::string>& uuidString);
  // Only the in-memory cache that correlation fills; reads no file.
  static std::shared_ptr<DVACWrapperException> cachedWrapperExceptionWithUUIDString(
      const std::optional<std::string>& uuidString);
  static void deleteWrapperExceptionWithUUIDString(const std::optional<std::string>& uuidString);
  // Removes the whole directory.
  static void deleteAllWrapperExceptions();
  // Gives the last saved exception to the first report of the same process
  // (cached and saved under its incident identifier); the saved file goes.
  static void correlateLastSavedWrapperExceptionToReport(const DVACErrorReports& reports);

  // A name is a plain file name: no "/", not "." or "..", not empty;
  // anything else is refused (logged).
  static void saveWrapperException(const std::shared_ptr<DVACWrapperException>& wrapperException,
                                   const std::string& baseFilename);
  static std::shared_ptr<DVACWrapperException> loadWrapperExceptionWithBaseFilename(const std::string& baseFilename);
  static void deleteWrapperExceptionWithBaseFilename(const std::string& baseFilename);

  // Forgets the cache and the reporter.
  static void resetForTesting();
};
