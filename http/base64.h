#pragma once

#include <string_view>

#include "text/types.h"

namespace qj {

// Standard base64 (RFC 4648 alphabet, "=" padding, no line breaks); empty bytes give empty text.
Text Base64Encode(std::string_view bytes);

// The bytes of standard base64 text; "=" padding may be left out. Bytes outside the alphabet
// (line breaks, blanks) are skipped; decoding stops at the first "=".
Bytes Base64Decode(std::string_view text);

}  // namespace qj
