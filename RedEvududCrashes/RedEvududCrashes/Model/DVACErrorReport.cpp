#include "RedEvududCrashes/RedEvududCrashes/Model/DVACErrorReport.h"

#include <cctype>

#include "RedEvududCrashes/RedEvududCrashes/Internals/Model/DVACBinary.h"
#include "RedEvududCrashes/RedEvududCrashes/Internals/Model/DVACStackFrame.h"
#include "RedEvududCrashes/RedEvududCrashes/Internals/Model/DVACThread.h"

DVACErrorReport::DVACErrorReport(std::optional<std::string> errorId, std::optional<std::string> reporterKey,
                                 std::optional<std::string> signal, std::optional<std::string> exceptionName,
                                 std::optional<std::string> exceptionReason, std::optional<ns::Date> appStartTime,
                                 std::optional<ns::Date> appErrorTime, std::optional<std::string> codeType,
                                 std::optional<std::string> archName, std::optional<std::string> applicationPath,
                                 std::optional<std::vector<std::shared_ptr<DVACThread>>> threads,
                                 std::optional<std::vector<std::shared_ptr<DVACBinary>>> binaries,
                                 std::shared_ptr<DVACDevice> device, uint64_t appProcessIdentifier)
    : incidentIdentifier_(std::move(errorId)),
      reporterKey_(std::move(reporterKey)),
      signal_(std::move(signal)),
      exceptionName_(std::move(exceptionName)),
      exceptionReason_(std::move(exceptionReason)),
      appStartTime_(appStartTime),
      appErrorTime_(appErrorTime),
      archName_(std::move(archName)),
      codeType_(std::move(codeType)),
      applicationPath_(std::move(applicationPath)),
      threads_(std::move(threads)),
      binaries_(std::move(binaries)),
      device_(std::move(device)),
      appProcessIdentifier_(appProcessIdentifier) {}

bool DVACErrorReport::isAppKill() const {
  if (!signal_) return false;
  std::string upper = *signal_;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return upper == "SIGKILL";
}

ns::Value DVACErrorReport::serializeToDictionary() const {
  ns::Dictionary dict;
  auto put = [&dict](const char* key, const std::optional<std::string>& value) {
    if (value) dict.emplace(key, ns::Value(*value));
  };
  put("incidentIdentifier", incidentIdentifier_);
  put("reporterKey", reporterKey_);
  put("signal", signal_);
  put("exceptionName", exceptionName_);
  put("exceptionReason", exceptionReason_);
  if (appStartTime_) dict.emplace("appStartTime", ns::Value(*appStartTime_));
  if (appErrorTime_) dict.emplace("appErrorTime", ns::Value(*appErrorTime_));
  put("codeType", codeType_);
  put("archName", archName_);
  put("applicationPath", applicationPath_);
  if (threads_) dict.emplace("threads", dvac::objectArray(*threads_));
  if (binaries_) dict.emplace("binaries", dvac::objectArray(*binaries_));
  if (device_) dict.emplace("device", ns::Value(device_));
  if (appProcessIdentifier_ != 0) dict.emplace("appProcessIdentifier", ns::Value(std::to_string(appProcessIdentifier_)));
  return ns::Value(std::move(dict));
}

std::string DVACErrorReport::description() const { return serializeToDictionary().description(); }
