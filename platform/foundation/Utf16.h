#pragma once
// Strings are UTF-8 in std::string; the platform measures them in UTF-16 code
// units (NSString length). These helpers give the same counts and cut
// prefixes that never split a surrogate pair or a UTF-8 sequence.
//
// Invalid UTF-8 never crashes: each byte that does not start a well-formed
// sequence counts as one unit (as U+FFFD would) and is kept as it is.

#include <cstddef>
#include <string>
#include <string_view>

namespace ns {

// NSString length of the text.
size_t utf16Length(std::string_view utf8);

// The longest prefix of whole code points whose UTF-16 length is at most
// maxUnits: what substringToIndex: would give, moved back before a surrogate
// pair that the index would split. Always a byte prefix of the input.
std::string utf16Prefix(std::string_view utf8, size_t maxUnits);

// Byte length of that prefix.
size_t utf16PrefixByteLength(std::string_view utf8, size_t maxUnits);

bool isValidUtf8(std::string_view utf8);

// The text with every ill-formed byte replaced by U+FFFD.
std::string sanitizeUtf8(std::string_view utf8);

std::u16string toUtf16(std::string_view utf8);
// Unpaired surrogates become U+FFFD.
std::string fromUtf16(std::u16string_view utf16);

// Length in bytes of the well-formed UTF-8 sequence at the start of the text,
// or 0 when the first byte does not start one. Sets codePoint when non-zero.
size_t decodeUtf8(std::string_view utf8, char32_t* codePoint);

}  // namespace ns
