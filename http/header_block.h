#pragma once

#include <string_view>

#include "text/types.h"

namespace qj {

// A header block is one text of header lines joined by CR LF; a line is a name, a colon and a
// value. A request block may begin with CR LF and may hold empty lines, which are ignored.
using HeaderBlock = Text;

// Rewrites a header block: lines without a colon (empty ones included) are dropped; in every other
// line the first byte and every byte behind a hyphen in front of the first colon are upper-cased
// when they are ASCII a-z, and all other bytes stay. Lines are joined by CR LF, none at the end.
// Applying it twice gives the same text as applying it once.
HeaderBlock NormalizeHeaderBlock(std::string_view block);

// The text with its first byte upper-cased when that byte is ASCII a-z.
Text CapitalizeFirst(std::string_view text);

// The trimmed text in front of the first colon of a header line; empty when it has no colon.
Text HeaderName(std::string_view line);

// The trimmed text behind the first colon of a header line (further colons included); empty when
// it has no colon.
Text HeaderValue(std::string_view line);

}  // namespace qj
