#pragma once
// The simulated desktop: displays with their Spaces, running applications
// with their windows, the Dock with its items, the pointer and the
// permissions. It is the world the platform layer (Accessibility, the window
// server, AppKit's screens and workspace) reads and acts on.
//
// Coordinates: display frames, and everything the world stores, are in the
// bottom-left space of AppKit. Window and Dock frames are handed in and out
// in the top-left space of the Accessibility API, converted by the one
// conversion of Types.h (flipPoint) with the greatest display height.
//
// Thread safety: every member may be called from any thread. Mutators post
// what the real system would (Accessibility notifications, workspace and
// screen events) to the observers added with addObserver(), synchronously on
// the mutating thread after the world's lock is released; the platform layer
// forwards them to the main queue.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/foundation/ObserverToken.h"
#include "platform/foundation/Value.h"
#include "platform/image/Bitmap.h"
#include "platform/sim/Types.h"

namespace sim {

// ---------------------------------------------------------------- specs

// Height of every simulated window's title bar, where a press grabs the window.
inline constexpr double kTitleBarHeight = 28;

struct SpaceSpec {
  SpaceID id = 0;
  int type = kSpaceTypeUser;
};

struct DisplaySpec {
  std::optional<DisplayID> id{};  // assigned when absent
  std::optional<std::string> uuid{};  // made from the id when absent
  std::string name = "Display";
  CGRect frame{};                       // bottom-left
  std::optional<CGRect> visibleFrame{};  // default: the frame less a 25-point menu bar
  double scale = 1;
  std::vector<SpaceSpec> spaces{};  // a fresh user Space when empty
  std::optional<SpaceID> currentSpace{};  // the first Space when absent
  // Faults: CGDisplayCreateUUIDFromDisplayID fails; NSScreen's device
  // description lacks "NSScreenNumber"; the window server lists the display
  // under another identifier.
  bool uuidUnavailable = false;
  bool screenNumberUnavailable = false;
  std::optional<std::string> windowServerIdentifier{};
};

// A fault on one attribute: the read fails with `error`, or answers `value`
// (which may be of the wrong type). An error also fails writes and the
// settable query of that attribute.
struct AttributeFault {
  std::optional<std::int32_t> error{};
  std::optional<ns::Value> value{};
};

struct ApplicationFaults {
  // Every Accessibility call into the application fails with kCannotComplete
  // after charging `timeout` seconds.
  bool unresponsive = false;
  double timeout = 0;
  // Seconds charged for every answered call (a slow application).
  double responseDelay = 0;
  std::map<std::string, AttributeFault, std::less<>> applicationAttributes{};  // the application element
  std::map<std::string, AttributeFault, std::less<>> windowAttributes{};       // every window of it
  std::optional<std::int32_t> observerCreateError{};
  std::map<std::string, std::int32_t, std::less<>> notificationErrors{};
};

struct WindowSpec {
  std::optional<WindowID> id{};  // assigned when absent
  std::optional<std::string> title{};
  std::string role = "AXWindow";
  std::string subrole = "AXStandardWindow";
  CGRect frame{100, 100, 800, 600};  // top-left
  // Space memberships; empty: the current Space of the display that holds the
  // frame's centre (else the first display's).
  std::vector<SpaceID> spaces{};
  bool onAllSpaces = false;
  bool minimized = false;
  bool resizable = true;
  bool movable = true;
  std::optional<CGSize> minSize{};
  std::optional<CGSize> maxSize{};
  bool closeButton = true;
  bool minimizeButton = true;
  bool zoomButton = true;
  std::optional<img::Pixel> color{};  // of its captures; made from the id when absent
  bool focused = false;  // becomes the application's focused (and main) window
  bool main = false;
  std::map<std::string, AttributeFault, std::less<>> attributeFaults{};
  bool windowIDUnavailable = false;  // _AXUIElementGetWindow fails
  bool captureFails = false;         // the window server captures no image of it
};

struct ApplicationSpec {
  std::optional<pid_t> pid{};  // assigned when absent
  std::optional<std::string> bundleIdentifier{};
  std::optional<std::string> bundleURL{};  // absolute URL text
  std::optional<std::string> name{};
  ActivationPolicy activationPolicy = ActivationPolicy::Regular;
  bool hidden = false;
  std::vector<WindowSpec> windows{};
  ApplicationFaults faults{};
};

struct DockItemSpec {
  std::string subrole = "AXApplicationDockItem";
  std::optional<std::string> title{};
  std::optional<std::string> url{};
  CGRect frame{};  // top-left
};

struct DockSpec {
  std::optional<pid_t> pid{};
  std::string bundleIdentifier = "com.apple.dock";
  std::string bundleURL = "file:///System/Library/CoreServices/Dock.app/";
  std::string name = "Dock";
  CGRect frame{};  // top-left: the Dock's whole strip
  std::vector<DockItemSpec> items{};
  ApplicationFaults faults{};
};

// The version of the system the program runs on. The desktop is a current
// system (14.0) unless a test or a scenario makes it an older one.
struct OperatingSystemVersion {
  long majorVersion = 14;
  long minorVersion = 0;
  long patchVersion = 0;
  friend bool operator==(const OperatingSystemVersion&, const OperatingSystemVersion&) = default;
};

// One of this program's own windows, as the AppKit layer reports them.
struct OwnWindow {
  std::uint32_t windowNumber = 0;
  CGRect frame{};  // bottom-left, as AppKit keeps window frames
  bool visible = true;
  std::string title{};
  std::string subrole = "AXStandardWindow";
};

// ---------------------------------------------------------------- snapshots

struct SpaceInfo {
  SpaceID id = 0;
  int type = kSpaceTypeUser;
  DisplayID display = 0;
  bool isCurrent = false;
};

struct DisplayInfo {
  DisplayID id = 0;
  std::optional<std::string> uuid;  // absent under the uuidUnavailable fault
  std::string windowServerIdentifier;
  std::string name;
  CGRect frame;         // bottom-left
  CGRect visibleFrame;  // bottom-left
  double scale = 1;
  std::vector<SpaceInfo> spaces;
  SpaceID currentSpace = 0;
  bool hasScreenNumber = true;
};

struct ApplicationInfo {
  std::uint64_t serial = 0;  // one per launch; never reused
  pid_t pid = 0;
  std::optional<std::string> bundleIdentifier;
  std::optional<ns::URL> bundleURL;
  std::optional<std::string> name;
  ActivationPolicy activationPolicy = ActivationPolicy::Regular;
  bool hidden = false;
  bool terminated = false;
  bool isSelf = false;
  bool isDock = false;
  std::size_t launchOrder = 0;
  double launchDate = 0;  // seconds since 1970
  std::vector<WindowID> windows;  // creation order
  std::optional<WindowID> focusedWindow;
  std::optional<WindowID> mainWindow;
};

struct WindowInfo {
  WindowID id = 0;
  pid_t pid = 0;
  std::optional<std::string> title;
  std::string role;
  std::string subrole;
  CGRect frame;    // top-left
  CGRect frameBL;  // bottom-left
  std::vector<SpaceID> spaces;
  bool onAllSpaces = false;
  bool minimized = false;
  bool resizable = true;
  bool movable = true;
  std::optional<CGSize> minSize;
  std::optional<CGSize> maxSize;
  bool closeButton = true;
  img::Pixel color;
  bool onScreen = false;             // drawn: on a current Space, not minimized, application not hidden
  bool visibleToAccessibility = false;  // on a current Space, or minimized
};

struct DockItemInfo {
  std::uint64_t id = 0;
  std::string subrole;
  std::optional<std::string> title;
  std::optional<ns::URL> url;
  CGRect frame;  // top-left
};

// ---------------------------------------------------------------- events

struct Event {
  enum class Kind {
    AccessibilityNotification,  // element, notification
    ApplicationLaunched,
    ApplicationTerminated,
    ApplicationActivated,  // the frontmost application changed (pid: the new one, 0 for none)
    ApplicationHidden,
    ApplicationUnhidden,
    ActiveSpaceChanged,
    ScreenParametersChanged,
    WillSleep,
    DidWake,
    WorldReset,
  };
  Kind kind = Kind::WorldReset;
  pid_t pid = 0;
  std::uint64_t serial = 0;  // the application's launch serial, where there is one
  ElementID element;
  std::string notification;
};

// One Accessibility call as the call hook sees it, before it is answered.
struct AccessibilityCall {
  enum class Kind { CopyAttribute, SetAttribute, IsSettable, PerformAction, GetWindow, HitTest };
  Kind kind = Kind::CopyAttribute;
  ElementID element;
  std::string name;  // attribute or action
};

// ---------------------------------------------------------------- the world

class World {
 public:
  static World& shared();

  // An empty world: no displays, no applications but this program's own
  // process, both permissions granted, no faults. Observers stay.
  void reset();
  // Bumped by every reset.
  std::uint64_t epoch() const;

  // -------- displays and Spaces
  DisplayID addDisplay(const DisplaySpec& spec);
  // Its Spaces move to the first remaining display (not current there); its
  // windows move onto that display's visible frame.
  bool removeDisplay(DisplayID id);
  bool setDisplayFrames(DisplayID id, const CGRect& frame, std::optional<CGRect> visibleFrame = std::nullopt);
  std::optional<SpaceID> addSpace(DisplayID display, int type = kSpaceTypeUser);
  // Makes the Space current on its display.
  bool switchToSpace(SpaceID space);
  std::vector<DisplayInfo> displays() const;  // in NSScreen order (the first is the primary)
  std::optional<DisplayInfo> display(DisplayID id) const;
  // The order in which the window server lists the displays; the NSScreen
  // order unless set. Unknown ids are ignored, unlisted displays follow.
  void setWindowServerDisplayOrder(std::vector<DisplayID> order);
  // Bumped by every change of displays (frames, added, removed).
  std::uint64_t screenConfigurationGeneration() const;
  std::vector<SpaceID> currentSpaces() const;
  // The display that holds the keyboard focus: the one under the frontmost
  // application's focused window, else the first.
  std::optional<DisplayID> keyDisplay() const;

  // The one conversion between bottom-left and top-left coordinates.
  CGPoint flippedPoint(CGPoint p) const;
  CGRect flippedRect(const CGRect& r) const;
  double referenceHeight() const;

  // -------- applications
  pid_t launchApplication(const ApplicationSpec& spec);
  bool terminateApplication(pid_t pid);
  // Makes it frontmost (unhiding it) and brings its windows forward.
  bool activateApplication(pid_t pid);
  bool setApplicationHidden(pid_t pid, bool hidden);
  bool setActivationPolicy(pid_t pid, ActivationPolicy policy);
  bool setApplicationFaults(pid_t pid, const ApplicationFaults& faults);
  std::vector<ApplicationInfo> runningApplications() const;  // launch order
  std::optional<ApplicationInfo> application(pid_t pid) const;  // running only
  std::optional<ApplicationInfo> applicationBySerial(std::uint64_t serial) const;  // terminated too
  std::optional<pid_t> frontmostApplication() const;
  // Marks the application frontmost without touching the window order.
  bool setFrontmostApplication(std::optional<pid_t> pid);
  pid_t selfPid() const;
  // Replaces this program's own process (reset makes one from the main bundle).
  void setSelf(const ApplicationSpec& spec);

  // -------- windows
  std::optional<WindowID> createWindow(pid_t pid, const WindowSpec& spec);
  bool closeWindow(WindowID id);
  bool setWindowFrame(WindowID id, const CGRect& topLeftFrame);
  bool setWindowTitle(WindowID id, std::optional<std::string> title);
  bool setWindowMinimized(WindowID id, bool minimized);
  bool raiseWindow(WindowID id);
  bool focusWindow(WindowID id);
  bool setWindowSpaces(WindowID id, std::vector<SpaceID> spaces, bool onAllSpaces = false);
  bool setWindowAttributeFault(WindowID id, const std::string& attribute, std::optional<AttributeFault> fault);
  std::optional<WindowInfo> window(WindowID id) const;
  std::vector<WindowID> zOrder() const;  // front to back
  // Puts the listed windows in front, in that order; the others keep their
  // order behind them.
  void setZOrder(const std::vector<WindowID>& front);

  // -------- the Dock
  void setDock(const DockSpec& spec);
  std::optional<pid_t> dockPid() const;
  std::vector<DockItemInfo> dockItems() const;

  // -------- pointer
  CGPoint mouseLocation() const;  // bottom-left, as NSEvent reports it
  CGPoint mouseLocationTopLeft() const;
  void setMouseLocationTopLeft(CGPoint p);

  // -------- permissions
  bool isAccessibilityTrusted() const;
  void setAccessibilityTrusted(bool trusted);
  // AXIsProcessTrustedWithOptions with the prompt option set.
  void recordAccessibilityPrompt();
  int accessibilityPromptCount() const;
  bool isScreenCaptureAllowed() const;
  void setScreenCaptureAllowed(bool allowed);
  void recordScreenCaptureRequest();
  int screenCaptureRequestCount() const;

  // -------- the system's version (reset restores the default)
  OperatingSystemVersion operatingSystemVersion() const;
  void setOperatingSystemVersion(const OperatingSystemVersion& version);

  // -------- sleep
  void sleep();
  void wake();

  // -------- workspace
  // NSWorkspace openURL: activates the running application with that bundle
  // URL; every URL is recorded.
  bool openURL(const ns::URL& url);
  std::vector<ns::URL> openedURLs() const;

  // -------- faults
  // Element hashes fall into this many buckets (1: every element hashes alike).
  void setHashBuckets(std::optional<std::uint64_t> buckets);
  void setCopySpacesFails(bool fails);
  void setManagedDisplaySpacesFails(bool fails);
  // Applied to the managed display list before it is handed out, to inject
  // malformed entries.
  void setManagedDisplaySpacesTransform(std::function<ns::Value(ns::Value)> transform);
  // Called before every Accessibility call, outside the world's lock; it may
  // change the world (for example close the window being read).
  void setAccessibilityCallHook(std::function<void(const AccessibilityCall&)> hook);

  // -------- this program's own windows
  // The AppKit layer registers the list of the program's windows, front to
  // back. Hit tests give them first.
  void setOwnWindowsProvider(std::function<std::vector<OwnWindow>()> provider);

  // -------- events
  ns::ObserverToken addObserver(std::function<void(const Event&)> observer);
  // While suppressed, mutators post nothing (a scenario is being loaded).
  void setEventsSuppressed(bool suppressed);
  // Posts an Accessibility notification as the application would.
  void postAccessibilityNotification(const ElementID& element, std::string notification);

  // -------- the Accessibility API's side (see platform/accessibility)
  std::int32_t copyAttributeValue(const ElementID& element, std::string_view attribute, ns::Value* value);
  std::int32_t copyAttributeNames(const ElementID& element, std::vector<std::string>* names);
  std::int32_t setAttributeValue(const ElementID& element, std::string_view attribute, const ns::Value& value);
  std::int32_t isAttributeSettable(const ElementID& element, std::string_view attribute, bool* settable);
  std::int32_t performAction(const ElementID& element, std::string_view action);
  std::int32_t copyActionNames(const ElementID& element, std::vector<std::string>* names);
  std::int32_t getPid(const ElementID& element, pid_t* pid);
  std::int32_t getWindow(const ElementID& element, WindowID* window);
  // The element at a top-left point, searched from `root` (system-wide or an
  // application): this program's windows, the Dock, then the other windows
  // front to back.
  std::int32_t elementAtPosition(const ElementID& root, double x, double y, ElementID* element);
  // The process whose window (or Dock) is under a top-left point, in the hit
  // test's order; for event taps on one process. Costs no Accessibility call.
  std::optional<pid_t> processAtPoint(CGPoint topLeft);
  std::uint64_t hashOf(const ElementID& element) const;
  std::int32_t checkObserverCreate(pid_t pid);
  std::int32_t checkAddNotification(const ElementID& element, std::string_view notification);

  // -------- the window server's side (see platform/windowserver)
  // Connection ids are process ids; the main connection is this program's.
  bool isValidConnection(int connection) const;
  std::optional<ns::Value> managedDisplaySpaces();
  std::optional<ns::Value> copySpaces(int mask);
  std::optional<ns::Value> copySpacesForWindows(int mask, const std::vector<WindowID>& windows);
  std::optional<ns::Value> copyWindowsOnSpaces(int owner, const std::vector<SpaceID>& spaces, std::uint32_t options);
  bool addWindowsToSpaces(const std::vector<WindowID>& windows, const std::vector<SpaceID>& spaces);
  bool removeWindowsFromSpaces(const std::vector<WindowID>& windows, const std::vector<SpaceID>& spaces);
  // Pixel sizes, width then height.
  using PixelSize = std::pair<int, int>;
  // Solid images of the windows that exist and can be captured. With `fit`,
  // each is made scaled down to fit that many pixels each way (never
  // enlarged); `fullSizes` then receives each image's size before scaling.
  std::optional<std::vector<std::shared_ptr<const img::Bitmap>>> captureWindows(
      const std::vector<WindowID>& windows, std::uint32_t options, std::optional<PixelSize> fit = std::nullopt,
      std::vector<PixelSize>* fullSizes = nullptr);
  std::optional<std::string> displayUUID(DisplayID display) const;

  struct State;

 private:
  World();
  template <class F>
  auto mutate(F&& f);
  void deliver(std::vector<Event>& events);
  void callHook(AccessibilityCall::Kind kind, const ElementID& element, std::string_view name);
  std::vector<OwnWindow> ownWindows();

  std::unique_ptr<State> state_;
};

// Space masks of copySpaces and copySpacesForWindows: the current Spaces,
// the other Spaces, and only the Spaces a user sees (user and fullscreen).
inline constexpr int kSpaceMaskCurrent = 1;
inline constexpr int kSpaceMaskOthers = 2;
inline constexpr int kSpaceMaskUser = 4;
// Window option of copyWindowsOnSpaces: also the windows that are not drawn
// (minimized, or of a hidden application).
inline constexpr std::uint32_t kWindowOptionIncludeOffscreen = 2;
// Capture option: one pixel per point instead of the display's scale.
inline constexpr std::uint32_t kCaptureNominalResolution = 1u << 9;

}  // namespace sim
