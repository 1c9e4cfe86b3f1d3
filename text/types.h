#pragma once

#include <string>
#include <vector>

namespace qj {

// A text is a byte string in the program's code page, GBK (code page 936). Positions in texts are
// byte positions; searches step over a double-byte character (lead byte 0x81 to 0xFE plus one
// trail byte 0x40 to 0xFE other than 0x7F) as one unit; 0x80 is a character of its own, the euro
// sign, and a lead byte without a trail byte behind it is a unit of its own.
using Text = std::string;

// Bytes are a counted byte sequence that may hold zero bytes (HTTP bodies, file contents, UTF-16).
using Bytes = std::string;

using TextList = std::vector<Text>;

}  // namespace qj
