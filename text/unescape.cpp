#include "text/unescape.h"

#include <optional>
#include <string>

#include "text/ascii.h"
#include "text/code_page.h"
#include "text/text_helpers.h"

namespace qj {

namespace {

// CR LF is parked as this mark while the piece sits inside the literal.
constexpr const char* kLineMark = "{$}";
// The apostrophe would close the literal; it is parked as the right single quotation mark (A1 AF).
constexpr const char* kApostropheMark = "\xA1\xAF";

bool IsLineTerminator(char16_t c) {
    return c == u'\n' || c == u'\r' || c == 0x2028 || c == 0x2029;
}

bool IsOctal(char16_t c) {
    return c >= u'0' && c <= u'7';
}

// The value of a string literal whose body (between the apostrophes) is `body`, with the escapes of
// ECMAScript including the legacy octal ones; nullopt when the body is no valid literal body.
std::optional<std::u16string> StringLiteralValue(std::u16string_view body) {
    std::u16string out;
    out.reserve(body.size());
    for (std::size_t i = 0; i < body.size(); ++i) {
        const char16_t c = body[i];
        if (IsLineTerminator(c) || c == u'\'') {
            return std::nullopt;
        }
        if (c != u'\\') {
            out.push_back(c);
            continue;
        }
        if (i + 1 >= body.size()) {
            return std::nullopt;  // the backslash would escape the closing apostrophe
        }
        const char16_t e = body[++i];
        switch (e) {
            case u'b':
                out.push_back(u'\b');
                break;
            case u't':
                out.push_back(u'\t');
                break;
            case u'n':
                out.push_back(u'\n');
                break;
            case u'v':
                out.push_back(u'\v');
                break;
            case u'f':
                out.push_back(u'\f');
                break;
            case u'r':
                out.push_back(u'\r');
                break;
            case u'\r':
                if (i + 1 < body.size() && body[i + 1] == u'\n') {
                    ++i;  // a line continuation: backslash and line break vanish
                }
                break;
            case u'\n':
            case 0x2028:
            case 0x2029:
                break;
            case u'x': {
                const long v = HexNumber(body, i + 1, 2);
                if (v < 0) {
                    return std::nullopt;
                }
                out.push_back(static_cast<char16_t>(v));
                i += 2;
                break;
            }
            case u'u': {
                const long v = HexNumber(body, i + 1, 4);
                if (v < 0) {
                    return std::nullopt;
                }
                out.push_back(static_cast<char16_t>(v));
                i += 4;
                break;
            }
            default:
                if (IsOctal(e)) {
                    // Legacy octal escape: up to three digits while the value stays below 256.
                    int value = e - u'0';
                    const std::size_t maxDigits = (e <= u'3') ? 3 : 2;
                    std::size_t digits = 1;
                    while (digits < maxDigits && i + 1 < body.size() && IsOctal(body[i + 1])) {
                        value = value * 8 + (body[++i] - u'0');
                        ++digits;
                    }
                    out.push_back(static_cast<char16_t>(value));
                } else {
                    out.push_back(e);  // an escape without meaning gives the character itself
                }
        }
    }
    return out;
}

// The script "unescape": %uXXXX gives that UTF-16 unit, %XX that character; other "%" stay.
std::u16string Unescape(std::u16string_view s) {
    std::u16string out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == u'%') {
            if (i + 1 < s.size() && s[i + 1] == u'u') {
                const long v = HexNumber(s, i + 2, 4);
                if (v >= 0) {
                    out.push_back(static_cast<char16_t>(v));
                    i += 5;
                    continue;
                }
            }
            const long v = HexNumber(s, i + 1, 2);
            if (v >= 0) {
                out.push_back(static_cast<char16_t>(v));
                i += 2;
                continue;
            }
        }
        out.push_back(s[i]);
    }
    return out;
}

}  // namespace

Text UnicodeBytesToText(const Bytes& bytes) {
    return WideToText(bytes, kCodePageGbk);
}

Text UnescapeUnicode(const Text& text) {
    Text t = ReplaceAll(std::string_view(text.c_str()), "\r\n", kLineMark);
    if (!t.empty() && t[0] == '\r') {
        t.erase(0, 1);
    }
    t = ReplaceAll(t, "\\u", "%u");
    t = ReplaceAll(t, "'", kApostropheMark);

    Text result;
    if (const auto literal = StringLiteralValue(GbkToUtf16(t))) {
        const std::u16string decoded = Unescape(*literal);
        // Back in the program's code page the text ends at its first zero character.
        result = Utf16ToGbk(std::u16string_view(decoded).substr(0, decoded.find(u'\0')));
    }
    if (result.empty()) {
        result = UnicodeBytesToText(t);
    }
    result = ReplaceAll(result, kApostropheMark, "'");
    return ReplaceAll(result, kLineMark, "\r\n");
}

}  // namespace qj
