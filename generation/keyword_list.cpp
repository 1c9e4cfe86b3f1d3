#include "generation/keyword_list.h"

#include "text/code_page.h"
#include "text/gbk.h"

namespace qj {

namespace {

constexpr std::string_view kBom = "\xEF\xBB\xBF";

bool EndsLine(char c) {
    return c == '\n' || c == '\r' || c == '\0' || c == '\x1A';
}

// Whether the bytes are well-formed UTF-8 (no overlong forms, no surrogates, nothing beyond
// U+10FFFF), and whether any of them starts a multi-byte sequence.
bool IsUtf8(std::string_view s, bool* multiByte) {
    *multiByte = false;
    for (std::size_t i = 0; i < s.size();) {
        const auto b = static_cast<unsigned char>(s[i]);
        if (b < 0x80) {
            ++i;
            continue;
        }
        std::size_t length = 0;
        unsigned char low = 0x80, high = 0xBF;  // the allowed range of the second byte
        if (b >= 0xC2 && b <= 0xDF) {
            length = 2;
        } else if (b >= 0xE0 && b <= 0xEF) {
            length = 3;
            low = b == 0xE0 ? 0xA0 : 0x80;
            high = b == 0xED ? 0x9F : 0xBF;
        } else if (b >= 0xF0 && b <= 0xF4) {
            length = 4;
            low = b == 0xF0 ? 0x90 : 0x80;
            high = b == 0xF4 ? 0x8F : 0xBF;
        } else {
            return false;
        }
        if (i + length > s.size()) {
            return false;
        }
        for (std::size_t k = 1; k < length; ++k) {
            const auto c = static_cast<unsigned char>(s[i + k]);
            if (c < (k == 1 ? low : 0x80) || c > (k == 1 ? high : 0xBF)) {
                return false;
            }
        }
        *multiByte = true;
        i += length;
    }
    return true;
}

}  // namespace

ListFormat DetectListFormat(std::string_view contents) {
    if (contents.starts_with(kBom)) {
        return {true, kBom.size()};
    }
    bool multiByte = false;
    return {IsUtf8(contents, &multiByte) && multiByte, 0};
}

FirstLine ReadFirstLine(std::string_view contents, bool utf8) {
    FirstLine first;
    std::size_t i = 0;
    while (i < contents.size() && !EndsLine(contents[i])) {
        i += utf8 ? 1 : GbkUnitLength(contents, i);
    }
    first.line = Text(contents.substr(0, i));
    if (i < contents.size()) {
        first.terminatorLength = (contents[i] == '\r' && i + 1 < contents.size() && contents[i + 1] == '\n') ? 2 : 1;
    }
    return first;
}

TextList ListLines(const Bytes& contents, bool utf8) {
    TextList lines;
    std::size_t pos = 0;
    while (pos < contents.size()) {
        const FirstLine next = ReadFirstLine(std::string_view(contents).substr(pos), utf8);
        lines.push_back(next.line);
        if (next.terminatorLength == 0) {
            break;
        }
        pos += next.line.size() + next.terminatorLength;
    }
    return lines;
}

Text KeywordFromLine(std::string_view line, bool utf8, bool* lossy) {
    Text keyword = utf8 ? Utf8ToAnsi(line) : Text(line);
    if (lossy) {
        *lossy = utf8 && AnsiToUtf8(keyword) != line;
    }
    return keyword;
}

Bytes LineFromKeyword(const Text& keyword, bool utf8) {
    return utf8 ? AnsiToUtf8(keyword) : keyword;
}

std::string_view LineEndOf(std::string_view contents) {
    const std::size_t end = contents.find_first_of("\r\n");
    return end != std::string_view::npos && contents[end] == '\n' ? "\n" : "\r\n";
}

Bytes ListToAppendTo(const Bytes& list) {
    const std::size_t bom = DetectListFormat(list).bomLength;
    std::size_t end = list.size();
    while (end > bom && EndsLine(list[end - 1])) {
        --end;
    }
    Bytes kept = list.substr(0, end);
    if (end > bom) {
        kept += LineEndOf(list);
    }
    return kept;
}

}  // namespace qj
