#pragma once
// What every channel (a unit or the whole group) offers: switching on and
// off, delegates, and pausing on behalf of identifying objects.

#include <memory>

#include "RedEvudud/RedEvudud/Internals/Util/DVACEnable.h"

class DVACChannelDelegate;

// Any object can hold a channel paused; it is held weakly, so one that goes
// away no longer counts.
using DVACIdentifyingObject = std::shared_ptr<const void>;

class DVACChannelProtocol : public DVACEnable {
 public:
  // Delegates are held weakly.
  virtual void addDelegate(const std::shared_ptr<DVACChannelDelegate>& delegate) = 0;
  virtual void removeDelegate(const std::shared_ptr<DVACChannelDelegate>& delegate) = 0;
  virtual void pauseWithIdentifyingObject(const DVACIdentifyingObject& identifyingObject) = 0;
  virtual void resumeWithIdentifyingObject(const DVACIdentifyingObject& identifyingObject) = 0;
};
