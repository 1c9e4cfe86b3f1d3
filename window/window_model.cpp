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

void KeepLastLines(Text& text, int keptLines) {
    if (keptLines <= 0) {
        return;
    }
    // From the end: the break before the last `keptLines` ones ends what goes.
    int breaks = 0;
    for (std::size_t i = text.size(); i > 0; --i) {
        const char c = text[i - 1];
        if (c != '\n' && c != '\r') {
            continue;
        }
        const std::size_t end = i;
        if (c == '\n' && i >= 2 && text[i - 2] == '\r') {
            --i;
        }
        if (++breaks > keptLines) {
            text.erase(0, end);
            return;
        }
    }
}

Text KeptText(std::string_view text, bool singleLineEdit) {
    const std::string_view shown = text.substr(0, text.find('\0'));
    return singleLineEdit ? WithoutLineBreaks(shown) : Text(shown);
}

}  // namespace qj
