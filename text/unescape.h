#pragma once

#include "text/types.h"

namespace qj {

// Decodes the escape forms of a piece cut out of a service reply into GBK text: JSON's \uXXXX,
// %uXXXX, %XX and the string-literal escapes (\t, \\, \n, ...). The piece is read as the body of a
// script string literal between apostrophes, then passed through the script "unescape" function;
// CR LF pairs and apostrophes survive unchanged. A piece that is no valid literal body (a lone CR or
// LF, a trailing backslash, a malformed \x escape) or that decodes to nothing gives the fallback:
// the prepared piece's bytes read as UTF-16LE.
Text UnescapeUnicode(const Text& text);

// Reads bytes as UTF-16LE text (up to the first zero unit; an odd last byte is ignored) and
// converts it to GBK.
Text UnicodeBytesToText(const Bytes& bytes);

}  // namespace qj
