#include "http/header_block.h"

#include "text/gbk.h"
#include "text/text_helpers.h"

namespace qj {

namespace {

constexpr std::string_view kLineBreak = "\r\n";

char UpperAscii(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

// The name of a header line rewritten word by word (words lie between hyphens), each word with
// its first byte capitalised; the hyphens stay.
Text CapitalizeWords(std::string_view name) {
    Text result(name);
    bool wordStart = true;
    for (std::size_t i = 0; i < result.size();) {
        const std::size_t unit = GbkUnitLength(result, i);
        if (wordStart && unit == 1) {
            result[i] = UpperAscii(result[i]);
        }
        wordStart = unit == 1 && result[i] == '-';
        i += unit;
    }
    return result;
}

}  // namespace

HeaderBlock NormalizeHeaderBlock(std::string_view block) {
    HeaderBlock result;
    for (const Text& line : SplitText(block, kLineBreak)) {
        const std::size_t colon = FindText(line, ":");
        if (colon == kNotFound) {
            continue;
        }
        if (!result.empty()) {
            result.append(kLineBreak);
        }
        result.append(CapitalizeWords(std::string_view(line).substr(0, colon)));
        result.append(line, colon);
    }
    return result;
}

Text CapitalizeFirst(std::string_view text) {
    Text result(text);
    if (!result.empty()) {
        result[0] = UpperAscii(result[0]);
    }
    return result;
}

Text HeaderName(std::string_view line) {
    const std::size_t colon = FindText(line, ":");
    return colon == kNotFound ? Text() : TrimSpaces(line.substr(0, colon));
}

Text HeaderValue(std::string_view line) {
    const std::size_t colon = FindText(line, ":");
    return colon == kNotFound ? Text() : TrimSpaces(line.substr(colon + 1));
}

}  // namespace qj
