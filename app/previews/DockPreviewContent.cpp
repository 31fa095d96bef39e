#include "app/previews/DockPreviewContent.h"

#include <string_view>

namespace {

// Combines like the standard hasher's feeding of several values in order.
void combine(std::size_t& seed, std::size_t value) { seed ^= value + 0x9e3779b97f4a7c15ULL + (seed << 6) + (seed >> 2); }

std::size_t objectHash(const std::shared_ptr<appkit::NSScreen>& screen) {
  return std::hash<const appkit::NSScreen*>{}(screen.get());
}

}  // namespace

bool operator==(const DockPreviewThumbnailContent::ButtonAction& a, const DockPreviewThumbnailContent::ButtonAction& b) {
  if (a.kind_ != b.kind_) return false;
  if (const auto* sa = a.asSnap()) {
    const auto* sb = b.asSnap();
    return sa->snapAlignment == sb->snapAlignment && screensEqual(sa->screen, sb->screen);
  }
  if (const auto* sa = a.asScreen()) return screensEqual(sa->screen, b.asScreen()->screen);
  return true;
}

std::size_t DockPreviewThumbnailContent::ButtonAction::hashValue() const {
  std::size_t seed = 0;
  combine(seed, std::hash<int>{}(static_cast<int>(kind_)));
  if (const auto* s = asSnap()) {
    combine(seed, std::hash<std::string_view>{}(rawValue(s->snapAlignment)));
    combine(seed, objectHash(s->screen));
  } else if (const auto* s = asScreen()) {
    combine(seed, objectHash(s->screen));
  }
  return seed;
}

const char* toString(DockPreviewThumbnailContent::ScreenDisplayMode mode) {
  switch (mode) {
    case DockPreviewThumbnailContent::ScreenDisplayMode::current: return "current";
    case DockPreviewThumbnailContent::ScreenDisplayMode::left: return "left";
    case DockPreviewThumbnailContent::ScreenDisplayMode::right: return "right";
  }
  return "current";
}

const char* toString(DockPreviewThumbnailContent::SpaceDisplayMode mode) {
  switch (mode) {
    case DockPreviewThumbnailContent::SpaceDisplayMode::normal: return "normal";
    case DockPreviewThumbnailContent::SpaceDisplayMode::otherSpace: return "otherSpace";
    case DockPreviewThumbnailContent::SpaceDisplayMode::fullscreen: return "fullscreen";
  }
  return "normal";
}
