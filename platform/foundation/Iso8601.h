#pragma once
// Dates in the telemetry wire format "yyyy-MM-dd'T'HH:mm:ss.SSS'Z'": always
// UTC, milliseconds, a literal Z; independent of the user's time zone,
// locale and calendar.

#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/Value.h"

namespace ns::iso8601 {

// Milliseconds are truncated toward the past, as the platform's formatter does.
// Years outside 0001-9999 and non-finite dates give an empty string.
std::string format(const Date& date);

// Only the exact form above with a real calendar date and time
// (23:59:59.999 at most); anything else is nullopt.
std::optional<Date> parse(std::string_view text);

}  // namespace ns::iso8601
