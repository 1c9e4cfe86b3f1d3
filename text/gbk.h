#pragma once

#include <cstddef>
#include <string_view>

namespace qj {

// Length of the unit that starts at byte `i` of `text` for searches, splits, trimming and case
// changes: a byte of 0x80 or above takes the next byte with it, so a marker is never found starting
// on the second byte of a double-byte character. A lead byte at the very end is a unit of its own,
// so nothing reads past the end.
inline std::size_t GbkUnitLength(std::string_view text, std::size_t i) {
    return (static_cast<unsigned char>(text[i]) >= 0x80 && i + 1 < text.size()) ? 2 : 1;
}

}  // namespace qj
