#pragma once
// The usage events of window snapping leave through this hook. The shell
// installs the implementation once its analytics manager exists: `mode()` is
// the analytics manager's mode and `trackEvent` queues a usage event without
// properties (DVACAnalytics trackEvent:). Without an implementation nothing
// is sent.

#include <memory>
#include <string>

#include "app/preferences/Preferences.h"

class SnapAnalytics {
 public:
  virtual ~SnapAnalytics() = default;
  virtual AnalyticsMode mode() const = 0;
  virtual void trackEvent(const std::string& name) = 0;

  static std::shared_ptr<SnapAnalytics> shared();
  static void setShared(std::shared_ptr<SnapAnalytics> analytics);

  // Sends the event only in mode 2 ("Automatic Analytics").
  static void trackIfAutomatic(const std::string& name);
};
