#pragma once
// Turns a decoded crash report of the crash engine into the crash log that
// is sent (DVACAppleErrorLog with its threads, frames, exception and
// binaries) and into the error report the application sees. Runs at the
// launch after a crash, never at crash time; stateless.

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "LQCrashReporter/Source/DVLQCrashReport.h"
#include "RedEvududCrashes/RedEvududCrashes/Internals/Model/DVACAppleErrorLog.h"
#include "RedEvududCrashes/RedEvududCrashes/Model/DVACErrorReport.h"

inline constexpr uint64_t kDVACCPUTypeX86 = 7;
inline constexpr uint64_t kDVACCPUTypeARM = 12;
inline constexpr uint64_t kDVACCPUTypePowerPC = 18;
inline constexpr uint64_t kDVACCPUTypeX86_64 = 0x1000007;
inline constexpr uint64_t kDVACCPUTypeARM64 = 0x100000C;
inline constexpr const char* kDVACErrorLogFormatterUnknown = "???";

enum DVACBinaryImageType : int {
  DVACBinaryImageTypeAppBinary = 0,
  DVACBinaryImageTypeAppFramework = 1,
  DVACBinaryImageTypeOther = 2,
};

class DVACErrorLogFormatter {
 public:
  DVACErrorLogFormatter() = delete;

  static std::shared_ptr<DVACAppleErrorLog> errorLogFromCrashReport(const DVLQCrashReport& report);
  // Nil for no report.
  static std::shared_ptr<DVACErrorReport> errorReportFromCrashReport(const std::shared_ptr<DVLQCrashReport>& report);
  static std::shared_ptr<DVACErrorReport> errorReportFromLog(const DVACAppleErrorLog& log);
  // The report's UUID as upper-case text; a fresh random one when it has none.
  static std::string errorIdForCrashReport(const DVLQCrashReport& report);

  // ---- Steps ---------------------------------------------------------------
  static void addProcessInfoAndApplicationPathTo(DVACAppleErrorLog& log, const DVLQCrashReport& report);
  static std::shared_ptr<DVLQCrashReportThreadInfo> findCrashedThreadInReport(const DVLQCrashReport& report);
  static std::optional<ns::Date> getAppLaunchTimeFromReport(const DVLQCrashReport& report);
  // A whole-second crash time before 2038 gets 0.999 s added.
  static std::optional<ns::Date> getCrashTimeFromReport(const DVLQCrashReport& report);
  static std::optional<std::string> extractExceptionReasonFromReport(const DVLQCrashReport& report);
  static std::optional<std::string> selectorRegisterValueFromReport(
      const DVLQCrashReport& report, const std::shared_ptr<DVLQCrashReportThreadInfo>& crashedThread,
      uint64_t codeType);
  // The method name that the register points into, looked up in the images
  // loaded in this process (same path and UUID as in the report); only
  // Mach-O images have the section it lives in.
  static std::optional<std::string> selectorForRegisterWithName(
      const std::string& registerName, const std::shared_ptr<DVLQCrashReportThreadInfo>& thread,
      const DVLQCrashReport& report);
  static std::vector<std::shared_ptr<DVACThread>> extractThreadsFromReport(
      const DVLQCrashReport& report, const std::shared_ptr<DVLQCrashReportThreadInfo>& crashedThread, bool is64bit);
  static std::string formatStackFrame(const DVLQCrashReportStackFrameInfo& frame, const DVLQCrashReport& report);
  static std::map<std::string, std::string> extractRegistersFromCrashedThread(
      const std::shared_ptr<DVLQCrashReportThreadInfo>& crashedThread, bool is64bit);
  static std::vector<std::shared_ptr<DVACBinary>> extractBinaryImagesFromReport(const DVLQCrashReport& report,
                                                                                bool is64bit);
  static std::vector<uint64_t> addressesFromReport(const DVLQCrashReport& report);
  static bool isBinaryWithStart(uint64_t start, uint64_t end, const std::vector<uint64_t>& addresses);
  static DVACBinaryImageType imageTypeForImagePath(const std::optional<std::string>& imagePath,
                                                   const std::optional<std::string>& processPath);
  // The user's name in home paths replaced by "USER"; other paths naming
  // "Users" are dropped.
  static std::string anonymizedPathFromPath(const std::optional<std::string>& path);
  static std::shared_ptr<DVACDevice> deviceForTimestamp(const std::optional<ns::Date>& timestamp,
                                                        const DVLQCrashReport& report);
  static std::string convertCodeTypeToString(uint64_t codeType);
  static std::string convertArchNameToString(uint64_t codeType, uint64_t subtype);
  static bool isCodeType64bit(uint64_t codeType);
  static std::optional<std::string> uuidRefToString(const std::optional<ns::UUID>& uuid);
  // "0x" and 16 (64-bit) or 8 zero-padded lower-case hex digits.
  static std::string formatAddress(uint64_t address, bool is64bit);
  // The path with ".", ".." and repeated separators resolved.
  static std::string standardizedPath(const std::string& path);
};
