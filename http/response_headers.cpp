#include "http/response_headers.h"

#include "text/ascii.h"
#include "text/code_page.h"

namespace qj {

void ResponseHeaderCollector::OnLine(std::string_view line) {
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) {
        line.remove_suffix(1);
    }
    if (line.starts_with("HTTP/")) {
        lines_.clear();
        complete_ = false;
        return;
    }
    if (complete_) {
        return;  // trailer lines of a chunked body: not part of the header section
    }
    if (line.empty()) {
        complete_ = true;
        return;
    }
    if (line.front() == ' ' || line.front() == '\t') {
        // A folded continuation of the previous line's value.
        if (!lines_.empty()) {
            lines_.back().append(" ").append(TrimAscii(line, kSpaceAndTab));
        }
        return;
    }
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos) {
        return;
    }
    std::string text(TrimAscii(line.substr(0, colon), kSpaceAndTab));
    text.append(": ").append(TrimAscii(line.substr(colon + 1), kSpaceAndTab));
    lines_.push_back(std::move(text));
}

Text ResponseHeaderCollector::Block() const {
    Text joined;
    for (const std::string& line : lines_) {
        if (!joined.empty()) {
            joined.append("\r\n");
        }
        joined.append(IsCleanUtf8(line) ? WireToGbk(line) : line);
    }
    return joined;
}

}  // namespace qj
