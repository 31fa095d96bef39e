#include "platform/foundation/Base64.h"

#include <array>

namespace ns {

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

constexpr std::array<int8_t, 256> makeDecodeTable() {
    std::array<int8_t, 256> t{};
    for (auto& v : t) v = -1;
    for (int i = 0; i < 64; ++i) t[static_cast<unsigned char>(kAlphabet[i])] = static_cast<int8_t>(i);
    return t;
}

constexpr auto kDecode = makeDecodeTable();

}  // namespace

std::string base64Encode(const uint8_t* bytes, size_t size) {
    // Written in place: every stored log goes through here.
    std::string out((size + 2) / 3 * 4, '=');
    char* o = out.data();
    size_t i = 0;
    for (; i + 3 <= size; i += 3, o += 4) {
        const uint32_t n = (uint32_t{bytes[i]} << 16) | (uint32_t{bytes[i + 1]} << 8) | bytes[i + 2];
        o[0] = kAlphabet[(n >> 18) & 63];
        o[1] = kAlphabet[(n >> 12) & 63];
        o[2] = kAlphabet[(n >> 6) & 63];
        o[3] = kAlphabet[n & 63];
    }
    if (size - i == 1) {
        const uint32_t n = uint32_t{bytes[i]} << 16;
        o[0] = kAlphabet[(n >> 18) & 63];
        o[1] = kAlphabet[(n >> 12) & 63];
    } else if (size - i == 2) {
        const uint32_t n = (uint32_t{bytes[i]} << 16) | (uint32_t{bytes[i + 1]} << 8);
        o[0] = kAlphabet[(n >> 18) & 63];
        o[1] = kAlphabet[(n >> 12) & 63];
        o[2] = kAlphabet[(n >> 6) & 63];
    }
    return out;
}

std::optional<Data> base64Decode(std::string_view text, bool ignoreUnknownCharacters) {
    std::string clean;
    if (ignoreUnknownCharacters) {
        clean.reserve(text.size());
        for (char c : text) {
            if (c == '=' || kDecode[static_cast<unsigned char>(c)] >= 0) clean.push_back(c);
        }
        text = clean;
    }
    if (text.size() % 4 != 0) return std::nullopt;
    Data out;
    out.reserve(text.size() / 4 * 3);
    for (size_t i = 0; i < text.size(); i += 4) {
        const bool last = i + 4 == text.size();
        int pad = 0;
        uint32_t n = 0;
        for (size_t j = 0; j < 4; ++j) {
            const char c = text[i + j];
            if (c == '=') {
                // Padding only at the end of the last group, at most two.
                if (!last || j < 2) return std::nullopt;
                ++pad;
                n <<= 6;
                continue;
            }
            if (pad > 0) return std::nullopt;
            const int8_t v = kDecode[static_cast<unsigned char>(c)];
            if (v < 0) return std::nullopt;
            n = (n << 6) | static_cast<uint32_t>(v);
        }
        out.push_back(static_cast<uint8_t>(n >> 16));
        if (pad < 2) out.push_back(static_cast<uint8_t>(n >> 8));
        if (pad < 1) out.push_back(static_cast<uint8_t>(n));
    }
    return out;
}

}  // namespace ns
