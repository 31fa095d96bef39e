#pragma once
// Turns the raw mouse events of the window session into the few events that
// drive the Dock preview: the pointer is on an application's Dock icon, on
// some other part of the Dock, off the Dock, or a button went down on the
// Dock or elsewhere.
//
// The tracker owns one event tap, chosen by its tracking mode: none, a tap on
// the Dock's process, or a tap on the whole session. Events over the
// program's own windows (the preview panel) are dropped before any
// Accessibility work; the rest are hit-tested on the Accessibility queue, and
// the element found is classified by its process and, on the Dock, by its
// subrole, URL and title.
//
// Main thread only, except for the classification, which runs on the
// Accessibility queue with copies of what it needs.

#include <sys/types.h>

#include <memory>
#include <optional>
#include <string>

#include "app/model/AXUIElementWrapper.h"
#include "app/model/ApplicationController.h"
#include "app/model/DiagnosticLogging.h"
#include "app/previews/CGEventTapWrapper.h"
#include "platform/concurrency/Task.h"
#include "platform/foundation/Geometry.h"
#include "platform/foundation/URL.h"
#include "platform/foundation/Value.h"

class DockPreviewMouseTrackerDelegate;

class DockPreviewMouseTracker : public CGEventTapWrapperDelegate,
                                public DiagnosticLogging,
                                public std::enable_shared_from_this<DockPreviewMouseTracker> {
 public:
  static constexpr const char* kApplicationDockItemSubrole = "AXApplicationDockItem";

  enum class TrackingMode {
    disabled,      // no event tap
    dockOnly,      // a tap on the Dock's process
    entireScreen,  // a tap on the whole login session
  };

  struct MouseEvent {
    enum class Kind { movingOnDockIcon, unknown, movingOnScreen, movingOnDockArea, mouseDownOnDock, mouseDownOnScreen };
    // The payload of movingOnDockIcon: the Dock item under the pointer.
    struct DockIcon {
      ns::URL bundleURL;
      std::string title;
      AXUIElementWrapper element;
    };

    Kind kind = Kind::unknown;
    std::optional<DockIcon> dockIcon{};

    static MouseEvent movingOnDockIcon(ns::URL bundleURL, std::string title, AXUIElementWrapper element) {
      return MouseEvent{Kind::movingOnDockIcon, DockIcon{std::move(bundleURL), std::move(title), std::move(element)}};
    }
    static MouseEvent unknown() { return MouseEvent{Kind::unknown}; }
    static MouseEvent movingOnScreen() { return MouseEvent{Kind::movingOnScreen}; }
    static MouseEvent movingOnDockArea() { return MouseEvent{Kind::movingOnDockArea}; }
    static MouseEvent mouseDownOnDock() { return MouseEvent{Kind::mouseDownOnDock}; }
    static MouseEvent mouseDownOnScreen() { return MouseEvent{Kind::mouseDownOnScreen}; }
  };

  // A tracker without delegate, tap, last event or Dock controller, disabled.
  static std::shared_ptr<DockPreviewMouseTracker> make() { return std::make_shared<DockPreviewMouseTracker>(); }
  DockPreviewMouseTracker() = default;
  ~DockPreviewMouseTracker() override;
  DockPreviewMouseTracker(const DockPreviewMouseTracker&) = delete;
  DockPreviewMouseTracker& operator=(const DockPreviewMouseTracker&) = delete;

  std::weak_ptr<DockPreviewMouseTrackerDelegate> delegate;
  std::shared_ptr<CGEventTapWrapper> cgEventTapWrapper;
  // When the last tapped event reached the tracker.
  std::optional<ns::Date> lastEventDate;

  TrackingMode trackingMode() const { return trackingMode_; }
  // A different mode is logged ("trackingMode:") and restarts the tap.
  virtual void setTrackingMode(TrackingMode mode);

  const std::shared_ptr<ApplicationController>& dockController() const { return dockController_; }
  // Another controller object (none counts as one) restarts the tap.
  virtual void setDockController(std::shared_ptr<ApplicationController> controller);

  // Replaces the tap according to the tracking mode; also the re-arm.
  virtual void startTracking();
  // Reads a Dock element's attributes and emits movingOnDockIcon or movingOnDockArea.
  virtual void resolveDockElement(const AXUIElementWrapper& element);
  // "MouseTracker (<Dock's bundle id> lastEventDate:<date> wrapperStatus:<pid>",
  // each printed as an optional; no closing parenthesis.
  virtual std::string statusDescription() const;
  virtual void restartTracking() { startTracking(); }

  void didReceive(const cgevent::CGEventRef& event, cgevent::CGEventType type) override;

  // The "trackingMode:" line, under this type's name.
  void logTrackingMode(TrackingMode mode) const;

 private:
  void emit(const MouseEvent& event);
  // Runs on the Accessibility queue.
  static void classify(std::weak_ptr<DockPreviewMouseTracker> weak, cgevent::CGEventType type, CGPoint location,
                       std::optional<pid_t> dockPid);
  static conc::Task<void> resolveIn(std::weak_ptr<DockPreviewMouseTracker> weak, AXUIElementWrapper element);

  TrackingMode trackingMode_ = TrackingMode::disabled;
  std::shared_ptr<ApplicationController> dockController_;
};

// The case name: "disabled", "dockOnly" or "entireScreen".
const char* toString(DockPreviewMouseTracker::TrackingMode mode);
const char* toString(DockPreviewMouseTracker::MouseEvent::Kind kind);

class DockPreviewMouseTrackerDelegate {
 public:
  virtual ~DockPreviewMouseTrackerDelegate() = default;
  // mouseTracker(_:didReceive:); the names carry the labels, as a field of the
  // coordinator is called mouseTracker.
  virtual void mouseTrackerDidReceive(DockPreviewMouseTracker& tracker,
                                      const DockPreviewMouseTracker::MouseEvent& event) = 0;
  // mouseTracker(_:containsPoint:): whether the point (bottom-left screen
  // coordinates) lies over one of the program's own windows.
  virtual bool mouseTrackerContainsPoint(DockPreviewMouseTracker& tracker, CGPoint point) = 0;
};
