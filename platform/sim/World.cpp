#include "platform/sim/World.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <unordered_set>

#include "platform/foundation/Bundle.h"
#include "platform/sim/CostMeter.h"

namespace sim {

namespace {

constexpr double kMenuBarHeight = 25;
constexpr pid_t kDefaultSelfPid = 100;

struct Display {
  DisplayID id = 0;
  std::string uuid;
  bool uuidUnavailable = false;
  std::optional<std::string> windowServerIdentifier;
  std::string name;
  CGRect frame;
  CGRect visibleFrame;
  double scale = 1;
  std::vector<SpaceID> spaces;
  SpaceID current = 0;
  bool hasScreenNumber = true;
};

struct Space {
  SpaceID id = 0;
  int type = kSpaceTypeUser;
  DisplayID display = 0;
};

struct Window {
  WindowID id = 0;
  pid_t pid = 0;
  std::optional<std::string> title;
  std::string role;
  std::string subrole;
  CGRect frame;  // bottom-left
  std::set<SpaceID> spaces;
  bool onAllSpaces = false;
  bool minimized = false;
  bool resizable = true;
  bool movable = true;
  std::optional<CGSize> minSize;
  std::optional<CGSize> maxSize;
  bool closeButton = true;
  bool minimizeButton = true;
  bool zoomButton = true;
  img::Pixel color;
  std::map<std::string, AttributeFault, std::less<>> faults;
  bool windowIDUnavailable = false;
  bool captureFails = false;
  std::optional<CGRect> zoomRestore;  // bottom-left
};

struct App {
  std::uint64_t serial = 0;
  pid_t pid = 0;
  std::optional<std::string> bundleIdentifier;
  std::optional<ns::URL> bundleURL;
  std::optional<std::string> name;
  ActivationPolicy policy = ActivationPolicy::Regular;
  bool hidden = false;
  bool terminated = false;
  bool isSelf = false;
  bool isDock = false;
  std::size_t launchOrder = 0;
  double launchDate = 0;
  std::vector<WindowID> windows;
  std::optional<WindowID> focused;
  std::optional<WindowID> main;
  ApplicationFaults faults;
};

struct DockItem {
  std::uint64_t id = 0;
  std::string subrole;
  std::optional<std::string> title;
  std::optional<ns::URL> url;
  CGRect frame;  // bottom-left
};

struct Dock {
  pid_t pid = 0;
  CGRect frame;  // bottom-left
  std::vector<DockItem> items;
};

img::Pixel colorFor(WindowID id) {
  static constexpr img::Pixel palette[] = {
      {0x3B, 0x6E, 0xC8, 0xFF}, {0xD9, 0x5B, 0x43, 0xFF}, {0x4C, 0xA6, 0x6A, 0xFF}, {0xE0, 0xB0, 0x3A, 0xFF},
      {0x8E, 0x5C, 0xC2, 0xFF}, {0x3A, 0xA8, 0xB8, 0xFF}, {0xC2, 0x4E, 0x8A, 0xFF}, {0x7A, 0x7A, 0x7A, 0xFF},
  };
  return palette[id % (sizeof palette / sizeof palette[0])];
}

std::optional<ns::URL> parseURL(const std::optional<std::string>& text) {
  if (!text) return std::nullopt;
  return ns::URL::URLWithString(*text);
}

std::string uuidFor(DisplayID id) {
  char buffer[40];
  std::snprintf(buffer, sizeof buffer, "%08X-0000-4000-8000-%012X", 0x5D15D000u + id, id);
  return buffer;
}

std::optional<bool> boolFrom(const ns::Value& v) {
  if (!v.isNumber()) return std::nullopt;
  return v.asBool();
}

std::shared_ptr<const AXValueObject> axValueFrom(const ns::Value& v, AXValueType type) {
  auto object = v.objectAs<AXValueObject>();
  if (!object || object->type != type) return nullptr;
  return object;
}

std::string roleDescription(const std::string& subrole) {
  if (subrole == "AXDialog" || subrole == "AXSystemDialog") return "dialog";
  if (subrole == "AXFloatingWindow" || subrole == "AXSystemFloatingWindow") return "floating window";
  if (subrole == "AXStandardWindow") return "standard window";
  return "window";
}

std::string dockRoleDescription(const std::string& subrole) {
  if (subrole == "AXApplicationDockItem") return "application dock item";
  if (subrole == "AXFolderDockItem") return "folder dock item";
  if (subrole == "AXTrashDockItem") return "trash dock item";
  if (subrole == "AXSeparatorDockItem") return "separator dock item";
  if (subrole == "AXMinimizedWindowDockItem") return "minimized window dock item";
  return "dock item";
}

}  // namespace

struct World::State {
  mutable std::mutex mutex;
  std::uint64_t epoch = 0;
  std::uint64_t screenGeneration = 0;

  std::vector<Display> displays;
  std::vector<DisplayID> wsOrder;
  std::map<SpaceID, Space> spaces;
  std::map<pid_t, App> apps;
  std::vector<pid_t> launchOrder;
  std::map<std::uint64_t, App> terminated;
  std::unordered_map<WindowID, Window> windows;
  std::vector<WindowID> zOrder;  // front to back
  std::optional<pid_t> frontmost;
  pid_t selfPid = kDefaultSelfPid;
  std::optional<Dock> dock;
  CGPoint mouse;  // bottom-left

  bool trusted = true;
  bool captureAllowed = true;
  OperatingSystemVersion osVersion;
  int prompts = 0;
  int captureRequests = 0;
  std::vector<ns::URL> opened;

  std::optional<std::uint64_t> hashBuckets;
  bool copySpacesFails = false;
  bool managedFails = false;

  WindowID nextWindow = 1;
  pid_t nextPid = 500;
  SpaceID nextSpace = 1;
  DisplayID nextDisplay = 1;
  std::uint64_t nextSerial = 1;
  std::uint64_t nextDockItem = 1;
  std::size_t nextLaunchOrder = 0;
  double clock = 1'700'000'000;  // launch dates: seconds since 1970, one per launch

  std::vector<Event> outbox;
  bool quiet = false;

  std::mutex listenersMutex;
  using Listener = ns::detail::Registration<std::function<void(const Event&)>>;
  std::vector<std::shared_ptr<Listener>> listeners;

  std::mutex hooksMutex;
  std::function<void(const AccessibilityCall&)> callHook;
  std::function<std::vector<OwnWindow>()> ownWindowsProvider;
  std::function<ns::Value(ns::Value)> managedTransform;

  // ------------------------------------------------ lookups (lock held)

  double refHeight() const {
    double h = 0;
    for (const auto& d : displays) h = std::max(h, d.frame.height());
    return h;
  }
  CGRect toBL(const CGRect& tl) const { return flipRect(tl, refHeight()); }
  CGRect toTL(const CGRect& bl) const { return flipRect(bl, refHeight()); }

  Display* display(DisplayID id) {
    for (auto& d : displays)
      if (d.id == id) return &d;
    return nullptr;
  }
  const Display* display(DisplayID id) const { return const_cast<State*>(this)->display(id); }

  // The display whose frame holds the point, else the nearest one, else none.
  const Display* displayAt(CGPoint bl) const {
    const Display* best = nullptr;
    double bestDistance = INFINITY;
    for (const auto& d : displays) {
      if (d.frame.contains(bl)) return &d;
      const double dx = std::max({d.frame.minX() - bl.x, 0.0, bl.x - d.frame.maxX()});
      const double dy = std::max({d.frame.minY() - bl.y, 0.0, bl.y - d.frame.maxY()});
      const double distance = dx * dx + dy * dy;
      if (distance < bestDistance) {
        bestDistance = distance;
        best = &d;
      }
    }
    return best;
  }
  const Display* displayOf(const Window& w) const {
    return displayAt(CGPoint{w.frame.midX(), w.frame.midY()});
  }

  bool isCurrent(SpaceID id) const {
    auto it = spaces.find(id);
    if (it == spaces.end()) return false;
    const Display* d = display(it->second.display);
    return d && d->current == id;
  }
  bool onCurrentSpace(const Window& w) const {
    if (w.onAllSpaces) return !displays.empty();
    return std::any_of(w.spaces.begin(), w.spaces.end(), [&](SpaceID s) { return isCurrent(s); });
  }
  App* app(pid_t pid) {
    auto it = apps.find(pid);
    return it == apps.end() ? nullptr : &it->second;
  }
  const App* app(pid_t pid) const { return const_cast<State*>(this)->app(pid); }
  Window* window(WindowID id) {
    auto it = windows.find(id);
    return it == windows.end() ? nullptr : &it->second;
  }
  const Window* window(WindowID id) const { return const_cast<State*>(this)->window(id); }

  bool visibleToAX(const Window& w) const { return w.minimized || onCurrentSpace(w); }
  bool onScreen(const Window& w) const {
    const App* a = app(w.pid);
    return a && !a->hidden && !w.minimized && onCurrentSpace(w);
  }
  bool dockRunning() const { return dock && apps.count(dock->pid); }

  std::vector<SpaceID> allSpacesInOrder() const {
    std::vector<SpaceID> out;
    for (DisplayID id : windowServerOrder()) {
      if (const Display* d = display(id)) out.insert(out.end(), d->spaces.begin(), d->spaces.end());
    }
    return out;
  }
  std::vector<DisplayID> windowServerOrder() const {
    std::vector<DisplayID> out;
    for (DisplayID id : wsOrder)
      if (display(id) && std::find(out.begin(), out.end(), id) == out.end()) out.push_back(id);
    for (const auto& d : displays)
      if (std::find(out.begin(), out.end(), d.id) == out.end()) out.push_back(d.id);
    return out;
  }

  // ------------------------------------------------ events (lock held)

  void post(Event::Kind kind, pid_t pid = 0) {
    Event e;
    e.kind = kind;
    e.pid = pid;
    if (const App* a = app(pid)) e.serial = a->serial;
    outbox.push_back(std::move(e));
  }
  void postAX(const ElementID& element, std::string name) {
    Event e;
    e.kind = Event::Kind::AccessibilityNotification;
    e.pid = element.pid;
    e.element = element;
    e.notification = std::move(name);
    outbox.push_back(std::move(e));
  }
  static ElementID windowElement(const Window& w) { return ElementID{w.pid, ElementKind::Window, w.id}; }
  static ElementID appElement(pid_t pid) { return ElementID{pid, ElementKind::Application, 0}; }

  // ------------------------------------------------ windows (lock held)

  void bringToFront(WindowID id) {
    std::erase(zOrder, id);
    zOrder.insert(zOrder.begin(), id);
  }

  void setFocus(App& a, std::optional<WindowID> id) {
    if (a.main != id) {
      a.main = id;
      if (id) postAX(windowElement(windows.at(*id)), "AXMainWindowChanged");
    }
    if (a.focused != id) {
      a.focused = id;
      if (id) postAX(windowElement(windows.at(*id)), "AXFocusedWindowChanged");
    }
  }

  // After the focused window went away: the application's frontmost window
  // that can take focus.
  void refocus(App& a) {
    for (WindowID id : zOrder) {
      const Window* w = window(id);
      if (w && w->pid == a.pid && !w->minimized && onCurrentSpace(*w)) {
        setFocus(a, id);
        return;
      }
    }
    a.focused.reset();
    a.main.reset();
  }

  SpaceID defaultSpaceFor(const CGRect& bl) const {
    const Display* d = displayAt(CGPoint{bl.midX(), bl.midY()});
    if (!d && !displays.empty()) d = &displays.front();
    return d ? d->current : 0;
  }

  enum class Placement { Front, Back, AboveOwnWindows };

  std::optional<WindowID> createWindow(App& a, const WindowSpec& spec, Placement placement) {
    WindowID id = spec.id.value_or(nextWindow);
    if (id == 0 || windows.count(id)) return std::nullopt;
    nextWindow = std::max(nextWindow, id + 1);
    Window w;
    w.id = id;
    w.pid = a.pid;
    w.title = spec.title;
    w.role = spec.role;
    w.subrole = spec.subrole;
    w.frame = toBL(spec.frame);
    for (SpaceID s : spec.spaces)
      if (spaces.count(s)) w.spaces.insert(s);
    w.onAllSpaces = spec.onAllSpaces;
    if (w.spaces.empty() && !w.onAllSpaces) {
      if (SpaceID s = defaultSpaceFor(w.frame)) w.spaces.insert(s);
    }
    w.minimized = spec.minimized;
    w.resizable = spec.resizable;
    w.movable = spec.movable;
    w.minSize = spec.minSize;
    w.maxSize = spec.maxSize;
    w.closeButton = spec.closeButton;
    w.minimizeButton = spec.minimizeButton;
    w.zoomButton = spec.zoomButton;
    w.color = spec.color.value_or(colorFor(id));
    w.faults = spec.attributeFaults;
    w.windowIDUnavailable = spec.windowIDUnavailable;
    w.captureFails = spec.captureFails;
    windows.emplace(id, w);
    a.windows.push_back(id);

    switch (placement) {
      case Placement::Front: zOrder.insert(zOrder.begin(), id); break;
      case Placement::Back: zOrder.push_back(id); break;
      case Placement::AboveOwnWindows: {
        auto it = std::find_if(zOrder.begin(), zOrder.end(), [&](WindowID other) {
          const Window* o = window(other);
          return o && o->pid == a.pid;
        });
        if (it == zOrder.end()) {
          // Behind the frontmost application's windows.
          it = std::find_if(zOrder.begin(), zOrder.end(), [&](WindowID other) {
            const Window* o = window(other);
            return o && (!frontmost || o->pid != *frontmost);
          });
        }
        zOrder.insert(it, id);
        break;
      }
    }
    postAX(windowElement(w), "AXWindowCreated");
    if ((spec.focused || spec.main) && !w.minimized) setFocus(a, id);
    return id;
  }

  void destroyWindow(WindowID id) {
    Window* w = window(id);
    if (!w) return;
    const Window copy = *w;
    App* a = app(copy.pid);
    windows.erase(id);
    std::erase(zOrder, id);
    postAX(windowElement(copy), "AXUIElementDestroyed");
    if (a) {
      std::erase(a->windows, id);
      if (a->focused == id || a->main == id) {
        if (a->main == id) a->main.reset();
        if (a->focused == id) a->focused.reset();
        refocus(*a);
      }
    }
  }

  void setMinimized(Window& w, bool minimized) {
    if (w.minimized == minimized) return;
    w.minimized = minimized;
    App* a = app(w.pid);
    if (minimized) {
      postAX(windowElement(w), "AXWindowMiniaturized");
      if (a && (a->focused == w.id || a->main == w.id)) {
        if (a->focused == w.id) a->focused.reset();
        if (a->main == w.id) a->main.reset();
        refocus(*a);
      }
    } else {
      bringToFront(w.id);
      postAX(windowElement(w), "AXWindowDeminiaturized");
      if (a) setFocus(*a, w.id);
    }
  }

  void raise(Window& w) {
    if (w.minimized) return;
    bringToFront(w.id);
    if (App* a = app(w.pid)) setFocus(*a, w.id);
  }

  // Keeps the title bar below the menu bar of the display it lands on.
  void keepBelowMenuBar(Window& w) {
    const CGPoint top{w.frame.midX(), w.frame.maxY() - 1};
    for (const auto& d : displays) {
      if (!d.frame.contains(top)) continue;
      if (d.visibleFrame.maxY() < d.frame.maxY() && w.frame.maxY() > d.visibleFrame.maxY()) {
        w.frame.origin.y -= w.frame.maxY() - d.visibleFrame.maxY();
      }
      return;
    }
  }

  void setTopLeftOrigin(Window& w, CGPoint tl) {
    const CGRect old = w.frame;
    CGRect t = toTL(w.frame);
    t.origin = tl;
    w.frame = toBL(t);
    keepBelowMenuBar(w);
    if (!(w.frame == old)) postAX(windowElement(w), "AXWindowMoved");
  }

  void setSizeKeepingTop(Window& w, CGSize size) {
    if (w.minSize) {
      size.width = std::max(size.width, w.minSize->width);
      size.height = std::max(size.height, w.minSize->height);
    }
    if (w.maxSize) {
      size.width = std::min(size.width, w.maxSize->width);
      size.height = std::min(size.height, w.maxSize->height);
    }
    size.width = std::max(size.width, 1.0);
    size.height = std::max(size.height, 1.0);
    const CGRect old = w.frame;
    const double top = w.frame.maxY();
    w.frame.size = size;
    w.frame.origin.y = top - size.height;
    if (!(w.frame == old)) postAX(windowElement(w), "AXWindowResized");
  }

  // ------------------------------------------------ applications (lock held)

  void activate(pid_t pid) {
    App* a = app(pid);
    if (!a) return;
    if (a->hidden) unhide(*a);
    // Its windows come forward, keeping their order among themselves.
    std::vector<WindowID> mine;
    std::vector<WindowID> others;
    for (WindowID id : zOrder) {
      const Window* w = window(id);
      (w && w->pid == pid && !w->minimized ? mine : others).push_back(id);
    }
    mine.insert(mine.end(), others.begin(), others.end());
    zOrder = std::move(mine);
    if (frontmost == pid) return;
    const std::optional<pid_t> previous = frontmost;
    frontmost = pid;
    if (previous && app(*previous)) postAX(appElement(*previous), "AXApplicationDeactivated");
    postAX(appElement(pid), "AXApplicationActivated");
    post(Event::Kind::ApplicationActivated, pid);
  }

  // The application behind the one that stops being frontmost.
  void passFrontmost(pid_t leaving) {
    std::optional<pid_t> next;
    for (WindowID id : zOrder) {
      const Window* w = window(id);
      if (w && w->pid != leaving && onScreen(*w)) {
        const App* a = app(w->pid);
        if (a && a->policy == ActivationPolicy::Regular) {
          next = w->pid;
          break;
        }
      }
    }
    frontmost = next;
    if (next) postAX(appElement(*next), "AXApplicationActivated");
    post(Event::Kind::ApplicationActivated, next.value_or(0));
  }

  void hide(App& a) {
    if (a.hidden) return;
    a.hidden = true;
    postAX(appElement(a.pid), "AXApplicationHidden");
    post(Event::Kind::ApplicationHidden, a.pid);
    if (frontmost == a.pid) passFrontmost(a.pid);
  }

  void unhide(App& a) {
    if (!a.hidden) return;
    a.hidden = false;
    postAX(appElement(a.pid), "AXApplicationShown");
    post(Event::Kind::ApplicationUnhidden, a.pid);
  }

  pid_t launch(const ApplicationSpec& spec, Placement placement, bool isSelf) {
    pid_t pid = spec.pid.value_or(nextPid);
    if (pid <= 0 || apps.count(pid)) return 0;
    nextPid = std::max(nextPid, pid + 1);
    App a;
    a.serial = nextSerial++;
    a.pid = pid;
    a.bundleIdentifier = spec.bundleIdentifier;
    a.bundleURL = parseURL(spec.bundleURL);
    a.name = spec.name;
    a.policy = spec.activationPolicy;
    a.hidden = spec.hidden;
    a.isSelf = isSelf;
    a.launchOrder = nextLaunchOrder++;
    a.launchDate = clock;
    clock += 1;
    a.faults = spec.faults;
    if (dock && spec.bundleIdentifier && *spec.bundleIdentifier == "com.apple.dock" && !apps.count(dock->pid)) {
      dock->pid = pid;
      a.isDock = true;
    }
    App& stored = apps.emplace(pid, std::move(a)).first->second;
    launchOrder.push_back(pid);
    post(Event::Kind::ApplicationLaunched, pid);
    const std::size_t before = zOrder.size();
    for (const auto& w : spec.windows) createWindow(stored, w, Placement::Back);
    if (placement == Placement::Front) {
      // The new windows, appended in creation order, come in front, the first
      // of them frontmost; a rotation keeps adding applications linear.
      std::rotate(zOrder.begin(), zOrder.begin() + static_cast<std::ptrdiff_t>(before), zOrder.end());
    }
    if (!stored.focused) {
      // Its windows stand in creation order in either placement.
      for (WindowID id : stored.windows) {
        if (!window(id)->minimized) {
          setFocus(stored, id);
          break;
        }
      }
    }
    return pid;
  }

  bool terminate(pid_t pid) {
    App* a = app(pid);
    if (!a || a->isSelf) return false;
    for (WindowID id : std::vector<WindowID>(a->windows)) destroyWindow(id);
    a = app(pid);
    App record = std::move(*a);
    record.terminated = true;
    record.focused.reset();
    record.main.reset();
    Event e;
    e.kind = Event::Kind::ApplicationTerminated;
    e.pid = pid;
    e.serial = record.serial;
    terminated.emplace(record.serial, std::move(record));
    apps.erase(pid);
    std::erase(launchOrder, pid);
    outbox.push_back(std::move(e));
    if (frontmost == pid) passFrontmost(pid);
    return true;
  }

  ApplicationInfo info(const App& a) const {
    ApplicationInfo i;
    i.serial = a.serial;
    i.pid = a.pid;
    i.bundleIdentifier = a.bundleIdentifier;
    i.bundleURL = a.bundleURL;
    i.name = a.name;
    i.activationPolicy = a.policy;
    i.hidden = a.hidden;
    i.terminated = a.terminated;
    i.isSelf = a.isSelf;
    i.isDock = a.isDock;
    i.launchOrder = a.launchOrder;
    i.launchDate = a.launchDate;
    i.windows = a.windows;
    i.focusedWindow = a.focused;
    i.mainWindow = a.main;
    return i;
  }

  WindowInfo info(const Window& w) const {
    WindowInfo i;
    i.id = w.id;
    i.pid = w.pid;
    i.title = w.title;
    i.role = w.role;
    i.subrole = w.subrole;
    i.frameBL = w.frame;
    i.frame = toTL(w.frame);
    i.spaces.assign(w.spaces.begin(), w.spaces.end());
    i.onAllSpaces = w.onAllSpaces;
    i.minimized = w.minimized;
    i.resizable = w.resizable;
    i.movable = w.movable;
    i.minSize = w.minSize;
    i.maxSize = w.maxSize;
    i.closeButton = w.closeButton;
    i.color = w.color;
    i.onScreen = onScreen(w);
    i.visibleToAccessibility = visibleToAX(w);
    return i;
  }

  // ------------------------------------------------ displays (lock held)

  std::optional<DisplayID> addDisplay(const DisplaySpec& spec) {
    DisplayID id = spec.id.value_or(nextDisplay);
    if (id == 0 || display(id)) return std::nullopt;
    for (const auto& s : spec.spaces)
      if (spaces.count(s.id)) return std::nullopt;
    nextDisplay = std::max(nextDisplay, id + 1);
    Display d;
    d.id = id;
    d.uuid = spec.uuid.value_or(uuidFor(id));
    if (auto parsed = ns::UUID::fromString(d.uuid)) d.uuid = parsed->UUIDString();  // the window server writes upper case
    d.uuidUnavailable = spec.uuidUnavailable;
    d.windowServerIdentifier = spec.windowServerIdentifier;
    d.name = spec.name;
    d.frame = spec.frame;
    d.visibleFrame = spec.visibleFrame.value_or(
        CGRect(spec.frame.origin.x, spec.frame.origin.y, spec.frame.size.width,
               std::max(0.0, spec.frame.size.height - kMenuBarHeight)));
    d.scale = spec.scale > 0 ? spec.scale : 1;
    d.hasScreenNumber = !spec.screenNumberUnavailable;
    if (spec.spaces.empty()) {
      while (spaces.count(nextSpace)) ++nextSpace;
      SpaceID s = nextSpace++;
      spaces.emplace(s, Space{s, kSpaceTypeUser, id});
      d.spaces.push_back(s);
    }
    for (const auto& s : spec.spaces) {
      spaces.emplace(s.id, Space{s.id, s.type, id});
      d.spaces.push_back(s.id);
      nextSpace = std::max(nextSpace, s.id + 1);
    }
    d.current = d.spaces.front();
    if (spec.currentSpace && std::find(d.spaces.begin(), d.spaces.end(), *spec.currentSpace) != d.spaces.end()) {
      d.current = *spec.currentSpace;
    }
    displays.push_back(std::move(d));
    ++screenGeneration;
    post(Event::Kind::ScreenParametersChanged);
    return id;
  }

  DisplayInfo info(const Display& d) const {
    DisplayInfo i;
    i.id = d.id;
    if (!d.uuidUnavailable) i.uuid = d.uuid;
    i.windowServerIdentifier = d.windowServerIdentifier.value_or(d.uuid);
    i.name = d.name;
    i.frame = d.frame;
    i.visibleFrame = d.visibleFrame;
    i.scale = d.scale;
    for (SpaceID s : d.spaces) {
      const Space& sp = spaces.at(s);
      i.spaces.push_back(SpaceInfo{s, sp.type, d.id, d.current == s});
    }
    i.currentSpace = d.current;
    i.hasScreenNumber = d.hasScreenNumber;
    return i;
  }

  // ------------------------------------------------ Accessibility (lock held)

  // The common entry of every call on an element of an application: the
  // permission, the process, its faults and its cost.
  std::int32_t enter(const ElementID& e, App** out) {
    if (!trusted) return axerr::kAPIDisabled;
    if (e.kind == ElementKind::SystemWide) {
      *out = nullptr;
      return axerr::kSuccess;
    }
    App* a = app(e.pid);
    if (!a) return axerr::kInvalidUIElement;
    if (a->faults.unresponsive) {
      CostMeter::charge(a->faults.timeout);
      return axerr::kCannotComplete;
    }
    CostMeter::charge(a->faults.responseDelay);
    *out = a;
    return axerr::kSuccess;
  }

  bool alive(const ElementID& e) const {
    switch (e.kind) {
      case ElementKind::SystemWide: return true;
      case ElementKind::Application: return app(e.pid) != nullptr;
      case ElementKind::Window:
      case ElementKind::CloseButton:
      case ElementKind::MinimizeButton:
      case ElementKind::ZoomButton:
      case ElementKind::TitleText:
      case ElementKind::Content: {
        const Window* w = window(static_cast<WindowID>(e.id));
        if (!w || w->pid != e.pid || e.id > UINT32_MAX) return false;
        if (e.kind == ElementKind::CloseButton) return w->closeButton;
        if (e.kind == ElementKind::MinimizeButton) return w->minimizeButton;
        if (e.kind == ElementKind::ZoomButton) return w->zoomButton;
        return true;
      }
      case ElementKind::DockList: return dock && dock->pid == e.pid;
      case ElementKind::DockItem:
        return dock && dock->pid == e.pid &&
               std::any_of(dock->items.begin(), dock->items.end(), [&](const DockItem& i) { return i.id == e.id; });
      case ElementKind::OwnWindow: return e.pid == selfPid;
    }
    return false;
  }

  const AttributeFault* faultFor(const ElementID& e, const App* a, std::string_view attribute) const {
    if (e.kind == ElementKind::Window) {
      if (const Window* w = window(static_cast<WindowID>(e.id))) {
        if (auto it = w->faults.find(attribute); it != w->faults.end()) return &it->second;
      }
      if (a) {
        if (auto it = a->faults.windowAttributes.find(attribute); it != a->faults.windowAttributes.end()) {
          return &it->second;
        }
      }
    } else if (e.kind == ElementKind::Application && a) {
      if (auto it = a->faults.applicationAttributes.find(attribute); it != a->faults.applicationAttributes.end()) {
        return &it->second;
      }
    }
    return nullptr;
  }

  const DockItem* dockItem(std::uint64_t id) const {
    if (!dock) return nullptr;
    for (const auto& i : dock->items)
      if (i.id == id) return &i;
    return nullptr;
  }

  // Window parts in top-left coordinates.
  CGRect partFrame(const Window& w, ElementKind kind) const {
    const CGRect f = toTL(w.frame);
    const double bar = std::min(kTitleBarHeight, f.size.height);
    switch (kind) {
      case ElementKind::CloseButton: return CGRect(f.origin.x + 7, f.origin.y + 6, 14, 16);
      case ElementKind::MinimizeButton: return CGRect(f.origin.x + 27, f.origin.y + 6, 14, 16);
      case ElementKind::ZoomButton: return CGRect(f.origin.x + 47, f.origin.y + 6, 14, 16);
      case ElementKind::TitleText: {
        const std::size_t length = w.title ? w.title->size() : 0;
        const double width = std::min(std::max(f.size.width - 140, 0.0), 7.0 * static_cast<double>(length));
        return CGRect(f.origin.x + (f.size.width - width) / 2, f.origin.y + 6, width, 16);
      }
      case ElementKind::Content: return CGRect(f.origin.x, f.origin.y + bar, f.size.width, f.size.height - bar);
      default: return f;
    }
  }

  std::vector<ElementID> windowChildren(const Window& w) const {
    std::vector<ElementID> out;
    auto part = [&](ElementKind k) { out.push_back(ElementID{w.pid, k, w.id}); };
    if (w.closeButton) part(ElementKind::CloseButton);
    if (w.minimizeButton) part(ElementKind::MinimizeButton);
    if (w.zoomButton) part(ElementKind::ZoomButton);
    if (w.title && !w.title->empty()) part(ElementKind::TitleText);
    part(ElementKind::Content);
    return out;
  }

  std::vector<WindowID> accessibleWindows(pid_t pid) const {
    std::vector<WindowID> shown;
    std::vector<WindowID> minimized;
    for (WindowID id : zOrder) {
      const Window* w = window(id);
      if (!w || w->pid != pid || !visibleToAX(*w)) continue;
      (w->minimized ? minimized : shown).push_back(id);
    }
    shown.insert(shown.end(), minimized.begin(), minimized.end());
    return shown;
  }

  static ns::Value elements(const std::vector<ElementID>& ids) {
    ns::Array a;
    a.reserve(ids.size());
    for (const auto& id : ids) a.push_back(elementValue(id));
    return ns::Value(std::move(a));
  }

  bool isFullscreen(const Window& w) const {
    return std::any_of(w.spaces.begin(), w.spaces.end(), [&](SpaceID s) {
      auto it = spaces.find(s);
      return it != spaces.end() && it->second.type == kSpaceTypeFullscreen;
    });
  }

  static std::int32_t answer(std::optional<ns::Value> v, ns::Value* out) {
    if (!v) return axerr::kNoValue;
    *out = std::move(*v);
    return axerr::kSuccess;
  }

  // One attribute of a live element; kAttributeUnsupported for names the
  // element does not have.
  std::int32_t read(const ElementID& e, std::string_view attr, const std::vector<OwnWindow>& own, ns::Value* out) {
    using K = ElementKind;
    switch (e.kind) {
      case K::SystemWide: {
        if (attr == "AXRole") return answer(ns::Value("AXSystemWide"), out);
        if (attr == "AXFocusedApplication") {
          if (!frontmost) return axerr::kNoValue;
          return answer(elementValue(appElement(*frontmost)), out);
        }
        if (attr == "AXFocusedUIElement") {
          const App* a = frontmost ? app(*frontmost) : nullptr;
          if (!a || !a->focused) return axerr::kNoValue;
          return answer(elementValue(ElementID{a->pid, K::Window, *a->focused}), out);
        }
        return axerr::kAttributeUnsupported;
      }
      case K::Application: {
        const App& a = *app(e.pid);
        if (attr == "AXRole") return answer(ns::Value("AXApplication"), out);
        if (attr == "AXRoleDescription") return answer(ns::Value("application"), out);
        if (attr == "AXTitle") return answer(a.name ? std::optional<ns::Value>(*a.name) : std::nullopt, out);
        if (attr == "AXFrontmost") return answer(ns::Value(frontmost == a.pid), out);
        if (attr == "AXHidden") return answer(ns::Value(a.hidden), out);
        if (attr == "AXWindows" || attr == "AXChildren") {
          std::vector<ElementID> ids;
          if (attr == "AXChildren" && dock && dock->pid == a.pid) ids.push_back(ElementID{a.pid, K::DockList, 0});
          for (WindowID id : accessibleWindows(a.pid)) ids.push_back(ElementID{a.pid, K::Window, id});
          return answer(elements(ids), out);
        }
        if (attr == "AXFocusedWindow" || attr == "AXMainWindow" || attr == "AXFocusedUIElement") {
          const std::optional<WindowID> id = attr == "AXMainWindow" ? a.main : a.focused;
          const Window* w = id ? window(*id) : nullptr;
          if (!w || w->minimized || !onCurrentSpace(*w)) return axerr::kNoValue;
          return answer(elementValue(ElementID{a.pid, K::Window, *id}), out);
        }
        return axerr::kAttributeUnsupported;
      }
      case K::Window: {
        const Window& w = *window(static_cast<WindowID>(e.id));
        const App& a = *app(e.pid);
        const CGRect f = toTL(w.frame);
        if (attr == "AXRole") return answer(ns::Value(w.role), out);
        if (attr == "AXRoleDescription") return answer(ns::Value(roleDescription(w.subrole)), out);
        if (attr == "AXSubrole") return answer(ns::Value(w.subrole), out);
        if (attr == "AXTitle") return answer(w.title ? std::optional<ns::Value>(*w.title) : std::nullopt, out);
        if (attr == "AXPosition") return answer(pointValue(f.origin), out);
        if (attr == "AXSize") return answer(sizeValue(f.size), out);
        if (attr == "AXMinimized") return answer(ns::Value(w.minimized), out);
        if (attr == "AXMain") return answer(ns::Value(a.main == w.id), out);
        if (attr == "AXFocused") return answer(ns::Value(a.focused == w.id && frontmost == a.pid), out);
        if (attr == "AXHidden") return answer(ns::Value(a.hidden), out);
        if (attr == "AXFullScreen") return answer(ns::Value(isFullscreen(w)), out);
        if (attr == "AXModal") return answer(ns::Value(false), out);
        if (attr == "AXParent") return answer(elementValue(appElement(a.pid)), out);
        if (attr == "AXChildren") return answer(elements(windowChildren(w)), out);
        if (attr == "AXCloseButton" || attr == "AXMinimizeButton" || attr == "AXZoomButton") {
          const K kind = attr == "AXCloseButton" ? K::CloseButton
                         : attr == "AXMinimizeButton" ? K::MinimizeButton
                                                      : K::ZoomButton;
          const bool present = kind == K::CloseButton ? w.closeButton
                               : kind == K::MinimizeButton ? w.minimizeButton
                                                           : w.zoomButton;
          if (!present) return axerr::kNoValue;
          return answer(elementValue(ElementID{w.pid, kind, w.id}), out);
        }
        return axerr::kAttributeUnsupported;
      }
      case K::CloseButton:
      case K::MinimizeButton:
      case K::ZoomButton:
      case K::TitleText:
      case K::Content: {
        const Window& w = *window(static_cast<WindowID>(e.id));
        const CGRect f = partFrame(w, e.kind);
        if (attr == "AXRole") {
          return answer(ns::Value(e.kind == K::TitleText ? "AXStaticText" : e.kind == K::Content ? "AXGroup" : "AXButton"),
                        out);
        }
        if (attr == "AXSubrole") {
          if (e.kind == K::CloseButton) return answer(ns::Value("AXCloseButton"), out);
          if (e.kind == K::MinimizeButton) return answer(ns::Value("AXMinimizeButton"), out);
          if (e.kind == K::ZoomButton) return answer(ns::Value("AXZoomButton"), out);
          return axerr::kAttributeUnsupported;
        }
        if (attr == "AXValue" && e.kind == K::TitleText) {
          return answer(ns::Value(w.title.value_or("")), out);
        }
        if (attr == "AXEnabled" && e.kind != K::TitleText && e.kind != K::Content) return answer(ns::Value(true), out);
        if (attr == "AXPosition") return answer(pointValue(f.origin), out);
        if (attr == "AXSize") return answer(sizeValue(f.size), out);
        if (attr == "AXWindow" || attr == "AXParent" || attr == "AXTopLevelUIElement") {
          return answer(elementValue(windowElement(w)), out);
        }
        if (attr == "AXChildren") return answer(ns::Value(ns::Array{}), out);
        return axerr::kAttributeUnsupported;
      }
      case K::DockList: {
        const CGRect f = toTL(dock->frame);
        if (attr == "AXRole") return answer(ns::Value("AXList"), out);
        if (attr == "AXRoleDescription") return answer(ns::Value("list"), out);
        if (attr == "AXOrientation") return answer(ns::Value("AXHorizontalOrientation"), out);
        if (attr == "AXPosition") return answer(pointValue(f.origin), out);
        if (attr == "AXSize") return answer(sizeValue(f.size), out);
        if (attr == "AXParent") return answer(elementValue(appElement(dock->pid)), out);
        if (attr == "AXChildren") {
          std::vector<ElementID> ids;
          for (const auto& i : dock->items) ids.push_back(ElementID{dock->pid, K::DockItem, i.id});
          return answer(elements(ids), out);
        }
        return axerr::kAttributeUnsupported;
      }
      case K::DockItem: {
        const DockItem& i = *dockItem(e.id);
        const CGRect f = toTL(i.frame);
        if (attr == "AXRole") return answer(ns::Value("AXDockItem"), out);
        if (attr == "AXRoleDescription") return answer(ns::Value(dockRoleDescription(i.subrole)), out);
        if (attr == "AXSubrole") return answer(ns::Value(i.subrole), out);
        if (attr == "AXTitle") return answer(i.title ? std::optional<ns::Value>(*i.title) : std::nullopt, out);
        if (attr == "AXURL") return answer(i.url ? std::optional<ns::Value>(urlValue(*i.url)) : std::nullopt, out);
        if (attr == "AXPosition") return answer(pointValue(f.origin), out);
        if (attr == "AXSize") return answer(sizeValue(f.size), out);
        if (attr == "AXParent") return answer(elementValue(ElementID{dock->pid, K::DockList, 0}), out);
        if (attr == "AXSelected") return answer(ns::Value(false), out);
        if (attr == "AXIsApplicationRunning" && i.subrole == "AXApplicationDockItem") {
          const bool running = i.url && std::any_of(apps.begin(), apps.end(), [&](const auto& entry) {
                                 return entry.second.bundleURL == i.url;
                               });
          return answer(ns::Value(running), out);
        }
        return axerr::kAttributeUnsupported;
      }
      case K::OwnWindow: {
        for (const auto& w : own) {
          if (w.windowNumber != e.id) continue;
          const CGRect f = toTL(w.frame);
          if (attr == "AXRole") return answer(ns::Value("AXWindow"), out);
          if (attr == "AXSubrole") return answer(ns::Value(w.subrole), out);
          if (attr == "AXTitle") return answer(ns::Value(w.title), out);
          if (attr == "AXPosition") return answer(pointValue(f.origin), out);
          if (attr == "AXSize") return answer(sizeValue(f.size), out);
          if (attr == "AXMinimized" || attr == "AXMain") return answer(ns::Value(false), out);
          if (attr == "AXParent") return answer(elementValue(appElement(selfPid)), out);
          return axerr::kAttributeUnsupported;
        }
        return axerr::kInvalidUIElement;
      }
    }
    return axerr::kAttributeUnsupported;
  }

  std::vector<std::string> attributeNames(const ElementID& e) const {
    using K = ElementKind;
    switch (e.kind) {
      case K::SystemWide: return {"AXRole", "AXFocusedApplication", "AXFocusedUIElement"};
      case K::Application:
        return {"AXRole", "AXRoleDescription", "AXTitle", "AXFrontmost", "AXHidden", "AXWindows",
                "AXChildren", "AXFocusedWindow", "AXMainWindow", "AXFocusedUIElement"};
      case K::Window:
        return {"AXRole", "AXRoleDescription", "AXSubrole", "AXTitle", "AXPosition", "AXSize",
                "AXMinimized", "AXMain", "AXFocused", "AXHidden", "AXFullScreen", "AXModal",
                "AXParent", "AXChildren", "AXCloseButton", "AXMinimizeButton", "AXZoomButton"};
      case K::CloseButton:
      case K::MinimizeButton:
      case K::ZoomButton:
        return {"AXRole", "AXSubrole", "AXEnabled", "AXPosition", "AXSize", "AXWindow", "AXParent",
                "AXTopLevelUIElement", "AXChildren"};
      case K::TitleText:
        return {"AXRole", "AXValue", "AXPosition", "AXSize", "AXWindow", "AXParent", "AXTopLevelUIElement",
                "AXChildren"};
      case K::Content:
        return {"AXRole", "AXPosition", "AXSize", "AXWindow", "AXParent", "AXTopLevelUIElement", "AXChildren"};
      case K::DockList:
        return {"AXRole", "AXRoleDescription", "AXOrientation", "AXPosition", "AXSize", "AXParent", "AXChildren"};
      case K::DockItem:
        return {"AXRole", "AXRoleDescription", "AXSubrole", "AXTitle", "AXURL", "AXPosition", "AXSize",
                "AXParent", "AXSelected", "AXIsApplicationRunning"};
      case K::OwnWindow:
        return {"AXRole", "AXSubrole", "AXTitle", "AXPosition", "AXSize", "AXMinimized", "AXMain", "AXParent"};
    }
    return {};
  }

  bool supports(const ElementID& e, std::string_view attribute) const {
    const auto names = attributeNames(e);
    return std::find(names.begin(), names.end(), attribute) != names.end();
  }

  bool settable(const ElementID& e, std::string_view attr) const {
    if (e.kind == ElementKind::Window) {
      const Window& w = *window(static_cast<WindowID>(e.id));
      if (attr == "AXPosition") return w.movable;
      if (attr == "AXSize") return w.resizable;
      if (attr == "AXMinimized") return w.minimizeButton;
      return attr == "AXMain" || attr == "AXFocused";
    }
    if (e.kind == ElementKind::Application) return attr == "AXFrontmost" || attr == "AXHidden";
    return false;
  }

  std::int32_t write(const ElementID& e, std::string_view attr, const ns::Value& value) {
    if (!supports(e, attr)) return axerr::kAttributeUnsupported;
    if (!settable(e, attr)) return axerr::kAttributeUnsupported;
    if (e.kind == ElementKind::Application) {
      auto flag = boolFrom(value);
      if (!flag) return axerr::kIllegalArgument;
      App& a = *app(e.pid);
      if (attr == "AXHidden") {
        *flag ? hide(a) : unhide(a);
      } else if (*flag) {
        activate(a.pid);
      }
      return axerr::kSuccess;
    }
    Window& w = *window(static_cast<WindowID>(e.id));
    if (attr == "AXPosition") {
      auto p = axValueFrom(value, AXValueType::CGPoint);
      if (!p || !std::isfinite(p->point.x) || !std::isfinite(p->point.y)) return axerr::kIllegalArgument;
      setTopLeftOrigin(w, p->point);
      return axerr::kSuccess;
    }
    if (attr == "AXSize") {
      auto s = axValueFrom(value, AXValueType::CGSize);
      if (!s || !std::isfinite(s->size.width) || !std::isfinite(s->size.height)) return axerr::kIllegalArgument;
      setSizeKeepingTop(w, s->size);
      return axerr::kSuccess;
    }
    auto flag = boolFrom(value);
    if (!flag) return axerr::kIllegalArgument;
    if (attr == "AXMinimized") {
      setMinimized(w, *flag);
    } else if (*flag) {  // AXMain, AXFocused
      if (!w.minimized) {
        if (App* a = app(w.pid)) setFocus(*a, w.id);
      }
    }
    return axerr::kSuccess;
  }

  std::vector<std::string> actionNames(const ElementID& e) const {
    switch (e.kind) {
      case ElementKind::Window: return {"AXRaise"};
      case ElementKind::CloseButton:
      case ElementKind::MinimizeButton:
      case ElementKind::ZoomButton: return {"AXPress"};
      case ElementKind::DockItem: return {"AXPress", "AXShowMenu"};
      default: return {};
    }
  }

  void zoom(Window& w) {
    const Display* d = displayOf(w);
    if (!d) return;
    if (w.zoomRestore && w.frame == d->visibleFrame) {
      const CGRect restore = *w.zoomRestore;
      w.zoomRestore.reset();
      w.frame = restore;
    } else {
      w.zoomRestore = w.frame;
      w.frame = d->visibleFrame;
    }
    postAX(windowElement(w), "AXWindowMoved");
    postAX(windowElement(w), "AXWindowResized");
  }

  std::int32_t act(const ElementID& e, std::string_view action) {
    const auto names = actionNames(e);
    if (std::find(names.begin(), names.end(), action) == names.end()) return axerr::kActionUnsupported;
    switch (e.kind) {
      case ElementKind::Window: raise(*window(static_cast<WindowID>(e.id))); break;
      case ElementKind::CloseButton: destroyWindow(static_cast<WindowID>(e.id)); break;
      case ElementKind::MinimizeButton: setMinimized(*window(static_cast<WindowID>(e.id)), true); break;
      case ElementKind::ZoomButton: zoom(*window(static_cast<WindowID>(e.id))); break;
      case ElementKind::DockItem:
        if (action == "AXPress") {
          const DockItem& i = *dockItem(e.id);
          if (i.url) {
            opened.push_back(*i.url);
            for (auto& [pid, a] : apps) {
              if (a.bundleURL == i.url) {
                activate(pid);
                break;
              }
            }
          }
        }
        break;
      default: break;
    }
    return axerr::kSuccess;
  }

  // Top-left point -> the element there, in the order: this program's windows,
  // the Dock, the other windows front to back.
  std::optional<ElementID> hit(CGPoint tl, std::optional<pid_t> only, const std::vector<OwnWindow>& own) const {
    const CGPoint bl = flipPoint(tl, refHeight());
    if (!only || *only == selfPid) {
      for (const auto& w : own) {
        if (w.visible && w.frame.size.width != 0 && w.frame.contains(bl)) {
          return ElementID{selfPid, ElementKind::OwnWindow, w.windowNumber};
        }
      }
    }
    if (dockRunning() && (!only || *only == dock->pid)) {
      for (const auto& i : dock->items) {
        if (i.frame.contains(bl)) return ElementID{dock->pid, ElementKind::DockItem, i.id};
      }
      if (dock->frame.contains(bl)) return ElementID{dock->pid, ElementKind::DockList, 0};
    }
    for (WindowID id : zOrder) {
      const Window* w = window(id);
      if (!w || (only && w->pid != *only) || !onScreen(*w) || !w->frame.contains(bl)) continue;
      for (ElementKind k : {ElementKind::CloseButton, ElementKind::MinimizeButton, ElementKind::ZoomButton,
                            ElementKind::TitleText}) {
        const ElementID part{w->pid, k, w->id};
        if (alive(part) && partFrame(*w, k).contains(tl)) return part;
      }
      if (partFrame(*w, ElementKind::Content).contains(tl)) return ElementID{w->pid, ElementKind::Content, w->id};
      return windowElement(*w);
    }
    return std::nullopt;
  }

  // ------------------------------------------------ window server (lock held)

  bool spaceMatches(SpaceID id, int mask) const {
    auto it = spaces.find(id);
    if (it == spaces.end()) return false;
    const bool current = isCurrent(id);
    if (!((current && (mask & kSpaceMaskCurrent)) || (!current && (mask & kSpaceMaskOthers)))) return false;
    if (mask & kSpaceMaskUser) {
      return it->second.type == kSpaceTypeUser || it->second.type == kSpaceTypeFullscreen;
    }
    return true;
  }

  bool windowOn(const Window& w, SpaceID s) const { return w.onAllSpaces ? spaces.count(s) > 0 : w.spaces.count(s) > 0; }

  static ns::Value spaceDictionary(const Space& s) {
    ns::Dictionary d;
    d["id64"] = ns::Value(static_cast<std::uint64_t>(s.id));
    d["ManagedSpaceID"] = ns::Value(static_cast<std::int64_t>(s.id));
    d["type"] = ns::Value(static_cast<std::int64_t>(s.type));
    d["uuid"] = ns::Value(std::string());
    return ns::Value(std::move(d));
  }
};

// ---------------------------------------------------------------- World

World::World() : state_(std::make_unique<State>()) { reset(); }

World& World::shared() {
  static World* world = new World();  // never destroyed: platform threads may outlive statics
  return *world;
}

template <class F>
auto World::mutate(F&& f) {
  std::unique_lock lock(state_->mutex);
  auto result = f(*state_);
  std::vector<Event> events;
  events.swap(state_->outbox);
  if (state_->quiet) events.clear();
  lock.unlock();
  deliver(events);
  return result;
}

void World::deliver(std::vector<Event>& events) {
  if (events.empty()) return;
  std::vector<std::shared_ptr<State::Listener>> listeners;
  {
    std::lock_guard lock(state_->listenersMutex);
    listeners = state_->listeners;
  }
  for (const auto& e : events) {
    for (const auto& l : listeners) l->invoke(e);
  }
}

ns::ObserverToken World::addObserver(std::function<void(const Event&)> observer) {
  auto registration = std::make_shared<State::Listener>(std::move(observer));
  {
    std::lock_guard lock(state_->listenersMutex);
    state_->listeners.push_back(registration);
  }
  State* state = state_.get();
  return ns::ObserverToken([state, registration] {
    registration->deactivate();
    std::lock_guard lock(state->listenersMutex);
    std::erase(state->listeners, registration);
  });
}

void World::reset() {
  {
    // The own-windows provider belongs to the AppKit layer and stays.
    std::lock_guard lock(state_->hooksMutex);
    state_->callHook = nullptr;
    state_->managedTransform = nullptr;
  }
  // The Bundle is read outside the world's lock.
  auto bundle = ns::Bundle::main();
  ApplicationSpec self;
  self.pid = kDefaultSelfPid;
  self.bundleIdentifier = bundle->bundleIdentifier();
  if (auto url = bundle->bundleURL()) self.bundleURL = url->absoluteString();
  self.name = bundle->name();
  self.activationPolicy = ActivationPolicy::Accessory;
  mutate([&](State& s) {
    const std::uint64_t epoch = s.epoch + 1;
    const std::uint64_t generation = s.screenGeneration + 1;
    const std::uint64_t serial = s.nextSerial;
    s.displays.clear();
    s.wsOrder.clear();
    s.spaces.clear();
    s.apps.clear();
    s.launchOrder.clear();
    s.terminated.clear();
    s.windows.clear();
    s.zOrder.clear();
    s.frontmost.reset();
    s.dock.reset();
    s.mouse = CGPoint{};
    s.trusted = true;
    s.captureAllowed = true;
    s.osVersion = OperatingSystemVersion{};
    s.prompts = 0;
    s.captureRequests = 0;
    s.opened.clear();
    s.hashBuckets.reset();
    s.copySpacesFails = false;
    s.managedFails = false;
    s.nextWindow = 1;
    s.nextPid = 500;
    s.nextSpace = 1;
    s.nextDisplay = 1;
    s.nextDockItem = 1;
    s.nextLaunchOrder = 0;
    s.outbox.clear();
    s.epoch = epoch;
    s.screenGeneration = generation;
    s.nextSerial = serial;  // serials never repeat, so stale handles never match a new process
    s.selfPid = *self.pid;
    s.launch(self, State::Placement::Back, true);
    s.outbox.clear();
    s.post(Event::Kind::WorldReset);
    return true;
  });
}

std::uint64_t World::epoch() const {
  std::lock_guard lock(state_->mutex);
  return state_->epoch;
}

// -------- displays and Spaces

DisplayID World::addDisplay(const DisplaySpec& spec) {
  return mutate([&](State& s) { return s.addDisplay(spec).value_or(0); });
}

bool World::removeDisplay(DisplayID id) {
  return mutate([&](State& s) {
    auto it = std::find_if(s.displays.begin(), s.displays.end(), [&](const Display& d) { return d.id == id; });
    if (it == s.displays.end()) return false;
    const Display removed = *it;
    // Windows centred on the removed display, found before it goes.
    std::vector<WindowID> moving;
    for (const auto& [wid, w] : s.windows) {
      if (s.displayOf(w) == &*it) moving.push_back(wid);
    }
    s.displays.erase(it);
    std::erase(s.wsOrder, id);
    if (s.displays.empty()) {
      for (SpaceID sp : removed.spaces) s.spaces.erase(sp);
      for (auto& [wid, w] : s.windows) {
        for (SpaceID sp : removed.spaces) w.spaces.erase(sp);
      }
    } else {
      Display& target = s.displays.front();
      for (SpaceID sp : removed.spaces) {
        s.spaces[sp].display = target.id;
        target.spaces.push_back(sp);
      }
      for (WindowID wid : moving) {
        Window& w = s.windows.at(wid);
        const CGRect& vf = target.visibleFrame;
        const double dx = w.frame.origin.x - removed.visibleFrame.origin.x;
        const double dy = w.frame.maxY() - removed.visibleFrame.maxY();
        const double width = std::min(w.frame.size.width, vf.size.width);
        const double height = std::min(w.frame.size.height, vf.size.height);
        double x = std::clamp(vf.origin.x + dx, vf.minX(), vf.maxX() - width);
        double top = std::clamp(vf.maxY() + dy, vf.minY() + height, vf.maxY());
        w.frame = CGRect(x, top - height, width, height);
      }
    }
    ++s.screenGeneration;
    s.post(Event::Kind::ScreenParametersChanged);
    return true;
  });
}

bool World::setDisplayFrames(DisplayID id, const CGRect& frame, std::optional<CGRect> visibleFrame) {
  return mutate([&](State& s) {
    Display* d = s.display(id);
    if (!d) return false;
    d->frame = frame;
    d->visibleFrame = visibleFrame.value_or(CGRect(frame.origin.x, frame.origin.y, frame.size.width,
                                                   std::max(0.0, frame.size.height - kMenuBarHeight)));
    ++s.screenGeneration;
    s.post(Event::Kind::ScreenParametersChanged);
    return true;
  });
}

std::optional<SpaceID> World::addSpace(DisplayID display, int type) {
  return mutate([&](State& s) -> std::optional<SpaceID> {
    Display* d = s.display(display);
    if (!d) return std::nullopt;
    while (s.spaces.count(s.nextSpace)) ++s.nextSpace;
    const SpaceID id = s.nextSpace++;
    s.spaces.emplace(id, Space{id, type, display});
    d->spaces.push_back(id);
    return id;
  });
}

bool World::switchToSpace(SpaceID space) {
  return mutate([&](State& s) {
    auto it = s.spaces.find(space);
    if (it == s.spaces.end()) return false;
    Display* d = s.display(it->second.display);
    if (!d) return false;
    if (d->current == space) return true;
    d->current = space;
    s.post(Event::Kind::ActiveSpaceChanged);
    return true;
  });
}

std::vector<DisplayInfo> World::displays() const {
  std::lock_guard lock(state_->mutex);
  std::vector<DisplayInfo> out;
  for (const auto& d : state_->displays) out.push_back(state_->info(d));
  return out;
}

std::optional<DisplayInfo> World::display(DisplayID id) const {
  std::lock_guard lock(state_->mutex);
  if (const Display* d = state_->display(id)) return state_->info(*d);
  return std::nullopt;
}

void World::setWindowServerDisplayOrder(std::vector<DisplayID> order) {
  std::lock_guard lock(state_->mutex);
  state_->wsOrder = std::move(order);
}

std::uint64_t World::screenConfigurationGeneration() const {
  std::lock_guard lock(state_->mutex);
  return state_->screenGeneration;
}

std::vector<SpaceID> World::currentSpaces() const {
  std::lock_guard lock(state_->mutex);
  std::vector<SpaceID> out;
  for (DisplayID id : state_->windowServerOrder()) out.push_back(state_->display(id)->current);
  return out;
}

std::optional<DisplayID> World::keyDisplay() const {
  std::lock_guard lock(state_->mutex);
  const State& s = *state_;
  if (s.displays.empty()) return std::nullopt;
  if (s.frontmost) {
    const App* a = s.app(*s.frontmost);
    const Window* w = a && a->focused ? s.window(*a->focused) : nullptr;
    if (w && s.onScreen(*w)) {
      if (const Display* d = s.displayOf(*w)) return d->id;
    }
  }
  return s.displays.front().id;
}

CGPoint World::flippedPoint(CGPoint p) const {
  std::lock_guard lock(state_->mutex);
  return flipPoint(p, state_->refHeight());
}

CGRect World::flippedRect(const CGRect& r) const {
  std::lock_guard lock(state_->mutex);
  return flipRect(r, state_->refHeight());
}

double World::referenceHeight() const {
  std::lock_guard lock(state_->mutex);
  return state_->refHeight();
}

// -------- applications

pid_t World::launchApplication(const ApplicationSpec& spec) {
  return mutate([&](State& s) { return s.launch(spec, State::Placement::Front, false); });
}

bool World::terminateApplication(pid_t pid) {
  return mutate([&](State& s) { return s.terminate(pid); });
}

bool World::activateApplication(pid_t pid) {
  return mutate([&](State& s) {
    if (!s.app(pid)) return false;
    s.activate(pid);
    return true;
  });
}

bool World::setApplicationHidden(pid_t pid, bool hidden) {
  return mutate([&](State& s) {
    App* a = s.app(pid);
    if (!a) return false;
    hidden ? s.hide(*a) : s.unhide(*a);
    return true;
  });
}

bool World::setActivationPolicy(pid_t pid, ActivationPolicy policy) {
  std::lock_guard lock(state_->mutex);
  App* a = state_->app(pid);
  if (!a) return false;
  a->policy = policy;
  return true;
}

bool World::setApplicationFaults(pid_t pid, const ApplicationFaults& faults) {
  std::lock_guard lock(state_->mutex);
  App* a = state_->app(pid);
  if (!a) return false;
  a->faults = faults;
  return true;
}

std::vector<ApplicationInfo> World::runningApplications() const {
  std::lock_guard lock(state_->mutex);
  std::vector<ApplicationInfo> out;
  for (pid_t pid : state_->launchOrder) out.push_back(state_->info(*state_->app(pid)));
  return out;
}

std::optional<ApplicationInfo> World::application(pid_t pid) const {
  std::lock_guard lock(state_->mutex);
  if (const App* a = state_->app(pid)) return state_->info(*a);
  return std::nullopt;
}

std::optional<ApplicationInfo> World::applicationBySerial(std::uint64_t serial) const {
  std::lock_guard lock(state_->mutex);
  for (const auto& [pid, a] : state_->apps)
    if (a.serial == serial) return state_->info(a);
  if (auto it = state_->terminated.find(serial); it != state_->terminated.end()) return state_->info(it->second);
  return std::nullopt;
}

std::optional<pid_t> World::frontmostApplication() const {
  std::lock_guard lock(state_->mutex);
  return state_->frontmost;
}

bool World::setFrontmostApplication(std::optional<pid_t> pid) {
  return mutate([&](State& s) {
    if (pid && !s.app(*pid)) return false;
    if (s.frontmost == pid) return true;
    s.frontmost = pid;
    if (pid) s.postAX(State::appElement(*pid), "AXApplicationActivated");
    s.post(Event::Kind::ApplicationActivated, pid.value_or(0));
    return true;
  });
}

pid_t World::selfPid() const {
  std::lock_guard lock(state_->mutex);
  return state_->selfPid;
}

void World::setSelf(const ApplicationSpec& spec) {
  mutate([&](State& s) {
    const pid_t old = s.selfPid;
    if (App* a = s.app(old)) {
      for (WindowID id : std::vector<WindowID>(a->windows)) s.destroyWindow(id);
      s.apps.erase(old);
      std::erase(s.launchOrder, old);
    }
    ApplicationSpec copy = spec;
    if (!copy.pid || s.apps.count(*copy.pid)) copy.pid = old;
    s.selfPid = *copy.pid;
    s.launch(copy, State::Placement::Back, true);
    s.outbox.clear();  // the program does not see its own launch
    return true;
  });
}

// -------- windows

std::optional<WindowID> World::createWindow(pid_t pid, const WindowSpec& spec) {
  return mutate([&](State& s) -> std::optional<WindowID> {
    App* a = s.app(pid);
    if (!a) return std::nullopt;
    const bool front = s.frontmost == pid;
    return s.createWindow(*a, spec, front ? State::Placement::Front : State::Placement::AboveOwnWindows);
  });
}

bool World::closeWindow(WindowID id) {
  return mutate([&](State& s) {
    if (!s.window(id)) return false;
    s.destroyWindow(id);
    return true;
  });
}

bool World::setWindowFrame(WindowID id, const CGRect& topLeftFrame) {
  return mutate([&](State& s) {
    Window* w = s.window(id);
    if (!w) return false;
    const CGRect old = w->frame;
    w->frame = s.toBL(topLeftFrame);
    if (!(old.origin == w->frame.origin)) s.postAX(State::windowElement(*w), "AXWindowMoved");
    if (!(old.size == w->frame.size)) s.postAX(State::windowElement(*w), "AXWindowResized");
    return true;
  });
}

bool World::setWindowTitle(WindowID id, std::optional<std::string> title) {
  return mutate([&](State& s) {
    Window* w = s.window(id);
    if (!w) return false;
    w->title = std::move(title);
    s.postAX(State::windowElement(*w), "AXTitleChanged");
    return true;
  });
}

bool World::setWindowMinimized(WindowID id, bool minimized) {
  return mutate([&](State& s) {
    Window* w = s.window(id);
    if (!w) return false;
    s.setMinimized(*w, minimized);
    return true;
  });
}

bool World::raiseWindow(WindowID id) {
  return mutate([&](State& s) {
    Window* w = s.window(id);
    if (!w) return false;
    s.raise(*w);
    return true;
  });
}

bool World::focusWindow(WindowID id) {
  return mutate([&](State& s) {
    Window* w = s.window(id);
    if (!w) return false;
    if (App* a = s.app(w->pid)) s.setFocus(*a, id);
    return true;
  });
}

bool World::setWindowSpaces(WindowID id, std::vector<SpaceID> spaces, bool onAllSpaces) {
  std::lock_guard lock(state_->mutex);
  Window* w = state_->window(id);
  if (!w) return false;
  w->spaces.clear();
  for (SpaceID s : spaces)
    if (state_->spaces.count(s)) w->spaces.insert(s);
  w->onAllSpaces = onAllSpaces;
  return true;
}

bool World::setWindowAttributeFault(WindowID id, const std::string& attribute, std::optional<AttributeFault> fault) {
  std::lock_guard lock(state_->mutex);
  Window* w = state_->window(id);
  if (!w) return false;
  if (fault) {
    w->faults[attribute] = *fault;
  } else {
    w->faults.erase(attribute);
  }
  return true;
}

std::optional<WindowInfo> World::window(WindowID id) const {
  std::lock_guard lock(state_->mutex);
  if (const Window* w = state_->window(id)) return state_->info(*w);
  return std::nullopt;
}

std::vector<WindowID> World::zOrder() const {
  std::lock_guard lock(state_->mutex);
  return state_->zOrder;
}

void World::setZOrder(const std::vector<WindowID>& front) {
  std::lock_guard lock(state_->mutex);
  std::vector<WindowID> order;
  order.reserve(state_->zOrder.size());
  std::unordered_set<WindowID> placed;
  for (WindowID id : front) {
    if (state_->window(id) && placed.insert(id).second) order.push_back(id);
  }
  for (WindowID id : state_->zOrder) {
    if (placed.insert(id).second) order.push_back(id);
  }
  state_->zOrder = std::move(order);
}

// -------- the Dock

void World::setDock(const DockSpec& spec) {
  mutate([&](State& s) {
    Dock dock;
    dock.frame = s.toBL(spec.frame);
    for (const auto& item : spec.items) {
      DockItem i;
      i.id = s.nextDockItem++;
      i.subrole = item.subrole;
      i.title = item.title;
      i.url = parseURL(item.url);
      i.frame = s.toBL(item.frame);
      dock.items.push_back(std::move(i));
    }
    std::optional<pid_t> running;
    for (const auto& [pid, a] : s.apps) {
      if (a.isDock) running = pid;
    }
    if (running && (!spec.pid || *spec.pid == *running)) {
      dock.pid = *running;
      s.dock = std::move(dock);
      if (App* a = s.app(*running)) a->faults = spec.faults;
      return true;
    }
    if (running) s.terminate(*running);
    s.dock = std::move(dock);
    s.dock->pid = -1;
    ApplicationSpec app;
    app.pid = spec.pid;
    app.bundleIdentifier = spec.bundleIdentifier;
    app.bundleURL = spec.bundleURL;
    app.name = spec.name;
    app.activationPolicy = ActivationPolicy::Accessory;
    app.faults = spec.faults;
    const pid_t pid = s.launch(app, State::Placement::Back, false);
    s.dock->pid = pid;
    if (App* a = s.app(pid)) a->isDock = true;
    return true;
  });
}

std::optional<pid_t> World::dockPid() const {
  std::lock_guard lock(state_->mutex);
  if (!state_->dockRunning()) return std::nullopt;
  return state_->dock->pid;
}

std::vector<DockItemInfo> World::dockItems() const {
  std::lock_guard lock(state_->mutex);
  std::vector<DockItemInfo> out;
  if (!state_->dock) return out;
  for (const auto& i : state_->dock->items) {
    out.push_back(DockItemInfo{i.id, i.subrole, i.title, i.url, state_->toTL(i.frame)});
  }
  return out;
}

// -------- pointer

CGPoint World::mouseLocation() const {
  std::lock_guard lock(state_->mutex);
  return state_->mouse;
}

CGPoint World::mouseLocationTopLeft() const {
  std::lock_guard lock(state_->mutex);
  return flipPoint(state_->mouse, state_->refHeight());
}

void World::setMouseLocationTopLeft(CGPoint p) {
  std::lock_guard lock(state_->mutex);
  state_->mouse = flipPoint(p, state_->refHeight());
}

// -------- permissions

bool World::isAccessibilityTrusted() const {
  std::lock_guard lock(state_->mutex);
  return state_->trusted;
}
void World::setAccessibilityTrusted(bool trusted) {
  std::lock_guard lock(state_->mutex);
  state_->trusted = trusted;
}
void World::recordAccessibilityPrompt() {
  std::lock_guard lock(state_->mutex);
  ++state_->prompts;
}
int World::accessibilityPromptCount() const {
  std::lock_guard lock(state_->mutex);
  return state_->prompts;
}
bool World::isScreenCaptureAllowed() const {
  std::lock_guard lock(state_->mutex);
  return state_->captureAllowed;
}
void World::setScreenCaptureAllowed(bool allowed) {
  std::lock_guard lock(state_->mutex);
  state_->captureAllowed = allowed;
}
void World::recordScreenCaptureRequest() {
  std::lock_guard lock(state_->mutex);
  ++state_->captureRequests;
}
int World::screenCaptureRequestCount() const {
  std::lock_guard lock(state_->mutex);
  return state_->captureRequests;
}

OperatingSystemVersion World::operatingSystemVersion() const {
  std::lock_guard lock(state_->mutex);
  return state_->osVersion;
}
void World::setOperatingSystemVersion(const OperatingSystemVersion& version) {
  std::lock_guard lock(state_->mutex);
  state_->osVersion = version;
}

void World::sleep() {
  mutate([](State& s) {
    s.post(Event::Kind::WillSleep);
    return true;
  });
}

void World::wake() {
  mutate([](State& s) {
    s.post(Event::Kind::DidWake);
    return true;
  });
}

bool World::openURL(const ns::URL& url) {
  return mutate([&](State& s) {
    s.opened.push_back(url);
    for (const auto& [pid, a] : s.apps) {
      if (a.bundleURL == url) {
        s.activate(pid);
        return true;
      }
    }
    return false;
  });
}

std::vector<ns::URL> World::openedURLs() const {
  std::lock_guard lock(state_->mutex);
  return state_->opened;
}

// -------- faults

void World::setHashBuckets(std::optional<std::uint64_t> buckets) {
  std::lock_guard lock(state_->mutex);
  state_->hashBuckets = buckets && *buckets > 0 ? buckets : std::nullopt;
}
void World::setCopySpacesFails(bool fails) {
  std::lock_guard lock(state_->mutex);
  state_->copySpacesFails = fails;
}
void World::setManagedDisplaySpacesFails(bool fails) {
  std::lock_guard lock(state_->mutex);
  state_->managedFails = fails;
}
void World::setManagedDisplaySpacesTransform(std::function<ns::Value(ns::Value)> transform) {
  std::lock_guard lock(state_->hooksMutex);
  state_->managedTransform = std::move(transform);
}
void World::setAccessibilityCallHook(std::function<void(const AccessibilityCall&)> hook) {
  std::lock_guard lock(state_->hooksMutex);
  state_->callHook = std::move(hook);
}
void World::setOwnWindowsProvider(std::function<std::vector<OwnWindow>()> provider) {
  std::lock_guard lock(state_->hooksMutex);
  state_->ownWindowsProvider = std::move(provider);
}

void World::callHook(AccessibilityCall::Kind kind, const ElementID& element, std::string_view name) {
  std::function<void(const AccessibilityCall&)> hook;
  {
    std::lock_guard lock(state_->hooksMutex);
    hook = state_->callHook;
  }
  if (hook) hook(AccessibilityCall{kind, element, std::string(name)});
}

std::vector<OwnWindow> World::ownWindows() {
  std::function<std::vector<OwnWindow>()> provider;
  {
    std::lock_guard lock(state_->hooksMutex);
    provider = state_->ownWindowsProvider;
  }
  return provider ? provider() : std::vector<OwnWindow>{};
}

void World::setEventsSuppressed(bool suppressed) {
  std::lock_guard lock(state_->mutex);
  state_->quiet = suppressed;
}

void World::postAccessibilityNotification(const ElementID& element, std::string notification) {
  mutate([&](State& s) {
    s.postAX(element, std::move(notification));
    return true;
  });
}

// -------- the Accessibility API's side

std::int32_t World::copyAttributeValue(const ElementID& element, std::string_view attribute, ns::Value* value) {
  if (!value) return axerr::kIllegalArgument;
  callHook(AccessibilityCall::Kind::CopyAttribute, element, attribute);
  const std::vector<OwnWindow> own =
      element.kind == ElementKind::OwnWindow ? ownWindows() : std::vector<OwnWindow>{};
  std::lock_guard lock(state_->mutex);
  State& s = *state_;
  App* a = nullptr;
  if (std::int32_t e = s.enter(element, &a); e != axerr::kSuccess) return e;
  if (!s.alive(element)) return axerr::kInvalidUIElement;
  if (const AttributeFault* f = s.faultFor(element, a, attribute)) {
    if (f->error) return *f->error;
    if (f->value) {
      *value = *f->value;
      return axerr::kSuccess;
    }
  }
  return s.read(element, attribute, own, value);
}

std::int32_t World::copyAttributeNames(const ElementID& element, std::vector<std::string>* names) {
  if (!names) return axerr::kIllegalArgument;
  std::lock_guard lock(state_->mutex);
  State& s = *state_;
  App* a = nullptr;
  if (std::int32_t e = s.enter(element, &a); e != axerr::kSuccess) return e;
  if (!s.alive(element)) return axerr::kInvalidUIElement;
  *names = s.attributeNames(element);
  return axerr::kSuccess;
}

std::int32_t World::setAttributeValue(const ElementID& element, std::string_view attribute, const ns::Value& value) {
  callHook(AccessibilityCall::Kind::SetAttribute, element, attribute);
  return mutate([&](State& s) -> std::int32_t {
    App* a = nullptr;
    if (std::int32_t e = s.enter(element, &a); e != axerr::kSuccess) return e;
    if (!s.alive(element)) return axerr::kInvalidUIElement;
    if (const AttributeFault* f = s.faultFor(element, a, attribute); f && f->error) return *f->error;
    return s.write(element, attribute, value);
  });
}

std::int32_t World::isAttributeSettable(const ElementID& element, std::string_view attribute, bool* settable) {
  if (!settable) return axerr::kIllegalArgument;
  callHook(AccessibilityCall::Kind::IsSettable, element, attribute);
  std::lock_guard lock(state_->mutex);
  State& s = *state_;
  App* a = nullptr;
  if (std::int32_t e = s.enter(element, &a); e != axerr::kSuccess) return e;
  if (!s.alive(element)) return axerr::kInvalidUIElement;
  if (const AttributeFault* f = s.faultFor(element, a, attribute); f && f->error) return *f->error;
  if (!s.supports(element, attribute)) return axerr::kAttributeUnsupported;
  *settable = s.settable(element, attribute);
  return axerr::kSuccess;
}

std::int32_t World::performAction(const ElementID& element, std::string_view action) {
  callHook(AccessibilityCall::Kind::PerformAction, element, action);
  return mutate([&](State& s) -> std::int32_t {
    App* a = nullptr;
    if (std::int32_t e = s.enter(element, &a); e != axerr::kSuccess) return e;
    if (!s.alive(element)) return axerr::kInvalidUIElement;
    return s.act(element, action);
  });
}

std::int32_t World::copyActionNames(const ElementID& element, std::vector<std::string>* names) {
  if (!names) return axerr::kIllegalArgument;
  std::lock_guard lock(state_->mutex);
  State& s = *state_;
  App* a = nullptr;
  if (std::int32_t e = s.enter(element, &a); e != axerr::kSuccess) return e;
  if (!s.alive(element)) return axerr::kInvalidUIElement;
  *names = s.actionNames(element);
  return axerr::kSuccess;
}

std::int32_t World::getPid(const ElementID& element, pid_t* pid) {
  if (!pid) return axerr::kIllegalArgument;
  // The process id travels with the element; no message reaches the process.
  if (element.kind == ElementKind::SystemWide) return axerr::kIllegalArgument;
  *pid = element.pid;
  return axerr::kSuccess;
}

std::int32_t World::getWindow(const ElementID& element, WindowID* window) {
  if (!window) return axerr::kIllegalArgument;
  callHook(AccessibilityCall::Kind::GetWindow, element, "_AXUIElementGetWindow");
  std::lock_guard lock(state_->mutex);
  State& s = *state_;
  App* a = nullptr;
  if (std::int32_t e = s.enter(element, &a); e != axerr::kSuccess) return e;
  if (!s.alive(element)) return axerr::kInvalidUIElement;
  if (element.kind == ElementKind::OwnWindow) {
    *window = static_cast<WindowID>(element.id);
    return axerr::kSuccess;
  }
  if (element.kind != ElementKind::Window) return axerr::kFailure;
  if (s.window(static_cast<WindowID>(element.id))->windowIDUnavailable) return axerr::kFailure;
  *window = static_cast<WindowID>(element.id);
  return axerr::kSuccess;
}

std::int32_t World::elementAtPosition(const ElementID& root, double x, double y, ElementID* element) {
  if (!element || !std::isfinite(x) || !std::isfinite(y)) return axerr::kIllegalArgument;
  if (root.kind != ElementKind::SystemWide && root.kind != ElementKind::Application) return axerr::kIllegalArgument;
  callHook(AccessibilityCall::Kind::HitTest, root, "AXUIElementCopyElementAtPosition");
  const std::vector<OwnWindow> own = ownWindows();
  std::lock_guard lock(state_->mutex);
  State& s = *state_;
  if (!s.trusted) return axerr::kAPIDisabled;
  std::optional<pid_t> only;
  if (root.kind == ElementKind::Application) {
    if (!s.app(root.pid)) return axerr::kInvalidUIElement;
    only = root.pid;
  }
  auto found = s.hit(CGPoint{x, y}, only, own);
  if (!found) return axerr::kNoValue;
  // The answer comes from the process under the point.
  App* a = nullptr;
  if (std::int32_t e = s.enter(*found, &a); e != axerr::kSuccess) return e;
  *element = *found;
  return axerr::kSuccess;
}

std::optional<pid_t> World::processAtPoint(CGPoint topLeft) {
  const std::vector<OwnWindow> own = ownWindows();
  std::lock_guard lock(state_->mutex);
  auto found = state_->hit(topLeft, std::nullopt, own);
  if (!found) return std::nullopt;
  return found->pid;
}

std::uint64_t World::hashOf(const ElementID& element) const {
  std::lock_guard lock(state_->mutex);
  const std::uint64_t h = element.mix();
  return state_->hashBuckets ? h % *state_->hashBuckets : h;
}

std::int32_t World::checkObserverCreate(pid_t pid) {
  std::lock_guard lock(state_->mutex);
  State& s = *state_;
  if (!s.trusted) return axerr::kAPIDisabled;
  if (pid <= 0) return axerr::kIllegalArgument;
  if (const App* a = s.app(pid); a && a->faults.observerCreateError) return *a->faults.observerCreateError;
  return axerr::kSuccess;
}

std::int32_t World::checkAddNotification(const ElementID& element, std::string_view notification) {
  std::lock_guard lock(state_->mutex);
  State& s = *state_;
  App* a = nullptr;
  if (std::int32_t e = s.enter(element, &a); e != axerr::kSuccess) return e;
  if (!s.alive(element)) return axerr::kInvalidUIElement;
  if (a) {
    if (auto it = a->faults.notificationErrors.find(notification); it != a->faults.notificationErrors.end()) {
      return it->second;
    }
  }
  return axerr::kSuccess;
}

// -------- the window server's side

bool World::isValidConnection(int connection) const {
  std::lock_guard lock(state_->mutex);
  return state_->apps.count(connection) > 0;
}

std::optional<ns::Value> World::managedDisplaySpaces() {
  std::optional<ns::Value> list;
  {
    std::lock_guard lock(state_->mutex);
    const State& s = *state_;
    if (s.managedFails) return std::nullopt;
    ns::Array displays;
    for (DisplayID id : s.windowServerOrder()) {
      const Display& d = *s.display(id);
      ns::Dictionary entry;
      entry["Display Identifier"] = ns::Value(d.windowServerIdentifier.value_or(d.uuid));
      ns::Array spaces;
      for (SpaceID sp : d.spaces) spaces.push_back(State::spaceDictionary(s.spaces.at(sp)));
      entry["Spaces"] = ns::Value(std::move(spaces));
      entry["Current Space"] = State::spaceDictionary(s.spaces.at(d.current));
      displays.push_back(ns::Value(std::move(entry)));
    }
    list = ns::Value(std::move(displays));
  }
  std::function<ns::Value(ns::Value)> transform;
  {
    std::lock_guard lock(state_->hooksMutex);
    transform = state_->managedTransform;
  }
  if (transform) list = transform(std::move(*list));
  return list;
}

std::optional<ns::Value> World::copySpaces(int mask) {
  std::lock_guard lock(state_->mutex);
  const State& s = *state_;
  if (s.copySpacesFails) return std::nullopt;
  ns::Array out;
  for (SpaceID id : s.allSpacesInOrder()) {
    if (s.spaceMatches(id, mask)) out.push_back(ns::Value(static_cast<std::uint64_t>(id)));
  }
  return ns::Value(std::move(out));
}

std::optional<ns::Value> World::copySpacesForWindows(int mask, const std::vector<WindowID>& windows) {
  std::lock_guard lock(state_->mutex);
  const State& s = *state_;
  ns::Array out;
  for (SpaceID id : s.allSpacesInOrder()) {
    if (!s.spaceMatches(id, mask)) continue;
    const bool member = std::any_of(windows.begin(), windows.end(), [&](WindowID wid) {
      const Window* w = s.window(wid);
      return w && s.windowOn(*w, id);
    });
    if (member) out.push_back(ns::Value(static_cast<std::uint64_t>(id)));
  }
  return ns::Value(std::move(out));
}

std::optional<ns::Value> World::copyWindowsOnSpaces(int owner, const std::vector<SpaceID>& spaces,
                                                    std::uint32_t options) {
  std::lock_guard lock(state_->mutex);
  const State& s = *state_;
  ns::Array out;
  for (WindowID id : s.zOrder) {
    const Window& w = *s.window(id);
    if (owner != 0 && w.pid != owner) continue;
    if (!(options & kWindowOptionIncludeOffscreen)) {
      const App* a = s.app(w.pid);
      if (w.minimized || !a || a->hidden) continue;
    }
    if (std::any_of(spaces.begin(), spaces.end(), [&](SpaceID sp) { return s.windowOn(w, sp); })) {
      out.push_back(ns::Value(static_cast<std::uint32_t>(id)));
    }
  }
  return ns::Value(std::move(out));
}

bool World::addWindowsToSpaces(const std::vector<WindowID>& windows, const std::vector<SpaceID>& spaces) {
  std::lock_guard lock(state_->mutex);
  State& s = *state_;
  for (WindowID id : windows) {
    Window* w = s.window(id);
    if (!w || w->onAllSpaces) continue;
    for (SpaceID sp : spaces)
      if (s.spaces.count(sp)) w->spaces.insert(sp);
  }
  return true;
}

bool World::removeWindowsFromSpaces(const std::vector<WindowID>& windows, const std::vector<SpaceID>& spaces) {
  std::lock_guard lock(state_->mutex);
  State& s = *state_;
  for (WindowID id : windows) {
    Window* w = s.window(id);
    if (!w || w->onAllSpaces) continue;
    for (SpaceID sp : spaces) w->spaces.erase(sp);
  }
  return true;
}

std::optional<std::vector<std::shared_ptr<const img::Bitmap>>> World::captureWindows(
    const std::vector<WindowID>& windows, std::uint32_t options, std::optional<PixelSize> fit,
    std::vector<PixelSize>* fullSizes) {
  struct Job {
    int width;
    int height;
    img::Pixel color;
    PixelSize full;
  };
  std::vector<Job> jobs;
  {
    std::lock_guard lock(state_->mutex);
    const State& s = *state_;
    if (!s.captureAllowed) return std::vector<std::shared_ptr<const img::Bitmap>>{};
    for (WindowID id : windows) {
      const Window* w = s.window(id);
      if (!w || w->captureFails) continue;
      const Display* d = s.displayOf(*w);
      const double scale = (options & kCaptureNominalResolution) || !d ? 1.0 : d->scale;
      auto pixels = [&](double points) {
        const double p = std::round(points * scale);
        return static_cast<int>(std::clamp(p, 1.0, static_cast<double>(img::Bitmap::kMaxDimension)));
      };
      const int width = pixels(w->frame.size.width), height = pixels(w->frame.size.height);
      Job job{width, height, w->color, {width, height}};
      if (fit) {
        const double k = std::min({1.0, std::max(1, fit->first) / static_cast<double>(width),
                                   std::max(1, fit->second) / static_cast<double>(height)});
        job.width = std::max(1, static_cast<int>(std::lround(width * k)));
        job.height = std::max(1, static_cast<int>(std::lround(height * k)));
      }
      jobs.push_back(job);
    }
  }
  std::vector<std::shared_ptr<const img::Bitmap>> images;
  for (const auto& job : jobs) {
    if (auto bitmap = img::Bitmap::filled(job.width, job.height, job.color)) {
      images.push_back(std::make_shared<const img::Bitmap>(std::move(*bitmap)));
      if (fullSizes) fullSizes->push_back(job.full);
    }
  }
  return images;
}

std::optional<std::string> World::displayUUID(DisplayID display) const {
  std::lock_guard lock(state_->mutex);
  const Display* d = state_->display(display);
  if (!d || d->uuidUnavailable) return std::nullopt;
  return d->uuid;
}

}  // namespace sim
