#include "http/base64.h"

#include <cstdint>

namespace qj {

Text Base64Encode(std::string_view bytes) {
    static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    Text result;
    result.reserve((bytes.size() + 2) / 3 * 4);
    std::size_t i = 0;
    for (; i + 3 <= bytes.size(); i += 3) {
        const std::uint32_t group = static_cast<std::uint8_t>(bytes[i]) << 16 |
                                    static_cast<std::uint8_t>(bytes[i + 1]) << 8 |
                                    static_cast<std::uint8_t>(bytes[i + 2]);
        result.push_back(kAlphabet[(group >> 18) & 63]);
        result.push_back(kAlphabet[(group >> 12) & 63]);
        result.push_back(kAlphabet[(group >> 6) & 63]);
        result.push_back(kAlphabet[group & 63]);
    }
    const std::size_t rest = bytes.size() - i;
    if (rest > 0) {
        std::uint32_t group = static_cast<std::uint8_t>(bytes[i]) << 16;
        if (rest == 2) {
            group |= static_cast<std::uint8_t>(bytes[i + 1]) << 8;
        }
        result.push_back(kAlphabet[(group >> 18) & 63]);
        result.push_back(kAlphabet[(group >> 12) & 63]);
        result.push_back(rest == 2 ? kAlphabet[(group >> 6) & 63] : '=');
        result.push_back('=');
    }
    return result;
}

Bytes Base64Decode(std::string_view text) {
    Bytes result;
    result.reserve(text.size() / 4 * 3 + 3);
    std::uint32_t group = 0;
    int bits = 0;
    for (const char c : text) {
        int value = -1;
        if (c >= 'A' && c <= 'Z') {
            value = c - 'A';
        } else if (c >= 'a' && c <= 'z') {
            value = c - 'a' + 26;
        } else if (c >= '0' && c <= '9') {
            value = c - '0' + 52;
        } else if (c == '+') {
            value = 62;
        } else if (c == '/') {
            value = 63;
        } else if (c == '=') {
            break;
        }
        if (value < 0) {
            continue;
        }
        group = (group << 6) | static_cast<std::uint32_t>(value);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            result.push_back(static_cast<char>((group >> bits) & 0xFF));
        }
    }
    return result;
}

}  // namespace qj
