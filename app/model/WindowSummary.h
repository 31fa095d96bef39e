#pragma once
// One application's windows for a preview: screens, then Spaces, then
// windows. Snapshots, built on the main thread after the windows were read on
// the Accessibility queue, never changed afterwards.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/model/AXUIElementWrapper.h"
#include "app/model/ScreenAndSpaceRepository.h"
#include "platform/image/Image.h"

struct WindowSummary {
  AXUIElementWrapper element;  // two summaries describe the same window when these are equal
  SpaceSummary space;
  ScreenSummary screen;
  std::optional<CGRect> frame{};  // top-left, absent when the read failed
  std::string title{};
  std::uint32_t windowID = 0;
  bool minimized = false;
  std::optional<img::Image> thumbnailImage{};
  bool isMain = false;
  bool isHidden = false;
  bool isResizable = false;
};

struct ApplicationSummarySpace {
  SpaceSummary summary;
  std::vector<WindowSummary> windows{};
};

struct ApplicationSummaryScreen {
  ScreenSummary summary;
  std::vector<ApplicationSummarySpace> spaces{};
};

struct ApplicationSummary {
  std::string title{};
  std::string bundleID{};
  std::vector<ApplicationSummaryScreen> screens{};

  // Screens in order, within each its Spaces, within each its windows.
  std::vector<WindowSummary> allWindows() const {
    std::vector<WindowSummary> out;
    for (const auto& screen : screens) {
      for (const auto& space : screen.spaces) out.insert(out.end(), space.windows.begin(), space.windows.end());
    }
    return out;
  }
};
