#pragma once

#include <cstddef>
#include <string_view>

namespace qj {

// A lead byte of code page 936: it and the byte behind it form one double-byte character. 0x80 is
// no lead byte there but the one-byte euro sign, and 0xFF is unassigned.
constexpr bool IsGbkLeadByte(unsigned char b) {
    return b >= 0x81 && b <= 0xFE;
}

// A byte that can follow a lead byte in a double-byte character of code page 936.
constexpr bool IsGbkTrailByte(unsigned char b) {
    return b >= 0x40 && b <= 0xFE && b != 0x7F;
}

// Length of the unit that starts at byte `i` of `text` for searches, splits, trimming and case
// changes: a lead byte takes the next byte with it, so a marker is never found starting on the
// second byte of a double-byte character. A lead byte at the very end is a unit of its own, so
// nothing reads past the end.
inline std::size_t GbkUnitLength(std::string_view text, std::size_t i) {
    return (IsGbkLeadByte(static_cast<unsigned char>(text[i])) && i + 1 < text.size()) ? 2 : 1;
}

}  // namespace qj
