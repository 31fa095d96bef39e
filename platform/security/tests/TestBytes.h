#pragma once

#include <string_view>

#include "platform/security/Keychain.h"

namespace sectest {

inline sec::Bytes bytesOf(std::string_view text) { return sec::Bytes(text.begin(), text.end()); }

}  // namespace sectest
