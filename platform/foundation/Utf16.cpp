#include "platform/foundation/Utf16.h"

namespace ns {

size_t decodeUtf8(std::string_view s, char32_t* codePoint) {
    if (s.empty()) return 0;
    const auto b = [&](size_t i) { return static_cast<unsigned char>(s[i]); };
    const unsigned char c = b(0);
    if (c < 0x80) {
        if (codePoint) *codePoint = c;
        return 1;
    }
    size_t len;
    char32_t cp;
    unsigned char lo = 0x80, hi = 0xBF;  // allowed range of the second byte
    if (c >= 0xC2 && c <= 0xDF) {
        len = 2;
        cp = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
        len = 3;
        cp = c & 0x0F;
        if (c == 0xE0) lo = 0xA0;  // no overlong forms
        if (c == 0xED) hi = 0x9F;  // no surrogates
    } else if (c >= 0xF0 && c <= 0xF4) {
        len = 4;
        cp = c & 0x07;
        if (c == 0xF0) lo = 0x90;
        if (c == 0xF4) hi = 0x8F;  // nothing above U+10FFFF
    } else {
        return 0;
    }
    if (s.size() < len) return 0;
    for (size_t i = 1; i < len; ++i) {
        const unsigned char cc = b(i);
        if (i == 1 ? (cc < lo || cc > hi) : (cc < 0x80 || cc > 0xBF)) return 0;
        cp = (cp << 6) | (cc & 0x3F);
    }
    if (codePoint) *codePoint = cp;
    return len;
}

namespace {

// Walks the text one unit-bearing step at a time: a well-formed code point or
// a single ill-formed byte. Returns the byte length and the UTF-16 units.
inline void step(std::string_view rest, size_t& bytes, size_t& units) {
    char32_t cp = 0;
    const size_t n = decodeUtf8(rest, &cp);
    if (n == 0) {
        bytes = 1;
        units = 1;
        return;
    }
    bytes = n;
    units = cp >= 0x10000 ? 2 : 1;
}

void appendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

}  // namespace

size_t utf16Length(std::string_view utf8) {
    size_t total = 0;
    size_t pos = 0;
    while (pos < utf8.size()) {
        size_t bytes, units;
        step(utf8.substr(pos), bytes, units);
        pos += bytes;
        total += units;
    }
    return total;
}

size_t utf16PrefixByteLength(std::string_view utf8, size_t maxUnits) {
    size_t used = 0;
    size_t pos = 0;
    while (pos < utf8.size()) {
        size_t bytes, units;
        step(utf8.substr(pos), bytes, units);
        if (used + units > maxUnits) break;
        used += units;
        pos += bytes;
    }
    return pos;
}

std::string utf16Prefix(std::string_view utf8, size_t maxUnits) {
    return std::string(utf8.substr(0, utf16PrefixByteLength(utf8, maxUnits)));
}

bool isValidUtf8(std::string_view utf8) {
    size_t pos = 0;
    while (pos < utf8.size()) {
        const size_t n = decodeUtf8(utf8.substr(pos), nullptr);
        if (n == 0) return false;
        pos += n;
    }
    return true;
}

std::string sanitizeUtf8(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    size_t pos = 0;
    while (pos < utf8.size()) {
        const size_t n = decodeUtf8(utf8.substr(pos), nullptr);
        if (n == 0) {
            out += "\xEF\xBF\xBD";
            ++pos;
        } else {
            out.append(utf8.substr(pos, n));
            pos += n;
        }
    }
    return out;
}

std::u16string toUtf16(std::string_view utf8) {
    std::u16string out;
    out.reserve(utf8.size());
    size_t pos = 0;
    while (pos < utf8.size()) {
        char32_t cp = 0;
        const size_t n = decodeUtf8(utf8.substr(pos), &cp);
        if (n == 0) {
            out.push_back(u'\uFFFD');
            ++pos;
            continue;
        }
        pos += n;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp));
        }
    }
    return out;
}

std::string fromUtf16(std::u16string_view utf16) {
    std::string out;
    out.reserve(utf16.size());
    for (size_t i = 0; i < utf16.size(); ++i) {
        const char16_t u = utf16[i];
        if (u >= 0xD800 && u <= 0xDBFF) {
            if (i + 1 < utf16.size() && utf16[i + 1] >= 0xDC00 && utf16[i + 1] <= 0xDFFF) {
                const char32_t cp = 0x10000 + ((static_cast<char32_t>(u) - 0xD800) << 10) + (utf16[i + 1] - 0xDC00);
                appendUtf8(out, cp);
                ++i;
            } else {
                appendUtf8(out, 0xFFFD);
            }
        } else if (u >= 0xDC00 && u <= 0xDFFF) {
            appendUtf8(out, 0xFFFD);
        } else {
            appendUtf8(out, u);
        }
    }
    return out;
}

}  // namespace ns
