#pragma once
// Windows and panels of this program, and the ordered list of the visible
// ones that the simulated desktop reads for hit testing and drawing.
//
// Frames are in bottom-left screen coordinates. A titled window has a title
// bar of kTitleBarHeight points above its content. Main thread only.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/appkit/NSColor.h"
#include "platform/appkit/NSGeometry.h"
#include "platform/appkit/NSView.h"
#include "platform/concurrency/Publisher.h"
#include "platform/ui/Events.h"

namespace appkit {

class NSViewController;

// NSWindow.StyleMask raw values.
enum NSWindowStyleMask : std::uint64_t {
  NSWindowStyleMaskBorderless = 0,
  NSWindowStyleMaskTitled = 1 << 0,
  NSWindowStyleMaskClosable = 1 << 1,
  NSWindowStyleMaskMiniaturizable = 1 << 2,
  NSWindowStyleMaskResizable = 1 << 3,
  NSWindowStyleMaskUtilityWindow = 1 << 4,
  NSWindowStyleMaskNonactivatingPanel = 1 << 7,
  NSWindowStyleMaskHUDWindow = 1 << 13,
  NSWindowStyleMaskFullSizeContentView = 1 << 15,
};

enum class NSBackingStoreType { retained = 0, nonretained = 1, buffered = 2 };

using NSWindowLevel = int;
inline constexpr NSWindowLevel NSNormalWindowLevel = 0;
inline constexpr NSWindowLevel NSFloatingWindowLevel = 3;
inline constexpr NSWindowLevel NSModalPanelWindowLevel = 8;
inline constexpr NSWindowLevel NSMainMenuWindowLevel = 24;
inline constexpr NSWindowLevel NSStatusWindowLevel = 25;
inline constexpr NSWindowLevel NSPopUpMenuWindowLevel = 101;
inline constexpr NSWindowLevel NSScreenSaverWindowLevel = 1000;

// NSWindow.CollectionBehavior raw values.
enum NSWindowCollectionBehavior : std::uint64_t {
  NSWindowCollectionBehaviorDefault = 0,
  NSWindowCollectionBehaviorCanJoinAllSpaces = 1 << 0,
  NSWindowCollectionBehaviorMoveToActiveSpace = 1 << 1,
  NSWindowCollectionBehaviorManaged = 1 << 2,
  NSWindowCollectionBehaviorTransient = 1 << 3,
  NSWindowCollectionBehaviorStationary = 1 << 4,
  NSWindowCollectionBehaviorFullScreenPrimary = 1 << 7,
  NSWindowCollectionBehaviorFullScreenAuxiliary = 1 << 8,
};

enum class NSWindowTitleVisibility { visible = 0, hidden = 1 };

using NSModalResponse = long;
inline constexpr NSModalResponse NSModalResponseOK = 1;
inline constexpr NSModalResponse NSModalResponseCancel = 0;
// A modal session ended without a button: stopped, or aborted.
inline constexpr NSModalResponse NSModalResponseStop = -1000;
inline constexpr NSModalResponse NSModalResponseAbort = -1001;

inline constexpr double kTitleBarHeight = 28;

class NSWindow;

// Optional window delegate calls.
class NSWindowDelegate {
 public:
  virtual ~NSWindowDelegate() = default;
  virtual bool windowShouldClose(NSWindow&) { return true; }
  virtual void windowWillClose(NSWindow&) {}
  virtual void windowDidBecomeKey(NSWindow&) {}
  virtual void windowDidResignKey(NSWindow&) {}
  virtual void windowDidResize(NSWindow&) {}
  virtual void windowDidMove(NSWindow&) {}
};

class NSWindow : public NSResponder, public std::enable_shared_from_this<NSWindow> {
 public:
  // initWithContentRect:styleMask:backing:defer:
  static std::shared_ptr<NSWindow> make(NSRect contentRect, std::uint64_t styleMask,
                                        NSBackingStoreType backing = NSBackingStoreType::buffered, bool defer = false);
  ~NSWindow() override;
  NSWindow(const NSWindow&) = delete;
  NSWindow& operator=(const NSWindow&) = delete;

  long windowNumber() const { return windowNumber_; }

  // Geometry.
  NSRect frame() const { return frame_; }
  void setFrame(NSRect frame, bool display = true, bool animate = false);
  void setFrameOrigin(NSPoint origin);
  void setContentSize(NSSize size);  // keeps the top-left corner
  NSRect contentRectForFrameRect(NSRect frame) const;
  NSRect frameRectForContentRect(NSRect content) const;
  NSRect contentRect() const { return contentRectForFrameRect(frame_); }
  // Centred horizontally on the main screen's visible frame, a third of the
  // free space above it and two thirds below.
  void center();

  // Appearance and behaviour.
  const std::string& title() const { return title_; }
  void setTitle(std::string title);
  NSWindowTitleVisibility titleVisibility() const { return titleVisibility_; }
  void setTitleVisibility(NSWindowTitleVisibility v) { titleVisibility_ = v; }
  std::uint64_t styleMask() const { return styleMask_; }
  void setStyleMask(std::uint64_t mask);
  NSWindowLevel level() const { return level_; }
  void setLevel(NSWindowLevel level);
  std::uint64_t collectionBehavior() const { return collectionBehavior_; }
  void setCollectionBehavior(std::uint64_t behavior) { collectionBehavior_ = behavior; }
  double alphaValue() const { return alpha_; }
  void setAlphaValue(double alpha);
  bool isOpaque() const { return opaque_; }
  void setOpaque(bool opaque) { opaque_ = opaque; }
  NSColor backgroundColor() const { return backgroundColor_; }
  void setBackgroundColor(NSColor color) { backgroundColor_ = color; }
  bool hasShadow() const { return hasShadow_; }
  void setHasShadow(bool s) { hasShadow_ = s; }
  bool ignoresMouseEvents() const { return ignoresMouseEvents_; }
  void setIgnoresMouseEvents(bool i) { ignoresMouseEvents_ = i; }
  bool isReleasedWhenClosed() const { return false; }

  // Changes made through the animator apply at once (inside an animation group too).
  NSWindow& animator() { return *this; }

  // Content.
  std::shared_ptr<NSView> contentView() const { return contentView_; }
  void setContentView(std::shared_ptr<NSView> view);
  std::shared_ptr<NSViewController> contentViewController() const { return contentViewController_; }
  void setContentViewController(std::shared_ptr<NSViewController> controller);
  // The ui host of a hosting content view, if any.
  std::shared_ptr<ui::Host> contentHost() const;

  // Ordering.
  bool isVisible() const { return visible_; }
  bool isKeyWindow() const;
  virtual bool canBecomeKeyWindow() const;
  void orderFront();
  void orderFrontRegardless() { orderFront(); }
  void orderBack();
  void orderOut();
  void makeKeyWindow();
  void makeKeyAndOrderFront();
  // Asks the delegate, then closes.
  void performClose();
  // Tells the delegate (windowWillClose) and orders the window out; the
  // window stays usable and can be shown again.
  void close();

  std::shared_ptr<NSWindowDelegate> delegate() const { return delegate_.lock(); }
  void setDelegate(std::weak_ptr<NSWindowDelegate> delegate) { delegate_ = std::move(delegate); }

  // Sheets: the sheet is shown attached to this window until endSheet.
  void beginSheet(std::shared_ptr<NSWindow> sheet, std::function<void(NSModalResponse)> completion = {});
  void endSheet(std::shared_ptr<NSWindow> sheet, NSModalResponse returnCode = NSModalResponseOK);
  std::shared_ptr<NSWindow> attachedSheet() const { return attachedSheet_; }
  std::shared_ptr<NSWindow> sheetParent() const { return sheetParent_.lock(); }
  bool isSheet() const { return !sheetParent_.expired(); }

  // Input from the desktop, in bottom-left screen coordinates. A press and
  // a release on the close button of a titled, closable window (14 x 16
  // points, 7 points from the left and 6 down from the top of the title bar)
  // close it with performClose.
  bool isOnCloseButton(NSPoint screenPoint) const;
  void sendMouseMoved(NSPoint screenPoint);
  void sendMouseExited();
  void sendMouseDown(NSPoint screenPoint);
  void sendMouseUp(NSPoint screenPoint);
  void sendRightMouseDown(NSPoint screenPoint);
  void sendScrollWheel(NSPoint screenPoint, ui::ScrollEvent event);
  // Goes to the attached sheet while one is shown.
  bool sendKeyDown(ui::Key key);
  // From bottom-left screen coordinates to the content's top-left coordinates.
  ui::Point contentPointFromScreen(NSPoint screenPoint) const;

  // The window's content drawn at `scale` (title bar and background not included).
  std::optional<img::Bitmap> renderContent(double scale = 1.0) const;

 protected:
  NSWindow(NSRect contentRect, std::uint64_t styleMask);

 private:
  friend class WindowList;
  void fitContentToHost();
  void syncHostedSheets();
  void willAppear();
  void didAppear();
  void willDisappear();
  void didDisappear();

  long windowNumber_;
  NSRect frame_;
  std::string title_;
  NSWindowTitleVisibility titleVisibility_ = NSWindowTitleVisibility::visible;
  std::uint64_t styleMask_;
  NSWindowLevel level_ = NSNormalWindowLevel;
  std::uint64_t collectionBehavior_ = 0;
  double alpha_ = 1.0;
  bool opaque_ = true;
  NSColor backgroundColor_ = windowBackgroundColor();
  bool hasShadow_ = true;
  bool ignoresMouseEvents_ = false;
  bool visible_ = false;
  std::shared_ptr<NSView> contentView_;
  std::shared_ptr<NSViewController> contentViewController_;
  std::weak_ptr<NSWindowDelegate> delegate_;
  std::shared_ptr<NSWindow> attachedSheet_;
  std::weak_ptr<NSWindow> sheetParent_;
  std::function<void(NSModalResponse)> sheetCompletion_;
  // Sheets presented by the hosted ui tree, by their host.
  std::vector<std::pair<std::shared_ptr<ui::Host>, std::shared_ptr<NSWindow>>> hostedSheets_;
  // A press went down on the title bar's close button; the release there closes.
  bool closeButtonPressed_ = false;
};

// NSPanel: a non-activating panel never activates the application; it still
// becomes key when asked with makeKeyWindow or makeKeyAndOrderFront.
class NSPanel : public NSWindow {
 public:
  static std::shared_ptr<NSPanel> make(NSRect contentRect, std::uint64_t styleMask,
                                       NSBackingStoreType backing = NSBackingStoreType::buffered, bool defer = false);
  bool isFloatingPanel() const { return floating_; }
  void setFloatingPanel(bool f);
  bool becomesKeyOnlyIfNeeded() const { return becomesKeyOnlyIfNeeded_; }
  void setBecomesKeyOnlyIfNeeded(bool b) { becomesKeyOnlyIfNeeded_ = b; }
  bool hidesOnDeactivate() const { return hidesOnDeactivate_; }
  void setHidesOnDeactivate(bool h) { hidesOnDeactivate_ = h; }

 protected:
  NSPanel(NSRect contentRect, std::uint64_t styleMask) : NSWindow(contentRect, styleMask) {}

 private:
  bool floating_ = false;
  bool becomesKeyOnlyIfNeeded_ = false;
  bool hidesOnDeactivate_ = true;
};

// The program's own visible windows, front to back, for the layer that
// draws the desktop and hit-tests it.
struct WindowInfo {
  long windowNumber = 0;
  NSRect frame;
  NSWindowLevel level = 0;
  double alpha = 1;
  bool opaque = true;
  bool isKey = false;
  bool ignoresMouseEvents = false;
  std::string title;
  std::shared_ptr<ui::Host> host;  // the content's view tree, if hosted
  std::shared_ptr<NSWindow> window;
};

class WindowList {
 public:
  // Visible windows, front to back: higher levels first, then the most
  // recently ordered front.
  static std::vector<WindowInfo> visibleWindows();
  // Every window made and not yet destroyed, in creation order.
  static std::vector<std::shared_ptr<NSWindow>> allWindows();
  static std::shared_ptr<NSWindow> keyWindow();
  // The frontmost visible window whose frame holds the point and that takes
  // mouse events (not ignoring them, not fully transparent).
  static std::shared_ptr<NSWindow> windowAtPoint(NSPoint screenPoint);
  // Called after every change of the list (order, visibility, frame, level, alpha).
  static conc::AnyCancellable observe(std::function<void()> changed);

  // Routing of desktop input: moves reach every visible window (tracking
  // works whatever the z-order); a press goes to the window under the
  // pointer and its release to the same window; keys go to the key window.
  static void dispatchMouseMoved(NSPoint screenPoint);
  static std::shared_ptr<NSWindow> dispatchMouseDown(NSPoint screenPoint);
  static void dispatchMouseUp(NSPoint screenPoint);
  static std::shared_ptr<NSWindow> dispatchRightMouseDown(NSPoint screenPoint);
  static std::shared_ptr<NSWindow> dispatchScrollWheel(NSPoint screenPoint, ui::ScrollEvent event);
  static bool dispatchKeyDown(ui::Key key);

  // Forgets every window (for tests).
  static void resetForTesting();

 private:
  friend class NSWindow;
  static void changed();
};

// The main screen's visible frame, used by center(); (0, 0, 1440, 875)
// while no screen is known.
NSRect mainScreenVisibleFrame();

}  // namespace appkit
