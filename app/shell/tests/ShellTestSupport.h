#pragma once
// Fixtures for the shell's tests: a virtual clock, fresh in-memory standard
// defaults with the registered defaults, a reset simulated desktop (both
// permissions granted), no windows, the first alert button, a recording
// telemetry client behind the shared analytics manager, and the standard
// directories under a temporary root.

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app/shell/AnalyticsManager.h"
#include "app/shell/PermissionManagers.h"
#include "app/preferences/Preferences.h"
#include "app/shell/tests/RecordingTelemetry.h"
#include "platform/appkit/NSAlert.h"
#include "platform/appkit/NSWindow.h"
#include "platform/dispatch/Dispatch.h"
#include "platform/foundation/TestSupport.h"
#include "platform/sim/World.h"

namespace shelltest {

using telemetrytest::RecordedEvent;
using telemetrytest::RecordingTelemetry;

class ShellTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sim::World::shared().reset();
    appkit::WindowList::resetForTesting();
    appkit::NSAlert::resetResponder();
    appkit::NSAlert::clearShownMessages();
    ScreenRecordingPermissionManager::shared()->resetForTesting();
    MorvalentDefaults::standard().registerDefaults();
    telemetry = std::make_shared<RecordingTelemetry>();
    manager = AnalyticsManager::make(telemetry);
    AnalyticsManager::setSharedForTesting(manager);
  }
  void TearDown() override {
    AnalyticsManager::setSharedForTesting(nullptr);
    appkit::NSAlert::resetResponder();
    appkit::WindowList::resetForTesting();
    sim::World::shared().reset();
    ScreenRecordingPermissionManager::shared()->resetForTesting();
  }

  MorvalentDefaults defaults() const { return MorvalentDefaults::standard(); }
  void drain() { dispatch::Scheduler::shared().runUntilIdle(); }
  void advance(double seconds) { dispatch::Scheduler::shared().advance(seconds); }

  dispatch::VirtualClockScope clock;
  ns::test::ScopedPathsRoot paths;
  ns::test::ScopedStandardDefaults standardDefaults;
  std::shared_ptr<RecordingTelemetry> telemetry;
  std::shared_ptr<AnalyticsManager> manager;
};

}  // namespace shelltest
