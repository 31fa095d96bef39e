#include "app/model/ScreenAndSpaceRepository.h"

#include <algorithm>
#include <set>

#include "platform/windowserver/CGDisplay.h"

namespace {

// An integer of the window server's answer; booleans, doubles and text are
// not numbers of that kind.
std::optional<std::uint64_t> unsignedValue(const ns::Value* v) {
  if (!v || !v->isInteger()) return std::nullopt;
  if (v->isInt() && *v->asInt64() < 0) return std::nullopt;
  return v->asUInt64();
}

std::optional<std::int64_t> integerValue(const ns::Value* v) {
  if (!v || !v->isInteger()) return std::nullopt;
  if (v->isUInt() && *v->asUInt64() > static_cast<std::uint64_t>(INT64_MAX)) return std::nullopt;
  return v->asInt64();
}

// A list of 64-bit Space ids; nothing when the answer is not such a list.
std::optional<std::vector<std::uint64_t>> spaceIDList(const std::optional<ns::Value>& answer) {
  if (!answer || !answer->isArray()) return std::nullopt;
  std::vector<std::uint64_t> ids;
  for (const auto& v : *answer->array()) {
    auto id = unsignedValue(&v);
    if (!id) return std::nullopt;
    ids.push_back(*id);
  }
  return ids;
}

}  // namespace

std::optional<CGSSpaceType> CGSSpaceTypeFromRawValue(std::int64_t rawValue) {
  switch (rawValue) {
    case 0: return CGSSpaceType::user;
    case 4: return CGSSpaceType::fullscreen;
    case 2: return CGSSpaceType::system;
    default: return std::nullopt;
  }
}

std::optional<std::vector<CGSManagedDisplay>> CGSManagedDisplay::all(cgs::CGSConnectionID connection) {
  auto answer = cgs::CGSCopyManagedDisplaySpaces(connection);
  if (!answer || !answer->isArray()) return std::nullopt;
  for (const auto& entry : *answer->array()) {
    if (!entry.isAnyDictionary()) return std::nullopt;
  }
  std::vector<CGSManagedDisplay> displays;
  for (const auto& entry : *answer->array()) {
    if (auto display = fromDictionary(entry)) displays.push_back(std::move(*display));
  }
  return displays;
}

std::optional<CGSManagedDisplay> CGSManagedDisplay::fromDictionary(const ns::Value& dictionary) {
  const ns::Value* identifier = dictionary.find("Display Identifier");
  if (!identifier || !identifier->isString()) return std::nullopt;
  const ns::Value* spaces = dictionary.find("Spaces");
  if (!spaces || !spaces->isArray()) return std::nullopt;
  for (const auto& s : *spaces->array()) {
    if (!s.isAnyDictionary()) return std::nullopt;
  }
  CGSManagedDisplay display;
  display.id = *identifier->string();
  for (const auto& s : *spaces->array()) {
    auto id = unsignedValue(s.find("id64"));
    auto rawType = integerValue(s.find("type"));
    if (!id || !rawType) continue;
    auto type = CGSSpaceTypeFromRawValue(*rawType);
    if (!type) continue;
    display.spaces.push_back(CGSSpace{*id, *type});
  }
  return display;
}

std::optional<std::string> displayUUIDString(const appkit::NSScreen& screen) {
  auto number = screen.displayNumber();
  if (!number) return std::nullopt;
  auto uuid = cgs::CGDisplayCreateUUIDFromDisplayID(*number);
  if (!uuid) return std::nullopt;
  return cgs::CFUUIDCreateString(*uuid);
}

ScreenAndSpaceCollection::ScreenAndSpaceCollection(const std::vector<CGSManagedDisplay>& managedDisplays,
                                                   const std::vector<std::uint64_t>& currentSpaceIDs,
                                                   const std::shared_ptr<appkit::NSScreen>& currentScreen) {
  const auto nsScreens = appkit::NSScreen::screens();
  // Each screen's UUID is worked out once.
  std::vector<std::optional<std::string>> uuids;
  uuids.reserve(nsScreens.size());
  for (const auto& s : nsScreens) uuids.push_back(displayUUIDString(*s));

  const std::set<std::uint64_t> current(currentSpaceIDs.begin(), currentSpaceIDs.end());
  std::vector<SpaceSummary> allSpaces;
  int nextUserSpaceNumber = 1;
  int lastSortOrder = 0;

  for (const auto& display : managedDisplays) {
    std::shared_ptr<appkit::NSScreen> screen;
    for (std::size_t i = 0; i < nsScreens.size(); ++i) {
      if (uuids[i] && *uuids[i] == display.id) {
        screen = nsScreens[i];
        break;
      }
    }
    if (!screen) continue;

    std::vector<CGSSpace> kept;
    for (const auto& s : display.spaces) {
      if (s.type == CGSSpaceType::system) continue;
      if (std::any_of(kept.begin(), kept.end(), [&](const CGSSpace& k) { return k.id == s.id; })) continue;
      kept.push_back(s);
    }

    ScreenSummary summary;
    summary.id = display.id;
    summary.screen = screen;
    summary.isCurrentDisplay = screen == currentScreen;
    for (const auto& s : kept) {
      SpaceSummary space;
      space.id = s.id;
      if (s.type == CGSSpaceType::user) space.userSpaceNumber = nextUserSpaceNumber++;
      space.sortOrder = ++lastSortOrder;
      space.type = s.type;
      space.isCurrentSpace = current.count(s.id) > 0;
      summary.spaces.push_back(space);
    }
    allSpaces.insert(allSpaces.end(), summary.spaces.begin(), summary.spaces.end());
    screens_.push_back(std::move(summary));
  }

  std::stable_sort(screens_.begin(), screens_.end(), [](const ScreenSummary& a, const ScreenSummary& b) {
    return a.screen->visibleFrame().origin.x < b.screen->visibleFrame().origin.x;
  });
  // Ids are unique keys: the first Space or screen with an id wins.
  for (const auto& s : allSpaces) spaceModelsBySpaceID_.emplace(s.id, s);
  for (const auto& s : screens_) screenModelsByScreenID_.emplace(s.id, s);
}

std::optional<SpaceSummary> ScreenAndSpaceCollection::space(const std::vector<std::uint64_t>& forSpaceIDs) const {
  for (std::uint64_t id : forSpaceIDs) {
    auto it = spaceModelsBySpaceID_.find(id);
    if (it != spaceModelsBySpaceID_.end() && it->second.isCurrentSpace) return it->second;
  }
  for (std::uint64_t id : forSpaceIDs) {
    auto it = spaceModelsBySpaceID_.find(id);
    if (it != spaceModelsBySpaceID_.end()) return it->second;
  }
  return std::nullopt;
}

std::optional<ScreenSummary> ScreenAndSpaceCollection::screen(const std::vector<std::uint64_t>& forSpaceIDs) const {
  for (std::uint64_t id : forSpaceIDs) {
    for (const auto& s : screens_) {
      if (std::any_of(s.spaces.begin(), s.spaces.end(), [&](const SpaceSummary& sp) { return sp.id == id; })) {
        return s;
      }
    }
  }
  return std::nullopt;
}

std::shared_ptr<const ScreenAndSpaceCollection> ScreenAndSpaceRepository::getScreensAndSpaces() {
  const cgs::CGSConnectionID connection = cgs::CGSMainConnectionID();
  auto displays = CGSManagedDisplay::all(connection);
  if (!displays) return nullptr;
  auto currentSpaceIDs = spaceIDList(cgs::CGSCopySpaces(connection, cgs::kCGSCurrentSpacesMask));
  if (!currentSpaceIDs) return nullptr;
  auto currentScreen = appkit::NSScreen::screenWithMouse();
  if (!currentScreen) currentScreen = appkit::NSScreen::mainScreen();
  if (!currentScreen) return nullptr;
  return std::make_shared<const ScreenAndSpaceCollection>(*displays, *currentSpaceIDs, currentScreen);
}
