#include "RedEvudud/RedEvudud/Internals/Context/DVACHistoryClock.h"

#include <mutex>

#include "platform/dispatch/Dispatch.h"

namespace {

std::mutex gMutex;
std::function<ns::Date()> gProvider;

}  // namespace

ns::Date DVACHistoryClock::now() {
  std::function<ns::Date()> provider;
  {
    std::lock_guard<std::mutex> lock(gMutex);
    provider = gProvider;
  }
  return provider ? provider() : ns::Date(dispatch::wallNow());
}

void DVACHistoryClock::setNowProvider(std::function<ns::Date()> provider) {
  std::lock_guard<std::mutex> lock(gMutex);
  gProvider = std::move(provider);
}
