#pragma once

#include <string_view>

#include "text/types.h"

namespace qj {

// Standard base64 (RFC 4648 alphabet, "=" padding, no line breaks); empty bytes give empty text.
Text Base64Encode(std::string_view bytes);

}  // namespace qj
