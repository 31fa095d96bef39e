#include "app/snapping/SnapAnalytics.h"

#include <mutex>

namespace {
std::mutex gMutex;
std::shared_ptr<SnapAnalytics> gShared;
}  // namespace

std::shared_ptr<SnapAnalytics> SnapAnalytics::shared() {
  std::lock_guard lock(gMutex);
  return gShared;
}

void SnapAnalytics::setShared(std::shared_ptr<SnapAnalytics> analytics) {
  std::lock_guard lock(gMutex);
  gShared = std::move(analytics);
}

void SnapAnalytics::trackIfAutomatic(const std::string& name) {
  auto analytics = shared();
  if (analytics && analytics->mode() == AnalyticsMode::automaticAnalytics) analytics->trackEvent(name);
}
