#pragma once
// The displays and their Spaces at one moment, read from the window server
// and matched to the AppKit screens by display UUID: screens sorted left to
// right, user Spaces numbered from 1 across all displays, and the lookups of
// a window's Space and screen by the ids of the Spaces it is on.

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/appkit/NSScreen.h"
#include "platform/foundation/Value.h"
#include "platform/windowserver/CGSSpace.h"

// Raw values as the window server numbers Space types; any other number has
// no case, and a Space of such a type is dropped wherever Spaces are read.
enum class CGSSpaceType : int { user = 0, fullscreen = 4, system = 2 };

std::optional<CGSSpaceType> CGSSpaceTypeFromRawValue(std::int64_t rawValue);

struct CGSSpace {
  std::uint64_t id = 0;
  CGSSpaceType type = CGSSpaceType::user;
  bool operator==(const CGSSpace&) const = default;
};

// One entry of the window server's list of managed displays.
struct CGSManagedDisplay {
  std::string id{};  // the display identifier (a display UUID string)
  std::vector<CGSSpace> spaces{};

  // The managed displays of a connection, in the window server's order;
  // nothing when the answer is not a list of dictionaries.
  static std::optional<std::vector<CGSManagedDisplay>> all(cgs::CGSConnectionID connection);
  // One display from one dictionary of that list; nothing when the
  // identifier or the Space list is missing or of another type. Malformed
  // Space entries and Spaces of unknown types are skipped.
  static std::optional<CGSManagedDisplay> fromDictionary(const ns::Value& dictionary);
};

struct SpaceSummary {
  std::uint64_t id = 0;
  std::optional<int> userSpaceNumber{};  // user Spaces only
  int sortOrder = 0;                   // among all kept Spaces of all displays, from 1
  CGSSpaceType type = CGSSpaceType::user;
  bool isCurrentSpace = false;
  friend bool operator==(const SpaceSummary&, const SpaceSummary&) = default;
};

struct ScreenSummary {
  std::string id{};  // the managed display's identifier: the UUID string of the screen's display
  std::shared_ptr<appkit::NSScreen> screen{};
  bool isCurrentDisplay = false;
  std::vector<SpaceSummary> spaces{};  // in the window server's order
  friend bool operator==(const ScreenSummary&, const ScreenSummary&) = default;
};

class ScreenAndSpaceCollection {
 public:
  // Reads the AppKit screens (main thread).
  ScreenAndSpaceCollection(const std::vector<CGSManagedDisplay>& managedDisplays,
                           const std::vector<std::uint64_t>& currentSpaceIDs,
                           const std::shared_ptr<appkit::NSScreen>& currentScreen);

  const std::vector<ScreenSummary>& screens() const { return screens_; }
  const std::map<std::uint64_t, SpaceSummary>& spaceModelsBySpaceID() const { return spaceModelsBySpaceID_; }
  const std::map<std::string, ScreenSummary>& screenModelsByScreenID() const { return screenModelsByScreenID_; }

  // The first of the ids whose Space is current, else the first the
  // collection knows, else nothing.
  std::optional<SpaceSummary> space(const std::vector<std::uint64_t>& forSpaceIDs) const;
  // For each id in order, the first screen (in screens() order) that lists it.
  std::optional<ScreenSummary> screen(const std::vector<std::uint64_t>& forSpaceIDs) const;

 private:
  std::vector<ScreenSummary> screens_;
  std::map<std::uint64_t, SpaceSummary> spaceModelsBySpaceID_;
  std::map<std::string, ScreenSummary> screenModelsByScreenID_;
};

class ScreenAndSpaceRepository {
 public:
  // A fresh collection from the window server (never cached), or nullptr
  // when the window server or AppKit gives no answer. Main thread.
  static std::shared_ptr<const ScreenAndSpaceCollection> getScreensAndSpaces();
};

// The UUID string of a screen's display, or nothing (no display number, or
// no UUID for it).
std::optional<std::string> displayUUIDString(const appkit::NSScreen& screen);
