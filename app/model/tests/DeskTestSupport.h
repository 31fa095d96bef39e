#pragma once
// Shared by the tests that drive a simulated desk with the input driver (the
// snapping engine's and the preview coordinator's): readable geometry in
// failure messages, window elements, the scheduler's steps, and the base of
// their fixtures.

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "app/model/AXUIElementWrapper.h"
#include "app/model/DiagnosticLogging.h"
#include "app/model/tests/ModelTestSupport.h"
#include "platform/appkit/NSEvent.h"
#include "platform/appkit/NSWindow.h"
#include "platform/dispatch/Dispatch.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/TestSupport.h"
#include "platform/sim/InputDriver.h"
#include "platform/sim/Scenario.h"
#include "platform/sim/World.h"

// Readable values in failure messages.
inline void PrintTo(const CGRect& r, std::ostream* os) {
  *os << "(" << r.origin.x << ", " << r.origin.y << ", " << r.size.width << ", " << r.size.height << ")";
}
inline void PrintTo(const CGSize& s, std::ostream* os) { *os << "(" << s.width << " x " << s.height << ")"; }
inline void PrintTo(const CGPoint& p, std::ostream* os) { *os << "(" << p.x << ", " << p.y << ")"; }

namespace desktest {

inline AXUIElementWrapper windowElement(pid_t pid, std::uint32_t id) {
  return AXUIElementWrapper(std::make_shared<ax::AXUIElement>(sim::ElementID{pid, sim::ElementKind::Window, id}));
}

using modeltest::drain;
inline void advance(double seconds) { dispatch::Scheduler::shared().advance(seconds); }

// The scenario's desk under the virtual clock, fresh preferences and the log
// captured. The fixtures connect the input driver once their own objects are
// made, and release it before those go.
class DrivenDeskTest : public ::testing::Test {
 protected:
  explicit DrivenDeskTest(const char* scenario) : scenario_(scenario) {}

  // The driver's waits advance the virtual clock, and its input reaches the
  // application.
  void connectDriver() {
    driver.setPump([](double seconds) { dispatch::Scheduler::shared().advance(seconds); });
    appkit::connectInputToSimulatedDesktop();
  }
  // No pump, no button or grab held, no window left in the window list.
  void releaseDriver() {
    driver.setPump(nullptr);
    driver.reset();
    appkit::WindowList::resetForTesting();
  }

  void loggingModules(std::vector<std::string> names) {
    ns::Array list;
    for (auto& n : names) list.push_back(ns::Value(n));
    defaults->setObject(diagnostics::kLoggingModulesKey, ns::Value(list));
  }
  CGRect frameOf(std::uint32_t id) const { return world.window(id)->frame; }

  dispatch::VirtualClockScope clock;
  ns::test::ScopedStandardDefaults defaults;
  sim::ScopedScenario scenario_;
  sim::World& world = sim::World::shared();
  sim::InputDriver& driver = sim::InputDriver::shared();
  ns::LogCapture log;
};

}  // namespace desktest
