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
// changes: a lead byte takes a trail byte behind it along, so a marker is never found starting on
// the second byte of a double-byte character. The units are those the decoder reads: a lead byte
// before a byte that cannot follow it (a quotation mark, a line break, a zero byte) or at the very
// end is no character but a unit of its own, so it never swallows that byte and nothing reads past
// the end.
inline std::size_t GbkUnitLength(std::string_view text, std::size_t i) {
    return (IsGbkLeadByte(static_cast<unsigned char>(text[i])) && i + 1 < text.size() &&
            IsGbkTrailByte(static_cast<unsigned char>(text[i + 1])))
               ? 2
               : 1;
}

}  // namespace qj
