#pragma once

#include <string_view>

namespace qj {

// The full-width space (U+3000) in GBK: users type it between and around words as often as a space.
inline constexpr std::string_view kWideSpace = "\xA1\xA1";

// Whether `text` ends with the whole character(s) `tail`, not with the second byte of a character.
bool EndsWithWhole(std::string_view text, std::string_view tail);

// The text without blanks at either end: ASCII blanks (space, tab, CR, LF, FF, VT) and full-width
// spaces, in any mix.
std::string_view TrimBlanks(std::string_view text);

}  // namespace qj
