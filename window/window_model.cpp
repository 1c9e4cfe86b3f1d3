#include "window/window_model.h"

namespace qj {

Text WithoutLineBreaks(std::string_view text) {
    // CR and LF are never the trail byte of a double-byte character, so they can go byte by byte.
    Text kept;
    kept.reserve(text.size());
    for (const char c : text) {
        if (c != '\r' && c != '\n') {
            kept += c;
        }
    }
    return kept;
}

}  // namespace qj
