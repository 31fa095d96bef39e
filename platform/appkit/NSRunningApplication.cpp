#include "platform/appkit/NSRunningApplication.h"

#include <cstdio>
#include <map>
#include <mutex>

#include "platform/appkit/SimulatedDesktopBridge.h"
#include "platform/sim/World.h"

namespace appkit {

namespace {


// One object per launch while the world is not reset.
class Cache {
 public:
  static Cache& shared() {
    static Cache* cache = new Cache();
    return *cache;
  }

  std::shared_ptr<NSRunningApplication> object(const sim::ApplicationInfo& info) {
    std::lock_guard lock(mutex_);
    const std::uint64_t epoch = sim::World::shared().epoch();
    if (epoch != epoch_) {
      objects_.clear();
      epoch_ = epoch;
    }
    auto& slot = objects_[info.serial];
    if (!slot) {
      slot = std::make_shared<NSRunningApplication>(info.serial, info.pid, info.bundleIdentifier, info.bundleURL,
                                                    info.name, ns::Date(info.launchDate));
    }
    return slot;
  }

 private:
  std::mutex mutex_;
  std::uint64_t epoch_ = 0;
  std::map<std::uint64_t, std::shared_ptr<NSRunningApplication>> objects_;
};

}  // namespace

NSRunningApplication::NSRunningApplication(std::uint64_t serial, pid_t pid, std::optional<std::string> bundleIdentifier,
                                           std::optional<ns::URL> bundleURL, std::optional<std::string> localizedName,
                                           ns::Date launchDate)
    : serial_(serial),
      pid_(pid),
      bundleIdentifier_(std::move(bundleIdentifier)),
      bundleURL_(std::move(bundleURL)),
      localizedName_(std::move(localizedName)),
      launchDate_(launchDate) {}

std::shared_ptr<NSRunningApplication> NSRunningApplication::currentApplication() {
  return runningApplicationWithProcessIdentifier(sim::World::shared().selfPid());
}

std::shared_ptr<NSRunningApplication> NSRunningApplication::runningApplicationWithProcessIdentifier(pid_t pid) {
  connectToSimulatedDesktop();
  auto info = sim::World::shared().application(pid);
  return info ? Cache::shared().object(*info) : nullptr;
}

std::vector<std::shared_ptr<NSRunningApplication>> NSRunningApplication::runningApplicationsWithBundleIdentifier(
    const std::string& bundleIdentifier) {
  connectToSimulatedDesktop();
  std::vector<std::shared_ptr<NSRunningApplication>> out;
  for (const auto& info : sim::World::shared().runningApplications()) {
    if (info.bundleIdentifier == bundleIdentifier) out.push_back(Cache::shared().object(info));
  }
  return out;
}

std::shared_ptr<NSRunningApplication> NSRunningApplication::withLaunchSerial(std::uint64_t serial) {
  auto info = sim::World::shared().applicationBySerial(serial);
  return info ? Cache::shared().object(*info) : nullptr;
}

NSApplicationActivationPolicy NSRunningApplication::activationPolicy() const {
  auto info = sim::World::shared().applicationBySerial(serial_);
  return info ? static_cast<NSApplicationActivationPolicy>(info->activationPolicy)
              : NSApplicationActivationPolicy::Prohibited;
}

bool NSRunningApplication::isHidden() const {
  auto info = sim::World::shared().applicationBySerial(serial_);
  return info && info->hidden;
}

bool NSRunningApplication::isActive() const {
  return !isTerminated() && sim::World::shared().frontmostApplication() == pid_;
}

bool NSRunningApplication::isTerminated() const {
  auto info = sim::World::shared().applicationBySerial(serial_);
  return !info || info->terminated;
}

bool NSRunningApplication::hide() { return !isTerminated() && sim::World::shared().setApplicationHidden(pid_, true); }

bool NSRunningApplication::unhide() { return !isTerminated() && sim::World::shared().setApplicationHidden(pid_, false); }

bool NSRunningApplication::activateWithOptions(NSApplicationActivationOptions /*options*/) {
  return !isTerminated() && sim::World::shared().activateApplication(pid_);
}

bool NSRunningApplication::terminate() { return !isTerminated() && sim::World::shared().terminateApplication(pid_); }

bool NSRunningApplication::isEqual(const ns::Object& other) const {
  auto* o = dynamic_cast<const NSRunningApplication*>(&other);
  return o && o->serial_ == serial_;
}

std::string NSRunningApplication::description() const {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "<NSRunningApplication: %p>", static_cast<const void*>(this));
  return std::string(buffer) + " (" + bundleIdentifier_.value_or("(null)") + " - " + std::to_string(pid_) + ")";
}

}  // namespace appkit
