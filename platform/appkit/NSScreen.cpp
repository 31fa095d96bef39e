#include "platform/appkit/NSScreen.h"

#include <cstdio>
#include <mutex>

#include "platform/appkit/NSEvent.h"
#include "platform/appkit/SimulatedDesktopBridge.h"
#include "platform/sim/World.h"

namespace appkit {

namespace {


// The screen objects of the present display configuration.
class Screens {
 public:
  static Screens& shared() {
    static Screens* screens = new Screens();
    return *screens;
  }

  std::vector<std::shared_ptr<NSScreen>> current() {
    std::lock_guard lock(mutex_);
    const auto key = std::make_pair(sim::World::shared().epoch(), sim::World::shared().screenConfigurationGeneration());
    if (key != key_ || !valid_) {
      screens_.clear();
      ids_.clear();
      for (const auto& d : sim::World::shared().displays()) {
        screens_.push_back(std::make_shared<NSScreen>(d.id, d.frame, d.visibleFrame, d.scale, d.name,
                                                      d.hasScreenNumber));
        ids_.push_back(d.id);
      }
      key_ = key;
      valid_ = true;
    }
    return screens_;
  }

  std::shared_ptr<NSScreen> forDisplay(std::uint32_t id) {
    auto list = current();
    std::lock_guard lock(mutex_);
    for (std::size_t i = 0; i < ids_.size() && i < list.size(); ++i) {
      if (ids_[i] == id) return list[i];
    }
    return nullptr;
  }

 private:
  std::mutex mutex_;
  bool valid_ = false;
  std::pair<std::uint64_t, std::uint64_t> key_{0, 0};
  std::vector<std::shared_ptr<NSScreen>> screens_;
  std::vector<std::uint32_t> ids_;
};

}  // namespace

NSScreen::NSScreen(std::uint32_t displayID, CGRect frame, CGRect visibleFrame, double scale, std::string name,
                   bool hasScreenNumber)
    : displayID_(displayID), frame_(frame), visibleFrame_(visibleFrame), scale_(scale), name_(std::move(name)) {
  if (hasScreenNumber) deviceDescription_["NSScreenNumber"] = ns::Value(displayID);
  deviceDescription_["NSDeviceSize"] = ns::Value(ns::Dictionary{{"width", ns::Value(frame.size.width)},
                                                                {"height", ns::Value(frame.size.height)}});
  deviceDescription_["NSDeviceResolution"] =
      ns::Value(ns::Dictionary{{"width", ns::Value(72.0 * scale)}, {"height", ns::Value(72.0 * scale)}});
}

std::vector<std::shared_ptr<NSScreen>> NSScreen::screens() {
  connectToSimulatedDesktop();
  return Screens::shared().current();
}

std::shared_ptr<NSScreen> NSScreen::mainScreen() {
  connectToSimulatedDesktop();
  auto key = sim::World::shared().keyDisplay();
  if (!key) return nullptr;
  if (auto screen = Screens::shared().forDisplay(*key)) return screen;
  auto all = screens();
  return all.empty() ? nullptr : all.front();
}

std::shared_ptr<NSScreen> NSScreen::screenWithMouse() {
  const CGPoint mouse = NSEvent::mouseLocation();
  for (const auto& screen : screens()) {
    if (NSMouseInRect(mouse, screen->frame())) return screen;
  }
  return nullptr;
}

CGPoint NSScreen::flippedPoint(CGPoint point) { return sim::World::shared().flippedPoint(point); }

CGRect NSScreen::flippedRect(const CGRect& rect) { return sim::World::shared().flippedRect(rect); }

std::optional<std::uint32_t> NSScreen::displayNumber() const {
  auto it = deviceDescription_.find("NSScreenNumber");
  if (it == deviceDescription_.end() || !it->second.isInteger()) return std::nullopt;
  auto n = it->second.asUInt64();
  if (!n || (it->second.isInt() && *it->second.asInt64() < 0) || *n > UINT32_MAX) return std::nullopt;
  return static_cast<std::uint32_t>(*n);
}

std::string NSScreen::description() const {
  char buffer[160];
  std::snprintf(buffer, sizeof buffer, "<NSScreen: %p; name = %s; frame = {{%g, %g}, {%g, %g}}>",
                static_cast<const void*>(this), name_.c_str(), frame_.origin.x, frame_.origin.y, frame_.size.width,
                frame_.size.height);
  return buffer;
}

}  // namespace appkit
