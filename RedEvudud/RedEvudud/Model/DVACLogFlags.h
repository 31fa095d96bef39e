#pragma once
// Flags given with a log when it is enqueued. The low eight bits are the
// log's storage priority.

#include <cstdint>

using DVACLogFlags = uint32_t;

inline constexpr DVACLogFlags DVACLogFlagsNone = 0;
inline constexpr DVACLogFlags DVACLogFlagsNormal = 1;
inline constexpr DVACLogFlags DVACLogFlagsCritical = 2;
inline constexpr DVACLogFlags DVACLogFlagsDefault = DVACLogFlagsNormal;
inline constexpr DVACLogFlags DVACLogFlagsPriorityMask = 0xFF;
