#include "platform/windowserver/CGSSpace.h"

#include <algorithm>
#include <limits>

#include "platform/sim/World.h"
#include "platform/windowserver/CGDisplay.h"

namespace cgs {

namespace {

sim::World& world() { return sim::World::shared(); }

// A list of numbers as ids; nothing when the value is not such a list.
template <class Id>
std::optional<std::vector<Id>> ids(const ns::Value& value) {
  const ns::Array* array = value.array();
  if (!array) return std::nullopt;
  std::vector<Id> out;
  out.reserve(array->size());
  for (const auto& v : *array) {
    if (!v.isInteger()) return std::nullopt;
    auto n = v.asUInt64();
    if (!n || (v.isInt() && *v.asInt64() < 0) || *n > std::numeric_limits<Id>::max()) return std::nullopt;
    out.push_back(static_cast<Id>(*n));
  }
  return out;
}

}  // namespace

CGSConnectionID CGSMainConnectionID() { return world().selfPid(); }

std::optional<ns::Value> CGSCopyManagedDisplaySpaces(CGSConnectionID cid) {
  if (!world().isValidConnection(cid)) return std::nullopt;
  return world().managedDisplaySpaces();
}

std::optional<ns::Value> CGSCopySpaces(CGSConnectionID cid, int mask) {
  if (!world().isValidConnection(cid)) return std::nullopt;
  return world().copySpaces(mask);
}

std::optional<ns::Value> CGSCopySpacesForWindows(CGSConnectionID cid, int mask, const ns::Value& windowIDs) {
  if (!world().isValidConnection(cid)) return std::nullopt;
  auto windows = ids<CGWindowID>(windowIDs);
  if (!windows) return std::nullopt;
  return world().copySpacesForWindows(mask, *windows);
}

std::optional<ns::Value> CGSCopyWindowsWithOptionsAndTags(CGSConnectionID cid, int owner, const ns::Value& spaceIDs,
                                                          std::uint32_t options, std::uint64_t* /*setTags*/,
                                                          std::uint64_t* /*clearTags*/) {
  if (!world().isValidConnection(cid)) return std::nullopt;
  auto spaces = ids<CGSSpaceID>(spaceIDs);
  if (!spaces) return std::nullopt;
  return world().copyWindowsOnSpaces(owner, *spaces, options);
}

CGError CGSAddWindowsToSpaces(CGSConnectionID cid, const ns::Value& windowIDs, const ns::Value& spaceIDs) {
  if (!world().isValidConnection(cid)) return kCGErrorInvalidConnection;
  auto windows = ids<CGWindowID>(windowIDs);
  auto spaces = ids<CGSSpaceID>(spaceIDs);
  if (!windows || !spaces) return kCGErrorIllegalArgument;
  return world().addWindowsToSpaces(*windows, *spaces) ? kCGErrorSuccess : kCGErrorFailure;
}

CGError CGSRemoveWindowsFromSpaces(CGSConnectionID cid, const ns::Value& windowIDs, const ns::Value& spaceIDs) {
  if (!world().isValidConnection(cid)) return kCGErrorInvalidConnection;
  auto windows = ids<CGWindowID>(windowIDs);
  auto spaces = ids<CGSSpaceID>(spaceIDs);
  if (!windows || !spaces) return kCGErrorIllegalArgument;
  return world().removeWindowsFromSpaces(*windows, *spaces) ? kCGErrorSuccess : kCGErrorFailure;
}

std::optional<std::vector<CGImageRef>> CGSHWCaptureWindowList(CGSConnectionID cid, const CGWindowID* windowList,
                                                              int count, std::uint32_t options) {
  if (!world().isValidConnection(cid) || count < 0 || (count > 0 && !windowList)) return std::nullopt;
  std::vector<sim::WindowID> windows(windowList, windowList + count);
  return world().captureWindows(windows, options);
}

std::optional<std::vector<CGImageRef>> CGSHWCaptureWindowListFitting(
    CGSConnectionID cid, const CGWindowID* windowList, int count, std::uint32_t options, std::size_t maximumWidth,
    std::size_t maximumHeight, std::vector<std::pair<std::size_t, std::size_t>>* fullSizes) {
  if (!world().isValidConnection(cid) || count < 0 || (count > 0 && !windowList)) return std::nullopt;
  auto clamp = [](std::size_t v) { return static_cast<int>(std::clamp<std::size_t>(v, 1, img::Bitmap::kMaxDimension)); };
  std::vector<sim::WindowID> windows(windowList, windowList + count);
  std::vector<sim::World::PixelSize> full;
  auto images = world().captureWindows(windows, options, sim::World::PixelSize{clamp(maximumWidth), clamp(maximumHeight)},
                                       &full);
  if (images && fullSizes) {
    for (const auto& [w, h] : full) fullSizes->emplace_back(static_cast<std::size_t>(w), static_cast<std::size_t>(h));
  }
  return images;
}

std::size_t CGImageGetWidth(const CGImageRef& image) {
  return image ? static_cast<std::size_t>(image->pixelsWide()) : 0;
}

std::size_t CGImageGetHeight(const CGImageRef& image) {
  return image ? static_cast<std::size_t>(image->pixelsHigh()) : 0;
}

std::optional<ns::UUID> CGDisplayCreateUUIDFromDisplayID(CGDirectDisplayID display) {
  auto text = world().displayUUID(display);
  if (!text) return std::nullopt;
  return ns::UUID::fromString(*text);
}

std::string CFUUIDCreateString(const ns::UUID& uuid) { return uuid.UUIDString(); }

bool CGPreflightScreenCaptureAccess() { return world().isScreenCaptureAllowed(); }

bool CGRequestScreenCaptureAccess() {
  world().recordScreenCaptureRequest();
  return world().isScreenCaptureAllowed();
}

}  // namespace cgs
