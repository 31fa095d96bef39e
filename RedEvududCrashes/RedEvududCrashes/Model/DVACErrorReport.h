#pragma once
// The read-only summary of one error that the Crashes service hands to the
// application: the crashes waiting for the user's confirmation, the last
// session's crash, and the reports given to the Crashes delegate.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "RedEvudud/RedEvudud/Model/DVACDevice.h"
#include "platform/foundation/Value.h"

class DVACThread;
class DVACBinary;

class DVACErrorReport : public ns::Object {
 public:
  DVACErrorReport(std::optional<std::string> errorId, std::optional<std::string> reporterKey,
                  std::optional<std::string> signal, std::optional<std::string> exceptionName,
                  std::optional<std::string> exceptionReason, std::optional<ns::Date> appStartTime,
                  std::optional<ns::Date> appErrorTime, std::optional<std::string> codeType,
                  std::optional<std::string> archName, std::optional<std::string> applicationPath,
                  std::optional<std::vector<std::shared_ptr<DVACThread>>> threads,
                  std::optional<std::vector<std::shared_ptr<DVACBinary>>> binaries,
                  std::shared_ptr<DVACDevice> device, uint64_t appProcessIdentifier);

  const std::optional<std::string>& incidentIdentifier() const { return incidentIdentifier_; }
  const std::optional<std::string>& reporterKey() const { return reporterKey_; }
  const std::optional<std::string>& signal() const { return signal_; }
  void setSignal(std::optional<std::string> signal) { signal_ = std::move(signal); }
  const std::optional<std::string>& exceptionName() const { return exceptionName_; }
  const std::optional<std::string>& exceptionReason() const { return exceptionReason_; }
  const std::optional<ns::Date>& appStartTime() const { return appStartTime_; }
  const std::optional<ns::Date>& appErrorTime() const { return appErrorTime_; }
  const std::optional<std::string>& codeType() const { return codeType_; }
  const std::optional<std::string>& archName() const { return archName_; }
  const std::optional<std::string>& applicationPath() const { return applicationPath_; }
  const std::optional<std::vector<std::shared_ptr<DVACThread>>>& threads() const { return threads_; }
  const std::optional<std::vector<std::shared_ptr<DVACBinary>>>& binaries() const { return binaries_; }
  const std::shared_ptr<DVACDevice>& device() const { return device_; }
  uint64_t appProcessIdentifier() const { return appProcessIdentifier_; }

  // The signal, upper-cased, is "SIGKILL".
  bool isAppKill() const;

  // The fields that are present, holding their objects as they are (dates
  // stay dates, records stay records); "appProcessIdentifier" as decimal
  // text when it is not 0.
  ns::Value serializeToDictionary() const;
  std::string description() const override;
  std::string className() const override { return "DVACErrorReport"; }

 private:
  std::optional<std::string> incidentIdentifier_;
  std::optional<std::string> reporterKey_;
  std::optional<std::string> signal_;
  std::optional<std::string> exceptionName_;
  std::optional<std::string> exceptionReason_;
  std::optional<ns::Date> appStartTime_;
  std::optional<ns::Date> appErrorTime_;
  std::optional<std::string> archName_;
  std::optional<std::string> codeType_;
  std::optional<std::string> applicationPath_;
  std::optional<std::vector<std::shared_ptr<DVACThread>>> threads_;
  std::optional<std::vector<std::shared_ptr<DVACBinary>>> binaries_;
  std::shared_ptr<DVACDevice> device_;
  uint64_t appProcessIdentifier_;
};

using DVACErrorReports = std::vector<std::shared_ptr<DVACErrorReport>>;
