#pragma once

#include <string_view>

#include "text/types.h"

namespace qj {

// The fields of a line separated by ASCII blanks or the full-width blank an input method types
// (GBK A1 A1). Double-byte characters are stepped over whole, so no trail byte is taken for the
// start of a blank. Runs of blanks separate one pair of fields; no field is empty.
TextList BlankSeparatedFields(std::string_view line);

}  // namespace qj
