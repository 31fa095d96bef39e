#pragma once
// NSProcessInfo's answer about the system the program runs on: the version of
// the simulated desktop (sim::World), 14.0 unless a test or a scenario's
// "osVersion" makes it an older system. Code that differs between systems
// asks isOperatingSystemAtLeastVersion, as it would on the real one.

#include "platform/sim/World.h"

namespace appkit {

using NSOperatingSystemVersion = sim::OperatingSystemVersion;

class NSProcessInfo {
 public:
  static NSProcessInfo& processInfo();

  NSOperatingSystemVersion operatingSystemVersion() const;
  // Compares major, then minor, then patch.
  bool isOperatingSystemAtLeastVersion(const NSOperatingSystemVersion& version) const;
};

}  // namespace appkit
