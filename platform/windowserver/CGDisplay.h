#pragma once
// Display identity and the screen-capture permission.

#include <cstdint>
#include <optional>
#include <string>

#include "platform/foundation/Value.h"

namespace cgs {

using CGDirectDisplayID = std::uint32_t;

// The display's UUID; nothing for an unknown display (or one whose UUID the
// system cannot tell).
std::optional<ns::UUID> CGDisplayCreateUUIDFromDisplayID(CGDirectDisplayID display);
// The canonical upper-case 8-4-4-4-12 text.
std::string CFUUIDCreateString(const ns::UUID& uuid);

bool CGPreflightScreenCaptureAccess();
// Asks the user (recorded by the simulation); returns the current answer.
bool CGRequestScreenCaptureAccess();

}  // namespace cgs
