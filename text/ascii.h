#pragma once

#include <cstddef>
#include <string_view>

namespace qj {

// Small ASCII rules shared by the readers of replies, headers, escapes and settings.

// The value of a hexadecimal digit, -1 for any other character.
constexpr int HexDigitValue(char32_t c) {
    if (c >= U'0' && c <= U'9') {
        return static_cast<int>(c - U'0');
    }
    if (c >= U'a' && c <= U'f') {
        return static_cast<int>(c - U'a' + 10);
    }
    if (c >= U'A' && c <= U'F') {
        return static_cast<int>(c - U'A' + 10);
    }
    return -1;
}

// The number written by `count` hexadecimal digits at `at` of `s`; -1 when they are not all there.
template <class CharView>
long HexNumber(CharView s, std::size_t at, std::size_t count) {
    if (at + count > s.size()) {
        return -1;
    }
    long value = 0;
    for (std::size_t k = 0; k < count; ++k) {
        const int digit = HexDigitValue(static_cast<char32_t>(s[at + k]));
        if (digit < 0) {
            return -1;
        }
        value = value * 16 + digit;
    }
    return value;
}

// An ASCII capital becomes its small letter; every other byte, a GBK byte among them, stays.
constexpr char LowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// What header lines and settings lines count as blank around a value.
inline constexpr std::string_view kSpaceAndTab = " \t";

constexpr bool IsAsciiBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v';
}

// The text without the bytes of `blanks` (ASCII bytes only) at either end. ASCII bytes never occur
// inside a GBK character, so this is safe on GBK and UTF-8 alike.
constexpr std::string_view TrimAscii(std::string_view text, std::string_view blanks) {
    while (!text.empty() && blanks.find(text.front()) != std::string_view::npos) {
        text.remove_prefix(1);
    }
    while (!text.empty() && blanks.find(text.back()) != std::string_view::npos) {
        text.remove_suffix(1);
    }
    return text;
}

// The text without ASCII blanks (space, tab, CR, LF, FF, VT) at either end.
constexpr std::string_view TrimAsciiBlanks(std::string_view text) {
    return TrimAscii(text, " \t\r\n\f\v");
}

}  // namespace qj
