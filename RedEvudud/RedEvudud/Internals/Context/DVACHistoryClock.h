#pragma once
// The clock that stamps the session, user-id and device histories: the
// scheduler's wall clock (which follows the virtual clock in tests) unless a
// test installs a clock of its own.

#include <functional>

#include "platform/foundation/Value.h"

class DVACHistoryClock {
 public:
  DVACHistoryClock() = delete;

  static ns::Date now();
  // An empty function restores the wall clock.
  static void setNowProvider(std::function<ns::Date()> provider);
};
