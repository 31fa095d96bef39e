#pragma once
// Base64 with the standard alphabet and "=" padding, as NSData writes and
// reads it.

#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/Value.h"

namespace ns {

std::string base64Encode(const uint8_t* bytes, size_t size);
inline std::string base64Encode(const Data& data) { return base64Encode(data.data(), data.size()); }
inline std::string base64Encode(std::string_view text) {
    return base64Encode(reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

// Strict by default: only alphabet characters, correctly padded to a multiple
// of four. With ignoreUnknownCharacters, characters outside the alphabet
// (line breaks, spaces) are skipped first, as the platform's option does.
std::optional<Data> base64Decode(std::string_view text, bool ignoreUnknownCharacters = false);

}  // namespace ns
