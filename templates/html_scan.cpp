#include "templates/html_scan.h"

#include <array>
#include <charconv>
#include <utility>

#include "text/ascii.h"
#include "text/text_helpers.h"

namespace qj {

namespace {

void AppendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (c >> 6)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (c >> 12)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (c >> 18)));
        out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

constexpr std::array<std::pair<std::string_view, char32_t>, 19> kNamedReferences{{
    {"amp", U'&'},        {"lt", U'<'},         {"gt", U'>'},         {"quot", U'"'},        {"apos", U'\''},
    {"nbsp", U' '},       {"mdash", U'\u2014'}, {"ndash", U'\u2013'}, {"hellip", U'\u2026'}, {"middot", U'\u00B7'},
    {"ldquo", U'\u201C'}, {"rdquo", U'\u201D'}, {"lsquo", U'\u2018'}, {"rsquo", U'\u2019'},  {"laquo", U'\u00AB'},
    {"raquo", U'\u00BB'}, {"copy", U'\u00A9'},  {"reg", U'\u00AE'},   {"times", U'\u00D7'},
}};

}  // namespace

bool OpensMarkup(std::string_view text, std::size_t at) {
    if (at + 1 >= text.size() || text[at] != '<') {
        return false;
    }
    const char c = text[at + 1];
    return c == '/' || c == '!' || c == '?' || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

std::size_t MarkupEnd(std::string_view text, std::size_t at, bool xml) {
    const std::string_view rest = text.substr(at);
    for (const auto& [open, close] : {std::pair<std::string_view, std::string_view>{"<!--", "-->"},
                                      std::pair<std::string_view, std::string_view>{"<![CDATA[", "]]>"}}) {
        if (rest.starts_with(open) && (xml || open == "<!--")) {
            const std::size_t end = text.find(close, at + open.size());
            return end == std::string_view::npos ? text.size() : end + close.size();
        }
    }
    char quote = 0;
    for (std::size_t i = at + 1; i < text.size(); ++i) {
        const char c = text[i];
        if (quote) {
            if (c == quote) {
                quote = 0;
            }
        } else if (c == '"' || c == '\'') {
            quote = c;
        } else if (c == '>') {
            return i + 1;
        }
    }
    return text.size();
}

std::string_view Tag::LocalName() const {
    const std::size_t colon = name.rfind(':');
    return colon == Text::npos ? std::string_view(name) : std::string_view(name).substr(colon + 1);
}

Tag ReadTag(std::string_view markup) {
    Tag tag;
    std::size_t i = 1;
    if (i < markup.size() && markup[i] == '/') {
        tag.closing = true;
        ++i;
    }
    // As browsers read it: up to a blank, "/" or ">" ("</h1.>" closes no h1).
    while (i < markup.size() && !IsAsciiBlank(markup[i]) && markup[i] != '/' && markup[i] != '>') {
        tag.name.push_back(LowerAscii(markup[i]));
        ++i;
    }
    tag.selfClosing = markup.ends_with("/>");
    return tag;
}

std::optional<std::string_view> AttributeOf(std::string_view markup, std::string_view name) {
    std::size_t i = 1;
    while (i < markup.size() && !IsAsciiBlank(markup[i]) && markup[i] != '/' && markup[i] != '>') {  // its name
        ++i;
    }
    while (i < markup.size()) {
        while (i < markup.size() && (IsAsciiBlank(markup[i]) || markup[i] == '/')) {
            ++i;
        }
        const std::size_t nameStart = i;
        while (i < markup.size() && !IsAsciiBlank(markup[i]) && markup[i] != '=' && markup[i] != '>' &&
               markup[i] != '/') {
            ++i;
        }
        const std::string_view attribute = markup.substr(nameStart, i - nameStart);
        if (attribute.empty()) {
            return std::nullopt;  // the tag's ">"
        }
        while (i < markup.size() && IsAsciiBlank(markup[i])) {
            ++i;
        }
        std::string_view value;
        if (i < markup.size() && markup[i] == '=') {
            ++i;
            while (i < markup.size() && IsAsciiBlank(markup[i])) {
                ++i;
            }
            if (i < markup.size() && (markup[i] == '"' || markup[i] == '\'')) {
                const std::size_t close = markup.find(markup[i], i + 1);
                const std::size_t end = close == std::string_view::npos ? markup.size() : close;
                value = markup.substr(i + 1, end - i - 1);
                i = end + 1;
            } else {
                const std::size_t start = i;
                while (i < markup.size() && !IsAsciiBlank(markup[i]) && markup[i] != '>') {
                    ++i;
                }
                value = markup.substr(start, i - start);
            }
        }
        if (attribute.size() == name.size() && FindText(attribute, name, 0, true) == 0) {
            return value;
        }
    }
    return std::nullopt;
}

std::string DecodeCharacterReferences(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    std::size_t from = 0;
    for (std::size_t amp = utf8.find('&'); amp != std::string_view::npos; amp = utf8.find('&', from)) {
        out += utf8.substr(from, amp - from);
        from = amp + 1;
        const std::size_t semi = utf8.find(';', amp + 1);
        if (semi == std::string_view::npos || semi - amp > 12) {
            out.push_back('&');
            continue;
        }
        const std::string_view name = utf8.substr(amp + 1, semi - amp - 1);
        std::optional<char32_t> decoded;
        if (name.starts_with('#') && name.size() > 1) {
            const bool hex = name[1] == 'x' || name[1] == 'X';
            const std::string_view digits = name.substr(hex ? 2 : 1);
            unsigned long value = 0;
            const auto [end, error] =
                std::from_chars(digits.data(), digits.data() + digits.size(), value, hex ? 16 : 10);
            if (error == std::errc() && end == digits.data() + digits.size() && !digits.empty() && value > 0 &&
                value <= 0x10FFFF && (value < 0xD800 || value > 0xDFFF)) {
                decoded = static_cast<char32_t>(value);
            }
        } else {
            for (const auto& [known, c] : kNamedReferences) {
                if (name == known) {
                    decoded = c;
                }
            }
        }
        if (!decoded) {
            out.push_back('&');
            continue;
        }
        AppendUtf8(out, *decoded);
        from = semi + 1;
    }
    out += utf8.substr(from);
    return out;
}

}  // namespace qj
