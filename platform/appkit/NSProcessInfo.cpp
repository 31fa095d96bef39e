#include "platform/appkit/NSProcessInfo.h"

#include <tuple>

namespace appkit {

NSProcessInfo& NSProcessInfo::processInfo() {
  static NSProcessInfo info;
  return info;
}

NSOperatingSystemVersion NSProcessInfo::operatingSystemVersion() const {
  return sim::World::shared().operatingSystemVersion();
}

bool NSProcessInfo::isOperatingSystemAtLeastVersion(const NSOperatingSystemVersion& version) const {
  const auto running = operatingSystemVersion();
  return std::tie(running.majorVersion, running.minorVersion, running.patchVersion) >=
         std::tie(version.majorVersion, version.minorVersion, version.patchVersion);
}

}  // namespace appkit
