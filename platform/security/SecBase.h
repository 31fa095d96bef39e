#pragma once

// Status codes shared by the keychain and the random source. The numeric
// values are the platform's own so that logged codes mean the same thing to
// anyone reading them.

#include <cstdint>
#include <string>

namespace sec {

using OSStatus = std::int32_t;

inline constexpr OSStatus errSecSuccess = 0;
inline constexpr OSStatus errSecUnimplemented = -4;
inline constexpr OSStatus errSecIO = -36;
inline constexpr OSStatus errSecParam = -50;
inline constexpr OSStatus errSecAllocate = -108;
inline constexpr OSStatus errSecInternalComponent = -2070;
inline constexpr OSStatus errSecNotAvailable = -25291;
inline constexpr OSStatus errSecDuplicateItem = -25299;
inline constexpr OSStatus errSecItemNotFound = -25300;
inline constexpr OSStatus errSecDecode = -26275;

// A short English description of a status, for log lines
// (SecCopyErrorMessageString). Unknown codes get a generic text with the number.
std::string SecCopyErrorMessageString(OSStatus status);

}  // namespace sec
