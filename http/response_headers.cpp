#include "http/response_headers.h"

#include "http/text_rules.h"

namespace qj {

namespace {

std::string_view TrimWhitespace(std::string_view text) {
    const std::size_t begin = text.find_first_not_of(" \t");
    if (begin == std::string_view::npos) {
        return {};
    }
    return text.substr(begin, text.find_last_not_of(" \t") - begin + 1);
}

}  // namespace

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
            lines_.back().append(" ").append(TrimWhitespace(line));
        }
        return;
    }
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos) {
        return;
    }
    std::string text(TrimWhitespace(line.substr(0, colon)));
    text.append(": ").append(TrimWhitespace(line.substr(colon + 1)));
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

bool IsCleanUtf8(std::string_view bytes) {
    std::size_t i = 0;
    while (i < bytes.size()) {
        const auto lead = static_cast<unsigned char>(bytes[i]);
        if (lead == 0) {
            return false;
        }
        std::size_t length = 0;
        unsigned minimum = 0;
        if (lead < 0x80) {
            ++i;
            continue;
        } else if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
            minimum = 0x80;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            minimum = 0x800;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            minimum = 0x10000;
        } else {
            return false;
        }
        if (i + length > bytes.size()) {
            return false;
        }
        unsigned code = lead & (0x7F >> length);
        for (std::size_t k = 1; k < length; ++k) {
            const auto trail = static_cast<unsigned char>(bytes[i + k]);
            if ((trail & 0xC0) != 0x80) {
                return false;
            }
            code = code << 6 | (trail & 0x3F);
        }
        if (code < minimum || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
            return false;
        }
        i += length;
    }
    return true;
}

}  // namespace qj
