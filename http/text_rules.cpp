#include "http/text_rules.h"

#include <algorithm>

#include "text/code_page.h"
#include "text/gbk.h"
#include "text/text_helpers.h"

namespace qj {

namespace {

constexpr std::string_view kFullWidthSpace = "\xA1\xA1";

// Length of the blank unit at byte `i`, or 0 when the unit there is not blank.
std::size_t BlankUnitLength(std::string_view text, std::size_t i) {
    if (text[i] == ' ') {
        return 1;
    }
    if (GbkUnitLength(text, i) == 2 && text.substr(i, 2) == kFullWidthSpace) {
        return 2;
    }
    return 0;
}

}  // namespace

Text TrimSpaces(std::string_view text) {
    std::size_t begin = 0;
    while (begin < text.size()) {
        const std::size_t blank = BlankUnitLength(text, begin);
        if (blank == 0) {
            break;
        }
        begin += blank;
    }
    // Units can only be told apart walking forward: remember where the last non-blank unit ends.
    std::size_t end = begin;
    for (std::size_t i = begin; i < text.size();) {
        const std::size_t unit = GbkUnitLength(text, i);
        if (BlankUnitLength(text, i) == 0) {
            end = i + unit;
        }
        i += unit;
    }
    return Text(text.substr(begin, end - begin));
}

Text RemoveEveryIgnoreCase(std::string_view text, std::string_view needle) {
    Text result;
    std::size_t from = 0;
    while (true) {
        const std::size_t hit = FindText(text, needle, from, true);
        if (hit == kNotFound) {
            result.append(text.substr(from));
            return result;
        }
        result.append(text.substr(from, hit - from));
        from = hit + needle.size();
    }
}

namespace {

bool IsAscii(std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80 && c != 0; });
}

}  // namespace

std::string GbkToWire(std::string_view text) {
    return IsAscii(text) ? std::string(text) : AnsiToUtf8(text);
}

Text WireToGbk(std::string_view utf8) {
    return IsAscii(utf8) ? Text(utf8) : Utf8ToAnsi(utf8);
}

}  // namespace qj
