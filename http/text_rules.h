#pragma once

#include <string>
#include <string_view>

#include "text/types.h"

namespace qj {

// Removes ASCII spaces (0x20) and full-width spaces (0xA1 0xA1) at both ends, stepping over
// double-byte characters; tabs, CR and LF stay.
Text TrimSpaces(std::string_view text);

// `text` with every occurrence of `needle` removed, ASCII letters compared without regard to case,
// stepping over double-byte characters.
Text RemoveEveryIgnoreCase(std::string_view text, std::string_view needle);

// GBK text as UTF-8 for the wire, and back; ASCII, by far the most common case, is passed as it is
// without a trip through the converter.
std::string GbkToWire(std::string_view text);
Text WireToGbk(std::string_view utf8);

}  // namespace qj
