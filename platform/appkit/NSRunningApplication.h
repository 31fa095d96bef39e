#pragma once
// NSRunningApplication over the simulated desktop: one object per launched
// process (the same object for every lookup while the world is not reset),
// whose state is read live from the world. A terminated process keeps its
// identity and reports isTerminated.

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/URL.h"
#include "platform/foundation/Value.h"

namespace appkit {

// The activation policy of an application (also what NSApplication sets).
enum class NSApplicationActivationPolicy { Regular = 0, Accessory = 1, Prohibited = 2 };

using NSApplicationActivationOptions = unsigned;
inline constexpr NSApplicationActivationOptions NSApplicationActivateAllWindows = 1u << 0;
inline constexpr NSApplicationActivationOptions NSApplicationActivateIgnoringOtherApps = 1u << 1;

class NSRunningApplication : public ns::Object {
 public:
  // This program's own process.
  static std::shared_ptr<NSRunningApplication> currentApplication();
  // nullptr when no such process runs.
  static std::shared_ptr<NSRunningApplication> runningApplicationWithProcessIdentifier(pid_t pid);
  static std::vector<std::shared_ptr<NSRunningApplication>> runningApplicationsWithBundleIdentifier(
      const std::string& bundleIdentifier);
  // The object of one launch (running or terminated); nullptr when unknown.
  static std::shared_ptr<NSRunningApplication> withLaunchSerial(std::uint64_t serial);

  pid_t processIdentifier() const { return pid_; }
  const std::optional<std::string>& bundleIdentifier() const { return bundleIdentifier_; }
  const std::optional<ns::URL>& bundleURL() const { return bundleURL_; }
  const std::optional<std::string>& localizedName() const { return localizedName_; }
  std::optional<ns::Date> launchDate() const { return launchDate_; }
  NSApplicationActivationPolicy activationPolicy() const;
  bool isHidden() const;
  bool isActive() const;
  bool isTerminated() const;
  bool isFinishedLaunching() const { return true; }
  std::uint64_t launchSerial() const { return serial_; }

  // Each returns whether the request was taken (false for a terminated process).
  bool hide();
  bool unhide();
  bool activateWithOptions(NSApplicationActivationOptions options = 0);
  bool terminate();
  bool forceTerminate() { return terminate(); }

  std::string className() const override { return "NSRunningApplication"; }
  bool isEqual(const ns::Object& other) const override;
  // "<NSRunningApplication: 0x...> (<bundle identifier or (null)> - <pid>)"
  std::string description() const override;

  // Made by the lookups above only.
  NSRunningApplication(std::uint64_t serial, pid_t pid, std::optional<std::string> bundleIdentifier,
                       std::optional<ns::URL> bundleURL, std::optional<std::string> localizedName, ns::Date launchDate);

 private:
  const std::uint64_t serial_;
  const pid_t pid_;
  const std::optional<std::string> bundleIdentifier_;
  const std::optional<ns::URL> bundleURL_;
  const std::optional<std::string> localizedName_;
  const ns::Date launchDate_;
};

}  // namespace appkit
