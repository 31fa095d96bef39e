#include "platform/appkit/NSEvent.h"
#include "platform/sim/World.h"

namespace appkit {

CGPoint NSEvent::mouseLocation() { return sim::World::shared().mouseLocation(); }

}  // namespace appkit
