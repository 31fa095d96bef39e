#pragma once
// The window server's calls on Spaces, windows and captures, over the
// simulated desktop. Lists go in and come out as ns::Value arrays of numbers
// (Space ids as unsigned 64-bit, window ids as unsigned 32-bit), dictionaries
// as ns::Value dictionaries, as the private interface hands out its CF
// collections. A call on an unknown connection gives nothing.
//
// CGSCopyManagedDisplaySpaces answers a list with one dictionary per display,
// in the window server's order of displays:
//   "Display Identifier": the display's UUID string
//   "Spaces": [ { "id64": Space id, "ManagedSpaceID": Space id, "type": 0 user / 2 system / 4 fullscreen,
//                 "uuid": "" }, ... ]
//   "Current Space": the current Space's dictionary

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/foundation/Value.h"
#include "platform/image/Bitmap.h"

namespace cgs {

using CGSConnectionID = int;
using CGWindowID = std::uint32_t;
using CGSSpaceID = std::uint64_t;
using CGError = std::int32_t;
using CGImageRef = std::shared_ptr<const img::Bitmap>;

inline constexpr CGError kCGErrorSuccess = 0;
inline constexpr CGError kCGErrorFailure = 1000;
inline constexpr CGError kCGErrorIllegalArgument = 1001;
inline constexpr CGError kCGErrorInvalidConnection = 1002;

// Space masks: bits for the current Spaces, the other Spaces and the Spaces a
// user sees (user and fullscreen). 5 asks for the current Spaces, 6 for the
// others, 7 for all of them.
inline constexpr int kCGSSpaceIncludesCurrent = 1 << 0;
inline constexpr int kCGSSpaceIncludesOthers = 1 << 1;
inline constexpr int kCGSSpaceIncludesUser = 1 << 2;
inline constexpr int kCGSCurrentSpacesMask = kCGSSpaceIncludesCurrent | kCGSSpaceIncludesUser;
inline constexpr int kCGSOtherSpacesMask = kCGSSpaceIncludesOthers | kCGSSpaceIncludesUser;
inline constexpr int kCGSAllSpacesMask = kCGSCurrentSpacesMask | kCGSOtherSpacesMask;

// Window option: also list windows that are not drawn (minimized, or of a
// hidden application). Option 2 lists every window on the given Spaces.
inline constexpr std::uint32_t kCGSWindowListIncludeOffscreen = 1u << 1;

// Capture options: bit 9, one pixel per point (the nominal resolution); bit
// 11, ignore the global clip shape (no effect here).
inline constexpr std::uint32_t kCGSCaptureNominalResolution = 1u << 9;
inline constexpr std::uint32_t kCGSCaptureIgnoreGlobalClipShape = 1u << 11;

// This program's connection.
CGSConnectionID CGSMainConnectionID();

std::optional<ns::Value> CGSCopyManagedDisplaySpaces(CGSConnectionID cid);
std::optional<ns::Value> CGSCopySpaces(CGSConnectionID cid, int mask);
// The Spaces that hold any of the windows, in the window server's order.
std::optional<ns::Value> CGSCopySpacesForWindows(CGSConnectionID cid, int mask, const ns::Value& windowIDs);
// The windows on any of the Spaces, front to back. Owner 0: every process's.
// The tag words are accepted and left alone.
std::optional<ns::Value> CGSCopyWindowsWithOptionsAndTags(CGSConnectionID cid, int owner, const ns::Value& spaceIDs,
                                                          std::uint32_t options, std::uint64_t* setTags,
                                                          std::uint64_t* clearTags);
CGError CGSAddWindowsToSpaces(CGSConnectionID cid, const ns::Value& windowIDs, const ns::Value& spaceIDs);
CGError CGSRemoveWindowsFromSpaces(CGSConnectionID cid, const ns::Value& windowIDs, const ns::Value& spaceIDs);
// One solid image per window that exists and can be captured, in the order
// asked; an empty list without the screen-capture permission.
std::optional<std::vector<CGImageRef>> CGSHWCaptureWindowList(CGSConnectionID cid, const CGWindowID* windowList,
                                                              int count, std::uint32_t options);

// The same capture made at an output size, as a capture configured with one
// is: each image comes out scaled down to fit `maximumWidth` x `maximumHeight`
// pixels (never enlarged), and the full-size pixels are never made.
// `fullSizes`, when given, receives each image's width and height before
// scaling, in the order of the images.
std::optional<std::vector<CGImageRef>> CGSHWCaptureWindowListFitting(
    CGSConnectionID cid, const CGWindowID* windowList, int count, std::uint32_t options, std::size_t maximumWidth,
    std::size_t maximumHeight, std::vector<std::pair<std::size_t, std::size_t>>* fullSizes = nullptr);

std::size_t CGImageGetWidth(const CGImageRef& image);
std::size_t CGImageGetHeight(const CGImageRef& image);

}  // namespace cgs
