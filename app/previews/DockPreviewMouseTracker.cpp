#include "app/previews/DockPreviewMouseTracker.h"

#include "platform/appkit/NSRunningApplication.h"
#include "platform/concurrency/Task.h"
#include "platform/dispatch/Dispatch.h"

namespace {

bool isMouseDown(cgevent::CGEventType type) {
  return type == cgevent::kCGEventLeftMouseDown || type == cgevent::kCGEventRightMouseDown ||
         type == cgevent::kCGEventOtherMouseDown;
}

// How an optional string prints: Optional("text"), or nil.
std::string optionalText(const std::optional<std::string>& value) {
  return value ? "Optional(\"" + *value + "\")" : "nil";
}

}  // namespace

const char* toString(DockPreviewMouseTracker::TrackingMode mode) {
  switch (mode) {
    case DockPreviewMouseTracker::TrackingMode::disabled:
      return "disabled";
    case DockPreviewMouseTracker::TrackingMode::dockOnly:
      return "dockOnly";
    case DockPreviewMouseTracker::TrackingMode::entireScreen:
      return "entireScreen";
  }
  return "disabled";
}

const char* toString(DockPreviewMouseTracker::MouseEvent::Kind kind) {
  using Kind = DockPreviewMouseTracker::MouseEvent::Kind;
  switch (kind) {
    case Kind::movingOnDockIcon:
      return "movingOnDockIcon";
    case Kind::unknown:
      return "unknown";
    case Kind::movingOnScreen:
      return "movingOnScreen";
    case Kind::movingOnDockArea:
      return "movingOnDockArea";
    case Kind::mouseDownOnDock:
      return "mouseDownOnDock";
    case Kind::mouseDownOnScreen:
      return "mouseDownOnScreen";
  }
  return "unknown";
}

DockPreviewMouseTracker::~DockPreviewMouseTracker() {
  if (cgEventTapWrapper) cgEventTapWrapper->stop();
}

void DockPreviewMouseTracker::logTrackingMode(TrackingMode mode) const {
  log([mode] { return diagnostics::messages::trackingMode(toString(mode)); });
}

void DockPreviewMouseTracker::setTrackingMode(TrackingMode mode) {
  if (mode == trackingMode_) return;
  trackingMode_ = mode;
  logTrackingMode(mode);
  startTracking();
}

void DockPreviewMouseTracker::setDockController(std::shared_ptr<ApplicationController> controller) {
  const bool changed = controller != dockController_;
  dockController_ = std::move(controller);
  if (changed) startTracking();
}

void DockPreviewMouseTracker::startTracking() {
  if (cgEventTapWrapper) cgEventTapWrapper->stop();
  cgEventTapWrapper.reset();

  std::shared_ptr<CGEventTapWrapper> wrapper;
  switch (trackingMode_) {
    case TrackingMode::disabled:
      return;
    case TrackingMode::dockOnly:
      if (!dockController_) return;
      wrapper = CGEventTapWrapper::make(dockController_->runningApplication->processIdentifier());
      break;
    case TrackingMode::entireScreen:
      wrapper = CGEventTapWrapper::make(std::nullopt);
      break;
  }
  wrapper->delegate = weak_from_this();
  wrapper->start();
  // Kept even when it failed to start: inert until the next startTracking().
  cgEventTapWrapper = std::move(wrapper);
}

std::string DockPreviewMouseTracker::statusDescription() const {
  std::optional<std::string> bundleIdentifier;
  if (dockController_) bundleIdentifier = dockController_->runningApplication->bundleIdentifier();
  const std::string date = lastEventDate ? "Optional(" + lastEventDate->description() + ")" : "nil";
  std::optional<std::string> wrapperStatus;
  if (cgEventTapWrapper) {
    wrapperStatus = cgEventTapWrapper->pid ? "Optional(" + std::to_string(*cgEventTapWrapper->pid) + ")" : "nil";
  }
  return "MouseTracker (" + optionalText(bundleIdentifier) + " lastEventDate:" + date +
         " wrapperStatus:" + optionalText(wrapperStatus);
}

void DockPreviewMouseTracker::didReceive(const cgevent::CGEventRef& event, cgevent::CGEventType type) {
  lastEventDate = ns::Date(dispatch::wallNow());
  auto d = delegate.lock();
  if (d && !d->mouseTrackerContainsPoint(*this, cgevent::CGEventGetUnflippedLocation(event))) {
    // The Dock's process id is read here, on the main thread, where it is written.
    std::optional<pid_t> dockPid;
    if (dockController_) dockPid = dockController_->runningApplication->processIdentifier();
    std::weak_ptr<DockPreviewMouseTracker> weak = weak_from_this();
    const CGPoint location = cgevent::CGEventGetLocation(event);
    AXUIElementContext::shared().perform([weak, type, location, dockPid](AXUIElementContext::ControllerFactory&) {
      classify(weak, type, location, dockPid);
    });
    return;
  }
  if (isMouseDown(type)) log([] { return "ignored click"; });
}

void DockPreviewMouseTracker::classify(std::weak_ptr<DockPreviewMouseTracker> weak, cgevent::CGEventType type,
                                       CGPoint location, std::optional<pid_t> dockPid) {
  std::optional<AXUIElementWrapper> element = AXUIElementContext::shared().element(location);
  bool onDock = false;
  if (element) {
    const AXUIElementData data = AXUIElementController(element->element).data();
    // Both optional: an element whose process cannot be read counts as the
    // Dock's only while no Dock controller is known.
    onDock = data.pid == dockPid;
  }
  if (onDock) {
    if (isMouseDown(type)) {
      AXUIElementContext::returnToMain([weak] {
        auto self = weak.lock();
        if (!self) return;
        self->log([] { return "click on dock element"; });
        self->emit(MouseEvent::mouseDownOnDock());
      });
    } else if (type == cgevent::kCGEventMouseMoved) {
      AXUIElementWrapper found = *element;
      AXUIElementContext::returnToMain([weak, found] {
        if (auto self = weak.lock()) self->resolveDockElement(found);
      });
    }
    return;
  }
  if (isMouseDown(type)) {
    AXUIElementContext::returnToMain([weak] {
      auto self = weak.lock();
      if (!self) return;
      self->log([] { return "click on screen"; });
      self->emit(MouseEvent::mouseDownOnScreen());
    });
  } else if (type == cgevent::kCGEventMouseMoved) {
    AXUIElementContext::returnToMain([weak] {
      if (auto self = weak.lock()) self->emit(MouseEvent::movingOnScreen());
    });
  }
}

conc::Task<void> DockPreviewMouseTracker::resolveIn(std::weak_ptr<DockPreviewMouseTracker> weak,
                                                   AXUIElementWrapper element) {
  auto reading = element.getData();
  const AXUIElementData data = co_await std::move(reading);
  auto self = weak.lock();
  if (!self) co_return;
  if (data.subrole == kApplicationDockItemSubrole && data.url && data.title) {
    self->emit(MouseEvent::movingOnDockIcon(*data.url, *data.title, element));
  } else {
    self->emit(MouseEvent::movingOnDockArea());
  }
}

void DockPreviewMouseTracker::resolveDockElement(const AXUIElementWrapper& element) {
  conc::spawnOnMain(resolveIn(weak_from_this(), element));
}

void DockPreviewMouseTracker::emit(const MouseEvent& event) {
  if (auto d = delegate.lock()) d->mouseTrackerDidReceive(*this, event);
}
